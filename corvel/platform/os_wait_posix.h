// POSIX only: the wake-up plumbing shared by events, message queues and
// threads. Included by *_posix.cpp files of the porting layer, never by the
// framework.
//
// A thread that blocks in a wait owns one Waiter on its stack. It hangs the
// Waiter on every event it waits for (and on its own message queue and thread
// record when it also wakes for messages or termination); whoever signals
// takes its own mutex, then the Waiter's, records why it fires and notifies.
// The waiting thread takes every Waiter off again before it returns, under
// the same mutexes, so no signaller can touch a Waiter that has gone.
//
// Lock order: event, queue or thread-record mutex first, Waiter mutex last.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "corvel/platform/os_event.h"

namespace corvel::platform::detail
{

struct Waiter
{
    std::mutex itsMutex;
    std::condition_variable itsCondition;
    // Index in the caller's handle list of the event that released the wait;
    // -1 while none did.
    int itsFiredIndex = -1;
    bool itsMessageArrived = false;
    // The thread was terminated while it waited.
    bool itsInterrupted = false;

    void fire(int inIndex)
    {
        std::lock_guard<std::mutex> theLock(itsMutex);
        if (itsFiredIndex < 0)
            itsFiredIndex = inIndex;
        itsCondition.notify_one();
    }
    void messageArrived()
    {
        std::lock_guard<std::mutex> theLock(itsMutex);
        itsMessageArrived = true;
        itsCondition.notify_one();
    }
    void interrupt()
    {
        std::lock_guard<std::mutex> theLock(itsMutex);
        itsInterrupted = true;
        itsCondition.notify_one();
    }
};

// The wait behind waitForAnyEvent and waitForAnyEventOrMessage.
int waitForAny(const std::vector<EventHandle>& inHandles, std::uint32_t inTimeout,
               bool inWithMessages);

// The calling thread's message queue (created when missing): hangs the
// Waiter on it. Returns true, without hanging it, when a message arrived
// since the queue was last looked at.
bool attachMessageWaiter(Waiter* inWaiter);
// Takes the Waiter off again; inConsumed: the wait returned for a message.
void detachMessageWaiter(Waiter* inWaiter, bool inConsumed);

// The calling thread's record, when the porting layer created the thread:
// hangs the Waiter on it so that termination interrupts the wait. False when
// the thread is already terminated (the caller must not block then).
bool attachThreadWaiter(Waiter* inWaiter);
void detachThreadWaiter(Waiter* inWaiter);

} // namespace corvel::platform::detail
