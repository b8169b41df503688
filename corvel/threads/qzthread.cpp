#include "corvel/threads/qzthread.h"

#include <map>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinitorder.h"
#include "corvel/platform/os_thread.h"
#include "corvel/threads/qzmutex.h"

namespace
{
// Built during static initialisation: the registry with its mutex and
// counters, then the one main thread object.
QZ_INIT_ORDER(QZ_INIT_THREADS) std::map<std::uint32_t, qzThread*> theRegistry;
QZ_INIT_ORDER(QZ_INIT_THREADS) qzMemMutex theRegistryMutex;
std::atomic<std::int32_t> theTotalCount{0};
std::atomic<std::int32_t> theCreatedCount{0};
std::atomic<std::int32_t> theDeletedCount{0};
} // namespace

QZ_INIT_ORDER(QZ_INIT_THREADS) static qzMainThread theMainThread;

// --- qzThread ---

qzThread::qzThread(qzThread* inParent) : itsParent(inParent) {}

qzThread::~qzThread()
{
    // Let a state change or registry operation in progress elsewhere finish.
    qzStMutex theLock(&theRegistryMutex);
    theLock.unlock();
}

void qzThread::setName(const std::string& inName)
{
    qzStMutex theLock(&theRegistryMutex);
    itsName = inName;
}

void qzThread::setState(ThreadState inState)
{
    qzStMutex theLock(&theRegistryMutex);
    if (itsThreadState.load(std::memory_order_relaxed) == inState)
        return;
    itsThreadState.store(inState, std::memory_order_release);
    if (inState == stopped)
        unregisterThread(getThreadID());
}

std::uint32_t qzThread::getCurrentThreadID()
{
    const std::uint32_t theThreadID = corvel::platform::currentThreadId();
    qzAssert(theThreadID != 0);
    return theThreadID;
}

qzThread* qzThread::getMainThread() { return &theMainThread; }

void qzThread::registerThread(std::uint32_t inID, qzThread* inThread)
{
    qzStMutex theLock(&theRegistryMutex);
    if (inThread != nullptr && inThread->getState() == stopped)
        return;
    auto theEntry = theRegistry.find(inID);
    if (theEntry == theRegistry.end())
    {
        theRegistry.emplace(inID, inThread);
        theTotalCount.fetch_add(1, std::memory_order_relaxed);
    }
    else if (theEntry->second != inThread)
    {
        qzAssert(false);
        theEntry->second = inThread;
        theTotalCount.fetch_add(1, std::memory_order_relaxed);
    }
}

void qzThread::unregisterThread(std::uint32_t inID)
{
    qzStMutex theLock(&theRegistryMutex);
    theRegistry.erase(inID);
}

qzThread* qzThread::findThread(std::uint32_t inID)
{
    qzStMutex theLock(&theRegistryMutex);
    auto theEntry = theRegistry.find(inID);
    return theEntry == theRegistry.end() ? nullptr : theEntry->second;
}

bool qzThread::findThreadName(std::uint32_t inID, std::string& outName)
{
    qzStMutex theLock(&theRegistryMutex);
    auto theEntry = theRegistry.find(inID);
    if (theEntry == theRegistry.end())
        return false;
    if (theEntry->second != nullptr)
        outName = theEntry->second->itsName;
    else
        outName.clear();
    return true;
}

qzThread* qzThread::getCurrentThread()
{
    qzThread* result = findThread(getCurrentThreadID());
    qzAssert(result);
    return result;
}

std::int32_t qzThread::getThreadCount()
{
    qzStMutex theLock(&theRegistryMutex);
    return static_cast<std::int32_t>(theRegistry.size());
}

std::int32_t qzThread::getTotalCount() { return theTotalCount.load(std::memory_order_relaxed); }
std::int32_t qzThread::getCreatedCount() { return theCreatedCount.load(std::memory_order_relaxed); }
std::int32_t qzThread::getDeletedCount() { return theDeletedCount.load(std::memory_order_relaxed); }

// --- qzMainThread ---

qzMainThread::qzMainThread() : qzThread(nullptr)
{
    itsThreadState.store(running, std::memory_order_release);
}

qzMainThread::~qzMainThread()
{
    itsThreadState.store(stopped, std::memory_order_release);
    if (itsRegistered)
        unregisterThread(getThreadID());
}

void qzMainThread::run() { qzAssert(false); }

void qzMainThread::ensureRegistered()
{
    qzStMutex theLock(&theRegistryMutex);
    if (itsRegistered)
        return;
    itsThreadID.store(getCurrentThreadID(), std::memory_order_release);
    registerThread(getThreadID(), this);
    itsRegistered = true;
}

void qzMainThread::rebind()
{
    qzStMutex theLock(&theRegistryMutex);
    if (!theMainThread.itsRegistered)
    {
        theMainThread.ensureRegistered();
        return;
    }
    const std::uint32_t curThreadID = getCurrentThreadID();
    if (curThreadID != theMainThread.getThreadID())
    {
        theMainThread.itsThreadID.store(curThreadID, std::memory_order_release);
        registerThread(curThreadID, &theMainThread);
    }
}
