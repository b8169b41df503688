// Mutual exclusion.
//
// qzMutex is the interface, qzMemMutex the one implementation: a recursive
// mutex that records its owning thread, over a non-recursive OS lock taken
// once by the owner. qzStMutex holds a qzMutex for the lifetime of a scope and
// may release and re-take it early.
#pragma once

#include <atomic>
#include <cstdint>

#include "corvel/platform/os_lock.h"

class qzMutex
{
public:
    virtual ~qzMutex() = default;
    virtual bool lock() = 0;
    virtual void unlock() = 0;
    virtual bool isLocked() = 0;
};

class qzMemMutex : public qzMutex
{
public:
    qzMemMutex();
    ~qzMemMutex() override;

    qzMemMutex(const qzMemMutex&) = delete;
    qzMemMutex& operator=(const qzMemMutex&) = delete;

    // Re-entry by the owner only counts; another thread blocks without
    // time-out until the owner's last unlock.
    bool lock() override;
    // An unlock by a thread that does not own the mutex has no effect.
    void unlock() override;
    // True while some thread holds the mutex.
    bool isLocked() override;

private:
    std::int32_t numLocks = 0;
    // Read without the OS lock by design: only the owner writes its own id
    // here, so another thread sees 0 or a foreign id, never its own.
    std::atomic<std::uint32_t> itsLockingThreadID{0};
    corvel::platform::OsLock itsLock;
};

class qzStMutex
{
public:
    explicit qzStMutex(qzMutex* inMutex);
    virtual ~qzStMutex();

    qzStMutex(const qzStMutex&) = delete;
    qzStMutex& operator=(const qzStMutex&) = delete;

    void lock();
    void unlock();

private:
    qzMutex* itsMutex;
    bool itsLocked;
};
