// A program built on the installed corvel the way its users build theirs
// (CMakeLists.txt here with find_package, or pkg-config): the information
// log, a thread that asks an LDIF directory the membership question, and a
// password logon through the logon plug-in, which the loader has to find in
// the package's private directory.
//
//   corvel_consumer LDIF USER GROUP LOGON-USER    (the password on standard input)
//
// The logon reads the directory CORVEL_DIRECTORY names. Prints three lines:
//   member PATH (the DNs from the group down, joined by ';') | not a member | no answer: WHY
//   plugin PATH-LOADED | plugin none
//   logon RESULT status 0xSTATUS
// and exits 0 when the user is a member, the plug-in was loaded and the
// logon accepted.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <utility>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/ldif/ldif_backend.h"
#include "corvel/platform/os_loader.h"
#include "corvel/threads/qzthread.h"
#include "corvel/util/auth/question.h"
#include "corvel/util/qzauthenticator.h"

namespace
{

class QuestionThread : public qzThread
{
public:
    QuestionThread(std::string inPath, std::string inUser, std::string inGroup)
        : itsPath(std::move(inPath)), itsUser(std::move(inUser)), itsGroup(std::move(inGroup))
    {
        setName("question");
    }

    void run() override
    {
        infoLog(qzLogInfo, "consumer: is %s in %s? (%s)", itsUser.c_str(), itsGroup.c_str(),
                itsPath.c_str());
        const std::shared_ptr<corvel::directory::DirectoryService> theDirectory =
            corvel::directory::ldif::makeLdifService(itsPath);
        itsAnswer = qzMembershipQuestion::ask(*theDirectory, itsUser, itsGroup);
    }

    // Read after join.
    const qzMembershipQuestion::Answer& answer() const { return itsAnswer; }

private:
    std::string itsPath;
    std::string itsUser;
    std::string itsGroup;
    qzMembershipQuestion::Answer itsAnswer;
};

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 5)
    {
        std::cerr << "usage: corvel_consumer LDIF USER GROUP LOGON-USER" << std::endl;
        return 64;
    }
    setInfoLog("consumer", qzLogToStdErr);
    setInfoLogLevel(qzLogInfo);

    QuestionThread theThread(argv[1], argv[2], argv[3]);
    theThread.start();
    theThread.join();
    const qzMembershipQuestion::Answer& theAnswer = theThread.answer();
    const qzMembershipQuestion::Outcome theOutcome = theAnswer.outcome();
    if (theOutcome == qzMembershipQuestion::outcomeMember)
    {
        std::string thePath;
        for (const std::string& curDN : theAnswer.itsWalk.itsPath)
            thePath += (thePath.empty() ? "" : ";") + curDN;
        std::printf("member %s\n", thePath.c_str());
    }
    else if (theOutcome == qzMembershipQuestion::outcomeNotMember)
        std::printf("not a member\n");
    else
        std::printf("no answer: %s\n", theAnswer.problem().c_str());

    corvel::platform::LoadedLibrary thePlugin;
    const bool theLoaded = thePlugin.load("qzSSPI.dll");
    std::printf("plugin %s\n", theLoaded ? thePlugin.path().c_str() : "none");
    thePlugin.unload();

    std::string thePassword;
    std::getline(std::cin, thePassword);
    std::uint32_t theStatus = 0;
    const std::int32_t theResult =
        qzAuthenticator::authenticateUser(argv[4], thePassword, "ldif", theStatus);
    std::printf("logon %d status 0x%x\n", static_cast<int>(theResult),
                static_cast<unsigned int>(theStatus));
    return theOutcome == qzMembershipQuestion::outcomeMember && theLoaded &&
                   theResult == qzAuthenticator::logonAccepted
               ? 0
               : 1;
}
