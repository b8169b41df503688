// Messages posted to threads and to window targets.
//
// Every thread may have a message queue: a FIFO of (target window, message
// id, first parameter, second parameter). A queue is created by its own
// thread the first time that thread drains it, waits for messages or creates
// a window target (threads created by the porting layer get one at once), and
// goes away when the thread ends. Posting is asynchronous and fails (returns
// false, nothing else happens) when the target has no queue or its queue is
// full (10000 messages, as on Windows), so a thread that never reads cannot
// make the process grow without bound.
//
// A window target stands for a window on Windows: a handle, never 0, naming
// a message target owned by the thread that created it. A message posted to
// it lands in the owner's queue with the handle attached. Window targets of a
// thread go away with the thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "corvel/platform/os_event.h"

namespace corvel::platform
{

using WindowHandle = std::uintptr_t;

struct OsMessage
{
    WindowHandle itsWindow = 0; // 0: posted to the thread itself
    std::uint32_t itsMessage = 0;
    std::uintptr_t itsFirstParam = 0;
    std::intptr_t itsSecondParam = 0;
};

// Most messages a queue holds; further posts fail.
inline constexpr std::size_t messageQueueLimit = 10000;

bool postThreadMessage(std::uint32_t inThreadId, std::uint32_t inMessage,
                       std::uintptr_t inFirstParam, std::intptr_t inSecondParam);
bool postWindowMessage(WindowHandle inWindow, std::uint32_t inMessage, std::uintptr_t inFirstParam,
                       std::intptr_t inSecondParam);

// A new window target owned by the calling thread.
WindowHandle createWindowTarget();
// Only the owner's later posts are affected; messages already queued stay.
void destroyWindowTarget(WindowHandle inWindow);

// Creates the calling thread's queue if it has none.
void ensureMessageQueue();
// Takes the oldest message of the calling thread's queue; false when empty.
bool peekMessage(OsMessage& outMessage);
// Discards every waiting message of the calling thread; returns how many.
std::size_t drainMessages();

// As waitForAnyEvent, but also returns waitMessage when a message is posted
// to the calling thread during the wait, or was posted since the queue was
// last drained, peeked or waited on. The message stays in the queue.
int waitForAnyEventOrMessage(const std::vector<EventHandle>& inEvents, std::uint32_t inTimeout);

} // namespace corvel::platform
