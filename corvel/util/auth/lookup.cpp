// Name lookup: names as people type them, turned into the directory's forms
// through the name translator.
#include "corvel/util/qzauthenticator.h"

#include <memory>
#include <new>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinfolog.h"
#include "corvel/util/auth/texts.h"

using corvel::auth::hexOf;
using corvel::directory::NameTranslator;
using corvel::directory::NameType;
using corvel::directory::Session;
using corvel::directory::Status;

namespace
{

// Characters that mark a name as already qualified: such a name is never
// retried with the current account's domain in front.
constexpr const char* theQualifierChars = "\\@/,-";

} // namespace

bool qzAuthenticator::splitUserName(const std::string& inName, std::string& outUser,
                                    std::string& outDomain)
{
    if (inName.find('=') != std::string::npos)
        return false;
    const std::size_t theSlash = inName.find('\\');
    if (theSlash != std::string::npos)
    {
        outDomain = inName.substr(0, theSlash);
        outUser = inName.substr(theSlash + 1);
        return true;
    }
    const std::size_t theAt = inName.find('@');
    if (theAt != std::string::npos)
    {
        outUser = inName.substr(0, theAt);
        outDomain = inName.substr(theAt + 1);
        return true;
    }
    return false;
}

bool qzAuthenticator::getObjectDN(const std::string& inName, std::string& outDN, bool inIsGroup)
{
    Status theStatus = corvel::directory::S_ok;
    return lookupObjectDN(inName, outDN, inIsGroup, theStatus) == lookupFound;
}

namespace
{

// The translator's answers that say the directory holds no such name (not
// found, several objects, no name in that form), as opposed to a directory
// that could not be asked.
bool isNameAnswer(Status inStatus)
{
    const unsigned theCode = inStatus & 0xFFFFu;
    return theCode == 8470u || theCode == 8471u || theCode == 8472u;
}

qzAuthenticator::LookupResult lookupOutcome(Status inStatus)
{
    return isNameAnswer(inStatus) ? qzAuthenticator::lookupNotFound : qzAuthenticator::lookupFailed;
}

} // namespace

qzAuthenticator::LookupResult qzAuthenticator::lookupObjectDN(const std::string& inName,
                                                              std::string& outDN, bool inIsGroup,
                                                              Status& outStatus)
{
    outStatus = corvel::directory::E_fail;
    try
    {
        Session theSession;
        std::unique_ptr<NameTranslator> theTranslator;
        Status theStatus = theSession.service().createNameTranslator(theTranslator);
        if (corvel::directory::failed(theStatus) || !theTranslator)
        {
            if (!corvel::directory::failed(theStatus))
                theStatus = corvel::directory::E_fail;
            infoLog(qzLogError,
                    "qzAuthenticator::getObjectDN error creating name translator, error 0x%lX",
                    hexOf(theStatus));
            outStatus = theStatus;
            return lookupFailed;
        }

        writeInfoLog(qzLogDebug,
                     "qzAuthenticator::getObjectDN initing name translator on global catalog");
        theStatus = theTranslator->init(corvel::directory::InitType_GC, "");
        if (corvel::directory::failed(theStatus))
        {
            infoLog(qzLogError,
                    "qzAuthenticator::getObjectDN error initing the name translator, error 0x%lX",
                    hexOf(theStatus));
            outStatus = theStatus;
            return lookupFailed;
        }

        theStatus = theTranslator->set(corvel::directory::NameType_Unknown, inName);
        if (corvel::directory::failed(theStatus))
        {
            qzTrace(1,
                    "qzAuthenticator::getObjectDN error translating object \"%s\", error 0x%lX, "
                    "evaluating options",
                    inName.c_str(), hexOf(theStatus));
            std::string theUser;
            std::string theDomain;
            std::string theSid;
            if (inIsGroup && corvel::directory::isNameNotFound(theStatus) &&
                inName.find_first_of(theQualifierChars) == std::string::npos &&
                getCurrentUserInfo(theUser, theDomain, theSid))
            {
                const std::string thePrefixed = theDomain + "\\" + inName;
                infoLog(qzLogDebug,
                        "qzAuthenticator::getObjectDN reiniting name translator on global "
                        "catalog, adding domain prefix, searching for \"%s\"",
                        thePrefixed.c_str());
                theStatus = theTranslator->set(corvel::directory::NameType_Unknown, thePrefixed);
            }
        }
        if (corvel::directory::failed(theStatus))
        {
            qzTrace(1, "qzAuthenticator::getObjectDN error translating object \"%s\", error 0x%lX",
                    inName.c_str(), hexOf(theStatus));
            outStatus = theStatus;
            return lookupOutcome(theStatus);
        }

        std::string theDN;
        theStatus = theTranslator->get(corvel::directory::NameType_1779, theDN);
        if (corvel::directory::failed(theStatus))
        {
            outStatus = theStatus;
            return lookupOutcome(theStatus);
        }
        outDN = theDN;
        outStatus = corvel::directory::S_ok;
        return lookupFound;
    }
    catch (...)
    {
        outStatus = corvel::directory::E_fail;
        try
        {
            throw;
        }
        catch (const std::bad_alloc&)
        {
            outStatus = corvel::directory::E_outOfMemory;
        }
        catch (...)
        {
        }
        try
        {
            writeInfoLog(qzLogDebug, "qzAuthenticator::getObjectDN - result EXCEPTION");
        }
        catch (...)
        {
        }
        return lookupFailed;
    }
}

bool qzAuthenticator::findUser(const std::string& inName, const std::string& inPassword,
                               std::string& outResult, bool& outUsedGlobalCatalog,
                               NameType inFormat)
{
    outUsedGlobalCatalog = false;
    // The caller's session is open; this one shares its service.
    Session theSession;
    std::unique_ptr<NameTranslator> theTranslator;
    Status theStatus = theSession.service().createNameTranslator(theTranslator);
    if (corvel::directory::failed(theStatus) || !theTranslator)
    {
        if (!corvel::directory::failed(theStatus))
            theStatus = corvel::directory::E_fail;
        infoLog(qzLogError, "findUser error creating name translator, error 0x%lX",
                hexOf(theStatus));
        return false;
    }

    // DOMAIN\user@realm: the realm part names the domain to bind to.
    std::string theCopy = inName;
    const std::size_t theSlash = theCopy.find('\\');
    if (theSlash != std::string::npos && theCopy.find('@') != std::string::npos)
        theCopy.erase(0, theSlash + 1);

    std::string theUser;
    std::string theDomain;
    if (splitUserName(theCopy, theUser, theDomain))
    {
        if (!inPassword.empty())
        {
            infoLog(qzLogDebug, "findUser initing name translator on domain \"%s\" and user \"%s\"",
                    theDomain.c_str(), theUser.c_str());
            theStatus = theTranslator->initEx(corvel::directory::InitType_Domain, theDomain,
                                              theUser, theDomain, inPassword);
        }
        else
        {
            infoLog(qzLogDebug, "findUser initing name translator on domain \"%s\"",
                    theDomain.c_str());
            theStatus = theTranslator->init(corvel::directory::InitType_Domain, theDomain);
        }
    }
    else
    {
        writeInfoLog(qzLogDebug, "findUser initing name translator on global catalog");
        outUsedGlobalCatalog = true;
        theStatus = theTranslator->init(corvel::directory::InitType_GC, "");
    }
    if (corvel::directory::failed(theStatus))
    {
        theTranslator.reset();
        infoLog(qzLogError, "findUser error initing the name translator, error 0x%lX",
                hexOf(theStatus));
        return false;
    }

    theStatus = theTranslator->set(corvel::directory::NameType_Unknown, inName);
    if (corvel::directory::failed(theStatus))
    {
        qzTrace(1, "findUser error translating user \"%s\", error 0x%lX", inName.c_str(),
                hexOf(theStatus));
        return false;
    }

    std::string theResult;
    if (corvel::directory::failed(theTranslator->get(inFormat, theResult)))
        return false;
    outResult = theResult;
    return true;
}
