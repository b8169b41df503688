// qzAuthTest: tells whether a user is a member of a group, directly or
// through nested groups.
//
//   qzAuthTest [user group [ignored...]]
//
// Without two names on the command line it asks for both; an empty answer
// keeps the default shown in brackets. Prints the account it runs under, the
// DNs it found and the verdict. Exit status 0 when the test ran, -1 when the
// user or the group cannot be found. Diagnostics go to standard error
// through the information log, opened up to the debug level.
//
// The heap tracking, leak report and heap check of the Windows debug run-time
// have their stand-in in the sanitizer build (-DCORVEL_SANITIZE=address,
// undefined): AddressSanitizer checks every access as it happens and its leak
// check reports at exit.
#include <iostream>
#include <string>

#include "corvel/debug/qzinfolog.h"
#include "corvel/util/auth/question.h"
#include "corvel/util/qzauthenticator.h"

// The sample directory's nested member and group (examples/corp.ldif): the
// user belongs to the group only through a group nested in it.
#ifndef QZ_AUTHTEST_DEFAULT_USER
#define QZ_AUTHTEST_DEFAULT_USER "alice@corp.example.test"
#endif
#ifndef QZ_AUTHTEST_DEFAULT_GROUP
#define QZ_AUTHTEST_DEFAULT_GROUP "CORP\\Staff"
#endif

namespace
{

// One line of at most 511 characters. A longer line is cut there and leaves
// standard input failed, so later prompts read nothing and keep their
// defaults. An empty line (or end of input) keeps the current value.
void promptFor(const char* inWhat, std::string& ioValue)
{
    std::cout << inWhat << " [" << ioValue << "]: ";
    char theLine[512];
    theLine[0] = '\0';
    std::cin.getline(theLine, sizeof theLine);
    if (theLine[0] != '\0')
        ioValue = theLine;
}

} // namespace

int main(int argc, char* argv[])
{
    setInfoLogLevel(qzLogDebug);

    std::string theUser = QZ_AUTHTEST_DEFAULT_USER;
    std::string theGroup = QZ_AUTHTEST_DEFAULT_GROUP;

    if (argc >= 3)
    {
        theUser = argv[1];
        theGroup = argv[2];
    }
    else
    {
        promptFor("user", theUser);
        promptFor("group", theGroup);
    }

    std::string theAccount;
    std::string theSid;
    if (qzAuthenticator::getCurrentUser(theAccount, theSid))
        std::cout << "Current user \"" << theAccount << "\" with SID \"" << theSid << "\""
                  << std::endl;

    std::cout << "Testing if the user \"" << theUser << "\" is a member of \"" << theGroup << "\""
              << std::endl;

    // The question step by step: each line of the report is printed as soon
    // as its step is done, between the directory's own log lines.
    qzMembershipQuestion theQuestion(theUser, theGroup);
    if (!theQuestion.lookUpUser())
    {
        std::cout << "error: unable to find the user \"" << theUser << "\"" << std::endl;
        return -1;
    }
    std::cout << "Found user as\"" << theQuestion.answer().itsUser.itsDN << "\"" << std::endl;

    if (!theQuestion.lookUpGroup())
    {
        std::cout << "error: unable to find the group \"" << theGroup << "\"" << std::endl;
        return -1;
    }
    std::cout << "Found group as\"" << theQuestion.answer().itsGroup.itsDN << "\"" << std::endl;

    // Any failure of the walk is "Not a member...", as isUserInGroup answers.
    theQuestion.decide();
    if (theQuestion.answer().outcome() == qzMembershipQuestion::outcomeMember)
        std::cout << "A member ..." << std::endl;
    else
        std::cout << "Not a member..." << std::endl;
    return 0;
}
