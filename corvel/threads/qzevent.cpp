#include "corvel/threads/qzevent.h"

#include <algorithm>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinitorder.h"
#include "corvel/messages/qzerrormessage.h"
#include "corvel/threads/qzmutex.h"
#include "corvel/threads/qzthread.h"

namespace
{
// Guards the flag, the count and the waiter list of every single event.
QZ_INIT_ORDER(QZ_INIT_EVENT_MUTEX) qzMemMutex theEventMutex;

// Posted to a thread that waits with message pumping when its event is
// signalled.
constexpr std::uint32_t theWaitMessage = 1280;
} // namespace

// --- qzEvent ---

qzEvent::~qzEvent() = default;

int qzEvent::getHandleCount() { return 1; }

// --- qzSingleEvent ---

qzSingleEvent::qzSingleEvent(qzEventHandle inHandle, bool inOwnsHandle)
    : itsHandle(inHandle), itsOwnsHandle(inOwnsHandle)
{
    if (itsHandle == nullptr && itsOwnsHandle)
    {
        itsHandle = corvel::platform::createEvent();
        if (itsHandle == nullptr)
            qzThrowError(qzErr_resFull);
    }
}

qzSingleEvent::~qzSingleEvent()
{
    if (itsOwnsHandle && itsHandle != nullptr)
        corvel::platform::closeEvent(itsHandle);
    itsHandle = nullptr;
}

bool qzSingleEvent::isSet()
{
    const bool theSet = corvel::platform::isEventSet(itsHandle);
    qzStMutex theLock(&theEventMutex);
    itsSignalled.store(theSet, std::memory_order_relaxed);
    return theSet;
}

qzSingleEvent* qzSingleEvent::getSetEvent() { return isSet() ? this : nullptr; }

void qzSingleEvent::set() { signal(false); }

void qzSingleEvent::pulse() { signal(true); }

void qzSingleEvent::signal(bool inPulse)
{
    {
        qzStMutex theLock(&theEventMutex);
        itsSignalled.store(!inPulse, std::memory_order_relaxed);
        itsSignalCount.fetch_add(1, std::memory_order_relaxed);
    }
    const qzWindowHandle theWindow = itsNotifyWindow.load(std::memory_order_relaxed);
    const std::uint32_t theThread = itsNotifyThread.load(std::memory_order_relaxed);
    const std::uint32_t theMessage = itsNotifyMessage.load(std::memory_order_relaxed);
    const std::int32_t theParam = itsNotifyParam.load(std::memory_order_relaxed);

    const bool theDone =
        inPulse ? corvel::platform::pulseEvent(itsHandle) : corvel::platform::setEvent(itsHandle);
    if (!theDone)
        qzThrowError(qzErr_resFull);

    // A failed post is ignored: the target has gone or does not read.
    const auto theAddress = reinterpret_cast<std::uintptr_t>(this);
    if (theWindow != 0)
        corvel::platform::postWindowMessage(theWindow, theMessage, theAddress, theParam);
    if (theThread != 0)
        corvel::platform::postThreadMessage(theThread, theMessage, theAddress, theParam);
}

void qzSingleEvent::reset()
{
    bool theDone = false;
    {
        qzStMutex theLock(&theEventMutex);
        itsSignalled.store(false, std::memory_order_relaxed);
        theDone = corvel::platform::resetEvent(itsHandle);
    }
    // Traced only after the event mutex is released: the trace takes the
    // registry mutex, which must never be requested under the event mutex.
    if (!theDone)
        qzThrowError(qzErr_resFull);
}

std::int32_t qzSingleEvent::getSignalCount()
{
    return itsSignalCount.load(std::memory_order_relaxed);
}

void qzSingleEvent::addHandles(std::vector<qzEventHandle>& ioHandles)
{
    ioHandles.push_back(itsHandle);
}

void qzSingleEvent::setNotifyWindow(qzWindowHandle inWindow, std::uint32_t inMessage,
                                    std::int32_t inParam)
{
    itsNotifyWindow.store(inWindow, std::memory_order_relaxed);
    itsNotifyMessage.store(inMessage, std::memory_order_relaxed);
    itsNotifyParam.store(inParam, std::memory_order_relaxed);
}

void qzSingleEvent::setNotifyThread(std::uint32_t inThreadID, std::uint32_t inMessage,
                                    std::int32_t inParam)
{
    itsNotifyThread.store(inThreadID, std::memory_order_relaxed);
    itsNotifyMessage.store(inMessage, std::memory_order_relaxed);
    itsNotifyParam.store(inParam, std::memory_order_relaxed);
}

void qzSingleEvent::addWaiter(qzThread* inThread)
{
    qzStMutex theLock(&theEventMutex);
    itsWaiters.push_back(inThread);
}

void qzSingleEvent::removeWaiter(qzThread* inThread)
{
    qzStMutex theLock(&theEventMutex);
    auto theEntry = std::find(itsWaiters.begin(), itsWaiters.end(), inThread);
    if (theEntry != itsWaiters.end())
        itsWaiters.erase(theEntry);
}

void qzSingleEvent::notifyWaiters()
{
    qzStMutex theLock(&theEventMutex);
    const std::vector<qzThread*> theWaiters(itsWaiters);
    theLock.unlock();
    for (qzThread* curWaiter : theWaiters)
        qzThread::eventSignalled(curWaiter, this);
}

// --- qzMultiEvent ---

qzMultiEvent::qzMultiEvent(qzEvent* inEvent1, qzEvent* inEvent2, qzEvent* inEvent3,
                           qzEvent* inEvent4)
{
    addEvent(inEvent1);
    addEvent(inEvent2);
    addEvent(inEvent3);
    addEvent(inEvent4);
}

qzMultiEvent::~qzMultiEvent() = default;

bool qzMultiEvent::isSet()
{
    for (qzEvent* curEvent : itsEvents)
        if (curEvent->isSet())
            return true;
    return false;
}

qzSingleEvent* qzMultiEvent::getSetEvent()
{
    for (qzEvent* curEvent : itsEvents)
        if (qzSingleEvent* theSet = curEvent->getSetEvent())
            return theSet;
    return nullptr;
}

void qzMultiEvent::set()
{
    for (qzEvent* curEvent : itsEvents)
        curEvent->set();
}

void qzMultiEvent::reset()
{
    for (qzEvent* curEvent : itsEvents)
        curEvent->reset();
}

void qzMultiEvent::pulse()
{
    for (qzEvent* curEvent : itsEvents)
        curEvent->pulse();
}

int qzMultiEvent::getHandleCount()
{
    int theCount = 0;
    for (qzEvent* curEvent : itsEvents)
        theCount += curEvent->getHandleCount();
    return theCount;
}

std::int32_t qzMultiEvent::getSignalCount()
{
    std::int32_t theCount = 0;
    for (qzEvent* curEvent : itsEvents)
        theCount += curEvent->getSignalCount();
    return theCount;
}

void qzMultiEvent::addHandles(std::vector<qzEventHandle>& ioHandles)
{
    for (qzEvent* curEvent : itsEvents)
        curEvent->addHandles(ioHandles);
}

void qzMultiEvent::setNotifyWindow(qzWindowHandle inWindow, std::uint32_t inMessage,
                                   std::int32_t inParam)
{
    for (qzEvent* curEvent : itsEvents)
        curEvent->setNotifyWindow(inWindow, inMessage, inParam);
}

void qzMultiEvent::setNotifyThread(std::uint32_t inThreadID, std::uint32_t inMessage,
                                   std::int32_t inParam)
{
    for (qzEvent* curEvent : itsEvents)
        curEvent->setNotifyThread(inThreadID, inMessage, inParam);
}

void qzMultiEvent::addWaiter(qzThread* inThread)
{
    for (qzEvent* curEvent : itsEvents)
        curEvent->addWaiter(inThread);
}

void qzMultiEvent::removeWaiter(qzThread* inThread)
{
    for (qzEvent* curEvent : itsEvents)
        curEvent->removeWaiter(inThread);
}

void qzMultiEvent::addEvent(qzEvent* inEvent)
{
    if (inEvent == nullptr)
        return;
    qzAssert(!containsEvent(inEvent));
    // A second copy would be signalled and counted twice.
    if (containsEvent(inEvent))
        return;
    itsEvents.push_back(inEvent);
}

void qzMultiEvent::removeEvent(qzEvent* inEvent)
{
    if (inEvent == nullptr)
        return;
    qzAssert(containsEvent(inEvent));
    itsEvents.erase(std::remove(itsEvents.begin(), itsEvents.end(), inEvent), itsEvents.end());
}

bool qzMultiEvent::containsEvent(qzEvent* inEvent) const
{
    return std::find(itsEvents.begin(), itsEvents.end(), inEvent) != itsEvents.end();
}

// --- the wait ---

bool qzThread::waitForEvent(std::uint32_t inTimeout, qzEvent* inEvent, std::int32_t inSignalCount,
                            bool inPumpMessages)
{
    if (inEvent != nullptr && inEvent->isSet())
        return false;
    if (inEvent == nullptr)
    {
        corvel::platform::sleepFor(inTimeout);
        return true;
    }
    std::vector<qzEventHandle> theHandles;
    inEvent->addHandles(theHandles);
    if (!inPumpMessages)
        return corvel::platform::waitForAnyEvent(theHandles, inTimeout) ==
               corvel::platform::waitTimedOut;

    // Switched off again on every way out, also when a terminated thread
    // leaves the wait by unwinding.
    struct NotifyOff
    {
        qzEvent* itsEvent;
        ~NotifyOff() { itsEvent->setNotifyThread(0, 0, 0); }
    };
    inEvent->setNotifyThread(getCurrentThreadID(), theWaitMessage, 0);
    NotifyOff theNotifyOff{inEvent};
    corvel::platform::drainMessages();
    // A signal between the caller's reading of the count and now.
    if (inEvent->getSignalCount() != inSignalCount)
        return false;
    return corvel::platform::waitForAnyEventOrMessage(theHandles, inTimeout) ==
           corvel::platform::waitTimedOut;
}
