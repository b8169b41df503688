#include "corvel/platform/os_identity.h"
#include "corvel/platform/os_identity_override.h"
#include "corvel/testing/platform_hooks.h"

#include <mutex>
#include <optional>
#include <vector>

#include <windows.h>
#include <sddl.h>

namespace corvel::platform
{

namespace
{

constexpr std::size_t theFirstBufferSize = 1024;
// The one retry takes what the system asked for, up to this size.
constexpr std::size_t theRetryBufferLimit = 1024 * 1024;

using identity_detail::currentOverride;
using identity_detail::equalsNoCase;
using identity_detail::Identity;

class HandleOwner
{
public:
    explicit HandleOwner(HANDLE inHandle) : itsHandle(inHandle) {}
    ~HandleOwner()
    {
        if (itsHandle != nullptr)
            CloseHandle(itsHandle);
    }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;

private:
    HANDLE itsHandle;
};

bool sidText(PSID inSid, std::string& outText)
{
    LPSTR theText = nullptr;
    if (!ConvertSidToStringSidA(inSid, &theText))
        return false;
    outText = theText;
    LocalFree(theText);
    return true;
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
    // The thread's token when it impersonates, else the process's.
    HANDLE theToken = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &theToken))
    {
        if (GetLastError() != ERROR_NO_TOKEN ||
            !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &theToken))
            return false;
    }
    HandleOwner theTokenOwner(theToken);

    std::size_t theSize = inFirstSize == 0 ? 1 : inFirstSize;
    std::vector<unsigned char> theBuffer;
    bool theGot = false;
    for (int curTry = 0; curTry < 2 && !theGot; ++curTry)
    {
        theBuffer.assign(theSize, 0);
        DWORD theNeeded = 0;
        if (GetTokenInformation(theToken, TokenUser, theBuffer.data(),
                                static_cast<DWORD>(theBuffer.size()), &theNeeded))
            theGot = true;
        else if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || theNeeded <= theSize ||
                 theNeeded > theRetryBufferLimit)
            return false;
        else
            theSize = theNeeded;
    }
    if (!theGot)
        return false;
    PSID theSid = reinterpret_cast<TOKEN_USER*>(theBuffer.data())->User.Sid;

    char theName[256 + 1];
    char theDomain[256 + 1];
    DWORD theNameSize = sizeof theName;
    DWORD theDomainSize = sizeof theDomain;
    SID_NAME_USE theUse{};
    if (!LookupAccountSidA(nullptr, theSid, theName, &theNameSize, theDomain, &theDomainSize,
                           &theUse))
        return false;
    std::string theText;
    if (!sidText(theSid, theText))
        return false;
    outName = theName;
    outDomain = theDomain;
    outSid = theText;
    return true;
}

bool currentAccount(std::string& outName, std::string& outDomain, std::string& outSid)
{
    return currentAccountWithBuffer(theFirstBufferSize, outName, outDomain, outSid);
}

bool lookupAccountSidWithBuffer(std::size_t inFirstSize, const std::string& inAccountName,
                                std::string& outSid, std::string& outDomain)
{
    const std::size_t theSlash = inAccountName.find('\\');
    if (std::optional<Identity> theOverride = currentOverride())
    {
        const std::string theName =
            theSlash == std::string::npos ? inAccountName : inAccountName.substr(theSlash + 1);
        if (theName == theOverride->itsName &&
            (theSlash == std::string::npos ||
             equalsNoCase(inAccountName.substr(0, theSlash), theOverride->itsDomain)))
        {
            outSid = theOverride->itsSid;
            outDomain = theOverride->itsDomain;
            return true;
        }
    }
    if (inAccountName.empty())
        return false;

    DWORD theSidSize = static_cast<DWORD>(inFirstSize == 0 ? 1 : inFirstSize);
    DWORD theDomainSize = 256;
    for (int curTry = 0; curTry < 2; ++curTry)
    {
        std::vector<unsigned char> theSid(theSidSize);
        std::vector<char> theDomain(theDomainSize + 1);
        DWORD theSidNeeded = theSidSize;
        DWORD theDomainNeeded = theDomainSize;
        SID_NAME_USE theUse{};
        if (LookupAccountNameA(nullptr, inAccountName.c_str(), theSid.data(), &theSidNeeded,
                               theDomain.data(), &theDomainNeeded, &theUse))
        {
            std::string theText;
            if (!sidText(theSid.data(), theText))
                return false;
            outSid = theText;
            outDomain = theDomain.data();
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || theSidNeeded > theRetryBufferLimit ||
            theDomainNeeded > theRetryBufferLimit)
            return false;
        theSidSize = theSidNeeded > theSidSize ? theSidNeeded : theSidSize;
        theDomainSize = theDomainNeeded > theDomainSize ? theDomainNeeded : theDomainSize;
    }
    return false;
}

bool lookupAccountSid(const std::string& inAccountName, std::string& outSid, std::string& outDomain)
{
    return lookupAccountSidWithBuffer(theFirstBufferSize, inAccountName, outSid, outDomain);
}

} // namespace corvel::platform
