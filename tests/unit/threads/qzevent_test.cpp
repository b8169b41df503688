// Single and multi events and the wait on them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "corvel/messages/qzerrormessage.h"
#include "corvel/platform/os_messages.h"
#include "corvel/threads/qzevent.h"
#include "corvel/threads/qzthread.h"
#include "tests/unit/threads/captured_log.h"

namespace pf = corvel::platform;

TEST(SingleEvent, SetStaysUntilResetPulseClearsAndEverySignalCounts)
{
    qzSingleEvent theEvent;
    EXPECT_FALSE(theEvent.isSet());
    EXPECT_EQ(theEvent.getSetEvent(), nullptr);
    EXPECT_EQ(theEvent.getHandleCount(), 1);
    theEvent.set();
    EXPECT_TRUE(theEvent.isSet());
    EXPECT_TRUE(theEvent.isSet());
    EXPECT_EQ(theEvent.getSetEvent(), &theEvent);
    theEvent.set();
    theEvent.pulse();
    EXPECT_FALSE(theEvent.isSet());
    EXPECT_EQ(theEvent.getSignalCount(), 3);
    theEvent.set();
    theEvent.reset();
    EXPECT_FALSE(theEvent.isSet());
    EXPECT_EQ(theEvent.getSignalCount(), 4);
}

TEST(SingleEvent, AGivenHandleIsClosedOnlyWhenOwned)
{
    pf::EventHandle theHandle = pf::createEvent();
    {
        qzSingleEvent theEvent(theHandle, false);
        theEvent.set();
        std::vector<qzEventHandle> theHandles;
        theEvent.addHandles(theHandles);
        ASSERT_EQ(theHandles.size(), 1u);
        EXPECT_EQ(theHandles[0], theHandle);
    }
    // Still usable: the event did not own it.
    EXPECT_TRUE(pf::isEventSet(theHandle));
    qzSingleEvent theOwner(theHandle, true); // closes it (ASan checks the leak)
    EXPECT_TRUE(theOwner.isSet());
}

TEST(SingleEvent, AFailingOsCallThrowsResFullAfterCounting)
{
    CapturedLog theCapture;
    qzSingleEvent theEvent(nullptr, false); // no OS object at all
    EXPECT_FALSE(theEvent.isSet());
    for (int i = 0; i < 2; ++i)
    {
        try
        {
            if (i == 0)
                theEvent.set();
            else
                theEvent.pulse();
            ADD_FAILURE() << "no exception";
        }
        catch (const qzException& inException)
        {
            EXPECT_EQ(inException.errorMessage.getErrorValue(), qzErr_resFull);
        }
    }
    EXPECT_EQ(theEvent.getSignalCount(), 2);
    EXPECT_THROW(theEvent.reset(), qzException);
    EXPECT_EQ(theCapture.containing("* throwing qzErr_resFull").size(), 3u);
}

TEST(SingleEvent, NotificationsPostWindowFirstWithTheEventAddress)
{
    pf::ensureMessageQueue();
    pf::drainMessages();
    const pf::WindowHandle theWindow = pf::createWindowTarget();
    qzSingleEvent theEvent;
    theEvent.setNotifyWindow(theWindow, 1300, 5);
    theEvent.setNotifyThread(qzThread::getCurrentThreadID(), 1301, 6); // shared id and parameter
    theEvent.set();
    pf::OsMessage theFirst, theSecond, theNone;
    ASSERT_TRUE(pf::peekMessage(theFirst));
    ASSERT_TRUE(pf::peekMessage(theSecond));
    EXPECT_FALSE(pf::peekMessage(theNone));
    EXPECT_EQ(theFirst.itsWindow, theWindow);
    EXPECT_EQ(theSecond.itsWindow, 0u);
    for (const pf::OsMessage& curMessage : {theFirst, theSecond})
    {
        EXPECT_EQ(curMessage.itsMessage, 1301u);
        EXPECT_EQ(curMessage.itsFirstParam, reinterpret_cast<std::uintptr_t>(&theEvent));
        EXPECT_EQ(curMessage.itsSecondParam, 6);
    }
    // reset posts nothing; 0 switches a notification off.
    theEvent.reset();
    EXPECT_FALSE(pf::peekMessage(theNone));
    theEvent.setNotifyWindow(0, 1302, 0);
    theEvent.pulse();
    ASSERT_TRUE(pf::peekMessage(theFirst));
    EXPECT_EQ(theFirst.itsWindow, 0u);
    EXPECT_EQ(theFirst.itsMessage, 1302u);
    EXPECT_FALSE(pf::peekMessage(theNone));
    pf::destroyWindowTarget(theWindow);
}

TEST(MultiEvent, AnswersWithTheFirstSetMemberAndSumsCountsAndHandles)
{
    qzSingleEvent theFirst, theSecond, theThird;
    qzMultiEvent theInner(&theSecond, &theThird);
    qzMultiEvent theMulti(&theFirst, nullptr, &theInner);
    EXPECT_FALSE(theMulti.isSet());
    EXPECT_EQ(theMulti.getHandleCount(), 3);
    theThird.set();
    theThird.set();
    theSecond.set();
    EXPECT_TRUE(theMulti.isSet());
    EXPECT_EQ(theMulti.getSetEvent(), &theSecond);
    EXPECT_EQ(theMulti.getSignalCount(), 3);
    std::vector<qzEventHandle> theHandles;
    theMulti.addHandles(theHandles);
    ASSERT_EQ(theHandles.size(), 3u);
    EXPECT_EQ(theHandles[0], theFirst.getHandle());
    EXPECT_EQ(theHandles[2], theThird.getHandle());

    theMulti.reset();
    EXPECT_FALSE(theSecond.isSet());
    EXPECT_FALSE(theThird.isSet());
    theMulti.set();
    EXPECT_TRUE(theFirst.isSet());
    EXPECT_EQ(theMulti.getSignalCount(), 6);

    qzMultiEvent theEmpty;
    EXPECT_FALSE(theEmpty.isSet());
    EXPECT_EQ(theEmpty.getSetEvent(), nullptr);
    EXPECT_EQ(theEmpty.getHandleCount(), 0);
    EXPECT_EQ(theEmpty.getSignalCount(), 0);
}

TEST(MultiEvent, DuplicateAndAbsentMembersAreReported)
{
    CapturedLog theCapture;
    qzSingleEvent theFirst, theSecond;
    qzMultiEvent theMulti(&theFirst);
    theMulti.addEvent(&theFirst);
    EXPECT_EQ(theCapture.containing("Offending command: \"!containsEvent(inEvent)\"").size(), 1u);
    // Not added twice: it would be signalled and counted twice.
    EXPECT_EQ(theMulti.getHandleCount(), 1);
    theMulti.removeEvent(&theSecond);
    EXPECT_EQ(theCapture.containing("Offending command: \"containsEvent(inEvent)\"").size(), 1u);
    theMulti.removeEvent(&theFirst);
    EXPECT_FALSE(theMulti.containsEvent(&theFirst));
    EXPECT_EQ(theMulti.getHandleCount(), 0);
}

TEST(WaitForEvent, ReturnsAtOnceWhenSetAndTimesOutOtherwise)
{
    qzSingleEvent theEvent;
    EXPECT_TRUE(qzThread::waitForEvent(0, &theEvent, 0, false));
    EXPECT_TRUE(qzThread::waitForEvent(0, &theEvent, 0, true));
    EXPECT_TRUE(qzThread::waitForEvent(10, nullptr, 0, false));
    theEvent.set();
    EXPECT_FALSE(qzThread::waitForEvent(0xFFFFFFFFu, &theEvent, 0, false));
    qzSingleEvent theLate;
    std::thread theSetter(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            theLate.set();
        });
    qzMultiEvent theBoth(&theLate);
    EXPECT_FALSE(qzThread::waitForEvent(10000, &theBoth, 0, false));
    theSetter.join();
}

TEST(WaitForEvent, AStaleCountReturnsAtOnceWhenPulsedMeanwhile)
{
    qzSingleEvent theEvent;
    const std::int32_t theSeen = theEvent.getSignalCount();
    std::thread([&] { theEvent.pulse(); }).join(); // after the caller looked
    const auto theStart = std::chrono::steady_clock::now();
    EXPECT_FALSE(qzThread::waitForEvent(5000, &theEvent, theSeen, true));
    EXPECT_LT(std::chrono::steady_clock::now() - theStart, std::chrono::seconds(4));
    // The notification is switched off again.
    pf::OsMessage theMessage;
    theEvent.pulse();
    EXPECT_FALSE(pf::peekMessage(theMessage));
}

TEST(WaitForEvent, APulsingWaitGetsMessage1280AndWakesForAnyMessage)
{
    qzSingleEvent theEvent;
    std::atomic<std::uint32_t> theWaiterId{0};
    std::atomic<bool> theTimedOut{true};
    std::atomic<bool> theGot1280{false};
    std::thread theWaiter(
        [&]
        {
            theWaiterId = qzThread::getCurrentThreadID();
            theTimedOut = qzThread::waitForEvent(10000, &theEvent, theEvent.getSignalCount(), true);
            // The pulse's message follows its wake-up.
            pf::OsMessage theMessage;
            for (int i = 0; i < 100 && !theGot1280; ++i)
            {
                while (pf::peekMessage(theMessage))
                    if (theMessage.itsMessage == 1280 &&
                        theMessage.itsFirstParam == reinterpret_cast<std::uintptr_t>(&theEvent))
                        theGot1280 = true;
                pf::waitForAnyEventOrMessage({}, 20);
            }
        });
    while (theWaiterId == 0)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    theEvent.pulse();
    theWaiter.join();
    EXPECT_FALSE(theTimedOut);
    EXPECT_TRUE(theGot1280);

    // Any posted message ends the wait as "not timed out", event or not.
    std::atomic<bool> theDone{false};
    theWaiterId = 0;
    std::thread theSecond(
        [&]
        {
            theWaiterId = qzThread::getCurrentThreadID();
            theTimedOut = qzThread::waitForEvent(10000, &theEvent, theEvent.getSignalCount(), true);
            theDone = true;
        });
    while (theWaiterId == 0)
        std::this_thread::yield();
    // Posted repeatedly: the wait discards what came before it started.
    for (int i = 0; i < 400 && !theDone; ++i)
    {
        pf::postThreadMessage(theWaiterId, 77, 0, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    theSecond.join();
    EXPECT_FALSE(theTimedOut);
    EXPECT_FALSE(theEvent.isSet());
}

TEST(WaitForEvent, APulseReleasesEveryWaiterExactlyOnce)
{
    qzSingleEvent theEvent;
    constexpr int theWaiterCount = 5;
    std::atomic<int> theStarted{0};
    std::atomic<int> theReleased{0};
    std::atomic<int> theTimedOut{0};
    std::vector<std::thread> theWaiters;
    for (int i = 0; i < theWaiterCount; ++i)
        theWaiters.emplace_back(
            [&]
            {
                ++theStarted;
                if (qzThread::waitForEvent(10000, &theEvent, 0, false))
                    ++theTimedOut;
                else
                    ++theReleased;
            });
    while (theStarted < theWaiterCount)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    theEvent.pulse();
    for (auto& curWaiter : theWaiters)
        curWaiter.join();
    EXPECT_EQ(theReleased, theWaiterCount);
    EXPECT_EQ(theTimedOut, 0);
    EXPECT_EQ(theEvent.getSignalCount(), 1);
    EXPECT_FALSE(theEvent.isSet());
}
