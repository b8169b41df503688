#include "corvel/platform/os_messages.h"

#include <deque>
#include <map>
#include <memory>

#include "corvel/platform/os_thread.h"
#include "corvel/platform/os_wait_posix.h"

namespace corvel::platform
{

namespace
{

struct MessageQueue
{
    std::mutex itsMutex;
    std::deque<OsMessage> itsMessages;
    // A message arrived since the owner last drained, peeked or waited.
    bool itsNewSinceCheck = false;
    // The owner's Waiter while it waits for messages.
    detail::Waiter* itsWaiter = nullptr;
};

// Queues by owning thread id and window targets by handle. Never destroyed:
// threads may still post while static objects are torn down at exit.
struct Directory
{
    std::mutex itsMutex;
    std::map<std::uint32_t, std::shared_ptr<MessageQueue>> itsQueues;
    std::map<WindowHandle, std::uint32_t> itsWindows;
    WindowHandle itsNextWindow = 0x10000;
};

Directory& theDirectory()
{
    static Directory* theInstance = new Directory;
    return *theInstance;
}

// Owns the calling thread's queue; removes it, and the thread's window
// targets, when the thread ends.
struct QueueOwner
{
    std::shared_ptr<MessageQueue> itsQueue;
    std::uint32_t itsThreadId = 0;

    ~QueueOwner()
    {
        if (!itsQueue)
            return;
        Directory& theDir = theDirectory();
        std::lock_guard<std::mutex> theLock(theDir.itsMutex);
        auto theEntry = theDir.itsQueues.find(itsThreadId);
        if (theEntry != theDir.itsQueues.end() && theEntry->second == itsQueue)
            theDir.itsQueues.erase(theEntry);
        for (auto curWindow = theDir.itsWindows.begin(); curWindow != theDir.itsWindows.end();)
        {
            if (curWindow->second == itsThreadId)
                curWindow = theDir.itsWindows.erase(curWindow);
            else
                ++curWindow;
        }
    }
};

thread_local QueueOwner theQueueOwner;

MessageQueue& currentQueue()
{
    if (!theQueueOwner.itsQueue)
    {
        auto theQueue = std::make_shared<MessageQueue>();
        const std::uint32_t theThreadId = currentThreadId();
        Directory& theDir = theDirectory();
        {
            std::lock_guard<std::mutex> theLock(theDir.itsMutex);
            theDir.itsQueues[theThreadId] = theQueue;
        }
        theQueueOwner.itsThreadId = theThreadId;
        theQueueOwner.itsQueue = std::move(theQueue);
    }
    return *theQueueOwner.itsQueue;
}

bool post(std::uint32_t inThreadId, const OsMessage& inMessage)
{
    std::shared_ptr<MessageQueue> theQueue;
    {
        Directory& theDir = theDirectory();
        std::lock_guard<std::mutex> theLock(theDir.itsMutex);
        auto theEntry = theDir.itsQueues.find(inThreadId);
        if (theEntry == theDir.itsQueues.end())
            return false;
        theQueue = theEntry->second;
    }
    std::lock_guard<std::mutex> theLock(theQueue->itsMutex);
    if (theQueue->itsMessages.size() >= messageQueueLimit)
        return false;
    theQueue->itsMessages.push_back(inMessage);
    theQueue->itsNewSinceCheck = true;
    if (theQueue->itsWaiter != nullptr)
        theQueue->itsWaiter->messageArrived();
    return true;
}

} // namespace

bool postThreadMessage(std::uint32_t inThreadId, std::uint32_t inMessage,
                       std::uintptr_t inFirstParam, std::intptr_t inSecondParam)
{
    if (inThreadId == 0)
        return false;
    return post(inThreadId, OsMessage{0, inMessage, inFirstParam, inSecondParam});
}

bool postWindowMessage(WindowHandle inWindow, std::uint32_t inMessage, std::uintptr_t inFirstParam,
                       std::intptr_t inSecondParam)
{
    std::uint32_t theOwner = 0;
    {
        Directory& theDir = theDirectory();
        std::lock_guard<std::mutex> theLock(theDir.itsMutex);
        auto theEntry = theDir.itsWindows.find(inWindow);
        if (theEntry == theDir.itsWindows.end())
            return false;
        theOwner = theEntry->second;
    }
    return post(theOwner, OsMessage{inWindow, inMessage, inFirstParam, inSecondParam});
}

WindowHandle createWindowTarget()
{
    currentQueue();
    Directory& theDir = theDirectory();
    std::lock_guard<std::mutex> theLock(theDir.itsMutex);
    const WindowHandle theWindow = theDir.itsNextWindow++;
    theDir.itsWindows[theWindow] = currentThreadId();
    return theWindow;
}

void destroyWindowTarget(WindowHandle inWindow)
{
    Directory& theDir = theDirectory();
    std::lock_guard<std::mutex> theLock(theDir.itsMutex);
    theDir.itsWindows.erase(inWindow);
}

void ensureMessageQueue() { currentQueue(); }

bool peekMessage(OsMessage& outMessage)
{
    MessageQueue& theQueue = currentQueue();
    std::lock_guard<std::mutex> theLock(theQueue.itsMutex);
    theQueue.itsNewSinceCheck = false;
    if (theQueue.itsMessages.empty())
        return false;
    outMessage = theQueue.itsMessages.front();
    theQueue.itsMessages.pop_front();
    return true;
}

std::size_t drainMessages()
{
    MessageQueue& theQueue = currentQueue();
    std::lock_guard<std::mutex> theLock(theQueue.itsMutex);
    const std::size_t theCount = theQueue.itsMessages.size();
    theQueue.itsMessages.clear();
    theQueue.itsNewSinceCheck = false;
    return theCount;
}

int waitForAnyEventOrMessage(const std::vector<EventHandle>& inEvents, std::uint32_t inTimeout)
{
    return detail::waitForAny(inEvents, inTimeout, true);
}

namespace detail
{

bool attachMessageWaiter(Waiter* inWaiter)
{
    MessageQueue& theQueue = currentQueue();
    std::lock_guard<std::mutex> theLock(theQueue.itsMutex);
    if (theQueue.itsNewSinceCheck)
    {
        theQueue.itsNewSinceCheck = false;
        return true;
    }
    theQueue.itsWaiter = inWaiter;
    return false;
}

void detachMessageWaiter(Waiter* inWaiter, bool inConsumed)
{
    MessageQueue& theQueue = currentQueue();
    std::lock_guard<std::mutex> theLock(theQueue.itsMutex);
    if (theQueue.itsWaiter == inWaiter)
        theQueue.itsWaiter = nullptr;
    if (inConsumed)
        theQueue.itsNewSinceCheck = false;
}

} // namespace detail

} // namespace corvel::platform
