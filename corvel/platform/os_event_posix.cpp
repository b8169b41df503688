#include "corvel/platform/os_event.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "corvel/platform/os_thread.h"
#include "corvel/platform/os_wait_posix.h"

namespace corvel::platform
{

struct OsEventObject
{
    struct Registration
    {
        detail::Waiter* itsWaiter;
        int itsIndex;
    };

    std::mutex itsMutex;
    bool itsSignalled = false;
    // The threads waiting right now, each with the index its wait knows this
    // event by.
    std::vector<Registration> itsWaiters;
};

EventHandle createEvent() { return new (std::nothrow) OsEventObject; }

void closeEvent(EventHandle inEvent) { delete inEvent; }

static void signal(EventHandle inEvent, bool inStaySignalled)
{
    std::lock_guard<std::mutex> theLock(inEvent->itsMutex);
    inEvent->itsSignalled = inStaySignalled;
    // Registered waiters are exactly the ones waiting now: a pulse releases
    // them and nobody else.
    for (const OsEventObject::Registration& curEntry : inEvent->itsWaiters)
        curEntry.itsWaiter->fire(curEntry.itsIndex);
}

bool setEvent(EventHandle inEvent)
{
    if (inEvent == nullptr)
        return false;
    signal(inEvent, true);
    return true;
}

bool pulseEvent(EventHandle inEvent)
{
    if (inEvent == nullptr)
        return false;
    signal(inEvent, false);
    return true;
}

bool resetEvent(EventHandle inEvent)
{
    if (inEvent == nullptr)
        return false;
    std::lock_guard<std::mutex> theLock(inEvent->itsMutex);
    inEvent->itsSignalled = false;
    return true;
}

bool isEventSet(EventHandle inEvent)
{
    if (inEvent == nullptr)
        return false;
    std::lock_guard<std::mutex> theLock(inEvent->itsMutex);
    return inEvent->itsSignalled;
}

int waitForAnyEvent(const std::vector<EventHandle>& inEvents, std::uint32_t inTimeout)
{
    return detail::waitForAny(inEvents, inTimeout, false);
}

void sleepFor(std::uint32_t inMilliseconds)
{
    detail::waitForAny(std::vector<EventHandle>(), inMilliseconds, false);
}

namespace detail
{

int waitForAny(const std::vector<EventHandle>& inHandles, std::uint32_t inTimeout,
               bool inWithMessages)
{
    threadCheckpoint();
    for (EventHandle curHandle : inHandles)
        if (curHandle == nullptr)
            return waitFailed;

    Waiter theWaiter;
    int theResult = waitTimedOut;
    bool theDone = false;
    std::size_t theAttached = 0;
    for (; theAttached < inHandles.size(); ++theAttached)
    {
        OsEventObject* curEvent = inHandles[theAttached];
        std::lock_guard<std::mutex> theLock(curEvent->itsMutex);
        if (curEvent->itsSignalled)
        {
            theResult = static_cast<int>(theAttached);
            theDone = true;
            break;
        }
        curEvent->itsWaiters.push_back({&theWaiter, static_cast<int>(theAttached)});
    }
    if (!theDone && inWithMessages && attachMessageWaiter(&theWaiter))
    {
        theResult = waitMessage;
        theDone = true;
    }
    bool theThreadAttached = false;
    if (!theDone)
    {
        theThreadAttached = attachThreadWaiter(&theWaiter);
        // A terminated thread does not block any more.
        theDone = !theThreadAttached;
    }

    if (!theDone)
    {
        std::unique_lock<std::mutex> theLock(theWaiter.itsMutex);
        auto theWoken = [&theWaiter] {
            return theWaiter.itsFiredIndex >= 0 || theWaiter.itsMessageArrived ||
                   theWaiter.itsInterrupted;
        };
        if (inTimeout == waitForever)
            theWaiter.itsCondition.wait(theLock, theWoken);
        else
            theWaiter.itsCondition.wait_until(
                theLock, std::chrono::steady_clock::now() + std::chrono::milliseconds(inTimeout),
                theWoken);
        if (theWaiter.itsFiredIndex >= 0)
            theResult = theWaiter.itsFiredIndex;
        else if (theWaiter.itsMessageArrived)
            theResult = waitMessage;
    }

    if (theThreadAttached)
        detachThreadWaiter(&theWaiter);
    if (inWithMessages)
        detachMessageWaiter(&theWaiter, theResult == waitMessage);
    for (std::size_t i = 0; i < theAttached; ++i)
    {
        OsEventObject* curEvent = inHandles[i];
        std::lock_guard<std::mutex> theLock(curEvent->itsMutex);
        auto& theList = curEvent->itsWaiters;
        auto theEntry = std::find_if(theList.begin(), theList.end(),
                                     [&](const OsEventObject::Registration& inEntry) {
                                         return inEntry.itsWaiter == &theWaiter &&
                                                inEntry.itsIndex == static_cast<int>(i);
                                     });
        if (theEntry != theList.end())
            theList.erase(theEntry);
    }
    threadCheckpoint();
    return theResult;
}

} // namespace detail

} // namespace corvel::platform
