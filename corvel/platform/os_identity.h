// The account the calling thread acts for, and account lookup by name.
//
// On Windows the account comes from the thread's token (the process token when
// the thread does not impersonate) and the SID text from the security system.
// On Linux the "token" is the calling thread's effective uid: the kernel keeps
// credentials per thread, so a thread that changes its own effective uid with
// the raw system call shows the new account here while the other threads keep
// theirs. The name comes from NSS (getpwuid_r / getpwnam_r). A plain Unix
// account is reported the way Samba reports it: domain "Unix User" and SID
// S-1-22-1-<uid>.
//
// All functions return false on failure and then leave their out-strings as
// they were. Nothing is logged.
#pragma once

#include <string>

namespace corvel::platform
{

// The domain Samba gives to plain Unix accounts.
inline constexpr const char* unixUserDomain = "Unix User";

// The calling thread's account: its name, its domain and its SID text.
bool currentAccount(std::string& outName, std::string& outDomain, std::string& outSid);

// The SID text and domain of a named account on the local system. Accepts a
// bare name or "Unix User\name" (the domain compared without case).
bool lookupAccountSid(const std::string& inAccountName, std::string& outSid,
                      std::string& outDomain);

} // namespace corvel::platform
