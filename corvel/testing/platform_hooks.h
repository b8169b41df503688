// Test seams of the porting layer: for test programs (and the test builds of
// the tools) only. The product links them but no product header declares
// them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "corvel/platform/directory/dir_service.h"

namespace corvel::directory
{

// The service a session opens when none is handed in and no session is
// open around it: openDirectoryService(), unless a program gives its own (the
// test builds wrap the configured service in one that makes chosen calls
// fail). Null restores the default. Takes effect for sessions begun
// afterwards.
using ServiceProvider = std::shared_ptr<DirectoryService> (*)();
void setServiceProvider(ServiceProvider inProvider);

} // namespace corvel::directory

namespace corvel::platform
{

// From now on currentAccount reports this account on every thread, and
// lookupAccountSid resolves inName (bare or as inDomain\inName) to it. Lets
// a test act as an account of a directory domain without one.
void setIdentityOverride(const std::string& inName, const std::string& inDomain,
                         const std::string& inSid);
void clearIdentityOverride();

// The lookups with a chosen first buffer size instead of 1024 bytes, so
// that tests can drive the grow-and-retry path with real accounts.
bool currentAccountWithBuffer(std::size_t inFirstSize, std::string& outName, std::string& outDomain,
                              std::string& outSid);
bool lookupAccountSidWithBuffer(std::size_t inFirstSize, const std::string& inAccountName,
                                std::string& outSid, std::string& outDomain);

} // namespace corvel::platform
