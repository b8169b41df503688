#include "corvel/platform/directory/user_groups.h"

namespace corvel::directory
{

void userGroups(DirectoryService& inService, DirUser& inUser, const std::string& inPrimaryDN,
                const Credentials* inCredentials, UserGroups& outGroups)
{
    outGroups = UserGroups();
    const auto theFail = [&outGroups](UserGroupsStep inStep, Status inStatus)
    {
        if (outGroups.itsFailedStep != UserGroupsStep::None)
            return;
        outGroups.itsFailedStep = inStep;
        outGroups.itsStatus = failed(inStatus) ? inStatus : E_fail;
    };

    std::unique_ptr<DirEnumerator> theGroups;
    const Status theStatus = inUser.groups(theGroups);
    if (failed(theStatus))
        theFail(UserGroupsStep::Groups, theStatus);
    while (succeeded(theStatus) && theGroups)
    {
        std::unique_ptr<DirObject> theElement;
        if (theGroups->next(theElement) != S_ok || !theElement)
            break;
        if (theElement->asGroup() != nullptr)
            outGroups.itsGroups.push_back(std::move(theElement));
    }

    if (inPrimaryDN.empty())
        return;
    const Status theOpened =
        openByDN(inService, inPrimaryDN, inCredentials, ObjectKind::Object, outGroups.itsPrimary);
    if (failed(theOpened) || !outGroups.itsPrimary)
    {
        outGroups.itsPrimary.reset();
        theFail(UserGroupsStep::Primary, theOpened);
    }
}

} // namespace corvel::directory
