// The directory as Windows itself offers it: the Active Directory Service
// Interfaces over COM. Built only for Windows.
#pragma once

#include <memory>

#include "corvel/platform/directory/dir_service.h"

namespace corvel::directory::adsi
{

// A service for the calling thread. It initialises the component runtime
// on this thread (CoInitialize, single-threaded apartment) and undoes it
// when the service and the last translator or object obtained from it are
// gone; so a Session holding the service brackets the runtime, and nested
// sessions, sharing the outer service, share its initialisation. Destroy it
// on the thread that made it. Statuses are the runtime's HRESULTs, passed
// through unchanged.
std::shared_ptr<DirectoryService> makeAdsiService();

} // namespace corvel::directory::adsi
