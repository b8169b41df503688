// qzThread: life cycle, failure barrier, stop and suspension, registry,
// children, counters and the log's thread names.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "corvel/messages/qzerrormessage.h"
#include "corvel/platform/os_random.h"
#include "corvel/threads/qzthread.h"
#include "corvel/util/qztimer.h"
#include "tests/unit/threads/captured_log.h"

namespace
{

class BodyThread : public qzThread
{
public:
    explicit BodyThread(std::function<void(BodyThread&)> inBody, qzThread* inParent = nullptr)
        : qzThread(inParent), itsBody(std::move(inBody))
    {
    }
    ~BodyThread() override
    {
        join();
        // After a forced stop the body may still be unwinding; it must have
        // left before the function it runs is destroyed.
        while (itsInBody.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void run() override
    {
        struct InBody
        {
            std::atomic<bool>& itsFlag;
            explicit InBody(std::atomic<bool>& inFlag) : itsFlag(inFlag) { itsFlag = true; }
            ~InBody() { itsFlag = false; }
        } theInBody(itsInBody);
        itsBody(*this);
    }
    bool preStart() override { return itsAllowStart; }

    bool itsAllowStart = true;

private:
    std::atomic<bool> itsInBody{false};
    std::function<void(BodyThread&)> itsBody;
};

// Waits for the thread's done event.
bool waitDone(qzThread& inThread)
{
    return !qzThread::waitForEvent(10000, &inThread.getDoneEvent(), 0, false);
}

} // namespace

TEST(Thread, ABodyThatReturnsRunsRegisteredAndEndsStoppedAndUnregistered)
{
    std::atomic<qzThread*> theFound{nullptr};
    std::atomic<int> theStateInside{-1};
    const std::int32_t theCreated = qzThread::getCreatedCount();
    const std::int32_t theTotal = qzThread::getTotalCount();
    BodyThread theThread(
        [&](BodyThread& inSelf)
        {
            theFound = qzThread::findThread(qzThread::getCurrentThreadID());
            theStateInside = inSelf.getState();
        });
    EXPECT_EQ(theThread.getState(), qzThread::starting);
    EXPECT_FALSE(theThread.isActive());
    theThread.start();
    const std::uint32_t theId = theThread.getThreadID();
    EXPECT_NE(theId, 0u);
    ASSERT_TRUE(waitDone(theThread));
    theThread.join();
    EXPECT_EQ(theFound, &theThread);
    EXPECT_EQ(theStateInside, qzThread::running);
    EXPECT_EQ(theThread.getState(), qzThread::stopped);
    EXPECT_TRUE(theThread.getDoneEvent().isSet());
    EXPECT_EQ(qzThread::findThread(theId), nullptr);
    EXPECT_EQ(theThread.getErrorMessage().getErrorValue(), qzErr_noError);
    EXPECT_EQ(qzThread::getCreatedCount(), theCreated + 1);
    EXPECT_EQ(qzThread::getTotalCount(), theTotal + 1);
}

TEST(Thread, FailuresOfTheBodyEndUpInTheErrorMessage)
{
    struct Case
    {
        std::function<void()> itsThrow;
        qzErr itsCode;
        std::string itsText;
    };
    const std::vector<Case> theCases{
        {[] { throw std::bad_alloc(); }, qzErr_memFull,
         "Could not perform operation because available memory is exhausted."},
        {[] { throw std::out_of_range("index 7"); }, qzErr_internal,
         "An unexpected exception \"index 7\" occurred. " QZ_SUPPORT_SENTENCE},
        {[] { throw qzException(qzErr_resFull, "Out of handles"); }, qzErr_resFull,
         "Out of handles."},
    };
    for (const Case& curCase : theCases)
    {
        BodyThread theThread([&](BodyThread&) { curCase.itsThrow(); });
        theThread.start();
        ASSERT_TRUE(waitDone(theThread));
        EXPECT_EQ(theThread.getState(), qzThread::stopped);
        EXPECT_EQ(theThread.getErrorMessage().getErrorValue(), curCase.itsCode);
        EXPECT_EQ(theThread.getErrorMessage().getText(), curCase.itsText);
    }
}

TEST(Thread, ANonStandardExceptionIsTracedAssertedAndRecordedAsInternal)
{
    CapturedLog theCapture;
    BodyThread theThread([](BodyThread&) { throw 42; });
    theThread.setName("thrower");
    theThread.start();
    ASSERT_TRUE(waitDone(theThread));
    EXPECT_EQ(theThread.getState(), qzThread::stopped);
    const qzErrorMessage& theError = theThread.getErrorMessage();
    EXPECT_EQ(theError.getErrorValue(), qzErr_internal);
    std::string theFile;
    ASSERT_TRUE(theError.hasParam('f'));
    ASSERT_TRUE(theError.hasParam('l'));
    EXPECT_NE(theError.getText().find("An internal error occurred in \""), std::string::npos);
    const auto theTraces =
        theCapture.containing("qzThread::executeRunMethod - unhandled exception threadId = 0x");
    ASSERT_EQ(theTraces.size(), 1u);
    EXPECT_NE(theTraces[0].find("threadName = \"thrower\""), std::string::npos);
    EXPECT_EQ(theCapture.containing("Offending command: \"false\"").size(), 1u);
}

TEST(Thread, ASecondDifferentFailureIsAProgrammingError)
{
    CapturedLog theCapture;
    BodyThread theThread(
        [](BodyThread& inSelf)
        {
            inSelf.setException(qzException(qzErr_resFull));
            inSelf.setException(qzException(qzErr_resFull)); // same code: fine
            EXPECT_TRUE(true);
            throw std::runtime_error("second");
        });
    theThread.start();
    ASSERT_TRUE(waitDone(theThread));
    EXPECT_EQ(theCapture
                  .containing("Offending command: \"(itsErrorMessage.getErrorValue() == "
                              "qzErr_noError) || ((typeid(inException) == "
                              "typeid(qzException))")
                  .size(),
              1u);
    EXPECT_EQ(theThread.getErrorMessage().getErrorValue(), qzErr_internal);
}

TEST(Thread, PreStartFalseCreatesNothing)
{
    CapturedLog theCapture;
    const std::int32_t theTotal = qzThread::getTotalCount();
    {
        BodyThread theThread([](BodyThread&) { ADD_FAILURE() << "body ran"; });
        theThread.itsAllowStart = false;
        theThread.start();
        EXPECT_EQ(theThread.getState(), qzThread::starting);
        EXPECT_EQ(theThread.getThreadID(), 0u);
        theThread.join(); // no thread: returns at once
        theThread.stop();
        EXPECT_EQ(theThread.getState(), qzThread::starting);
    }
    EXPECT_EQ(qzThread::getTotalCount(), theTotal);
    EXPECT_TRUE(theCapture.containing("Assertion failed").empty());
}

TEST(Thread, StopEndsAWellBehavedBodyWithItsCode)
{
    std::atomic<std::int32_t> theSeenCode{-1};
    BodyThread theThread(
        [&](BodyThread& inSelf)
        {
            qzThread::waitForEvent(0xFFFFFFFFu, &inSelf.getStopEvent(), 0, false);
            theSeenCode = inSelf.getStopCode();
        });
    theThread.start();
    theThread.requestStop(12);
    ASSERT_TRUE(waitDone(theThread));
    EXPECT_EQ(theSeenCode, 12);
    theThread.stop(); // already stopped: nothing more
    EXPECT_EQ(theThread.getState(), qzThread::stopped);
}

TEST(Thread, StopTerminatesABodyThatIgnoresItsStopEvent)
{
    CapturedLog theCapture;
    std::atomic<bool> theUnwound{false};
    std::atomic<bool> theStarted{false};
    const std::int32_t theDeleted = qzThread::getDeletedCount();
    std::uint32_t theId = 0;
    {
        qzSingleEvent theOther;
        BodyThread theThread(
            [&](BodyThread&)
            {
                struct Flag
                {
                    std::atomic<bool>& itsFlag;
                    ~Flag() { itsFlag = true; }
                } theFlag{theUnwound};
                theStarted = true;
                for (;;)
                    qzThread::waitForEvent(20, &theOther, 0, false);
            });
        theThread.start();
        theId = theThread.getThreadID();
        while (!theStarted)
            std::this_thread::yield();
        const auto theStart = std::chrono::steady_clock::now();
        theThread.stop();
        EXPECT_GE(std::chrono::steady_clock::now() - theStart, std::chrono::milliseconds(240));
        EXPECT_EQ(theThread.getState(), qzThread::stopped);
        EXPECT_TRUE(theThread.getDoneEvent().isSet());
        EXPECT_EQ(qzThread::findThread(theId), nullptr);
    }
    // The destructor waited for the real end: the body's stack unwound.
    EXPECT_TRUE(theUnwound);
    EXPECT_EQ(qzThread::getDeletedCount(), theDeleted + 1);
    EXPECT_TRUE(theCapture.containing("Assertion failed").empty());
}

TEST(Thread, SuspendHoldsTheBodyAndRequestStopResumesIt)
{
    std::atomic<long> theTurns{0};
    BodyThread theThread(
        [&](BodyThread& inSelf)
        {
            while (qzThread::waitForEvent(2, &inSelf.getStopEvent(), 0, false))
                ++theTurns;
        });
    theThread.start();
    while (theTurns < 3)
        std::this_thread::yield();
    theThread.suspend();
    EXPECT_EQ(theThread.getState(), qzThread::suspended);
    EXPECT_TRUE(theThread.isActive());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const long theHeldAt = theTurns;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(theTurns, theHeldAt);
    theThread.suspend(); // not running: nothing
    theThread.requestStop(3);
    EXPECT_NE(theThread.getState(), qzThread::suspended);
    ASSERT_TRUE(waitDone(theThread));
    EXPECT_EQ(theThread.getStopCode(), 3);
    EXPECT_EQ(theThread.getState(), qzThread::stopped);
}

TEST(Thread, ResumeAfterSuspendLetsTheBodyGoOn)
{
    std::atomic<long> theTurns{0};
    BodyThread theThread(
        [&](BodyThread& inSelf)
        {
            while (qzThread::waitForEvent(2, &inSelf.getStopEvent(), 0, false))
                ++theTurns;
        });
    theThread.start();
    theThread.suspend();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const long theHeldAt = theTurns;
    theThread.resume();
    EXPECT_EQ(theThread.getState(), qzThread::running);
    while (theTurns < theHeldAt + 3)
        std::this_thread::yield();
    theThread.stop();
    EXPECT_EQ(theThread.getState(), qzThread::stopped);
}

TEST(Thread, JoinOnItselfReturnsAtOnce)
{
    std::atomic<bool> theJoined{false};
    BodyThread theThread(
        [&](BodyThread& inSelf)
        {
            inSelf.join();
            theJoined = true;
        });
    theThread.start();
    theThread.join();
    EXPECT_TRUE(theJoined);
    EXPECT_EQ(theThread.getState(), qzThread::stopped);
}

TEST(Thread, DestroyingARunningThreadIsReportedAndStillEndsIt)
{
    CapturedLog theCapture;
    static std::atomic<bool> theInBody{false};
    static std::atomic<bool> theBodyLeft{false};
    // No join in its destructor: the base destructor finds it running.
    class Plain : public qzThread
    {
    public:
        Plain() : qzThread(nullptr) {}
        void run() override
        {
            qzSingleEvent& theStop = getStopEvent();
            theInBody = true;
            qzThread::waitForEvent(0xFFFFFFFFu, &theStop, 0, false);
            theBodyLeft = true;
        }
    };
    auto* thePlain = new Plain;
    thePlain->start();
    const std::uint32_t thePlainId = thePlain->getThreadID();
    while (!theInBody)
        std::this_thread::yield();
    delete thePlain;
    EXPECT_EQ(theCapture
                  .containing("Offending command: \"(itsThreadState == starting) || "
                              "(itsThreadState == stopped)\"")
                  .size(),
              1u);
    // It was asked to stop and did, before the object went away.
    EXPECT_TRUE(theBodyLeft);
    EXPECT_EQ(qzThread::findThread(thePlainId), nullptr);
}

TEST(Registry, EntriesFollowTheStateAndStoppedThreadsAreNotRegistered)
{
    std::atomic<bool> theRelease{false};
    BodyThread theThread(
        [&](BodyThread&)
        {
            while (!theRelease)
                qzThread::waitForEvent(2, nullptr, 0, false);
        });
    const std::int32_t theCount = qzThread::getThreadCount();
    theThread.start();
    EXPECT_EQ(qzThread::getThreadCount(), theCount + 1);
    EXPECT_EQ(qzThread::findThread(theThread.getThreadID()), &theThread);
    std::string theName = "unchanged";
    theThread.setName("registered");
    EXPECT_TRUE(qzThread::findThreadName(theThread.getThreadID(), theName));
    EXPECT_EQ(theName, "registered");
    theRelease = true;
    ASSERT_TRUE(waitDone(theThread));
    EXPECT_EQ(qzThread::getThreadCount(), theCount);
    theName = "unchanged";
    EXPECT_FALSE(qzThread::findThreadName(theThread.getThreadID(), theName));
    EXPECT_EQ(theName, "unchanged");

    const std::int32_t theTotal = qzThread::getTotalCount();
    qzThread::registerThread(4000000001u, &theThread); // stopped: ignored
    EXPECT_EQ(qzThread::findThread(4000000001u), nullptr);
    EXPECT_EQ(qzThread::getTotalCount(), theTotal);
}

TEST(Registry, ADefaultConstructedThreadNeedsARegisteredCaller)
{
    CapturedLog theCapture;
    qzMainThread::rebind(); // the main thread object is this test's thread
    class Child : public qzThread
    {
    public:
        void run() override {}
    };
    {
        Child theChild; // made here: its parent is the main thread object
        EXPECT_EQ(theChild.getParent(), qzThread::getMainThread());
    }
    EXPECT_TRUE(theCapture.containing("Assertion failed").empty());
    std::thread(
        []
        {
            Child theOrphan; // an OS thread without a thread object
            EXPECT_EQ(theOrphan.getParent(), nullptr);
        })
        .join();
    EXPECT_EQ(theCapture.containing("Offending command: \"result\"").size(), 1u);
}

TEST(Children, StopJoinAndDeleteWorkOnEveryChild)
{
    BodyThread theParent([](BodyThread&) {});
    std::vector<BodyThread*> theChildren;
    for (int i = 0; i < 3; ++i)
    {
        theChildren.push_back(new BodyThread(
            [](BodyThread& inSelf)
            { qzThread::waitForEvent(0xFFFFFFFFu, &inSelf.getStopEvent(), 0, false); },
            &theParent));
        theChildren.back()->start();
    }
    EXPECT_EQ(theParent.getChildren().size(), 3u);
    theParent.requestStopAllChildren(9);
    theParent.joinAllChildren();
    for (BodyThread* curChild : theChildren)
    {
        EXPECT_EQ(curChild->getStopCode(), 9);
        EXPECT_TRUE(waitDone(*curChild));
    }
    theParent.deleteAllChildren();
    EXPECT_TRUE(theParent.getChildren().empty());
}

TEST(Counters, StayExactWhenManyThreadsStartAndEndAtOnce)
{
    const std::int32_t theCreated = qzThread::getCreatedCount();
    const std::int32_t theTotal = qzThread::getTotalCount();
    const std::int32_t theDeleted = qzThread::getDeletedCount();
    std::vector<std::thread> theStarters;
    for (int s = 0; s < 4; ++s)
        theStarters.emplace_back(
            []
            {
                std::vector<std::unique_ptr<BodyThread>> theThreads;
                for (int i = 0; i < 5; ++i)
                {
                    theThreads.push_back(std::make_unique<BodyThread>([](BodyThread&) {}));
                    theThreads.back()->start();
                }
                for (auto& curThread : theThreads)
                    curThread->join();
            });
    for (auto& curStarter : theStarters)
        curStarter.join();
    EXPECT_EQ(qzThread::getCreatedCount(), theCreated + 20);
    EXPECT_EQ(qzThread::getTotalCount(), theTotal + 20);
    EXPECT_EQ(qzThread::getDeletedCount(), theDeleted + 20);
}

TEST(Concurrency, EightThreadsShareOneMutexAndTheLog)
{
    CapturedLog theCapture;
    qzMemMutex theMutex;
    long theCounter = 0;
    std::vector<std::unique_ptr<BodyThread>> theThreads;
    for (int t = 0; t < 8; ++t)
    {
        theThreads.push_back(std::make_unique<BodyThread>(
            [&](BodyThread&)
            {
                for (int i = 0; i < 2000; ++i)
                {
                    qzStMutex theLock(&theMutex);
                    ++theCounter;
                    if (i % 200 == 0)
                        infoLog(qzLogInfo, "turn %d", i);
                }
            }));
        theThreads.back()->setName("hammer" + std::to_string(t));
    }
    for (auto& curThread : theThreads)
        curThread->start();
    for (auto& curThread : theThreads)
        curThread->join();
    EXPECT_EQ(theCounter, 8 * 2000);
    EXPECT_EQ(theCapture.containing("turn ").size(), 80u);
    EXPECT_FALSE(theMutex.isLocked());
}

TEST(Concurrency, EveryLogLineNamesAStartedThread)
{
    setInfoLog("", qzLogToStdErr);
    setInfoLogLevel(qzLogDebug);
    BodyThread theThread([](BodyThread&) { infoLog(qzLogError, "from the worker"); });
    theThread.setName("worker-seven");
    testing::internal::CaptureStderr();
    theThread.start();
    theThread.join();
    const std::string theOutput = testing::internal::GetCapturedStderr();
    const auto theLine = theOutput.find("from the worker");
    ASSERT_NE(theLine, std::string::npos) << theOutput;
    const auto theLineStart = theOutput.rfind('\n', theLine);
    const std::string theWhole =
        theOutput.substr(theLineStart == std::string::npos ? 0 : theLineStart + 1);
    EXPECT_NE(theWhole.find("worker-seven"), std::string::npos) << theWhole;
}

TEST(Thread, EachBodySeedsItsOwnRandomGenerator)
{
    std::atomic<int> theFirst{-1};
    std::atomic<std::uint32_t> theTickBefore{0}, theTickAfter{0};
    BodyThread theThread([&](BodyThread&) { theFirst = corvel::platform::nextRandom(); });
    theTickBefore = getTickCountModMax();
    theThread.start();
    theThread.join();
    theTickAfter = getTickCountModMax();
    // Seeded with the address, one value drawn, reseeded with it XOR the
    // tick count of that moment.
    bool theMatched = false;
    for (std::uint32_t curTick = theTickBefore; curTick <= theTickAfter && !theMatched; ++curTick)
    {
        std::thread(
            [&]
            {
                corvel::platform::seedRandom(
                    static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&theThread)));
                const auto theValue = static_cast<std::uint32_t>(corvel::platform::nextRandom());
                corvel::platform::seedRandom(theValue ^ curTick);
                theMatched = corvel::platform::nextRandom() == theFirst;
            })
            .join();
    }
    EXPECT_TRUE(theMatched);
}
