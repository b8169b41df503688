#include "corvel/platform/directory/global_groups.h"

#include <cstdlib>
#include <memory>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/platform/directory/dn.h"

namespace corvel::directory
{

namespace
{

constexpr long theGlobalScope = 0x2;

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
        !theGroup || !isGlobalGroup(*theGroup) || failed(theGroup->get("sAMAccountName", theName)))
        return std::string();
    return theName;
}

} // namespace

Status globalGroupsOf(const std::string& inAccount, std::vector<std::string>& outNames)
{
    outNames.clear();
    Session theSession;
    DirectoryService& theService = theSession.service();
    std::unique_ptr<NameTranslator> theTranslator;
    Status theStatus = theService.createNameTranslator(theTranslator);
    if (failed(theStatus) || !theTranslator)
        return failed(theStatus) ? theStatus : E_fail;
    std::string theDN;
    theStatus = theTranslator->init(InitType_GC, "");
    if (succeeded(theStatus))
        theStatus = theTranslator->set(NameType_Unknown, inAccount);
    if (succeeded(theStatus))
        theStatus = theTranslator->get(NameType_1779, theDN);
    if (failed(theStatus))
        return theStatus;

    std::unique_ptr<DirObject> theObject;
    theStatus = theService.openObject(pathOf(theDN), nullptr, ObjectKind::User, theObject);
    if (failed(theStatus) || !theObject || theObject->asUser() == nullptr)
        return E_nameNotFound;

    std::vector<std::string> theNames;
    const std::string thePrimary = primaryGroupName(theService, *theObject);
    if (!thePrimary.empty())
        theNames.push_back(thePrimary);
    std::unique_ptr<DirEnumerator> theGroups;
    theStatus = theObject->asUser()->groups(theGroups);
    if (failed(theStatus))
        return theStatus;
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
    outNames = std::move(theNames);
    return S_ok;
}

} // namespace corvel::directory
