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
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/os_netapi.h"
#include "corvel/util/qzauthenticator.h"

// The sample directory's nested member and group (examples/corp.ldif): the
// user belongs to the group only through a group nested in it.
#ifndef QZ_AUTHTEST_DEFAULT_USER
#define QZ_AUTHTEST_DEFAULT_USER "alice@corp.example.test"
#endif
#ifndef QZ_AUTHTEST_DEFAULT_GROUP
#define QZ_AUTHTEST_DEFAULT_GROUP "CORP\\Staff"
#endif

// The account and server the global-group listing asks about: the sample
// directory's user with the most groups; an empty server is the directory
// this machine is configured for.
#ifndef QZ_AUTHTEST_LIST_ACCOUNT
#define QZ_AUTHTEST_LIST_ACCOUNT L"CORP\\alice"
#endif
#ifndef QZ_AUTHTEST_LIST_SERVER
#define QZ_AUTHTEST_LIST_SERVER L""
#endif

// Lists the global groups of the fixed account on the fixed server. Kept
// for checking an account by hand; the program entry does not call it.
int listGlobalGroups()
{
    std::vector<std::wstring> theGroups;
    std::uint32_t theTotalEntries = 0;
    const std::uint32_t theStatus = corvel::platform::netUserGetGroups(
        QZ_AUTHTEST_LIST_SERVER, QZ_AUTHTEST_LIST_ACCOUNT, theGroups, theTotalEntries);
    if (theStatus == corvel::platform::NetError_success)
    {
        const std::wstring* pTmpBuf = theGroups.data();
        const std::uint32_t theEntriesRead = static_cast<std::uint32_t>(theGroups.size());
        std::uint32_t theListed = 0;
        std::fprintf(stderr, "\nGlobal group(s):\n");
        for (std::uint32_t curIndex = 0; curIndex < theEntriesRead; ++curIndex)
        {
            assert(pTmpBuf != NULL);
            if (pTmpBuf == NULL)
            {
                std::fprintf(stderr, "An access violation has occurred\n");
                break;
            }
            std::printf("\t-- %ls\n", pTmpBuf->c_str());
            ++pTmpBuf;
            ++theListed;
        }
        if (theEntriesRead < theTotalEntries)
            std::fprintf(stderr, "\nTotal entries: %d", static_cast<int>(theTotalEntries));
        std::printf("\nEntries enumerated: %d\n", static_cast<int>(theListed));
    }
    else
        std::fprintf(stderr, "A system error has occurred: %d\n", static_cast<int>(theStatus));
    // The vector frees the names on both paths.
    return 0;
}

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

    std::string theUserDN;
    if (!qzAuthenticator::getObjectDN(theUser, theUserDN, false))
    {
        std::cout << "error: unable to find the user \"" << theUser << "\"" << std::endl;
        return -1;
    }
    std::cout << "Found user as\"" << theUserDN << "\"" << std::endl;

    std::string theGroupDN;
    if (!qzAuthenticator::getObjectDN(theGroup, theGroupDN, true))
    {
        std::cout << "error: unable to find the group \"" << theGroup << "\"" << std::endl;
        return -1;
    }
    std::cout << "Found group as\"" << theGroupDN << "\"" << std::endl;

    if (qzAuthenticator::isUserInGroup(theGroupDN, theUserDN))
        std::cout << "A member ..." << std::endl;
    else
        std::cout << "Not a member..." << std::endl;
    return 0;
}
