// The parts of the account identity that are the same on every platform: the
// test override and the name comparison.
#include "corvel/platform/os_identity.h"

#include <mutex>

#include "corvel/platform/os_identity_override.h"
#include "corvel/testing/platform_hooks.h"

namespace corvel::platform
{

namespace identity_detail
{

namespace
{
std::mutex& overrideMutex()
{
    static std::mutex theMutex;
    return theMutex;
}

std::optional<Identity>& overrideIdentity()
{
    static std::optional<Identity> theIdentity;
    return theIdentity;
}
} // namespace

std::optional<Identity> currentOverride()
{
    std::lock_guard<std::mutex> theLock(overrideMutex());
    return overrideIdentity();
}

bool equalsNoCase(const std::string& inLeft, const std::string& inRight)
{
    if (inLeft.size() != inRight.size())
        return false;
    for (std::size_t i = 0; i < inLeft.size(); ++i)
    {
        char theLeft = inLeft[i];
        char theRight = inRight[i];
        if (theLeft >= 'A' && theLeft <= 'Z')
            theLeft = static_cast<char>(theLeft - 'A' + 'a');
        if (theRight >= 'A' && theRight <= 'Z')
            theRight = static_cast<char>(theRight - 'A' + 'a');
        if (theLeft != theRight)
            return false;
    }
    return true;
}

} // namespace identity_detail

void setIdentityOverride(const std::string& inName, const std::string& inDomain,
                         const std::string& inSid)
{
    std::lock_guard<std::mutex> theLock(identity_detail::overrideMutex());
    identity_detail::overrideIdentity() = identity_detail::Identity{inName, inDomain, inSid};
}

void clearIdentityOverride()
{
    std::lock_guard<std::mutex> theLock(identity_detail::overrideMutex());
    identity_detail::overrideIdentity().reset();
}

} // namespace corvel::platform
