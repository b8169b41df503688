#include "corvel/platform/os_identity.h"
#include "corvel/platform/os_identity_override.h"
#include "corvel/testing/platform_hooks.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <optional>
#include <vector>

namespace corvel::platform
{
namespace
{

constexpr std::size_t theFirstBufferSize = 1024;
// NSS does not say how large a record is, so the one retry takes the largest
// record we accept; a passwd entry larger than this is refused.
constexpr std::size_t theRetryBufferSize = 1024 * 1024;

using identity_detail::currentOverride;
using identity_detail::equalsNoCase;
using identity_detail::Identity;

std::string unixSid(uid_t inUid) { return "S-1-22-1-" + std::to_string(inUid); }

// One NSS lookup with a buffer of inFirstSize, grown once when NSS says it is
// too small. inLookup is getpwuid_r or getpwnam_r bound to its key.
template <typename Lookup>
bool lookupPasswd(std::size_t inFirstSize, Lookup inLookup, uid_t& outUid, std::string& outName)
{
    std::size_t theSize = inFirstSize == 0 ? 1 : inFirstSize;
    for (int curTry = 0; curTry < 2; ++curTry)
    {
        std::vector<char> theBuffer(theSize);
        passwd theRecord{};
        passwd* theResult = nullptr;
        int theError = inLookup(&theRecord, theBuffer.data(), theBuffer.size(), &theResult);
        if (theError == 0)
        {
            if (theResult == nullptr || theResult->pw_name == nullptr)
                return false;
            outUid = theResult->pw_uid;
            outName = theResult->pw_name;
            return true;
        }
        if (theError != ERANGE || theSize >= theRetryBufferSize)
            return false;
        theSize = theRetryBufferSize;
    }
    return false;
}

} // namespace

bool currentAccountWithBuffer(std::size_t inFirstSize, std::string& outName, std::string& outDomain,
                              std::string& outSid)
{
    if (std::optional<Identity> theOverride = currentOverride())
    {
        outName = theOverride->itsName;
        outDomain = theOverride->itsDomain;
        outSid = theOverride->itsSid;
        return true;
    }
    // geteuid reads the calling thread's own credentials.
    const uid_t theEuid = geteuid();
    uid_t theUid = 0;
    std::string theName;
    auto theLookup =
        [theEuid](passwd* inRecord, char* inBuffer, std::size_t inSize, passwd** outResult)
    { return getpwuid_r(theEuid, inRecord, inBuffer, inSize, outResult); };
    if (!lookupPasswd(inFirstSize, theLookup, theUid, theName))
        return false;
    outName = theName;
    outDomain = unixUserDomain;
    outSid = unixSid(theUid);
    return true;
}

bool currentAccount(std::string& outName, std::string& outDomain, std::string& outSid)
{
    return currentAccountWithBuffer(theFirstBufferSize, outName, outDomain, outSid);
}

bool lookupAccountSidWithBuffer(std::size_t inFirstSize, const std::string& inAccountName,
                                std::string& outSid, std::string& outDomain)
{
    std::string theDomain;
    std::string theName = inAccountName;
    const std::size_t theSlash = inAccountName.find('\\');
    if (theSlash != std::string::npos)
    {
        theDomain = inAccountName.substr(0, theSlash);
        theName = inAccountName.substr(theSlash + 1);
    }

    if (std::optional<Identity> theOverride = currentOverride())
    {
        if (theName == theOverride->itsName &&
            (theSlash == std::string::npos || equalsNoCase(theDomain, theOverride->itsDomain)))
        {
            outSid = theOverride->itsSid;
            outDomain = theOverride->itsDomain;
            return true;
        }
    }

    // Only the local Unix accounts are known here.
    if (theSlash != std::string::npos && !equalsNoCase(theDomain, unixUserDomain))
        return false;
    if (theName.empty())
        return false;

    uid_t theUid = 0;
    std::string theFound;
    const char* theKey = theName.c_str();
    auto theLookup =
        [theKey](passwd* inRecord, char* inBuffer, std::size_t inSize, passwd** outResult)
    { return getpwnam_r(theKey, inRecord, inBuffer, inSize, outResult); };
    if (!lookupPasswd(inFirstSize, theLookup, theUid, theFound))
        return false;
    outSid = unixSid(theUid);
    outDomain = unixUserDomain;
    return true;
}

bool lookupAccountSid(const std::string& inAccountName, std::string& outSid, std::string& outDomain)
{
    return lookupAccountSidWithBuffer(theFirstBufferSize, inAccountName, outSid, outDomain);
}

} // namespace corvel::platform
