#include "corvel/platform/os_netapi.h"

#include <windows.h>
#include <lm.h>

namespace corvel::platform
{

namespace
{

// Frees what NetUserGetGroups allocated, on every path.
class NetBuffer
{
public:
    NetBuffer() = default;
    ~NetBuffer()
    {
        if (itsBuffer != nullptr)
            NetApiBufferFree(itsBuffer);
    }
    NetBuffer(const NetBuffer&) = delete;
    NetBuffer& operator=(const NetBuffer&) = delete;
    LPBYTE* address() { return &itsBuffer; }
    LPBYTE get() const { return itsBuffer; }

private:
    LPBYTE itsBuffer = nullptr;
};

} // namespace

std::uint32_t netUserGetGroups(const std::wstring& inServer, const std::wstring& inUser,
                               std::vector<std::wstring>& outGroups, std::uint32_t& outTotalEntries)
{
    outGroups.clear();
    outTotalEntries = 0;
    if (inUser.empty())
        return NetError_invalidParameter;
    NetBuffer theBuffer;
    DWORD theRead = 0;
    DWORD theTotal = 0;
    // MAX_PREFERRED_LENGTH: every group in one buffer, so none is left out.
    const NET_API_STATUS theStatus =
        NetUserGetGroups(inServer.empty() ? nullptr : inServer.c_str(), inUser.c_str(), 0,
                         theBuffer.address(), MAX_PREFERRED_LENGTH, &theRead, &theTotal);
    if (theStatus != NERR_Success)
        return theStatus;
    const GROUP_USERS_INFO_0* theGroups =
        reinterpret_cast<const GROUP_USERS_INFO_0*>(theBuffer.get());
    for (DWORD i = 0; theGroups != nullptr && i < theRead; ++i)
        if (theGroups[i].grui0_name != nullptr)
            outGroups.emplace_back(theGroups[i].grui0_name);
    outTotalEntries = theTotal;
    return NetError_success;
}

} // namespace corvel::platform
