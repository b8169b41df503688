// The current account: which account the calling thread acts for.
#include "corvel/util/qzauthenticator.h"

#include "corvel/platform/os_identity.h"

bool qzAuthenticator::getCurrentUserInfo(std::string& outName, std::string& outDomain,
                                         std::string& outSid)
{
    std::string theName;
    std::string theDomain;
    std::string theSid;
    if (!corvel::platform::currentAccount(theName, theDomain, theSid))
        return false;
    outName = theName;
    outDomain = theDomain;
    outSid = theSid;
    return true;
}

bool qzAuthenticator::getCurrentUser(std::string& outAccount, std::string& outSid)
{
    std::string theName;
    std::string theDomain;
    std::string theSid;
    if (!getCurrentUserInfo(theName, theDomain, theSid))
        return false;
    outAccount = theDomain + "\\" + theName;
    outSid = theSid;
    return true;
}

bool qzAuthenticator::getAccountSid(const std::string& inAccountName, std::string& outSid,
                                    std::string& outDomain)
{
    std::string theSid;
    std::string theDomain;
    if (!corvel::platform::lookupAccountSid(inAccountName, theSid, theDomain))
        return false;
    outSid = theSid;
    outDomain = theDomain;
    return true;
}
