// A plain, non-recursive exclusive lock: the OS primitive under qzMemMutex
// (a pthread mutex on POSIX, a critical section on Windows).
#pragma once

#include <cstdint>

namespace corvel::platform
{

class OsLock
{
public:
    OsLock();
    ~OsLock();
    OsLock(const OsLock&) = delete;
    OsLock& operator=(const OsLock&) = delete;

    // Blocks without time-out; false only if the OS reports a failure.
    bool enter();
    void leave();

private:
    // Storage large enough for the platform's lock object, so that this
    // header includes no OS header.
    alignas(8) unsigned char itsStorage[64];
};

// Holds an OsLock for its scope.
class OsLockGuard
{
public:
    explicit OsLockGuard(OsLock& inLock) : itsLock(inLock) { itsHeld = itsLock.enter(); }
    ~OsLockGuard()
    {
        if (itsHeld)
            itsLock.leave();
    }
    OsLockGuard(const OsLockGuard&) = delete;
    OsLockGuard& operator=(const OsLockGuard&) = delete;

private:
    OsLock& itsLock;
    bool itsHeld;
};

} // namespace corvel::platform
