// qzLogonTest: drives password logon and group listing from scripts.
//
//   qzLogonTest logon USER [PACKAGE]          password on standard input
//   qzLogonTest groups USER direct|recursive  password on standard input
//   qzLogonTest --version
//
// The password is read from standard input (one line; none: empty), never
// from the command line, where other users could see it. "logon" prints
// "result N status 0xS" and exits with N; "groups" prints one group per line
// and exits 0 when the groups were read, 1 otherwise. Diagnostics go to
// standard error through the information log, opened up to the debug level.
#include <cstdio>
#include <iostream>
#include <string>

#include "corvel/debug/qzinfolog.h"
#include "corvel/util/qzauthenticator.h"

#ifndef QZ_LOGONTEST_VERSION
#define QZ_LOGONTEST_VERSION "unknown"
#endif

namespace
{

int usage()
{
    std::cerr << "usage: qzLogonTest logon USER [PACKAGE] | groups USER direct|recursive\n"
                 "       (the password on standard input)\n"
                 "       qzLogonTest --version"
              << std::endl;
    return 64;
}

std::string readPassword()
{
    std::string thePassword;
    std::getline(std::cin, thePassword);
    if (!thePassword.empty() && thePassword.back() == '\r')
        thePassword.pop_back();
    return thePassword;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 2 && std::string(argv[1]) == "--version")
    {
        std::printf("qzLogonTest (corvel) %s\n", QZ_LOGONTEST_VERSION);
        return 0;
    }
    if (argc < 3)
        return usage();
    setInfoLogLevel(qzLogDebug);
    const std::string theCommand = argv[1];
    const std::string theUser = argv[2];
    if (theCommand == "logon" && argc <= 4)
    {
        const std::string thePackage = argc == 4 ? argv[3] : "";
        const std::string thePassword = readPassword();
        std::uint32_t theStatus = 0;
        const std::int32_t theResult =
            qzAuthenticator::authenticateUser(theUser, thePassword, thePackage, theStatus);
        std::printf("result %d status 0x%x\n", static_cast<int>(theResult),
                    static_cast<unsigned int>(theStatus));
        return theResult;
    }
    if (theCommand == "groups" && argc == 4)
    {
        const std::string theMode = argv[3];
        if (theMode != "direct" && theMode != "recursive")
            return usage();
        const std::string thePassword = readPassword();
        qzAuthenticator::GroupSet theGroups;
        const bool theRead = qzAuthenticator::getADUserGroups(theUser, thePassword, theGroups,
                                                              theMode == "recursive");
        for (const std::string& curGroup : theGroups)
            std::printf("%s\n", curGroup.c_str());
        return theRead ? 0 : 1;
    }
    return usage();
}
