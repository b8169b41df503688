// The global groups of an account, as the network-management call lists
// them (NetUserGetGroups, level 0): the groups of global scope (groupType bit
// 0x2) the account is a direct member of, its primary group first, each by
// its account name (sAMAccountName), read from the directory this process
// is configured for.
#pragma once

#include <string>
#include <vector>

#include "corvel/platform/directory/dir_status.h"

namespace corvel::directory
{

// outNames in that order, or a failure status (the translator's not-found
// when the account is not in the directory) with outNames empty.
Status globalGroupsOf(const std::string& inAccount, std::vector<std::string>& outNames);

} // namespace corvel::directory
