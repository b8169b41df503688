#include "corvel/platform/directory/global_groups.h"

#include <cstdlib>
#include <memory>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/platform/directory/translate.h"
#include "corvel/platform/directory/user_groups.h"

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

// The account name of a global group; empty for any other object.
std::string globalName(DirObject* inGroup)
{
    std::string theName;
    if (inGroup == nullptr || !isGlobalGroup(*inGroup) ||
        failed(inGroup->get("sAMAccountName", theName)))
        theName.clear();
    return theName;
}

void addUnique(std::vector<std::string>& ioNames, const std::string& inName)
{
    if (inName.empty())
        return;
    for (const std::string& curName : ioNames)
        if (curName == inName)
            return;
    ioNames.push_back(inName);
}

} // namespace

Status globalGroupsOf(const std::string& inAccount, std::vector<std::string>& outNames)
{
    outNames.clear();
    Session theSession;
    DirectoryService& theService = theSession.service();
    const Translation theDN =
        translateName(theService, TranslatorInit::globalCatalog(), inAccount, NameType_1779);
    if (!theDN.succeeded())
        return theDN.itsStatus;

    std::unique_ptr<DirObject> theObject;
    const Status theStatus =
        openByDN(theService, theDN.itsResult, nullptr, ObjectKind::User, theObject);
    DirUser* theUser = theObject ? theObject->asUser() : nullptr;
    if (failed(theStatus) || theUser == nullptr)
        return E_nameNotFound;

    // A primary group that cannot be read is left out, as one that is no
    // global group is.
    std::string thePrimaryDN;
    if (theUser->primaryGroup(thePrimaryDN) != S_ok)
        thePrimaryDN.clear();
    UserGroups theGroups;
    userGroups(theService, *theUser, thePrimaryDN, nullptr, theGroups);
    if (theGroups.itsFailedStep == UserGroupsStep::Groups)
        return theGroups.itsStatus;

    std::vector<std::string> theNames;
    addUnique(theNames, globalName(theGroups.itsPrimary.get()));
    for (const std::unique_ptr<DirObject>& curGroup : theGroups.itsGroups)
        addUnique(theNames, globalName(curGroup.get()));
    outNames = std::move(theNames);
    return S_ok;
}

} // namespace corvel::directory
