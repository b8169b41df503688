// Password logon through the logon plug-in.
#include "corvel/util/qzauthenticator.h"

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/os_loader.h"

using corvel::directory::Session;

namespace
{

using SetSSPFunction = int (*)(const char*);
using UserLogonFunction = int (*)(const char*, const char*, const char*, unsigned int*);

constexpr const char* thePluginName = "qzSSPI.dll";

// A plain DOMAIN\user is taken as it is; everything else is asked of the
// directory.
bool needsLookup(const std::string& inUserName)
{
    return !(inUserName.find('\\') != std::string::npos &&
             inUserName.find('@') == std::string::npos);
}

// The name in DOMAIN\user form. Exceptions of the lookup reach the caller.
bool lookUpLogonName(corvel::directory::DirectoryService& inDirectory,
                     const std::string& inUserName, const std::string& inPassword,
                     std::string& ioWorkingName)
{
    bool theUsedGlobalCatalog = false;
    if (qzAuthenticator::findUser(inDirectory, inUserName, inPassword, ioWorkingName,
                                  theUsedGlobalCatalog, corvel::directory::NameType_NT4))
        return true;
    infoLog(qzLogError, "qzAuthenticator::authenticateUser - user \"%s\" could not be found",
            inUserName.c_str());
    return false;
}

// The plug-in's answer for the DOMAIN\user name inWorkingName.
std::int32_t logOnAs(const std::string& inWorkingName, const std::string& inPassword,
                     const std::string& inSecurityPackage, std::uint32_t& outStatus)
{
    std::string theUser;
    std::string theDomain;
    if (!qzAuthenticator::splitUserName(inWorkingName, theUser, theDomain))
    {
        theDomain.clear();
        theUser = inWorkingName;
    }
    infoLog(qzLogDebug, "qzAuthenticator::authenticateUser domain: %s, user: %s", theDomain.c_str(),
            theUser.c_str());

    corvel::platform::LoadedLibrary thePlugin; // unloaded on every path
    try
    {
        if (!thePlugin.load(thePluginName))
        {
            outStatus = thePlugin.lastError();
            return qzAuthenticator::logonPluginFailure;
        }
        if (!inSecurityPackage.empty())
        {
            auto theSetSSP = reinterpret_cast<SetSSPFunction>(thePlugin.symbol("qzSetSSP"));
            if (theSetSSP != nullptr)
                theSetSSP(inSecurityPackage.c_str());
        }
        auto theUserLogon = reinterpret_cast<UserLogonFunction>(thePlugin.symbol("qzUserLogon"));
        if (theUserLogon == nullptr)
        {
            outStatus = thePlugin.lastError();
            thePlugin.unload();
            return qzAuthenticator::logonPluginFailure;
        }
        unsigned int theStatusWord = 0;
        const int theAnswer =
            theUserLogon(theDomain.c_str(), theUser.c_str(), inPassword.c_str(), &theStatusWord);
        thePlugin.unload();
        outStatus = theStatusWord;
        switch (theAnswer)
        {
        case 0:
            return qzAuthenticator::logonAccepted;
        case 9:
            return qzAuthenticator::logonUnknownUserOrPassword;
        case 10:
            return qzAuthenticator::logonNotAllowed;
        default:
            return qzAuthenticator::logonOtherFailure;
        }
    }
    catch (...)
    {
        thePlugin.unload();
        return qzAuthenticator::logonPluginFailure;
    }
}

} // namespace

std::int32_t qzAuthenticator::authenticateUser(const std::string& inUserName,
                                               const std::string& inPassword,
                                               const std::string& inSecurityPackage,
                                               std::uint32_t& outStatus)
{
    outStatus = 0;
    std::string theWorkingName = inUserName;
    if (needsLookup(inUserName))
    {
        // Only a name that needs the directory opens a session.
        bool theFound = false;
        {
            Session theSession;
            theFound =
                lookUpLogonName(theSession.service(), inUserName, inPassword, theWorkingName);
        }
        if (!theFound)
            return logonUnknownUserOrPassword;
    }
    return logOnAs(theWorkingName, inPassword, inSecurityPackage, outStatus);
}

std::int32_t qzAuthenticator::authenticateUser(corvel::directory::DirectoryService& inDirectory,
                                               const std::string& inUserName,
                                               const std::string& inPassword,
                                               const std::string& inSecurityPackage,
                                               std::uint32_t& outStatus)
{
    outStatus = 0;
    std::string theWorkingName = inUserName;
    if (needsLookup(inUserName) &&
        !lookUpLogonName(inDirectory, inUserName, inPassword, theWorkingName))
        return logonUnknownUserOrPassword;
    return logOnAs(theWorkingName, inPassword, inSecurityPackage, outStatus);
}
