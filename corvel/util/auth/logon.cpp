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

} // namespace

std::int32_t qzAuthenticator::authenticateUser(const std::string& inUserName,
                                               const std::string& inPassword,
                                               const std::string& inSecurityPackage,
                                               std::uint32_t& outStatus)
{
    outStatus = 0;
    std::string theWorkingName = inUserName;

    // A plain DOMAIN\user is taken as it is; everything else is asked of the
    // directory. Exceptions of the lookup reach the caller.
    const bool theNeedsLookup =
        !(inUserName.find('\\') != std::string::npos && inUserName.find('@') == std::string::npos);
    if (theNeedsLookup)
    {
        bool theFound = false;
        {
            Session theSession;
            bool theUsedGlobalCatalog = false;
            theFound = findUser(inUserName, inPassword, theWorkingName, theUsedGlobalCatalog,
                                corvel::directory::NameType_NT4);
        }
        if (!theFound)
        {
            infoLog(qzLogError,
                    "qzAuthenticator::authenticateUser - user \"%s\" could not be found",
                    inUserName.c_str());
            return logonUnknownUserOrPassword;
        }
    }

    std::string theUser;
    std::string theDomain;
    if (!splitUserName(theWorkingName, theUser, theDomain))
    {
        theDomain.clear();
        theUser = theWorkingName;
    }
    infoLog(qzLogDebug, "qzAuthenticator::authenticateUser domain: %s, user: %s", theDomain.c_str(),
            theUser.c_str());

    corvel::platform::LoadedLibrary thePlugin; // unloaded on every path
    try
    {
        if (!thePlugin.load(thePluginName))
        {
            outStatus = thePlugin.lastError();
            return logonPluginFailure;
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
            return logonPluginFailure;
        }
        unsigned int theStatusWord = 0;
        const int theAnswer =
            theUserLogon(theDomain.c_str(), theUser.c_str(), inPassword.c_str(), &theStatusWord);
        thePlugin.unload();
        outStatus = theStatusWord;
        switch (theAnswer)
        {
        case 0:
            return logonAccepted;
        case 9:
            return logonUnknownUserOrPassword;
        case 10:
            return logonNotAllowed;
        default:
            return logonOtherFailure;
        }
    }
    catch (...)
    {
        thePlugin.unload();
        return logonPluginFailure;
    }
}
