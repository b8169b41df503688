// The porting layer's events, waits, message queues and OS threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "corvel/platform/os_event.h"
#include "corvel/platform/os_messages.h"
#include "corvel/platform/os_thread.h"

namespace pf = corvel::platform;

namespace
{
struct EventGuard
{
    pf::EventHandle itsHandle = pf::createEvent();
    ~EventGuard() { pf::closeEvent(itsHandle); }
};

// Milliseconds spent in inAction.
template <typename Action>
long long timed(Action inAction)
{
    const auto theStart = std::chrono::steady_clock::now();
    inAction();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 theStart)
        .count();
}
} // namespace

TEST(OsEvent, SetStaysUntilResetAndPulseLeavesItClear)
{
    EventGuard theEvent;
    ASSERT_NE(theEvent.itsHandle, nullptr);
    EXPECT_FALSE(pf::isEventSet(theEvent.itsHandle));
    EXPECT_TRUE(pf::setEvent(theEvent.itsHandle));
    EXPECT_TRUE(pf::isEventSet(theEvent.itsHandle));
    EXPECT_TRUE(pf::isEventSet(theEvent.itsHandle)); // testing does not consume
    EXPECT_EQ(pf::waitForAnyEvent({theEvent.itsHandle}, 0), 0);
    EXPECT_TRUE(pf::resetEvent(theEvent.itsHandle));
    EXPECT_FALSE(pf::isEventSet(theEvent.itsHandle));
    EXPECT_TRUE(pf::setEvent(theEvent.itsHandle));
    EXPECT_TRUE(pf::pulseEvent(theEvent.itsHandle));
    EXPECT_FALSE(pf::isEventSet(theEvent.itsHandle));
    // A pulse with nobody waiting is lost.
    EXPECT_EQ(pf::waitForAnyEvent({theEvent.itsHandle}, 0), pf::waitTimedOut);
}

TEST(OsEvent, NullHandlesFailInsteadOfBlocking)
{
    EXPECT_FALSE(pf::setEvent(nullptr));
    EXPECT_FALSE(pf::resetEvent(nullptr));
    EXPECT_FALSE(pf::pulseEvent(nullptr));
    EXPECT_FALSE(pf::isEventSet(nullptr));
    EventGuard theEvent;
    EXPECT_EQ(pf::waitForAnyEvent({theEvent.itsHandle, nullptr}, pf::waitForever), pf::waitFailed);
}

TEST(OsEvent, WaitAnswersWithTheFirstSignalledEventOrTimesOut)
{
    EventGuard theFirst, theSecond, theThird;
    const std::vector<pf::EventHandle> theList{theFirst.itsHandle, theSecond.itsHandle,
                                               theThird.itsHandle};
    EXPECT_EQ(pf::waitForAnyEvent(theList, 20), pf::waitTimedOut);
    pf::setEvent(theThird.itsHandle);
    pf::setEvent(theSecond.itsHandle);
    EXPECT_EQ(pf::waitForAnyEvent(theList, 0), 1);

    EventGuard theLate;
    std::thread theSetter(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pf::setEvent(theLate.itsHandle);
        });
    EXPECT_EQ(pf::waitForAnyEvent({theFirst.itsHandle, theLate.itsHandle}, 5000), 1);
    theSetter.join();
}

TEST(OsEvent, PulseReleasesExactlyTheThreadsWaitingAtThatMoment)
{
    EventGuard theEvent;
    constexpr int theWaiterCount = 4;
    std::atomic<int> theStarted{0};
    std::vector<int> theResults(theWaiterCount, -100);
    std::vector<std::thread> theWaiters;
    for (int i = 0; i < theWaiterCount; ++i)
        theWaiters.emplace_back(
            [&, i]
            {
                ++theStarted;
                theResults[i] = pf::waitForAnyEvent({theEvent.itsHandle}, 10000);
            });
    while (theStarted < theWaiterCount)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // all blocked by now
    pf::pulseEvent(theEvent.itsHandle);
    for (auto& curWaiter : theWaiters)
        curWaiter.join();
    for (int curResult : theResults)
        EXPECT_EQ(curResult, 0);
    // A thread that starts waiting after the pulse does not see it.
    EXPECT_EQ(pf::waitForAnyEvent({theEvent.itsHandle}, 30), pf::waitTimedOut);
}

TEST(OsMessages, QueuesAreFifoPerThreadAndWindowTargetsLandInTheOwnersQueue)
{
    pf::OsMessage theMessage;
    std::uint32_t theOtherId = 0;
    std::thread([&] { theOtherId = pf::currentThreadId(); }).join();
    EXPECT_FALSE(pf::postThreadMessage(theOtherId, 1, 0, 0)); // gone, no queue
    EXPECT_FALSE(pf::postThreadMessage(0, 1, 0, 0));

    pf::ensureMessageQueue();
    pf::drainMessages();
    const pf::WindowHandle theWindow = pf::createWindowTarget();
    EXPECT_NE(theWindow, 0u);
    EXPECT_TRUE(pf::postThreadMessage(pf::currentThreadId(), 10, 11, -12));
    EXPECT_TRUE(pf::postWindowMessage(theWindow, 20, 21, 22));
    ASSERT_TRUE(pf::peekMessage(theMessage));
    EXPECT_EQ(theMessage.itsWindow, 0u);
    EXPECT_EQ(theMessage.itsMessage, 10u);
    EXPECT_EQ(theMessage.itsFirstParam, 11u);
    EXPECT_EQ(theMessage.itsSecondParam, -12);
    ASSERT_TRUE(pf::peekMessage(theMessage));
    EXPECT_EQ(theMessage.itsWindow, theWindow);
    EXPECT_EQ(theMessage.itsMessage, 20u);
    EXPECT_FALSE(pf::peekMessage(theMessage));

    pf::destroyWindowTarget(theWindow);
    EXPECT_FALSE(pf::postWindowMessage(theWindow, 20, 0, 0));
}

TEST(OsMessages, AFullQueueRefusesFurtherPosts)
{
    pf::ensureMessageQueue();
    for (std::size_t i = 0; i < pf::messageQueueLimit; ++i)
        ASSERT_TRUE(pf::postThreadMessage(pf::currentThreadId(), 1, i, 0));
    EXPECT_FALSE(pf::postThreadMessage(pf::currentThreadId(), 1, 0, 0));
    EXPECT_EQ(pf::drainMessages(), pf::messageQueueLimit);
    EXPECT_TRUE(pf::postThreadMessage(pf::currentThreadId(), 1, 0, 0));
}

TEST(OsMessages, MessageWaitWakesOnAPostAndOnlyOnNewMessages)
{
    EventGuard theEvent;
    pf::ensureMessageQueue();
    pf::drainMessages();
    EXPECT_EQ(pf::waitForAnyEventOrMessage({theEvent.itsHandle}, 0), pf::waitTimedOut);

    // Posted before the wait but after the last look: returns at once, and
    // the message stays in the queue.
    pf::postThreadMessage(pf::currentThreadId(), 5, 0, 0);
    EXPECT_EQ(pf::waitForAnyEventOrMessage({theEvent.itsHandle}, 5000), pf::waitMessage);
    EXPECT_EQ(pf::waitForAnyEventOrMessage({theEvent.itsHandle}, 0), pf::waitTimedOut);
    EXPECT_EQ(pf::drainMessages(), 1u);

    const std::uint32_t theMe = pf::currentThreadId();
    std::thread thePoster(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pf::postThreadMessage(theMe, 6, 0, 0);
        });
    EXPECT_EQ(pf::waitForAnyEventOrMessage({theEvent.itsHandle}, 10000), pf::waitMessage);
    thePoster.join();
    pf::OsMessage theMessage;
    ASSERT_TRUE(pf::peekMessage(theMessage));
    EXPECT_EQ(theMessage.itsMessage, 6u);
}

namespace
{
std::atomic<int> theEntryRuns{0};
std::uint32_t countingEntry(void*)
{
    ++theEntryRuns;
    return 42;
}
} // namespace

TEST(OsThread, CreatedSuspendedRunsOnlyAfterResumeAndKeepsItsExitCode)
{
    std::uint32_t theId = 0;
    pf::ThreadHandle theThread = pf::createSuspendedThread(&countingEntry, nullptr, theId);
    ASSERT_NE(theThread, nullptr);
    EXPECT_NE(theId, 0u);
    EXPECT_NE(theId, pf::currentThreadId());
    EXPECT_FALSE(pf::waitForThread(theThread, 50));
    EXPECT_EQ(theEntryRuns, 0);
    EXPECT_EQ(pf::getThreadExitCode(theThread), pf::threadStillActive);
    // Its queue exists before it runs, so posts to it are not lost.
    EXPECT_TRUE(pf::postThreadMessage(theId, 1, 0, 0));
    pf::resumeThread(theThread);
    EXPECT_TRUE(pf::waitForThread(theThread, pf::waitForever));
    pf::waitForThreadExit(theThread);
    EXPECT_EQ(theEntryRuns, 1);
    EXPECT_EQ(pf::getThreadExitCode(theThread), 42u);
    EXPECT_FALSE(pf::suspendThread(theThread));
    EXPECT_FALSE(pf::terminateThread(theThread, 7));
    EXPECT_EQ(pf::getThreadExitCode(theThread), 42u);
    pf::closeThread(theThread);
}

namespace
{
struct LoopState
{
    std::atomic<long> itsTurns{0};
    std::atomic<bool> itsStop{false};
    std::atomic<bool> itsUnwound{false};
    std::atomic<int> itsSwallowed{0};
};

struct UnwindFlag
{
    std::atomic<bool>& itsFlag;
    ~UnwindFlag() { itsFlag = true; }
};

std::uint32_t loopingEntry(void* inState)
{
    LoopState& theState = *static_cast<LoopState*>(inState);
    UnwindFlag theFlag{theState.itsUnwound};
    while (!theState.itsStop)
    {
        ++theState.itsTurns;
        pf::sleepFor(2);
    }
    return 0;
}

// Swallows the first termination in a catch-all and waits again.
std::uint32_t swallowingEntry(void* inState)
{
    LoopState& theState = *static_cast<LoopState*>(inState);
    UnwindFlag theFlag{theState.itsUnwound};
    for (;;)
    {
        try
        {
            ++theState.itsTurns;
            pf::sleepFor(pf::waitForever);
        }
        catch (...)
        {
            if (++theState.itsSwallowed > 1)
                throw; // the second time it lets the termination through
        }
    }
}
} // namespace

TEST(OsThread, SuspensionHoldsTheThreadAtItsNextWait)
{
    LoopState theState;
    std::uint32_t theId = 0;
    pf::ThreadHandle theThread = pf::createSuspendedThread(&loopingEntry, &theState, theId);
    ASSERT_NE(theThread, nullptr);
    pf::resumeThread(theThread);
    while (theState.itsTurns < 3)
        std::this_thread::yield();
    EXPECT_TRUE(pf::suspendThread(theThread));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const long theHeldAt = theState.itsTurns;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(theState.itsTurns, theHeldAt);
    EXPECT_EQ(pf::getThreadExitCode(theThread), pf::threadStillActive);
    pf::resumeThread(theThread);
    while (theState.itsTurns < theHeldAt + 3)
        std::this_thread::yield();
    theState.itsStop = true;
    EXPECT_TRUE(pf::waitForThread(theThread, 10000));
    EXPECT_EQ(pf::getThreadExitCode(theThread), 0u);
    pf::closeThread(theThread);
}

TEST(OsThread, TerminationInterruptsTheWaitAndUnwindsTheStack)
{
    LoopState theState;
    std::uint32_t theId = 0;
    pf::ThreadHandle theThread = pf::createSuspendedThread(&swallowingEntry, &theState, theId);
    ASSERT_NE(theThread, nullptr);
    pf::resumeThread(theThread);
    while (theState.itsTurns < 1)
        std::this_thread::yield();
    EXPECT_TRUE(pf::terminateThread(theThread, 9));
    // Observers see the end at once, with the given code.
    EXPECT_TRUE(pf::waitForThread(theThread, 0));
    EXPECT_EQ(pf::getThreadExitCode(theThread), 9u);
    EXPECT_TRUE(pf::wasTerminated(theThread));
    pf::waitForThreadExit(theThread);
    EXPECT_TRUE(theState.itsUnwound);
    // The swallowed termination came back at the next wait.
    EXPECT_EQ(theState.itsSwallowed, 2);
    EXPECT_EQ(theState.itsTurns, 2);
    EXPECT_EQ(pf::getThreadExitCode(theThread), 9u);
    pf::closeThread(theThread);
}

TEST(OsThread, ATerminatedThreadThatNeverWaitsRunsOnUntilItReturns)
{
    // Static: the thread may still read it after the test returns.
    static LoopState theState;
    std::uint32_t theId = 0;
    pf::ThreadHandle theThread = pf::createSuspendedThread(
        [](void* inState) -> std::uint32_t
        {
            LoopState& theLoop = *static_cast<LoopState*>(inState);
            while (!theLoop.itsStop)
                ++theLoop.itsTurns; // no checkpoint
            return 0;
        },
        &theState, theId);
    pf::resumeThread(theThread);
    while (theState.itsTurns < 10)
        std::this_thread::yield();
    EXPECT_TRUE(pf::terminateThread(theThread, 0));
    EXPECT_TRUE(pf::waitForThread(theThread, 0));
    // Closing the handle early must not free what the thread still uses.
    pf::closeThread(theThread);
    const long theTurns = theState.itsTurns;
    while (theState.itsTurns == theTurns)
        std::this_thread::yield();
    theState.itsStop = true;
}

TEST(OsThread, SleepWaitsTheTimeOut)
{
    EXPECT_GE(timed([] { pf::sleepFor(40); }), 39);
}
