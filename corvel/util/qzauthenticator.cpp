#include "corvel/util/qzauthenticator.h"

#include <cstdio>
#include <memory>
#include <unordered_set>
#include <vector>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzerrors.h"
#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/os_identity.h"

using corvel::directory::DirEnumerator;
using corvel::directory::DirGroup;
using corvel::directory::DirObject;
using corvel::directory::NameTranslator;
using corvel::directory::NameType;
using corvel::directory::ObjectKind;
using corvel::directory::Session;
using corvel::directory::Status;

namespace
{

// Characters that mark a name as already qualified: such a name is never
// retried with the current account's domain in front.
constexpr const char* theQualifierChars = "\\@/,-";

unsigned long hexOf(Status inStatus) { return static_cast<unsigned long>(inStatus); }

// Identity of a group for the walk's record of groups entered: its DN in
// normal form (DNs compare without case and spacing). A group whose DN cannot
// be read falls back to its relative name, so that a loop through it still
// ends.
std::string groupKey(DirGroup& inGroup, const std::string& inRelativeName)
{
    std::string theDN;
    std::string theKey;
    if (corvel::directory::succeeded(inGroup.get("distinguishedName", theDN)) &&
        corvel::directory::dn::normalizeDN(theDN, theKey) && !theKey.empty())
        return theKey;
    std::string theFallback(1, '\x01'); // never the start of a DN key
    theFallback += corvel::directory::dn::toLowerAscii(inRelativeName);
    return theFallback;
}

} // namespace

// ---------------------------------------------------------------------------
// Current account

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

// ---------------------------------------------------------------------------
// Name lookup

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
            return false;
        }

        writeInfoLog(qzLogDebug,
                     "qzAuthenticator::getObjectDN initing name translator on global catalog");
        theStatus = theTranslator->init(corvel::directory::InitType_GC, "");
        if (corvel::directory::failed(theStatus))
        {
            infoLog(qzLogError,
                    "qzAuthenticator::getObjectDN error initing the name translator, error 0x%lX",
                    hexOf(theStatus));
            return false;
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
            return false;
        }

        std::string theDN;
        if (corvel::directory::failed(
                theTranslator->get(corvel::directory::NameType_1779, theDN)))
            return false;
        outDN = theDN;
        return true;
    }
    catch (...)
    {
        try
        {
            writeInfoLog(qzLogDebug, "qzAuthenticator::getObjectDN - result EXCEPTION");
        }
        catch (...)
        {
        }
        return false;
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

// ---------------------------------------------------------------------------
// Membership

std::string qzAuthenticator::escapeDN(const std::string& inDN)
{
    std::string theEscaped;
    theEscaped.reserve(inDN.size());
    for (char curChar : inDN)
    {
        if (curChar == '/')
            theEscaped += "\\2f";
        else
            theEscaped += curChar;
    }
    return theEscaped;
}

bool qzAuthenticator::isUserInGroup(const std::string& inGroupDN, const std::string& inUserDN)
{
    try
    {
        Session theSession;
        const std::string theGroupDN = escapeDN(inGroupDN);
        qzTrace(1, "isUserInGroup: opening path: \"LDAP://%s\"", theGroupDN.c_str());
        std::unique_ptr<DirObject> theObject;
        const Status theStatus = theSession.service().openObject(
            "LDAP://" + theGroupDN, nullptr, ObjectKind::Group, theObject);
        if (corvel::directory::failed(theStatus) || !theObject)
            return false;
        DirGroup* theGroup = theObject->asGroup();
        if (theGroup == nullptr)
            return false;
        const std::string theUserPath = "LDAP://" + escapeDN(inUserDN);
        return _isUserInGroup(*theGroup, theUserPath);
    }
    catch (...)
    {
        return false;
    }
}

namespace
{

// One group being walked: the member enumeration is open, and the walk
// resumes with its next element once the member below has been decided.
struct WalkFrame
{
    std::unique_ptr<DirObject> itsOwner; // null for the caller's group
    DirGroup* itsGroup = nullptr;
    std::string itsName;
    std::unique_ptr<DirEnumerator> itsMembers;
    bool itsFound = false;
};

enum class EnterResult
{
    IsMember,    // decided true
    NotMember,   // decided false, no members to walk
    WalkMembers, // a frame was pushed
};

void traceReturning(const WalkFrame& inFrame, const std::string& inUserPath)
{
    qzTrace(1, "_isUserInGroup: returning \"%s\" when checking IsMember of group \"%s\" for user: "
               "\"%s\".",
            inFrame.itsFound ? "true" : "false", inFrame.itsName.c_str(), inUserPath.c_str());
}

// The first part of one group's step: its name, the direct test and, when
// that does not decide, the opening of its members.
EnterResult enterGroup(DirGroup& inGroup, std::unique_ptr<DirObject> inOwner,
                       const std::string& inName, const std::string& inUserPath,
                       std::vector<WalkFrame>& ioStack)
{
    qzTrace(1, "_isUserInGroup: checking IsMember of group \"%s\" for user: \"%s\"",
            inName.c_str(), inUserPath.c_str());
    bool theIsMember = false;
    const Status theStatus = inGroup.isMember(inUserPath, theIsMember);
    qzTrace(1, "_isUserInGroup: done checking IsMember for user: \"%s\"", inUserPath.c_str());
    if (corvel::directory::succeeded(theStatus) && theIsMember)
    {
        qzTrace(1, "_isUserInGroup: checking IsMember of group \"%s\" for user: \"%s\", returning "
                   "true",
                inName.c_str(), inUserPath.c_str());
        return EnterResult::IsMember;
    }

    qzTrace(1, "_isUserInGroup: checking members for user \"%s\"", inUserPath.c_str());
    std::unique_ptr<DirEnumerator> theMembers;
    const Status theMembersStatus = inGroup.members(theMembers);
    qzTrace(1, "_isUserInGroup: done checking members for user \"%s\"", inUserPath.c_str());
    if (corvel::directory::failed(theMembersStatus))
    {
        qzTrace(1, "_isUserInGroup: checking IsMember of group \"%s\" for user: \"%s\", returning "
                   "false error enumering members",
                inName.c_str(), inUserPath.c_str());
        return EnterResult::NotMember;
    }

    WalkFrame theFrame;
    theFrame.itsOwner = std::move(inOwner);
    theFrame.itsGroup = &inGroup;
    theFrame.itsName = inName;
    theFrame.itsMembers = std::move(theMembers); // null: nothing to enumerate
    ioStack.push_back(std::move(theFrame));
    return EnterResult::WalkMembers;
}

std::string relativeName(DirGroup& inGroup)
{
    std::string theName;
    if (corvel::directory::failed(inGroup.getName(theName)))
        theName.clear();
    return theName;
}

} // namespace

bool qzAuthenticator::_isUserInGroup(DirGroup& inGroup, const std::string& inUserPath)
{
    // Depth-first in directory order with an explicit stack, so that the
    // nesting depth of the directory never reaches the C++ stack. The trace
    // lines come in the order a recursive walk writes them.
    std::vector<WalkFrame> theStack;
    std::unordered_set<std::string> theEntered;

    const std::string theTopName = relativeName(inGroup);
    theEntered.insert(groupKey(inGroup, theTopName));
    switch (enterGroup(inGroup, nullptr, theTopName, inUserPath, theStack))
    {
    case EnterResult::IsMember:
        return true;
    case EnterResult::NotMember:
        return false;
    case EnterResult::WalkMembers:
        break;
    }

    while (!theStack.empty())
    {
        bool theDescended = false;
        while (!theStack.back().itsFound && theStack.back().itsMembers)
        {
            std::unique_ptr<DirObject> theElement;
            const Status theStatus = theStack.back().itsMembers->next(theElement);
            if (theStatus != corvel::directory::S_ok || !theElement)
                break;
            DirGroup* theMember = theElement->asGroup();
            if (theMember == nullptr)
                continue; // users, computers and contacts
            const std::string theName = relativeName(*theMember);
            // A group entered before, on this descent or through another
            // parent, cannot add anything: counted as false.
            if (!theEntered.insert(groupKey(*theMember, theName)).second)
                continue;
            const EnterResult theResult =
                enterGroup(*theMember, std::move(theElement), theName, inUserPath, theStack);
            if (theResult == EnterResult::WalkMembers)
            {
                theDescended = true;
                break;
            }
            theStack.back().itsFound = theResult == EnterResult::IsMember;
        }
        if (theDescended)
            continue;

        // This group is done: report it, release it and its enumeration, and
        // hand its verdict to the group above.
        traceReturning(theStack.back(), inUserPath);
        const bool theFound = theStack.back().itsFound;
        theStack.pop_back();
        if (theStack.empty())
            return theFound;
        theStack.back().itsFound = theFound;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Texts

std::string qzAuthenticator::formatErrorText(std::uint32_t inCode)
{
    char theHex[16];
    std::snprintf(theHex, sizeof theHex, "%x", static_cast<unsigned int>(inCode));
    return std::string("[0x") + theHex + "] " + getOSErrorText(inCode);
}
