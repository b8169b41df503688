// Name lookup: names as people type them, turned into the directory's forms
// through the name translator (corvel/platform/directory/translate.h).
#include "corvel/util/qzauthenticator.h"

#include <memory>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/names.h"
#include "corvel/platform/directory/translate.h"
#include "corvel/platform/os_text.h"
#include "corvel/util/auth/lookup.h"
#include "corvel/util/auth/texts.h"

using corvel::auth::hexOf;
using corvel::directory::DirectoryService;
using corvel::directory::NameType;
using corvel::directory::Session;
using corvel::directory::Status;
using corvel::directory::TranslateStep;
using corvel::directory::TranslatorInit;

namespace
{

// Characters that mark a name as already qualified: such a name is never
// retried with the current account's domain in front.
constexpr const char* theQualifierChars = "\\@/,-";

qzAuthenticator::LookupResult lookupOutcome(Status inStatus)
{
    return corvel::directory::isNameAnswer(inStatus) ? qzAuthenticator::lookupNotFound
                                                     : qzAuthenticator::lookupFailed;
}

// getObjectDN's lines at each step of the translation on the global
// catalog, and its one retry of a bare group name.
class ObjectDNSteps final : public corvel::directory::TranslateSteps
{
public:
    ObjectDNSteps(const std::string& inName, bool inIsGroup)
        : itsName(inName), itsIsGroup(inIsGroup)
    {
    }

    void failedCreate(Status inStatus) override
    {
        infoLog(qzLogError,
                "qzAuthenticator::getObjectDN error creating name translator, error 0x%lX",
                hexOf(inStatus));
    }
    void initing() override
    {
        writeInfoLog(qzLogDebug,
                     "qzAuthenticator::getObjectDN initing name translator on global catalog");
    }
    void failedInit(Status inStatus) override
    {
        infoLog(qzLogError,
                "qzAuthenticator::getObjectDN error initing the name translator, error 0x%lX",
                hexOf(inStatus));
    }
    std::string retryName(Status inStatus) override
    {
        qzTrace(1,
                "qzAuthenticator::getObjectDN error translating object \"%s\", error 0x%lX, "
                "evaluating options",
                itsName.c_str(), hexOf(inStatus));
        std::string theUser;
        std::string theDomain;
        std::string theSid;
        if (!itsIsGroup || !corvel::directory::isNameNotFound(inStatus) ||
            itsName.find_first_of(theQualifierChars) != std::string::npos ||
            !qzAuthenticator::getCurrentUserInfo(theUser, theDomain, theSid))
            return {};
        const std::string thePrefixed = theDomain + "\\" + itsName;
        infoLog(qzLogDebug,
                "qzAuthenticator::getObjectDN reiniting name translator on global catalog, "
                "adding domain prefix, searching for \"%s\"",
                thePrefixed.c_str());
        return thePrefixed;
    }
    void failedSet(Status inStatus) override
    {
        qzTrace(1, "qzAuthenticator::getObjectDN error translating object \"%s\", error 0x%lX",
                itsName.c_str(), hexOf(inStatus));
    }

private:
    const std::string& itsName;
    bool itsIsGroup;
};

// findUser's lines.
class FindUserSteps final : public corvel::directory::TranslateSteps
{
public:
    FindUserSteps(const std::string& inName, const TranslatorInit& inInit)
        : itsName(inName), itsInit(inInit)
    {
    }

    void failedCreate(Status inStatus) override
    {
        infoLog(qzLogError, "findUser error creating name translator, error 0x%lX",
                hexOf(inStatus));
    }
    void initing() override
    {
        if (itsInit.itsKind == corvel::directory::InitType_GC)
            writeInfoLog(qzLogDebug, "findUser initing name translator on global catalog");
        else if (itsInit.hasPassword())
            infoLog(qzLogDebug, "findUser initing name translator on domain \"%s\" and user \"%s\"",
                    itsInit.itsDomain.c_str(), itsInit.itsUser.c_str());
        else
            infoLog(qzLogDebug, "findUser initing name translator on domain \"%s\"",
                    itsInit.itsPath.c_str());
    }
    void failedInit(Status inStatus) override
    {
        infoLog(qzLogError, "findUser error initing the name translator, error 0x%lX",
                hexOf(inStatus));
    }
    void failedSet(Status inStatus) override
    {
        qzTrace(1, "findUser error translating user \"%s\", error 0x%lX", itsName.c_str(),
                hexOf(inStatus));
    }

private:
    const std::string& itsName;
    const TranslatorInit& itsInit;
};

// The password of a translator's initialisation does not outlive it.
struct WipedInit
{
    TranslatorInit itsInit;
    WipedInit() = default;
    WipedInit(const WipedInit&) = delete;
    WipedInit& operator=(const WipedInit&) = delete;
    ~WipedInit() { corvel::platform::wipeText(itsInit.itsPassword); }
};

} // namespace

bool qzAuthenticator::splitUserName(const std::string& inName, std::string& outUser,
                                    std::string& outDomain)
{
    return corvel::directory::names::splitUserName(inName, outUser, outDomain);
}

bool qzAuthenticator::getObjectDN(const std::string& inName, std::string& outDN, bool inIsGroup)
{
    Status theStatus = corvel::directory::S_ok;
    return lookupObjectDN(inName, outDN, inIsGroup, theStatus) == lookupFound;
}

bool qzAuthenticator::getObjectDN(DirectoryService& inDirectory, const std::string& inName,
                                  std::string& outDN, bool inIsGroup)
{
    Status theStatus = corvel::directory::S_ok;
    return lookupObjectDN(inDirectory, inName, outDN, inIsGroup, theStatus) == lookupFound;
}

namespace
{

// What one translation came to, as lookupObjectDN tells it.
qzAuthenticator::LookupResult lookupResult(const corvel::directory::Translation& inDN,
                                           std::string& outDN, Status& outStatus)
{
    outStatus = inDN.itsStatus;
    if (inDN.succeeded())
    {
        outDN = inDN.itsResult;
        return qzAuthenticator::lookupFound;
    }
    const bool theAnswered =
        inDN.itsFailedStep == TranslateStep::Set || inDN.itsFailedStep == TranslateStep::Get;
    return theAnswered ? lookupOutcome(inDN.itsStatus) : qzAuthenticator::lookupFailed;
}

qzAuthenticator::LookupResult lookupException(Status& outStatus)
{
    outStatus = corvel::auth::exceptionStatus();
    try
    {
        writeInfoLog(qzLogDebug, "qzAuthenticator::getObjectDN - result EXCEPTION");
    }
    catch (...)
    {
    }
    return qzAuthenticator::lookupFailed;
}

} // namespace

qzAuthenticator::LookupResult qzAuthenticator::lookupObjectDN(const std::string& inName,
                                                              std::string& outDN, bool inIsGroup,
                                                              Status& outStatus)
{
    try
    {
        Session theSession;
        return lookupObjectDN(theSession.service(), inName, outDN, inIsGroup, outStatus);
    }
    catch (...)
    {
        return lookupException(outStatus);
    }
}

qzAuthenticator::LookupResult qzAuthenticator::lookupObjectDN(DirectoryService& inDirectory,
                                                              const std::string& inName,
                                                              std::string& outDN, bool inIsGroup,
                                                              Status& outStatus)
{
    outStatus = corvel::directory::E_fail;
    try
    {
        ObjectDNSteps theSteps(inName, inIsGroup);
        const corvel::directory::Translation theDN =
            corvel::directory::translateName(inDirectory, TranslatorInit::globalCatalog(), inName,
                                             corvel::directory::NameType_1779, &theSteps);
        outStatus = theDN.itsStatus;
        if (theDN.succeeded())
        {
            outDN = theDN.itsResult;
            return lookupFound;
        }
        const bool theAnswered =
            theDN.itsFailedStep == TranslateStep::Set || theDN.itsFailedStep == TranslateStep::Get;
        return theAnswered ? lookupOutcome(theDN.itsStatus) : lookupFailed;
    }
    catch (...)
    {
        return lookupException(outStatus);
    }
}

bool qzAuthenticator::findUser(const std::string& inName, const std::string& inPassword,
                               std::string& outResult, bool& outUsedGlobalCatalog,
                               NameType inFormat)
{
    outUsedGlobalCatalog = false;
    // The caller's session is open; this one shares its service.
    Session theSession;
    return findUser(theSession.service(), inName, inPassword, outResult, outUsedGlobalCatalog,
                    inFormat);
}

bool qzAuthenticator::findUser(DirectoryService& inDirectory, const std::string& inName,
                               const std::string& inPassword, std::string& outResult,
                               bool& outUsedGlobalCatalog, NameType inFormat)
{
    outUsedGlobalCatalog = false;
    // DOMAIN\user@realm: the realm part names the domain to bind to.
    std::string theCopy = inName;
    const std::size_t theSlash = theCopy.find('\\');
    if (theSlash != std::string::npos && theCopy.find('@') != std::string::npos)
        theCopy.erase(0, theSlash + 1);

    WipedInit theInit;
    std::string theUser;
    std::string theDomain;
    if (splitUserName(theCopy, theUser, theDomain))
    {
        theInit.itsInit.itsKind = corvel::directory::InitType_Domain;
        theInit.itsInit.itsPath = theDomain;
        if (!inPassword.empty())
        {
            theInit.itsInit.itsUser = theUser;
            theInit.itsInit.itsDomain = theDomain;
            theInit.itsInit.itsPassword = inPassword;
        }
    }
    else
        outUsedGlobalCatalog = true;

    FindUserSteps theSteps(inName, theInit.itsInit);
    // The name as the caller gave it, not the trimmed copy.
    const corvel::directory::Translation theResult =
        corvel::directory::translateName(inDirectory, theInit.itsInit, inName, inFormat, &theSteps);
    if (!theResult.succeeded())
        return false;
    outResult = theResult.itsResult;
    return true;
}

void corvel::auth::lookUpObjectDNs(DirectoryService& inDirectory, std::vector<NameLookup>& ioNames)
{
    try
    {
        std::vector<std::string> theNames;
        std::vector<std::unique_ptr<ObjectDNSteps>> theSteps;
        std::vector<corvel::directory::TranslateSteps*> theHooks;
        for (const NameLookup& curName : ioNames)
        {
            theNames.push_back(curName.itsName);
            theSteps.push_back(
                std::make_unique<ObjectDNSteps>(curName.itsName, curName.itsIsGroup));
            theHooks.push_back(theSteps.back().get());
        }
        const std::vector<corvel::directory::Translation> theDNs =
            corvel::directory::translateNames(inDirectory, TranslatorInit::globalCatalog(),
                                              theNames, corvel::directory::NameType_1779, theHooks);
        for (std::size_t curIndex = 0; curIndex < ioNames.size(); ++curIndex)
            ioNames[curIndex].itsResult = lookupResult(theDNs[curIndex], ioNames[curIndex].itsDN,
                                                       ioNames[curIndex].itsStatus);
    }
    catch (...)
    {
        Status theStatus = corvel::directory::E_fail;
        lookupException(theStatus);
        for (NameLookup& curName : ioNames)
        {
            curName.itsResult = qzAuthenticator::lookupFailed;
            curName.itsStatus = theStatus;
        }
    }
}
