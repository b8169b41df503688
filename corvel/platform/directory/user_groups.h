// The groups of a user as Active Directory counts them: the groups whose
// member attribute names it (the user's Groups enumeration) and its primary
// group, which the directory keeps out of every member attribute.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "corvel/platform/directory/dir_service.h"

namespace corvel::directory
{

enum class UserGroupsStep
{
    None,
    Groups,  // the Groups enumeration could not be had
    Primary, // the primary group could not be opened
};

struct UserGroups
{
    // The groups of the enumeration that are groups, in directory order.
    std::vector<std::unique_ptr<DirObject>> itsGroups;
    // The primary group, opened as a plain object; null when there is none.
    std::unique_ptr<DirObject> itsPrimary;
    Status itsStatus = S_ok;
    UserGroupsStep itsFailedStep = UserGroupsStep::None;
};

// The user's groups, then its primary group inPrimaryDN (from
// DirUser::primaryGroup; empty for none), each step in that order. A failed
// step is recorded and what the other gave is kept.
void userGroups(DirectoryService& inService, DirUser& inUser, const std::string& inPrimaryDN,
                const Credentials* inCredentials, UserGroups& outGroups);

} // namespace corvel::directory
