// Events are Win32 manual-reset event objects; a wait is one
// WaitForMultipleObjects (or MsgWaitForMultipleObjectsEx when it also wakes
// for messages) over the caller's events plus the calling thread's terminate
// event, so termination interrupts it as os_thread.h promises.
#include "corvel/platform/os_event.h"

#include <new>

#include <windows.h>

#include "corvel/platform/os_messages.h"
#include "corvel/platform/os_thread.h"

namespace corvel::platform
{

struct OsEventObject
{
    HANDLE itsHandle = nullptr;
};

namespace detail
{
void* currentTerminateEvent();
int waitForAny(const std::vector<EventHandle>& inEvents, std::uint32_t inTimeout,
               bool inWithMessages);
} // namespace detail

EventHandle createEvent()
{
    HANDLE theHandle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (theHandle == nullptr)
        return nullptr;
    OsEventObject* theEvent = new (std::nothrow) OsEventObject{theHandle};
    if (theEvent == nullptr)
        CloseHandle(theHandle);
    return theEvent;
}

void closeEvent(EventHandle inEvent)
{
    if (inEvent == nullptr)
        return;
    CloseHandle(inEvent->itsHandle);
    delete inEvent;
}

bool setEvent(EventHandle inEvent) { return inEvent != nullptr && SetEvent(inEvent->itsHandle); }

bool resetEvent(EventHandle inEvent)
{
    return inEvent != nullptr && ResetEvent(inEvent->itsHandle);
}

bool pulseEvent(EventHandle inEvent)
{
    return inEvent != nullptr && PulseEvent(inEvent->itsHandle);
}

bool isEventSet(EventHandle inEvent)
{
    return inEvent != nullptr && WaitForSingleObject(inEvent->itsHandle, 0) == WAIT_OBJECT_0;
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

namespace
{

// The most handles one wait takes, with one slot kept for the terminate
// event (MsgWaitForMultipleObjectsEx takes one fewer than the plain wait).
constexpr std::size_t theDirectLimit = MAXIMUM_WAIT_OBJECTS - 2;

// One system wait over inHandles; the index of the signalled handle,
// inHandles.size() for a message, WAIT_TIMEOUT as -1, failure as -2.
int systemWait(const std::vector<HANDLE>& inHandles, DWORD inTimeout, bool inWithMessages)
{
    const DWORD theCount = static_cast<DWORD>(inHandles.size());
    DWORD theResult;
    if (inWithMessages)
        theResult = MsgWaitForMultipleObjectsEx(theCount, inHandles.data(), inTimeout,
                                                QS_ALLPOSTMESSAGE, 0);
    else if (theCount == 0)
    {
        SleepEx(inTimeout, FALSE);
        return -1;
    }
    else
        theResult = WaitForMultipleObjects(theCount, inHandles.data(), FALSE, inTimeout);
    if (theResult == WAIT_TIMEOUT)
        return -1;
    if (theResult >= WAIT_OBJECT_0 && theResult <= WAIT_OBJECT_0 + theCount)
        return static_cast<int>(theResult - WAIT_OBJECT_0);
    if (theResult >= WAIT_ABANDONED_0 && theResult < WAIT_ABANDONED_0 + theCount)
        return static_cast<int>(theResult - WAIT_ABANDONED_0);
    return -2;
}

// More events than one system wait takes: look at them in slices, then
// sleep a millisecond, until one is set or the time is up. A pulse can pass
// unseen here; set events never do.
int pollingWait(const std::vector<HANDLE>& inEvents, HANDLE inTerminate, std::uint32_t inTimeout,
                bool inWithMessages)
{
    const DWORD theStart = GetTickCount();
    for (;;)
    {
        for (std::size_t theFirst = 0; theFirst < inEvents.size(); theFirst += theDirectLimit)
        {
            const std::size_t theEnd = std::min(inEvents.size(), theFirst + theDirectLimit);
            std::vector<HANDLE> theSlice(inEvents.begin() + static_cast<std::ptrdiff_t>(theFirst),
                                         inEvents.begin() + static_cast<std::ptrdiff_t>(theEnd));
            const int theIndex = systemWait(theSlice, 0, false);
            if (theIndex >= 0)
                return static_cast<int>(theFirst) + theIndex;
            if (theIndex == -2)
                return waitFailed;
        }
        if (inTerminate != nullptr && WaitForSingleObject(inTerminate, 0) == WAIT_OBJECT_0)
            return waitTimedOut;
        // GetQueueStatus also marks the queue as looked at.
        if (inWithMessages && HIWORD(GetQueueStatus(QS_ALLPOSTMESSAGE)) != 0)
            return waitMessage;
        const DWORD theElapsed = GetTickCount() - theStart;
        if (inTimeout != waitForever && theElapsed >= inTimeout)
            return waitTimedOut;
        Sleep(1);
    }
}

} // namespace

int waitForAny(const std::vector<EventHandle>& inEvents, std::uint32_t inTimeout,
               bool inWithMessages)
{
    threadCheckpoint();
    std::vector<HANDLE> theHandles;
    theHandles.reserve(inEvents.size() + 1);
    for (EventHandle curEvent : inEvents)
    {
        if (curEvent == nullptr)
            return waitFailed;
        theHandles.push_back(curEvent->itsHandle);
    }
    if (inWithMessages)
        ensureMessageQueue();
    HANDLE theTerminate = static_cast<HANDLE>(currentTerminateEvent());

    int theResult;
    if (theHandles.size() > theDirectLimit)
    {
        theResult = pollingWait(theHandles, theTerminate, inTimeout, inWithMessages);
    }
    else
    {
        const std::size_t theEventCount = theHandles.size();
        if (theTerminate != nullptr)
            theHandles.push_back(theTerminate);
        const int theIndex = systemWait(theHandles, inTimeout, inWithMessages);
        if (theIndex == -2)
            theResult = waitFailed;
        else if (theIndex < 0)
            theResult = waitTimedOut;
        else if (static_cast<std::size_t>(theIndex) < theEventCount)
            theResult = theIndex;
        else if (static_cast<std::size_t>(theIndex) == theHandles.size())
        {
            // The wait has now looked at the queue: the next one wakes only
            // for messages posted after it (the system would wake again).
            GetQueueStatus(QS_ALLPOSTMESSAGE);
            theResult = waitMessage;
        }
        else
            theResult = waitTimedOut; // terminated: the checkpoint below leaves
    }
    threadCheckpoint();
    return theResult;
}

} // namespace detail

} // namespace corvel::platform
