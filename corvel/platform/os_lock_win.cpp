#include "corvel/platform/os_lock.h"

#include <windows.h>

namespace corvel::platform
{

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(OsLock) && alignof(CRITICAL_SECTION) <= 8,
              "OsLock's storage must hold a CRITICAL_SECTION");

static CRITICAL_SECTION* section(unsigned char* inStorage)
{
    return reinterpret_cast<CRITICAL_SECTION*>(inStorage);
}

OsLock::OsLock() { InitializeCriticalSection(section(itsStorage)); }

OsLock::~OsLock() { DeleteCriticalSection(section(itsStorage)); }

bool OsLock::enter()
{
    // EnterCriticalSection reports no failure since Windows XP.
    EnterCriticalSection(section(itsStorage));
    return true;
}

void OsLock::leave() { LeaveCriticalSection(section(itsStorage)); }

} // namespace corvel::platform
