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
#include "corvel/platform/os_loader.h"
#include "corvel/platform/os_text.h"

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
    return corvel::directory::dn::escapePathDN(inDN);
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
// Group listing

namespace
{

constexpr std::int32_t theUnboundedDepth = 0x7fffffff;

// Overwrites text that held a password before its memory is given back.
template <typename String>
void scrub(String& ioText)
{
    volatile typename String::value_type* theData = ioText.data();
    for (std::size_t curIndex = 0; curIndex < ioText.size(); ++curIndex)
        theData[curIndex] = 0;
    ioText.clear();
}

// The credentials of one listing: both parts or none.
struct ListingCredentials
{
    corvel::directory::Credentials itsCredentials;
    ListingCredentials(const std::wstring& inUser, const std::wstring& inPassword)
    {
        if (!inUser.empty() && !inPassword.empty())
        {
            itsCredentials.itsUser = corvel::platform::wideToNarrow(inUser);
            itsCredentials.itsPassword = corvel::platform::wideToNarrow(inPassword);
        }
    }
    ~ListingCredentials() { scrub(itsCredentials.itsPassword); }
    ListingCredentials(const ListingCredentials&) = delete;
    ListingCredentials& operator=(const ListingCredentials&) = delete;
    const corvel::directory::Credentials* get() const
    {
        return itsCredentials.isEmpty() ? nullptr : &itsCredentials;
    }
};

// One group of the walk: what its visit yields to walk next.
struct GroupFrame
{
    std::vector<std::string> itsParents; // its memberOf, in directory order
    std::size_t itsNext = 0;
    std::int32_t itsDepth = 0;           // the depth the parents are entered with
};

// The visit of one group: opens it, adds its name, and leaves in outFrame the
// groups to walk above it. False when there is nothing to walk.
bool visitGroup(corvel::directory::DirectoryService& inService, const std::string& inGroupDN,
                const corvel::directory::Credentials* inCredentials,
                qzAuthenticator::GroupSet& ioGroups, std::int32_t inDepth, GroupFrame& outFrame)
{
    const std::string theEscaped = qzAuthenticator::escapeDN(inGroupDN);
    std::unique_ptr<DirObject> theGroup;
    const Status theStatus =
        inService.openObject("LDAP://" + theEscaped, inCredentials, ObjectKind::Object, theGroup);
    if (corvel::directory::failed(theStatus) || !theGroup)
    {
        infoLog(qzLogError,
                "enumerateGroup unable to retrieve information about group \"%s\", error 0x%lX",
                theEscaped.c_str(),
                hexOf(corvel::directory::failed(theStatus) ? theStatus : corvel::directory::E_fail));
        return false;
    }
    std::string theName;
    if (corvel::directory::failed(theGroup->get("name", theName)))
        return false;
    // Collected before: the group and everything above it are in the set.
    if (!ioGroups.insert(theName).second)
        return false;
    const std::int32_t theDepth = inDepth - 1;
    if (theDepth <= 0)
        return false;
    std::vector<std::string> theParents;
    if (corvel::directory::failed(theGroup->getEx("memberOf", theParents)) || theParents.empty())
        return false;
    outFrame.itsParents = std::move(theParents);
    outFrame.itsNext = 0;
    outFrame.itsDepth = theDepth;
    return true;
}

void walkGroups(corvel::directory::DirectoryService& inService, const std::string& inGroupDN,
                const corvel::directory::Credentials* inCredentials,
                qzAuthenticator::GroupSet& ioGroups, std::int32_t inDepth)
{
    // Depth-first in directory order, as a recursive walk would go, but on
    // an explicit stack: the nesting of the directory never reaches the C++
    // stack.
    std::vector<GroupFrame> theStack;
    GroupFrame theFrame;
    if (!visitGroup(inService, inGroupDN, inCredentials, ioGroups, inDepth, theFrame))
        return;
    theStack.push_back(std::move(theFrame));
    while (!theStack.empty())
    {
        GroupFrame& theTop = theStack.back();
        if (theTop.itsNext >= theTop.itsParents.size())
        {
            theStack.pop_back();
            continue;
        }
        const std::string theParent = theTop.itsParents[theTop.itsNext++];
        const std::int32_t theDepth = theTop.itsDepth;
        GroupFrame theNext;
        if (visitGroup(inService, theParent, inCredentials, ioGroups, theDepth, theNext))
            theStack.push_back(std::move(theNext)); // theTop is not used past here
    }
}

} // namespace

void qzAuthenticator::enumerateGroup(const std::string& inGroupDN, const std::wstring& inUser,
                                     const std::wstring& inPassword, GroupSet& ioGroups,
                                     std::int32_t inDepth)
{
    Session theSession; // the caller's, shared
    const ListingCredentials theCredentials(inUser, inPassword);
    walkGroups(theSession.service(), inGroupDN, theCredentials.get(), ioGroups, inDepth);
}

bool qzAuthenticator::getUserGroups(const std::string& inUserDN, const std::wstring& inUser,
                                    const std::wstring& inPassword, GroupSet& ioGroups,
                                    bool inRecursive)
{
    Session theSession; // the caller's, shared
    const ListingCredentials theCredentials(inUser, inPassword);
    const std::string theEscaped = escapeDN(inUserDN);
    if (theCredentials.get() != nullptr)
        qzTrace(1, "getUserGroups opening \"LDAP://%s\" with the credentials of \"%s\"",
                theEscaped.c_str(), theCredentials.itsCredentials.itsUser.c_str());
    else
        qzTrace(1, "getUserGroups opening \"LDAP://%s\" in the caller's own security context",
                theEscaped.c_str());

    std::unique_ptr<DirObject> theUser;
    Status theStatus = theSession.service().openObject("LDAP://" + theEscaped,
                                                       theCredentials.get(), ObjectKind::User,
                                                       theUser);
    if (corvel::directory::succeeded(theStatus) && (!theUser || theUser->asUser() == nullptr))
        theStatus = corvel::directory::E_noInterface;
    if (corvel::directory::failed(theStatus))
    {
        infoLog(qzLogError, "getUserGroups error finding user \"%s\", error 0x%lX",
                theEscaped.c_str(), hexOf(theStatus));
        return false;
    }

    // The primary group belongs to the user as much as the groups that name
    // it as a member; the directory lists it in neither member nor memberOf.
    std::string thePrimary;
    theStatus = theUser->asUser()->primaryGroup(thePrimary);
    if (corvel::directory::failed(theStatus))
    {
        infoLog(qzLogError,
                "getUserGroups unable to retrieve the primary group of user \"%s\", error 0x%lX",
                theEscaped.c_str(), hexOf(theStatus));
        return false;
    }

    if (inRecursive)
    {
        std::vector<std::string> theMemberOf;
        theStatus = theUser->getEx("memberOf", theMemberOf);
        if (theStatus == corvel::directory::E_propertyNotFound)
            theMemberOf.clear(); // a member of no group through this attribute
        else if (corvel::directory::failed(theStatus))
        {
            infoLog(qzLogError,
                    "getUserGroups unable to retrieve member of for user \"%s\", error 0x%lX",
                    theEscaped.c_str(), hexOf(theStatus));
            return false;
        }
        theUser.reset();
        if (!thePrimary.empty())
            theMemberOf.push_back(thePrimary);
        for (const std::string& curGroupDN : theMemberOf)
            walkGroups(theSession.service(), curGroupDN, theCredentials.get(), ioGroups,
                       theUnboundedDepth);
        return true;
    }

    std::unique_ptr<DirEnumerator> theGroups;
    theStatus = theUser->asUser()->groups(theGroups);
    if (corvel::directory::failed(theStatus))
    {
        infoLog(qzLogError, "getUserGroups error getting groups for user \"%s\", error 0x%lX",
                theEscaped.c_str(), hexOf(theStatus));
        return false;
    }
    // "CN=Sales" -> "Sales"; shorter names carry no name after the type.
    const auto theAddName = [&ioGroups](DirObject& inGroup) {
        std::string theName;
        if (corvel::directory::succeeded(inGroup.getName(theName)) && theName.size() > 3)
            ioGroups.insert(theName.substr(3));
    };
    while (theGroups)
    {
        std::unique_ptr<DirObject> theElement;
        if (theGroups->next(theElement) != corvel::directory::S_ok || !theElement)
            break;
        if (DirGroup* theGroup = theElement->asGroup())
            theAddName(*theGroup);
    }
    if (!thePrimary.empty())
    {
        std::unique_ptr<DirObject> thePrimaryGroup;
        const std::string thePath = "LDAP://" + escapeDN(thePrimary);
        theStatus = theSession.service().openObject(thePath, theCredentials.get(),
                                                    ObjectKind::Object, thePrimaryGroup);
        if (corvel::directory::failed(theStatus) || !thePrimaryGroup)
        {
            infoLog(qzLogError,
                    "getUserGroups unable to retrieve the primary group of user \"%s\", error 0x%lX",
                    theEscaped.c_str(),
                    hexOf(corvel::directory::failed(theStatus) ? theStatus
                                                              : corvel::directory::E_fail));
            return false;
        }
        theAddName(*thePrimaryGroup);
    }
    return true;
}

bool qzAuthenticator::getADUserGroups(const std::string& inUserName,
                                      const std::string& inPassword, GroupSet& ioGroups,
                                      bool inRecursive)
{
    try
    {
        Session theSession;
        bool theResult = false;
        try
        {
            std::string theDN;
            bool theUsedGlobalCatalog = false;
            if (findUser(inUserName, inPassword, theDN, theUsedGlobalCatalog,
                         corvel::directory::NameType_1779))
            {
                infoLog(qzLogDebug, "qzAuthenticator::getADUserGroups found user as \"%s\"",
                        theDN.c_str());
                // A name found on the global catalog carried no domain: the
                // caller's own context reads it, whatever password came along.
                std::wstring theUser;
                std::wstring thePassword;
                if (!theUsedGlobalCatalog)
                {
                    theUser = corvel::platform::narrowToWide(inUserName);
                    thePassword = corvel::platform::narrowToWide(inPassword);
                }
                theResult = getUserGroups(theDN, theUser, thePassword, ioGroups, inRecursive);
                scrub(thePassword);
            }
        }
        catch (...)
        {
            writeInfoLog(qzLogDebug, "qzAuthenticator::getADUserGroups - result EXCEPTION");
            return false;
        }
        infoLog(qzLogDebug, "qzAuthenticator::getADUserGroups - result %s",
                theResult ? "SUCCESS" : "FAILURE");
        return theResult;
    }
    catch (...)
    {
        return false;
    }
}

// ---------------------------------------------------------------------------
// Password logon

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
    const bool theNeedsLookup = !(inUserName.find('\\') != std::string::npos &&
                                  inUserName.find('@') == std::string::npos);
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
            infoLog(qzLogError, "qzAuthenticator::authenticateUser - user \"%s\" could not be found",
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
    infoLog(qzLogDebug, "qzAuthenticator::authenticateUser domain: %s, user: %s",
            theDomain.c_str(), theUser.c_str());

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

// ---------------------------------------------------------------------------
// Texts

std::string qzAuthenticator::formatErrorText(std::uint32_t inCode)
{
    char theHex[16];
    std::snprintf(theHex, sizeof theHex, "%x", static_cast<unsigned int>(inCode));
    return std::string("[0x") + theHex + "] " + getOSErrorText(inCode);
}
