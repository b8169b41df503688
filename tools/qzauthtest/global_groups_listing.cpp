// The console driver's second routine: the global groups of one fixed
// account on one fixed server, as the network-management call lists them.
// The program entry does not call it; it is kept for checking an account by
// hand (call it from a debugger, or from a build that does).
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "corvel/platform/os_netapi.h"

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
