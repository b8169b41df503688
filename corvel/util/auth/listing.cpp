// The group listing: the groups a user belongs to, directly or to any depth.
#include "corvel/util/qzauthenticator.h"

#include <memory>
#include <vector>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/os_text.h"
#include "corvel/util/auth/texts.h"

using corvel::auth::hexOf;
using corvel::directory::DirEnumerator;
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
    Status theStatus = theSession.service().openObject("LDAP://" + theEscaped, theCredentials.get(),
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
    const auto theAddName = [&ioGroups](DirObject& inGroup)
    {
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
            infoLog(
                qzLogError,
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

bool qzAuthenticator::getADUserGroups(const std::string& inUserName, const std::string& inPassword,
                                      GroupSet& ioGroups, bool inRecursive)
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
                corvel::platform::wipeText(thePassword);
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
