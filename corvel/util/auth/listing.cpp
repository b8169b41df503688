// The group listing: the groups a user belongs to, directly or to any depth.
#include "corvel/util/qzauthenticator.h"

#include <memory>
#include <vector>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/user_groups.h"
#include "corvel/platform/os_text.h"
#include "corvel/util/auth/texts.h"

using corvel::auth::hexOf;
using corvel::directory::DirectoryService;
using corvel::directory::DirGroup;
using corvel::directory::DirObject;
using corvel::directory::ObjectKind;
using corvel::directory::Session;
using corvel::directory::Status;

namespace
{

constexpr std::int32_t theUnboundedDepth = 0x7fffffff;

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
    ~ListingCredentials() { corvel::platform::wipeText(itsCredentials.itsPassword); }
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
    std::int32_t itsDepth = 0; // the depth the parents are entered with
};

// The visit of one group: opens it, adds its name, and leaves in outFrame the
// groups to walk above it. False when there is nothing to walk.
bool visitGroup(DirectoryService& inService, const std::string& inGroupDN,
                const corvel::directory::Credentials* inCredentials,
                qzAuthenticator::GroupSet& ioGroups, std::int32_t inDepth, GroupFrame& outFrame)
{
    const std::string theEscaped = qzAuthenticator::escapeDN(inGroupDN);
    std::unique_ptr<DirObject> theGroup;
    const Status theStatus = corvel::directory::openByDN(inService, inGroupDN, inCredentials,
                                                         ObjectKind::Object, theGroup);
    if (corvel::directory::failed(theStatus) || !theGroup)
    {
        infoLog(
            qzLogError,
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

void walkGroups(DirectoryService& inService, const std::string& inGroupDN,
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

// "CN=Sales" -> "Sales"; shorter names carry no name after the type.
void addRelativeName(DirObject& inGroup, qzAuthenticator::GroupSet& ioGroups)
{
    std::string theName;
    if (corvel::directory::succeeded(inGroup.getName(theName)) && theName.size() > 3)
        ioGroups.insert(theName.substr(3));
}

// The recursive mode: every group above the user's memberOf and its primary
// group, to any depth.
bool listAbove(DirectoryService& inService, std::unique_ptr<DirObject>& ioUser,
               const std::string& inEscaped, const std::string& inPrimaryDN,
               const corvel::directory::Credentials* inCredentials,
               qzAuthenticator::GroupSet& ioGroups)
{
    std::vector<std::string> theMemberOf;
    const Status theStatus = ioUser->getEx("memberOf", theMemberOf);
    if (theStatus == corvel::directory::E_propertyNotFound)
        theMemberOf.clear(); // a member of no group through this attribute
    else if (corvel::directory::failed(theStatus))
    {
        infoLog(qzLogError,
                "getUserGroups unable to retrieve member of for user \"%s\", error 0x%lX",
                inEscaped.c_str(), hexOf(theStatus));
        return false;
    }
    ioUser.reset(); // read: released before the walk above it
    if (!inPrimaryDN.empty())
        theMemberOf.push_back(inPrimaryDN);
    for (const std::string& curGroupDN : theMemberOf)
        walkGroups(inService, curGroupDN, inCredentials, ioGroups, theUnboundedDepth);
    return true;
}

// The direct mode: the user's groups and its primary group, by relative name.
bool listDirect(DirectoryService& inService, corvel::directory::DirUser& inUser,
                const std::string& inEscaped, const std::string& inPrimaryDN,
                const corvel::directory::Credentials* inCredentials,
                qzAuthenticator::GroupSet& ioGroups)
{
    corvel::directory::UserGroups theGroups;
    corvel::directory::userGroups(inService, inUser, inPrimaryDN, inCredentials, theGroups);
    if (theGroups.itsFailedStep == corvel::directory::UserGroupsStep::Groups)
    {
        infoLog(qzLogError, "getUserGroups error getting groups for user \"%s\", error 0x%lX",
                inEscaped.c_str(), hexOf(theGroups.itsStatus));
        return false;
    }
    for (const std::unique_ptr<DirObject>& curGroup : theGroups.itsGroups)
        addRelativeName(*curGroup, ioGroups);
    if (theGroups.itsFailedStep == corvel::directory::UserGroupsStep::Primary)
    {
        infoLog(qzLogError,
                "getUserGroups unable to retrieve the primary group of user \"%s\", error 0x%lX",
                inEscaped.c_str(), hexOf(theGroups.itsStatus));
        return false;
    }
    if (theGroups.itsPrimary)
        addRelativeName(*theGroups.itsPrimary, ioGroups);
    return true;
}

} // namespace

void qzAuthenticator::enumerateGroup(const std::string& inGroupDN, const std::wstring& inUser,
                                     const std::wstring& inPassword, GroupSet& ioGroups,
                                     std::int32_t inDepth)
{
    Session theSession; // the caller's, shared
    enumerateGroup(theSession.service(), inGroupDN, inUser, inPassword, ioGroups, inDepth);
}

void qzAuthenticator::enumerateGroup(DirectoryService& inDirectory, const std::string& inGroupDN,
                                     const std::wstring& inUser, const std::wstring& inPassword,
                                     GroupSet& ioGroups, std::int32_t inDepth)
{
    const ListingCredentials theCredentials(inUser, inPassword);
    walkGroups(inDirectory, inGroupDN, theCredentials.get(), ioGroups, inDepth);
}

bool qzAuthenticator::getUserGroups(const std::string& inUserDN, const std::wstring& inUser,
                                    const std::wstring& inPassword, GroupSet& ioGroups,
                                    bool inRecursive)
{
    Session theSession; // the caller's, shared
    return getUserGroups(theSession.service(), inUserDN, inUser, inPassword, ioGroups, inRecursive);
}

bool qzAuthenticator::getUserGroups(DirectoryService& inDirectory, const std::string& inUserDN,
                                    const std::wstring& inUser, const std::wstring& inPassword,
                                    GroupSet& ioGroups, bool inRecursive)
{
    const ListingCredentials theCredentials(inUser, inPassword);
    const std::string theEscaped = escapeDN(inUserDN);
    const std::string thePath = corvel::directory::dn::ldapPath(inUserDN);
    if (theCredentials.get() != nullptr)
        qzTrace(1, "getUserGroups opening \"%s\" with the credentials of \"%s\"", thePath.c_str(),
                theCredentials.itsCredentials.itsUser.c_str());
    else
        qzTrace(1, "getUserGroups opening \"%s\" in the caller's own security context",
                thePath.c_str());

    std::unique_ptr<DirObject> theUser;
    Status theStatus = corvel::directory::openByDN(inDirectory, inUserDN, theCredentials.get(),
                                                   ObjectKind::User, theUser);
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
    if (!inRecursive)
        return listDirect(inDirectory, *theUser->asUser(), theEscaped, thePrimary,
                          theCredentials.get(), ioGroups);
    return listAbove(inDirectory, theUser, theEscaped, thePrimary, theCredentials.get(), ioGroups);
}

namespace
{

bool userGroupsException()
{
    try
    {
        writeInfoLog(qzLogDebug, "qzAuthenticator::getADUserGroups - result EXCEPTION");
    }
    catch (...)
    {
    }
    return false;
}

} // namespace

bool qzAuthenticator::getADUserGroups(const std::string& inUserName, const std::string& inPassword,
                                      GroupSet& ioGroups, bool inRecursive)
{
    try
    {
        Session theSession;
        return getADUserGroups(theSession.service(), inUserName, inPassword, ioGroups, inRecursive);
    }
    catch (...)
    {
        return userGroupsException();
    }
}

bool qzAuthenticator::getADUserGroups(DirectoryService& inDirectory, const std::string& inUserName,
                                      const std::string& inPassword, GroupSet& ioGroups,
                                      bool inRecursive)
{
    bool theResult = false;
    try
    {
        std::string theDN;
        bool theUsedGlobalCatalog = false;
        if (findUser(inDirectory, inUserName, inPassword, theDN, theUsedGlobalCatalog,
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
            theResult =
                getUserGroups(inDirectory, theDN, theUser, thePassword, ioGroups, inRecursive);
            corvel::platform::wipeText(thePassword);
        }
    }
    catch (...)
    {
        return userGroupsException();
    }
    try
    {
        infoLog(qzLogDebug, "qzAuthenticator::getADUserGroups - result %s",
                theResult ? "SUCCESS" : "FAILURE");
    }
    catch (...)
    {
    }
    return theResult;
}
