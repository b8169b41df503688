#include "corvel/threads/qzmutex.h"

#include "corvel/debug/qzdebug.h"
#include "corvel/threads/qzthread.h"

qzMemMutex::qzMemMutex() = default;

qzMemMutex::~qzMemMutex()
{
    qzAssert(!numLocks);
    // Destroying a held OS lock is undefined; release it after the report.
    if (numLocks != 0 &&
        itsLockingThreadID.load(std::memory_order_relaxed) == qzThread::getCurrentThreadID())
    {
        numLocks = 0;
        itsLockingThreadID.store(0, std::memory_order_relaxed);
        itsLock.leave();
    }
}

bool qzMemMutex::lock()
{
    const std::uint32_t curThreadID = qzThread::getCurrentThreadID();
    qzAssert(curThreadID != 0);
    if (curThreadID == itsLockingThreadID.load(std::memory_order_relaxed))
    {
        ++numLocks;
        return true;
    }
    if (!itsLock.enter())
        return false;
    qzAssert(itsLockingThreadID.load(std::memory_order_relaxed) == 0);
    itsLockingThreadID.store(curThreadID, std::memory_order_relaxed);
    numLocks = 1;
    return true;
}

void qzMemMutex::unlock()
{
    if (qzThread::getCurrentThreadID() != itsLockingThreadID.load(std::memory_order_relaxed))
        return;
    qzAssert(numLocks > 0);
    --numLocks;
    if (numLocks == 0)
    {
        itsLockingThreadID.store(0, std::memory_order_relaxed);
        itsLock.leave();
    }
}

bool qzMemMutex::isLocked() { return itsLockingThreadID.load(std::memory_order_relaxed) != 0; }

qzStMutex::qzStMutex(qzMutex* inMutex) : itsMutex(inMutex), itsLocked(false)
{
    qzAssert(itsMutex);
    lock();
}

qzStMutex::~qzStMutex() { unlock(); }

void qzStMutex::lock()
{
    if (!itsLocked && itsMutex != nullptr)
        itsLocked = itsMutex->lock();
}

void qzStMutex::unlock()
{
    if (itsLocked)
    {
        itsMutex->unlock();
        itsLocked = false;
    }
}
