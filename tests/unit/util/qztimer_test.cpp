#include "corvel/util/qztimer.h"
#include "corvel/testing/timer_hooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace
{
std::atomic<std::uint32_t> theFakeTicks{0};

std::uint32_t fakeTicks() { return theFakeTicks.load(std::memory_order_relaxed); }

// Puts the timers on a tick counter the test moves by hand.
class TimerOnFakeTicks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        theFakeTicks = 0;
        qzSetTickSource(&fakeTicks);
    }
    void TearDown() override { qzSetTickSource(nullptr); }

    static void setTicks(std::uint32_t inTicks) { theFakeTicks = inTicks; }

    // A timer started inElapsed milliseconds ago, formatted.
    static std::string formatted(std::uint32_t inElapsed)
    {
        setTicks(1000);
        qzTimer theTimer(1);
        setTicks(1000 + inElapsed);
        char theBuffer[32];
        std::memset(theBuffer, '#', sizeof theBuffer);
        return theTimer.formatElapsed(theBuffer);
    }
};
} // namespace

// ------------------------------------------------------------ fields and start

TEST_F(TimerOnFakeTicks, ConstructionClearAndStart)
{
    qzTimer theCleared;
    EXPECT_TRUE(theCleared.isCleared());
    qzTimer theFlagTwo(2); // only the flag 1 starts
    EXPECT_TRUE(theFlagTwo.isCleared());

    setTicks(500);
    qzTimer theStarted(1);
    EXPECT_FALSE(theStarted.isCleared());
    EXPECT_EQ(theStarted.getStartTicks(), 500u);

    qzTimer theCopy(theStarted);
    EXPECT_EQ(theCopy.getStartTicks(), 500u);
    EXPECT_EQ(theCopy.getSequenceNumber(), theStarted.getSequenceNumber());
    qzTimer theAssigned;
    theAssigned = theStarted;
    EXPECT_EQ(theAssigned.getSequenceNumber(), theStarted.getSequenceNumber());

    theStarted.clear();
    EXPECT_TRUE(theStarted.isCleared());
    EXPECT_EQ(theStarted.getStartTicks(), 0u);
    EXPECT_FALSE(theCopy.isCleared());
}

TEST(Timer, StartTimerRunsBeforeEverythingElse)
{
    // Started first of all static objects: it holds the first number.
    EXPECT_EQ(theStartTimer.getSequenceNumber(), 0u);
    qzTimer theNow(1);
    EXPECT_TRUE(theStartTimer.isEarlier(theNow));
    EXPECT_GE(theStartTimer.distance(theNow), 0);
}

TEST_F(TimerOnFakeTicks, EachStartTakesTheNextSequenceNumber)
{
    qzTimer theFirst(1);
    qzTimer theSecond(1);
    EXPECT_EQ(theSecond.getSequenceNumber(), theFirst.getSequenceNumber() + 1);
    theFirst.start(); // a restart is a new start
    EXPECT_EQ(theFirst.getSequenceNumber(), theSecond.getSequenceNumber() + 1);
    EXPECT_TRUE(theSecond.isEarlier(theFirst));
    EXPECT_FALSE(theFirst.isEarlier(theSecond));
    EXPECT_FALSE(theFirst.isEarlier(theFirst));
}

// ------------------------------------------------------------ elapsed and wrap

TEST_F(TimerOnFakeTicks, ElapsedBridgesTheWrap)
{
    setTicks(4294967290u);
    qzTimer theTimer(1);
    setTicks(5);
    EXPECT_EQ(theTimer.elapsed(), 10u); // a period of 4294967295 ticks, not 2^32

    setTicks(4294967290u);
    EXPECT_EQ(theTimer.elapsed(), 0u);
    setTicks(4294967295u);
    EXPECT_EQ(theTimer.elapsed(), 5u);
    setTicks(0);
    EXPECT_EQ(theTimer.elapsed(), 5u);
}

TEST(TimerDifference, Rule)
{
    EXPECT_EQ(qzTimer::tickDifference(100, 250), 150u);
    EXPECT_EQ(qzTimer::tickDifference(7, 7), 0u);
    EXPECT_EQ(qzTimer::tickDifference(4294967290u, 5), 10u);
    EXPECT_EQ(qzTimer::tickDifference(1, 0), 4294967294u);
    EXPECT_EQ(qzTimer::tickDifference(0, 4294967295u), 4294967295u);
}

TEST_F(TimerOnFakeTicks, TickCountModMax)
{
    setTicks(4294967295u);
    EXPECT_EQ(getTickCountModMax(), 0u);
    setTicks(4294967294u);
    EXPECT_EQ(getTickCountModMax(), 4294967294u);
    setTicks(12);
    EXPECT_EQ(getTickCountModMax(), 12u);
}

// ------------------------------------------------------------ signed distance

TEST_F(TimerOnFakeTicks, DistanceSignFollowsTheStartOrder)
{
    setTicks(1000);
    qzTimer theEarly(1);
    qzTimer theSameMs(1);
    EXPECT_TRUE(theEarly.isEarlier(theSameMs));
    EXPECT_EQ(theEarly.distance(theSameMs), 0);
    EXPECT_EQ(theSameMs.distance(theEarly), 0);

    setTicks(1250);
    qzTimer theLate(1);
    EXPECT_EQ(theEarly.distance(theLate), 250);
    EXPECT_EQ(theLate.distance(theEarly), -250);
}

TEST_F(TimerOnFakeTicks, DistanceAcrossTheWrap)
{
    setTicks(4294967000u);
    qzTimer theEarly(1);
    setTicks(300);
    qzTimer theLate(1);
    EXPECT_EQ(theEarly.distance(theLate), 595);
    EXPECT_EQ(theLate.distance(theEarly), -595);
}

TEST_F(TimerOnFakeTicks, DistanceIsClamped)
{
    setTicks(0);
    qzTimer theEarly(1);

    setTicks(2147483646u);
    qzTimer theJustUnder(1);
    EXPECT_EQ(theEarly.distance(theJustUnder), 2147483646);
    EXPECT_EQ(theJustUnder.distance(theEarly), -2147483646);

    setTicks(2147483647u);
    qzTimer theAtLimit(1);
    EXPECT_EQ(theEarly.distance(theAtLimit), 2147483647);
    EXPECT_EQ(theAtLimit.distance(theEarly), -2147483647 - 1);

    setTicks(4000000000u); // about 46 days
    qzTimer theFar(1);
    EXPECT_EQ(theEarly.distance(theFar), 2147483647);
    EXPECT_EQ(theFar.distance(theEarly), -2147483647 - 1);
}

// ------------------------------------------------------------ formatElapsed

TEST_F(TimerOnFakeTicks, FormatElapsedExamples)
{
    EXPECT_EQ(formatted(45), "00:00:00:45");
    EXPECT_EQ(formatted(123), "00:00:00:123");
    EXPECT_EQ(formatted(3600000 + 2 * 60000 + 3 * 1000 + 4), "01:02:03:04");
    EXPECT_EQ(formatted(100u * 3600000u), "100:00:00:00");
    EXPECT_EQ(formatted(0), "00:00:00:00");
    EXPECT_EQ(formatted(59999), "00:00:59:999");
    EXPECT_EQ(formatted(10 * 3600000 + 10 * 60000 + 10 * 1000 + 10), "10:10:10:10");
}

TEST_F(TimerOnFakeTicks, FormatElapsedLongestText)
{
    // The largest elapsed value: 1193 hours, 2 minutes, 47 seconds, 295 ms.
    setTicks(0);
    qzTimer theTimer(1);
    setTicks(4294967295u);
    ASSERT_EQ(theTimer.elapsed(), 4294967295u);

    char theBuffer[15 + 8];
    std::memset(theBuffer, '#', sizeof theBuffer);
    char* theResult = theTimer.formatElapsed(theBuffer);
    EXPECT_EQ(theResult, theBuffer);
    EXPECT_STREQ(theBuffer, "1193:02:47:295");
    EXPECT_EQ(std::strlen(theBuffer), 14u);
    // Exactly the text and its terminator were written.
    for (std::size_t curIndex = 15; curIndex < sizeof theBuffer; ++curIndex)
        EXPECT_EQ(theBuffer[curIndex], '#') << curIndex;
}

TEST_F(TimerOnFakeTicks, SizedFormatNeverWritesPastTheSize)
{
    setTicks(0);
    qzTimer theTimer(1);
    setTicks(100u * 3600000u + 5);
    const std::string theFull = "100:00:00:05";

    for (std::size_t curSize = 1; curSize <= theFull.size() + 3; ++curSize)
    {
        char theBuffer[32];
        std::memset(theBuffer, '#', sizeof theBuffer);
        char* theResult = theTimer.formatElapsed(theBuffer, curSize);
        EXPECT_EQ(theResult, theBuffer);
        const std::size_t theKept = std::min(curSize - 1, theFull.size());
        EXPECT_EQ(std::string(theBuffer), theFull.substr(0, theKept)) << "size " << curSize;
        for (std::size_t curIndex = curSize; curIndex < sizeof theBuffer; ++curIndex)
            ASSERT_EQ(theBuffer[curIndex], '#') << "size " << curSize << " index " << curIndex;
    }

    char theUntouched = '#';
    theTimer.formatElapsed(&theUntouched, 0);
    EXPECT_EQ(theUntouched, '#');
    EXPECT_EQ(theTimer.formatElapsed(nullptr, 10), nullptr);
}

TEST(Timer, RealTickSourceMovesForward)
{
    qzSetTickSource(nullptr);
    qzTimer theTimer(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::uint32_t theElapsed = theTimer.elapsed();
    EXPECT_GE(theElapsed, 15u);
    EXPECT_LT(theElapsed, 60u * 1000u);
}

// ------------------------------------------------------------ concurrency

TEST(TimerConcurrency, ConcurrentStartsGetDistinctSequenceNumbers)
{
    constexpr int theThreadCount = 4;
    constexpr int theStartsPerThread = 5000;
    std::vector<std::vector<std::uint32_t>> theNumbers(theThreadCount);
    std::atomic<bool> theGo{false};
    std::vector<std::thread> theThreads;
    for (int curThread = 0; curThread < theThreadCount; ++curThread)
    {
        theThreads.emplace_back(
            [&theNumbers, &theGo, curThread]
            {
                while (!theGo.load())
                    std::this_thread::yield();
                qzTimer theTimer;
                theNumbers[curThread].reserve(theStartsPerThread);
                for (int curStart = 0; curStart < theStartsPerThread; ++curStart)
                {
                    theTimer.start();
                    theNumbers[curThread].push_back(theTimer.getSequenceNumber());
                }
            });
    }
    const std::uint32_t theBefore = qzTimer(1).getSequenceNumber();
    theGo = true;
    for (std::thread& curThread : theThreads)
        curThread.join();
    const std::uint32_t theAfter = qzTimer(1).getSequenceNumber();

    std::vector<std::uint32_t> theAll;
    for (const auto& curList : theNumbers)
        theAll.insert(theAll.end(), curList.begin(), curList.end());
    std::sort(theAll.begin(), theAll.end());
    EXPECT_EQ(std::adjacent_find(theAll.begin(), theAll.end()), theAll.end());
    ASSERT_EQ(theAll.size(), static_cast<std::size_t>(theThreadCount * theStartsPerThread));
    // No start was lost: the numbers fill the range between the two probes.
    EXPECT_EQ(theAfter - theBefore - 1, theAll.size());
    EXPECT_EQ(theAll.front(), theBefore + 1);
    EXPECT_EQ(theAll.back(), theAfter - 1);
}
