#include "corvel/threads/qzthread.h"

#include <algorithm>
#include <map>
#include <new>
#include <typeinfo>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinitorder.h"
#include "corvel/platform/os_random.h"

namespace
{
// Built during static initialisation: the registry with its mutex and
// counters, then the one main thread object.
QZ_INIT_ORDER(QZ_INIT_THREADS) std::map<std::uint32_t, qzThread*> theRegistry;
QZ_INIT_ORDER(QZ_INIT_THREADS) qzMemMutex theRegistryMutex;
// Changed outside the registry mutex too, and read for traces without it.
std::atomic<std::int32_t> theTotalCount{0};
std::atomic<std::int32_t> theCreatedCount{0};
std::atomic<std::int32_t> theDeletedCount{0};

// How long stop lets a thread end by itself before it is terminated.
constexpr std::uint32_t theStopGraceMs = 250;

// The C library generator of the calling thread: seeded with the address,
// then with one drawn value mixed with the tick count, so that threads
// started in the same millisecond still differ.
void seedThreadRandom(const void* inObject)
{
    corvel::platform::seedRandom(
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(inObject)));
    const std::uint32_t theValue = static_cast<std::uint32_t>(corvel::platform::nextRandom());
    corvel::platform::seedRandom(theValue ^ getTickCountModMax());
}
} // namespace

QZ_INIT_ORDER(QZ_INIT_THREADS) static qzMainThread theMainThread;

// --- construction and destruction ---

qzThread::qzThread(qzThread* inParent)
    : itsParent(inParent), itsRunTimer(1), itsErrorMessage(qzErr_noError), itsStopEvent(),
      itsDoneEvent()
{
    if (itsParent != nullptr)
    {
        theMainThread.ensureRegistered();
        addToParent();
    }
}

qzThread::qzThread()
    : itsParent(nullptr), itsRunTimer(1), itsErrorMessage(qzErr_noError), itsStopEvent(),
      itsDoneEvent()
{
    theMainThread.ensureRegistered();
    itsParent = getCurrentThread();
    if (itsParent != nullptr)
        addToParent();
}

void qzThread::addToParent()
{
    qzStMutex theLock(&itsParent->itsMutex);
    itsParent->itsChildren.push_back(this);
}

qzThread::~qzThread()
{
    // Let a state change or registry operation in progress elsewhere finish.
    {
        qzStMutex theLock(&theRegistryMutex);
        theLock.unlock();
    }
    qzTrace(2, "qzThread::~qzThread - done threadId = 0x%lX",
            static_cast<unsigned long>(getThreadID()));
    qzAssert((itsThreadState == starting) || (itsThreadState == stopped));
    // A thread still running would go on with a freed object: end it first.
    if (isActive())
        stop();
    {
        // A body whose postRun threw never reached stopped; the log must not
        // find a destroyed object under its id.
        qzStMutex theLock(&theRegistryMutex);
        auto theEntry = theRegistry.find(getThreadID());
        if (theEntry != theRegistry.end() && theEntry->second == this)
            theRegistry.erase(theEntry);
    }
    if (itsParent != nullptr)
    {
        qzStMutex theLock(&itsParent->itsMutex);
        auto& theSiblings = itsParent->itsChildren;
        auto theEntry = std::find(theSiblings.begin(), theSiblings.end(), this);
        if (theEntry != theSiblings.end())
            theSiblings.erase(theEntry);
    }
    closeHandle();
}

void qzThread::closeHandle()
{
    corvel::platform::ThreadHandle theHandle = itsThreadHandle.exchange(nullptr);
    if (theHandle == nullptr)
        return;
    // A terminated thread may still be unwinding out of a wait on this
    // object's events: they must outlive it.
    if (corvel::platform::wasTerminated(theHandle))
        corvel::platform::waitForThreadExit(theHandle);
    corvel::platform::closeThread(theHandle);
    theDeletedCount.fetch_add(1, std::memory_order_relaxed);
}

void qzThread::setName(const std::string& inName)
{
    qzStMutex theLock(&theRegistryMutex);
    itsName = inName;
}

// --- virtual operations ---

void qzThread::requestStop(std::int32_t inStopCode)
{
    if (!isActive())
        return;
    resume();
    itsStopCode.store(inStopCode, std::memory_order_release);
    getStopEvent().set();
}

const qzSingleEvent& qzThread::getStopEvent() const { return itsStopEvent; }
qzSingleEvent& qzThread::getStopEvent() { return itsStopEvent; }
const qzSingleEvent& qzThread::getDoneEvent() const { return itsDoneEvent; }
qzSingleEvent& qzThread::getDoneEvent() { return itsDoneEvent; }

bool qzThread::preStart() { return true; }
void qzThread::preRun() {}
void qzThread::postRun() {}

void qzThread::setException(const std::exception& inException)
{
    // A second, different failure is a programming error.
    qzAssert((itsErrorMessage.getErrorValue() == qzErr_noError) ||
             ((typeid(inException) == typeid(qzException)) &&
              (dynamic_cast<const qzException&>(inException)).errorMessage.getErrorValue() ==
                  itsErrorMessage.getErrorValue()));
    itsErrorMessage = errorMessageFromException(inException);
}

// --- control ---

void qzThread::start()
{
    closeHandle();
    getStopEvent().reset();
    getDoneEvent().reset();
    if (!preStart())
        return;

    std::uint32_t theThreadID = 0;
    corvel::platform::ThreadHandle theHandle =
        corvel::platform::createSuspendedThread(&qzThread::threadEntry, this, theThreadID);
    if (theHandle == nullptr)
        qzThrowBadAlloc();
    qzTrace(2, "qzThread::start started thread handle = 0x%lX",
            static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(theHandle)));
    itsThreadHandle.store(theHandle, std::memory_order_release);
    itsThreadID.store(theThreadID, std::memory_order_release);
    registerThread(theThreadID, this);
    setState(running);
    corvel::platform::resumeThread(theHandle);
}

std::uint32_t qzThread::threadEntry(void* inThreadObj)
{
    qzThread* theThreadObj = static_cast<qzThread*>(inThreadObj);
    qzAssert(theThreadObj);
    if (theThreadObj == nullptr)
        return 0;
    seedThreadRandom(theThreadObj);
    theThreadObj->executeRunMethod();
    return 0;
}

void qzThread::executeRunMethod()
{
    itsRunTimer.start();
    const std::int32_t theCreated = theCreatedCount.fetch_add(1, std::memory_order_relaxed) + 1;
    qzTrace(2,
            "qzThread::executeRunMethod - starting threadId = 0x%lX, total number of threads = "
            "%ld, created = %ld, deleted = %ld, ",
            static_cast<unsigned long>(getCurrentThreadID()),
            static_cast<long>(theTotalCount.load(std::memory_order_relaxed)),
            static_cast<long>(theCreated),
            static_cast<long>(theDeletedCount.load(std::memory_order_relaxed)));

    // A terminated thread leaves by ThreadTerminated and touches its object
    // no more: the owner may already be destroying it. The checkpoints below
    // throw it for a body that returned or failed after its termination.
    try
    {
        preRun();
        run();
    }
    catch (const corvel::platform::ThreadTerminated&)
    {
        throw;
    }
    catch (const std::exception& inException)
    {
        corvel::platform::threadCheckpoint();
        setException(inException);
    }
    catch (...)
    {
        corvel::platform::threadCheckpoint();
        qzTrace(1,
                "qzThread::executeRunMethod - unhandled exception threadId = 0x%lX threadName = "
                "\"%s\"",
                static_cast<unsigned long>(getThreadID()), itsName.c_str());
        qzAssert(false);
        setException(qzException(internalErrorMessage(__FILE__, __LINE__)));
    }
    corvel::platform::threadCheckpoint();

    try
    {
        postRun();
    }
    catch (const corvel::platform::ThreadTerminated&)
    {
        throw;
    }
    catch (...)
    {
        corvel::platform::threadCheckpoint();
        qzTrace(1,
                "qzThread::executeRunMethod - unhandled exception threadId = 0x%lX threadName = "
                "\"%s\"",
                static_cast<unsigned long>(getThreadID()), itsName.c_str());
        qzAssert(false);
        return;
    }
    corvel::platform::threadCheckpoint();

    qzTrace(2, "qzThread::executeRunMethod - done threadId = 0x%lX",
            static_cast<unsigned long>(getThreadID()));
    // The last touch of the object: its owner may destroy it once the done
    // event is set.
    setState(stopped);
}

void qzThread::stop()
{
    requestStop(0);
    corvel::platform::ThreadHandle theHandle = itsThreadHandle.load(std::memory_order_acquire);
    if (theHandle == nullptr || !isActive())
        return;
    corvel::platform::waitForThread(theHandle, theStopGraceMs);
    if (corvel::platform::getThreadExitCode(theHandle) == corvel::platform::threadStillActive)
        corvel::platform::terminateThread(theHandle, 0);
    setState(stopped);
}

void qzThread::suspend()
{
    corvel::platform::ThreadHandle theHandle = itsThreadHandle.load(std::memory_order_acquire);
    if (theHandle == nullptr)
        return;
    // Held throughout, so that a concurrent resume cannot slip between the
    // state change and the OS call.
    qzStMutex theLock(&theRegistryMutex);
    if (getState() != running)
        return;
    setState(suspended);
    corvel::platform::suspendThread(theHandle);
}

void qzThread::resume()
{
    corvel::platform::ThreadHandle theHandle = itsThreadHandle.load(std::memory_order_acquire);
    if (theHandle == nullptr)
        return;
    qzStMutex theLock(&theRegistryMutex);
    if (getState() != suspended)
        return;
    setState(running);
    corvel::platform::resumeThread(theHandle);
}

void qzThread::join()
{
    corvel::platform::ThreadHandle theHandle = itsThreadHandle.load(std::memory_order_acquire);
    if (theHandle == nullptr || getCurrentThreadID() == getThreadID() || getState() == stopped)
        return;
    corvel::platform::waitForThread(theHandle, corvel::platform::waitForever);
}

bool qzThread::isActive() const
{
    const ThreadState theState = getState();
    return theState == running || theState == suspended;
}

void qzThread::setState(ThreadState inState)
{
    qzStMutex theLock(&theRegistryMutex);
    if (itsThreadState.load(std::memory_order_relaxed) == inState)
        return;
    // Looked up (virtually) before the state says stopped: from then on the
    // owner may start destroying the object, derived part first. The base
    // part stays until this function releases the registry mutex, which the
    // destructor takes first.
    qzSingleEvent& theDoneEvent = getDoneEvent();
    itsThreadState.store(inState, std::memory_order_release);
    if (inState == stopped)
    {
        // Registry mutex, then event mutex: the one allowed order.
        theDoneEvent.set();
        unregisterThread(getThreadID());
    }
}

// --- children ---

std::vector<qzThread*> qzThread::getChildren()
{
    qzStMutex theLock(&itsMutex);
    return itsChildren;
}

void qzThread::requestStopAllChildren(std::int32_t inStopCode)
{
    for (qzThread* curChild : getChildren())
        curChild->requestStop(inStopCode);
}

void qzThread::joinAllChildren()
{
    for (qzThread* curChild : getChildren())
        curChild->join();
}

void qzThread::deleteAllChildren()
{
    for (qzThread* curChild : getChildren())
        delete curChild;
}

void qzThread::eventSignalled(qzThread*, qzSingleEvent*) {}

// --- registry ---

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
    seedThreadRandom(this);
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
