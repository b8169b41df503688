// The global groups of an account, from the configured directory: the
// argument checks and error numbers of the network-management call around
// the directory service's answer (directory/global_groups.h).
#include "corvel/platform/os_netapi.h"

#include "corvel/platform/directory/global_groups.h"
#include "corvel/platform/os_text.h"

namespace corvel::platform
{

namespace
{

// A system error number of a directory status: the Win32 code it wraps.
std::uint32_t errorOf(directory::Status inStatus)
{
    if (directory::isNameNotFound(inStatus))
        return NetError_userNotFound;
    if ((inStatus & 0xFFFF0000u) == 0x80070000u)
        return inStatus & 0xFFFFu;
    return NetError_noSuchDomain;
}

} // namespace

std::uint32_t netUserGetGroups(const std::wstring& inServer, const std::wstring& inUser,
                               std::vector<std::wstring>& outGroups, std::uint32_t& outTotalEntries)
{
    outGroups.clear();
    outTotalEntries = 0;
    const std::string theServer = wideToNarrow(inServer);
    const std::string theUser = wideToNarrow(inUser);
    if (theUser.empty() || theServer.find_first_of("/@ ") != std::string::npos)
        return NetError_invalidParameter;
    try
    {
        std::vector<std::string> theNames;
        const directory::Status theStatus = directory::globalGroupsOf(theUser, theNames);
        if (directory::failed(theStatus))
            return errorOf(theStatus);
        for (const std::string& curName : theNames)
            outGroups.push_back(narrowToWide(curName));
        outTotalEntries = static_cast<std::uint32_t>(outGroups.size());
        return NetError_success;
    }
    catch (...)
    {
        outGroups.clear();
        return NetError_noSuchDomain;
    }
}

} // namespace corvel::platform
