#include "corvel/platform/os_thread.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <new>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "corvel/platform/os_messages.h"
#include "corvel/platform/os_wait_posix.h"

namespace corvel::platform
{

std::uint32_t currentThreadId()
{
    // The kernel's thread id: unique among live threads, never 0, and the id
    // tools such as top and gdb show.
    thread_local const std::uint32_t theId = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    return theId;
}

struct OsThreadObject
{
    std::mutex itsMutex;
    std::condition_variable itsCondition;
    ThreadEntry itsEntry = nullptr;
    void* itsArgument = nullptr;
    std::uint32_t itsThreadId = 0;
    bool itsIdKnown = false;
    // Created suspended.
    std::int32_t itsSuspendCount = 1;
    // The entry returned or unwound.
    bool itsEnded = false;
    bool itsTerminated = false;
    std::uint32_t itsExitCode = threadStillActive;
    // The Waiter of the wait the thread is blocked in, if any.
    detail::Waiter* itsWaiter = nullptr;
    // One reference for the handle, one for the running thread.
    std::atomic<int> itsReferences{2};

    void release()
    {
        if (itsReferences.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
};

namespace
{

thread_local OsThreadObject* theCurrentThread = nullptr;

void* threadMain(void* inArgument)
{
    OsThreadObject* theThread = static_cast<OsThreadObject*>(inArgument);
    theCurrentThread = theThread;
    ensureMessageQueue();
    bool theRun = false;
    {
        std::unique_lock<std::mutex> theLock(theThread->itsMutex);
        theThread->itsThreadId = currentThreadId();
        theThread->itsIdKnown = true;
        theThread->itsCondition.notify_all();
        theThread->itsCondition.wait(
            theLock,
            [theThread] { return theThread->itsSuspendCount <= 0 || theThread->itsTerminated; });
        theRun = !theThread->itsTerminated;
    }
    std::uint32_t theExitCode = 0;
    if (theRun)
    {
        try
        {
            theExitCode = theThread->itsEntry(theThread->itsArgument);
        }
        catch (const ThreadTerminated&)
        {
        }
        catch (...)
        {
            // An entry is expected to keep its failures; one that escapes
            // must not end the process.
            theExitCode = 1;
        }
    }
    {
        std::lock_guard<std::mutex> theLock(theThread->itsMutex);
        theThread->itsEnded = true;
        if (!theThread->itsTerminated)
            theThread->itsExitCode = theExitCode;
        theThread->itsCondition.notify_all();
    }
    theCurrentThread = nullptr;
    theThread->release();
    return nullptr;
}

} // namespace

ThreadHandle createSuspendedThread(ThreadEntry inEntry, void* inArgument,
                                   std::uint32_t& outThreadId)
{
    outThreadId = 0;
    OsThreadObject* theThread = new (std::nothrow) OsThreadObject;
    if (theThread == nullptr)
        return nullptr;
    theThread->itsEntry = inEntry;
    theThread->itsArgument = inArgument;

    pthread_attr_t theAttributes;
    if (pthread_attr_init(&theAttributes) != 0)
    {
        delete theThread;
        return nullptr;
    }
    // Nobody joins: waitForThread and waitForThreadExit watch the record.
    pthread_attr_setdetachstate(&theAttributes, PTHREAD_CREATE_DETACHED);
    pthread_t theNative;
    const int theError = pthread_create(&theNative, &theAttributes, &threadMain, theThread);
    pthread_attr_destroy(&theAttributes);
    if (theError != 0)
    {
        delete theThread;
        return nullptr;
    }
    std::unique_lock<std::mutex> theLock(theThread->itsMutex);
    theThread->itsCondition.wait(theLock, [theThread] { return theThread->itsIdKnown; });
    outThreadId = theThread->itsThreadId;
    return theThread;
}

bool suspendThread(ThreadHandle inThread)
{
    if (inThread == nullptr)
        return false;
    std::lock_guard<std::mutex> theLock(inThread->itsMutex);
    if (inThread->itsEnded || inThread->itsTerminated)
        return false;
    ++inThread->itsSuspendCount;
    return true;
}

bool resumeThread(ThreadHandle inThread)
{
    if (inThread == nullptr)
        return false;
    std::lock_guard<std::mutex> theLock(inThread->itsMutex);
    if (inThread->itsSuspendCount > 0)
        --inThread->itsSuspendCount;
    inThread->itsCondition.notify_all();
    return true;
}

bool waitForThread(ThreadHandle inThread, std::uint32_t inTimeout)
{
    if (inThread == nullptr)
        return true;
    std::unique_lock<std::mutex> theLock(inThread->itsMutex);
    auto theOver = [inThread] { return inThread->itsEnded || inThread->itsTerminated; };
    if (inTimeout == waitForever)
    {
        inThread->itsCondition.wait(theLock, theOver);
        return true;
    }
    return inThread->itsCondition.wait_for(theLock, std::chrono::milliseconds(inTimeout), theOver);
}

std::uint32_t getThreadExitCode(ThreadHandle inThread)
{
    if (inThread == nullptr)
        return 0;
    std::lock_guard<std::mutex> theLock(inThread->itsMutex);
    return inThread->itsExitCode;
}

bool terminateThread(ThreadHandle inThread, std::uint32_t inExitCode)
{
    if (inThread == nullptr)
        return false;
    std::lock_guard<std::mutex> theLock(inThread->itsMutex);
    if (inThread->itsEnded)
        return false;
    if (inThread->itsTerminated)
        return true;
    inThread->itsTerminated = true;
    inThread->itsExitCode = inExitCode;
    inThread->itsCondition.notify_all();
    if (inThread->itsWaiter != nullptr)
        inThread->itsWaiter->interrupt();
    return true;
}

bool wasTerminated(ThreadHandle inThread)
{
    if (inThread == nullptr)
        return false;
    std::lock_guard<std::mutex> theLock(inThread->itsMutex);
    return inThread->itsTerminated;
}

void waitForThreadExit(ThreadHandle inThread)
{
    if (inThread == nullptr)
        return;
    std::unique_lock<std::mutex> theLock(inThread->itsMutex);
    inThread->itsCondition.wait(theLock, [inThread] { return inThread->itsEnded; });
}

void closeThread(ThreadHandle inThread)
{
    if (inThread != nullptr)
        inThread->release();
}

void threadCheckpoint()
{
    OsThreadObject* theThread = theCurrentThread;
    if (theThread == nullptr)
        return;
    bool theTerminated = false;
    {
        std::unique_lock<std::mutex> theLock(theThread->itsMutex);
        theThread->itsCondition.wait(
            theLock,
            [theThread] { return theThread->itsSuspendCount <= 0 || theThread->itsTerminated; });
        theTerminated = theThread->itsTerminated;
    }
    // Throwing while another exception unwinds would end the process.
    if (theTerminated && std::uncaught_exceptions() == 0)
        throw ThreadTerminated();
}

namespace detail
{

bool attachThreadWaiter(Waiter* inWaiter)
{
    OsThreadObject* theThread = theCurrentThread;
    if (theThread == nullptr)
        return true;
    std::lock_guard<std::mutex> theLock(theThread->itsMutex);
    if (theThread->itsTerminated)
        return false;
    theThread->itsWaiter = inWaiter;
    return true;
}

void detachThreadWaiter(Waiter* inWaiter)
{
    OsThreadObject* theThread = theCurrentThread;
    if (theThread == nullptr)
        return;
    std::lock_guard<std::mutex> theLock(theThread->itsMutex);
    if (theThread->itsWaiter == inWaiter)
        theThread->itsWaiter = nullptr;
}

} // namespace detail

} // namespace corvel::platform
