// The network-management view of an account: its global groups, as
// NetUserGetGroups (information level 0) lists them.
//
// On Linux the directory this process is configured for answers
// (dir_service.h): the groups of global scope (groupType bit 0x2) the account
// is a direct member of, its primary group first (primaryGroupID: the group
// whose objectSid is the domain's SID with that RID), each by its account
// name (sAMAccountName). inServer names the domain controller to ask on
// Windows; here it is only checked for form (empty, or a host name with or
// without the leading "\\\\").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvel::platform
{

inline constexpr std::uint32_t NetError_success = 0;
inline constexpr std::uint32_t NetError_invalidParameter = 87; // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t NetError_noSuchDomain = 1355;   // ERROR_NO_SUCH_DOMAIN
inline constexpr std::uint32_t NetError_userNotFound = 2221;   // NERR_UserNotFound

// 0 and the names in outGroups (outTotalEntries: how many exist; all are
// returned) or a system error number, with outGroups empty.
std::uint32_t netUserGetGroups(const std::wstring& inServer, const std::wstring& inUser,
                               std::vector<std::wstring>& outGroups,
                               std::uint32_t& outTotalEntries);

} // namespace corvel::platform
