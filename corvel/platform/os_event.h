// Operating-system events and the waits on them.
//
// An event is manual-reset: once set it stays signalled, releasing every
// waiter, until it is reset. A pulse releases exactly the threads that are
// waiting on the event at that moment and leaves it not signalled; a thread
// that starts waiting after the pulse does not see it.
//
// On POSIX an event is a small object of the porting layer; a waiting thread
// registers itself with every event of its wait, so "the threads waiting at
// that moment" is exact. There is no limit on the number of events in one
// wait.
//
// Every wait is also a checkpoint of the calling thread (see os_thread.h): a
// suspended thread is held there, and a terminated one leaves through
// ThreadTerminated.
//
// Closing an event while another thread still waits on it is a programming
// error, as closing any handle in use is.
#pragma once

#include <cstdint>
#include <vector>

namespace corvel::platform
{

struct OsEventObject;
using EventHandle = OsEventObject*;

// A time-out of this value means: wait without limit.
inline constexpr std::uint32_t waitForever = 0xFFFFFFFFu;

// Results of the waits besides the index of a signalled event.
inline constexpr int waitTimedOut = -1;
// A message was posted to the calling thread (waitForAnyEventOrMessage).
inline constexpr int waitMessage = -2;
// A null handle in the list; nothing was waited for.
inline constexpr int waitFailed = -3;

// An unnamed manual-reset event, not signalled; nullptr when the system is
// out of resources.
EventHandle createEvent();
// Null is ignored.
void closeEvent(EventHandle inEvent);

// Each returns false for a null handle and otherwise succeeds.
bool setEvent(EventHandle inEvent);
bool resetEvent(EventHandle inEvent);
bool pulseEvent(EventHandle inEvent);

// Tests the event without waiting and without consuming the signal; false
// for a null handle.
bool isEventSet(EventHandle inEvent);

// Waits until any one of the events is signalled (or is pulsed) or the
// time-out passes. Returns the index of the event that released the wait
// (the first signalled one in list order when several already are),
// waitTimedOut, or waitFailed. An empty list just sleeps for the time-out
// (forever means: until the thread is terminated).
int waitForAnyEvent(const std::vector<EventHandle>& inEvents, std::uint32_t inTimeout);

// Sleeps for the time-out; a checkpoint like every wait.
void sleepFor(std::uint32_t inMilliseconds);

} // namespace corvel::platform
