// qzThread::select over real sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "corvel/threads/qzthread.h"
#include "tests/unit/threads/captured_log.h"

namespace
{
struct SocketPair
{
    int itsA = -1;
    int itsB = -1;
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, &itsA), 0); }
    ~SocketPair()
    {
        if (itsA >= 0)
            ::close(itsA);
        if (itsB >= 0)
            ::close(itsB);
    }
    void closeB()
    {
        ::close(itsB);
        itsB = -1;
    }
};

// A stream socket whose send buffer is full: open but not writable.
void fillUp(int inSocket)
{
    ::fcntl(inSocket, F_SETFL, ::fcntl(inSocket, F_GETFL) | O_NONBLOCK);
    char theChunk[4096] = {};
    while (::send(inSocket, theChunk, sizeof theChunk, 0) > 0)
    {
    }
}

std::atomic<int> theSignals{0};
void countSignal(int) { ++theSignals; }

long long msSince(std::chrono::steady_clock::time_point inStart)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 inStart)
        .count();
}
} // namespace

TEST(Select, AReadableSocketIsReportedInItsRecordAndTheResult)
{
    SocketPair thePair;
    std::vector<qzThread::selectInfo> theSockets{{thePair.itsA, qzThread::selectRead},
                                                 {thePair.itsB, qzThread::selectRead}};
    theSockets[0].itsReady = 0xFF; // cleared by the call
    EXPECT_EQ(qzThread::select(theSockets, 0), 0);
    EXPECT_EQ(theSockets[0].itsReady, 0);
    ASSERT_EQ(::write(thePair.itsB, "x", 1), 1);
    EXPECT_EQ(qzThread::select(theSockets, 2000), qzThread::selectRead);
    EXPECT_EQ(theSockets[0].itsReady, qzThread::selectRead);
    EXPECT_EQ(theSockets[1].itsReady, 0);
    EXPECT_EQ(qzThread::select(thePair.itsA, qzThread::selectRead | qzThread::selectWrite, 0),
              qzThread::selectRead | qzThread::selectWrite);
}

TEST(Select, ATimeOutOfZeroPollsOnce)
{
    SocketPair thePair;
    const auto theStart = std::chrono::steady_clock::now();
    EXPECT_EQ(qzThread::select(thePair.itsA, qzThread::selectRead, 0), 0);
    EXPECT_LT(msSince(theStart), 1000);
    EXPECT_EQ(qzThread::select(thePair.itsA, qzThread::selectRead, 60), 0);
    EXPECT_GE(msSince(theStart), 59);
}

TEST(Select, TwoRecordsOnOneSocketEachGetWhatWasFound)
{
    SocketPair thePair;
    std::vector<qzThread::selectInfo> theSockets{{thePair.itsA, qzThread::selectRead},
                                                 {thePair.itsA, qzThread::selectWrite}};
    EXPECT_EQ(qzThread::select(theSockets, 1000), qzThread::selectWrite);
    EXPECT_EQ(theSockets[0].itsReady, qzThread::selectWrite);
    EXPECT_EQ(theSockets[1].itsReady, qzThread::selectWrite);

    // Only readable now: the write record gets the read bit too.
    fillUp(thePair.itsA);
    ASSERT_EQ(::write(thePair.itsB, "y", 1), 1);
    EXPECT_EQ(qzThread::select(theSockets, 1000), qzThread::selectRead);
    EXPECT_EQ(theSockets[0].itsReady, qzThread::selectRead);
    EXPECT_EQ(theSockets[1].itsReady, qzThread::selectRead);
}

TEST(Select, AnInterruptedWaitGoesOnForTheRemainingTime)
{
    struct sigaction theAction = {};
    theAction.sa_handler = &countSignal;
    sigemptyset(&theAction.sa_mask);
    theAction.sa_flags = 0; // no SA_RESTART
    struct sigaction thePrevious = {};
    ASSERT_EQ(::sigaction(SIGUSR1, &theAction, &thePrevious), 0);

    SocketPair thePair;
    std::atomic<bool> theWaiting{false};
    std::atomic<int> theResult{-1};
    std::atomic<long long> theElapsed{0};
    std::thread theSelector(
        [&]
        {
            theWaiting = true;
            const auto theStart = std::chrono::steady_clock::now();
            theResult = qzThread::select(thePair.itsA, qzThread::selectRead, 1000);
            theElapsed = msSince(theStart);
        });
    while (!theWaiting)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::pthread_kill(theSelector.native_handle(), SIGUSR1);
    theSelector.join();
    ::sigaction(SIGUSR1, &thePrevious, nullptr);

    EXPECT_EQ(theSignals, 1);
    EXPECT_EQ(theResult, 0);
    // Retried with what was left of the 1000 ms, not with 1000 ms again.
    EXPECT_GE(theElapsed, 990);
    EXPECT_LT(theElapsed, 1250);
}

TEST(Select, InvalidDescriptorsAndEmptyRequestsAreErrorsNotEndlessWaits)
{
    CapturedLog theCapture;
    int theClosed = ::dup(0);
    ASSERT_GE(theClosed, 0);
    ::close(theClosed);
    std::vector<qzThread::selectInfo> theSockets{{theClosed, qzThread::selectRead}};
    EXPECT_EQ(qzThread::select(theSockets, 0xFFFFFFFFu), qzThread::selectError);
    EXPECT_EQ(theSockets[0].itsReady, 0);
    EXPECT_EQ(qzThread::select(-1, qzThread::selectWrite, 0xFFFFFFFFu), qzThread::selectError);
    EXPECT_EQ(theCapture.containing("* qzThread::select - error (9)").size(), 2u);

    SocketPair thePair;
    std::vector<qzThread::selectInfo> theNone;
    EXPECT_EQ(qzThread::select(theNone, 0xFFFFFFFFu), qzThread::selectError);
    EXPECT_EQ(qzThread::select(thePair.itsA, 0, 0xFFFFFFFFu), qzThread::selectError);
}

TEST(Select, AHungUpPeerEndsTheWaitWhateverWasAsked)
{
    SocketPair thePair;
    thePair.closeB();
    const auto theStart = std::chrono::steady_clock::now();
    EXPECT_EQ(qzThread::select(thePair.itsA, qzThread::selectRead, 5000), qzThread::selectRead);
    EXPECT_EQ(qzThread::select(thePair.itsA, qzThread::selectExcept, 5000), qzThread::selectExcept);
    EXPECT_LT(msSince(theStart), 4000);
}

TEST(Select, DescriptorsOfAnyValueAndCountAreWatched)
{
    // Far above FD_SETSIZE (1024), where a select set would be overrun.
    rlimit theLimit = {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &theLimit), 0);
    constexpr int theHighFd = 1500;
    if (theLimit.rlim_cur <= static_cast<rlim_t>(theHighFd))
    {
        theLimit.rlim_cur = std::min<rlim_t>(theLimit.rlim_max, theHighFd + 1);
        ::setrlimit(RLIMIT_NOFILE, &theLimit);
    }
    SocketPair thePair;
    if (::dup2(thePair.itsA, theHighFd) != theHighFd)
        GTEST_SKIP() << "cannot open descriptor " << theHighFd;
    ASSERT_EQ(::write(thePair.itsB, "z", 1), 1);
    EXPECT_EQ(qzThread::select(theHighFd, qzThread::selectRead, 1000), qzThread::selectRead);
    ::close(theHighFd);

    // No 64-socket cut on this platform: the 70th socket counts too.
    std::vector<SocketPair> thePairs(70);
    std::vector<qzThread::selectInfo> theSockets;
    for (const SocketPair& curPair : thePairs)
        theSockets.emplace_back(curPair.itsA, qzThread::selectRead);
    ASSERT_EQ(::write(thePairs.back().itsB, "w", 1), 1);
    EXPECT_EQ(qzThread::select(theSockets, 1000), qzThread::selectRead);
    EXPECT_EQ(theSockets.back().itsReady, qzThread::selectRead);
    EXPECT_EQ(theSockets.front().itsReady, 0);
}
