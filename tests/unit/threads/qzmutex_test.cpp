// The recursive, owner-tracking mutex and the scoped lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "corvel/threads/qzmutex.h"
#include "tests/support/log_capture.h"

TEST(MemMutex, RecursiveLockIsFreeOnlyAfterTheLastUnlock)
{
    qzMemMutex theMutex;
    EXPECT_FALSE(theMutex.isLocked());
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(theMutex.lock());
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_TRUE(theMutex.isLocked());
        theMutex.unlock();
    }
    EXPECT_FALSE(theMutex.isLocked());
}

TEST(MemMutex, SecondThreadWaitsForTheOwnersLastUnlock)
{
    qzMemMutex theMutex;
    std::atomic<bool> theAcquired{false};
    theMutex.lock();
    theMutex.lock();
    std::thread theOther(
        [&]
        {
            theMutex.lock();
            theAcquired = true;
            theMutex.unlock();
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(theAcquired);
    theMutex.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(theAcquired);
    theMutex.unlock();
    theOther.join();
    EXPECT_TRUE(theAcquired);
    EXPECT_FALSE(theMutex.isLocked());
}

TEST(MemMutex, UnlockByAnotherThreadOrOfAFreeMutexChangesNothing)
{
    LogCapture theCapture;
    qzMemMutex theMutex;
    theMutex.unlock();
    EXPECT_FALSE(theMutex.isLocked());
    theMutex.lock();
    std::thread([&] { theMutex.unlock(); }).join();
    EXPECT_TRUE(theMutex.isLocked());
    theMutex.unlock();
    EXPECT_FALSE(theMutex.isLocked());
    EXPECT_TRUE(theCapture.texts().empty());
}

TEST(MemMutex, ManyThreadsKeepACounterExact)
{
    qzMemMutex theMutex;
    long theCounter = 0;
    std::vector<std::thread> theThreads;
    for (int t = 0; t < 8; ++t)
        theThreads.emplace_back(
            [&]
            {
                for (int i = 0; i < 5000; ++i)
                {
                    qzStMutex theLock(&theMutex);
                    qzStMutex theInner(&theMutex); // re-entry by the owner
                    ++theCounter;
                }
            });
    for (auto& curThread : theThreads)
        curThread.join();
    EXPECT_EQ(theCounter, 8 * 5000);
    EXPECT_FALSE(theMutex.isLocked());
}

TEST(MemMutex, DestroyingAHeldMutexIsReported)
{
    LogCapture theCapture;
    auto* theMutex = new qzMemMutex;
    theMutex->lock();
    delete theMutex;
    EXPECT_EQ(theCapture.containing("Offending command: \"!numLocks\"").size(), 1u);
}

TEST(StMutex, NullMutexIsReported)
{
    LogCapture theCapture;
    {
        qzStMutex theLock(nullptr);
        theLock.unlock();
    }
    EXPECT_EQ(theCapture.containing("Offending command: \"itsMutex\"").size(), 1u);
}

TEST(StMutex, EarlyUnlockIsNotRepeatedByTheDestructor)
{
    qzMemMutex theMutex;
    theMutex.lock(); // held once outside the scope
    {
        qzStMutex theLock(&theMutex);
        theLock.unlock();
        EXPECT_TRUE(theMutex.isLocked()); // the outer hold remains
        theLock.lock();
        theLock.lock(); // already held by this scope: no second count
        theLock.unlock();
    }
    EXPECT_TRUE(theMutex.isLocked());
    theMutex.unlock();
    EXPECT_FALSE(theMutex.isLocked());
}
