#include "corvel/platform/os_lock.h"

#include <new>
#include <pthread.h>

namespace corvel::platform
{

static_assert(sizeof(pthread_mutex_t) <= 64, "OsLock storage too small");

static pthread_mutex_t* native(unsigned char* inStorage)
{
    return std::launder(reinterpret_cast<pthread_mutex_t*>(inStorage));
}

OsLock::OsLock()
{
    // A normal (non-recursive) mutex: qzMemMutex does the counting itself.
    auto* theMutex = new (itsStorage) pthread_mutex_t;
    pthread_mutex_init(theMutex, nullptr);
}

OsLock::~OsLock() { pthread_mutex_destroy(native(itsStorage)); }

bool OsLock::enter() { return pthread_mutex_lock(native(itsStorage)) == 0; }

void OsLock::leave() { pthread_mutex_unlock(native(itsStorage)); }

} // namespace corvel::platform
