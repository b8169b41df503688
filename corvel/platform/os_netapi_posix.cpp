// The global groups of an account, from the configured directory.
#include "corvel/platform/os_netapi.h"

#include <cstdlib>
#include <memory>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/os_text.h"

namespace corvel::platform
{

namespace
{

using namespace corvel::directory;

constexpr long theGlobalScope = 0x2;

// A system error number of a directory status: the Win32 code it wraps.
std::uint32_t errorOf(Status inStatus)
{
    if (isNameNotFound(inStatus))
        return NetError_userNotFound;
    if ((inStatus & 0xFFFF0000u) == 0x80070000u)
        return inStatus & 0xFFFFu;
    return NetError_noSuchDomain;
}

bool isGlobalGroup(DirObject& inGroup)
{
    std::string theType;
    if (failed(inGroup.get("groupType", theType)) || theType.empty())
        return false;
    char* theEnd = nullptr;
    const long long theValue = std::strtoll(theType.c_str(), &theEnd, 10);
    return theEnd != nullptr && *theEnd == '\0' && (theValue & theGlobalScope) != 0;
}

void addUnique(std::vector<std::string>& ioNames, const std::string& inName)
{
    for (const std::string& curName : ioNames)
        if (curName == inName)
            return;
    ioNames.push_back(inName);
}

std::string pathOf(const std::string& inDN) { return "LDAP://" + dn::escapePathDN(inDN); }

// The account name of the user's primary group, empty when it has none or
// it is not a global group.
std::string primaryGroupName(DirectoryService& inService, DirObject& inUser)
{
    std::string theDN;
    DirUser* theUser = inUser.asUser();
    if (theUser == nullptr || theUser->primaryGroup(theDN) != S_ok)
        return std::string();
    std::unique_ptr<DirObject> theGroup;
    std::string theName;
    if (failed(inService.openObject(pathOf(theDN), nullptr, ObjectKind::Object, theGroup)) ||
        !theGroup || !isGlobalGroup(*theGroup) ||
        failed(theGroup->get("sAMAccountName", theName)))
        return std::string();
    return theName;
}

} // namespace

std::uint32_t netUserGetGroups(const std::wstring& inServer, const std::wstring& inUser,
                               std::vector<std::wstring>& outGroups,
                               std::uint32_t& outTotalEntries)
{
    outGroups.clear();
    outTotalEntries = 0;
    const std::string theServer = wideToNarrow(inServer);
    const std::string theUser = wideToNarrow(inUser);
    if (theUser.empty() || theServer.find_first_of("/@ ") != std::string::npos)
        return NetError_invalidParameter;

    try
    {
        Session theSession;
        DirectoryService& theService = theSession.service();
        std::unique_ptr<NameTranslator> theTranslator;
        Status theStatus = theService.createNameTranslator(theTranslator);
        if (failed(theStatus) || !theTranslator)
            return NetError_noSuchDomain;
        std::string theDN;
        theStatus = theTranslator->init(InitType_GC, "");
        if (succeeded(theStatus))
            theStatus = theTranslator->set(NameType_Unknown, theUser);
        if (succeeded(theStatus))
            theStatus = theTranslator->get(NameType_1779, theDN);
        if (failed(theStatus))
            return errorOf(theStatus);

        std::unique_ptr<DirObject> theObject;
        theStatus = theService.openObject(pathOf(theDN), nullptr, ObjectKind::User, theObject);
        if (failed(theStatus) || !theObject || theObject->asUser() == nullptr)
            return NetError_userNotFound;

        std::vector<std::string> theNames;
        const std::string thePrimary = primaryGroupName(theService, *theObject);
        if (!thePrimary.empty())
            theNames.push_back(thePrimary);

        std::unique_ptr<DirEnumerator> theGroups;
        theStatus = theObject->asUser()->groups(theGroups);
        if (failed(theStatus))
            return errorOf(theStatus);
        while (theGroups)
        {
            std::unique_ptr<DirObject> theGroup;
            if (theGroups->next(theGroup) != S_ok || !theGroup)
                break;
            std::string theName;
            if (theGroup->asGroup() != nullptr && isGlobalGroup(*theGroup) &&
                succeeded(theGroup->get("sAMAccountName", theName)) && !theName.empty())
                addUnique(theNames, theName);
        }
        for (const std::string& curName : theNames)
            outGroups.push_back(narrowToWide(curName));
        outTotalEntries = static_cast<std::uint32_t>(outGroups.size());
        return NetError_success;
    }
    catch (...)
    {
        outGroups.clear();
        return NetError_noSuchDomain;
    }
}

} // namespace corvel::platform
