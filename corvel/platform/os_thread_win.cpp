// Threads on Win32. Suspension and termination keep the cooperative contract
// of os_thread.h: SuspendThread and TerminateThread stop a thread wherever it
// is, possibly inside the heap's or the log's lock, which then stays taken
// for good; TerminateThread also skips every destructor. Instead each thread
// has a resume gate and a terminate event that every framework wait includes.
#include "corvel/platform/os_thread.h"

#include <atomic>
#include <exception>
#include <new>

#include <windows.h>

#include "corvel/platform/os_messages.h"

namespace corvel::platform
{

std::uint32_t currentThreadId() { return GetCurrentThreadId(); }

struct OsThreadObject
{
    CRITICAL_SECTION itsLock;
    HANDLE itsThread = nullptr;
    // Set while the suspension count is 0 or less.
    HANDLE itsResumeGate = nullptr;
    // Set once the thread is terminated: wakes every wait of the thread.
    HANDLE itsTerminate = nullptr;
    // Set once the entry returned or unwound.
    HANDLE itsEnded = nullptr;
    HANDLE itsStarted = nullptr;
    ThreadEntry itsEntry = nullptr;
    void* itsArgument = nullptr;
    std::int32_t itsSuspendCount = 1;
    bool itsEndedFlag = false;
    bool itsTerminated = false;
    std::uint32_t itsExitCode = threadStillActive;
    std::atomic<int> itsReferences{2};

    OsThreadObject() { InitializeCriticalSection(&itsLock); }
    ~OsThreadObject()
    {
        for (HANDLE curHandle : {itsThread, itsResumeGate, itsTerminate, itsEnded, itsStarted})
            if (curHandle != nullptr)
                CloseHandle(curHandle);
        DeleteCriticalSection(&itsLock);
    }
    OsThreadObject(const OsThreadObject&) = delete;
    OsThreadObject& operator=(const OsThreadObject&) = delete;

    void release()
    {
        if (itsReferences.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
};

namespace
{

thread_local OsThreadObject* theCurrentThread = nullptr;

class Locked
{
public:
    explicit Locked(OsThreadObject* inThread) : itsThread(inThread)
    {
        EnterCriticalSection(&itsThread->itsLock);
    }
    ~Locked() { LeaveCriticalSection(&itsThread->itsLock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    OsThreadObject* itsThread;
};

// Holds the thread at its resume gate; true when it was terminated.
bool holdWhileSuspended(OsThreadObject* inThread)
{
    for (;;)
    {
        {
            Locked theLock(inThread);
            if (inThread->itsTerminated)
                return true;
            if (inThread->itsSuspendCount <= 0)
                return false;
        }
        HANDLE theHandles[2] = {inThread->itsResumeGate, inThread->itsTerminate};
        WaitForMultipleObjects(2, theHandles, FALSE, INFINITE);
    }
}

DWORD WINAPI threadMain(LPVOID inArgument)
{
    OsThreadObject* theThread = static_cast<OsThreadObject*>(inArgument);
    theCurrentThread = theThread;
    ensureMessageQueue();
    SetEvent(theThread->itsStarted);
    const bool theRun = !holdWhileSuspended(theThread);
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
        Locked theLock(theThread);
        theThread->itsEndedFlag = true;
        if (!theThread->itsTerminated)
            theThread->itsExitCode = theExitCode;
        theExitCode = theThread->itsExitCode;
        SetEvent(theThread->itsEnded);
    }
    theCurrentThread = nullptr;
    theThread->release();
    return theExitCode;
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
    theThread->itsResumeGate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    theThread->itsTerminate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    theThread->itsEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    theThread->itsStarted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (theThread->itsResumeGate == nullptr || theThread->itsTerminate == nullptr ||
        theThread->itsEnded == nullptr || theThread->itsStarted == nullptr)
    {
        delete theThread;
        return nullptr;
    }
    // Created suspended so that the id is ours before the thread runs; it
    // then makes its message queue and holds at its resume gate, so a message
    // posted before resumeThread is not lost.
    DWORD theId = 0;
    theThread->itsThread =
        CreateThread(nullptr, 0, &threadMain, theThread, CREATE_SUSPENDED, &theId);
    if (theThread->itsThread == nullptr)
    {
        delete theThread;
        return nullptr;
    }
    ResumeThread(theThread->itsThread);
    WaitForSingleObject(theThread->itsStarted, INFINITE);
    outThreadId = theId;
    return theThread;
}

bool suspendThread(ThreadHandle inThread)
{
    if (inThread == nullptr)
        return false;
    Locked theLock(inThread);
    if (inThread->itsEndedFlag || inThread->itsTerminated)
        return false;
    if (++inThread->itsSuspendCount > 0)
        ResetEvent(inThread->itsResumeGate);
    return true;
}

bool resumeThread(ThreadHandle inThread)
{
    if (inThread == nullptr)
        return false;
    Locked theLock(inThread);
    if (inThread->itsSuspendCount > 0)
        --inThread->itsSuspendCount;
    if (inThread->itsSuspendCount <= 0)
        SetEvent(inThread->itsResumeGate);
    return true;
}

bool waitForThread(ThreadHandle inThread, std::uint32_t inTimeout)
{
    if (inThread == nullptr)
        return true;
    HANDLE theHandles[2] = {inThread->itsEnded, inThread->itsTerminate};
    return WaitForMultipleObjects(2, theHandles, FALSE, inTimeout) != WAIT_TIMEOUT;
}

std::uint32_t getThreadExitCode(ThreadHandle inThread)
{
    if (inThread == nullptr)
        return 0;
    Locked theLock(inThread);
    if (inThread->itsEndedFlag || inThread->itsTerminated)
        return inThread->itsExitCode;
    DWORD theCode = threadStillActive;
    if (!GetExitCodeThread(inThread->itsThread, &theCode))
        return threadStillActive;
    return theCode;
}

bool terminateThread(ThreadHandle inThread, std::uint32_t inExitCode)
{
    if (inThread == nullptr)
        return false;
    Locked theLock(inThread);
    if (inThread->itsEndedFlag)
        return false;
    if (inThread->itsTerminated)
        return true;
    inThread->itsTerminated = true;
    inThread->itsExitCode = inExitCode;
    SetEvent(inThread->itsTerminate);
    return true;
}

bool wasTerminated(ThreadHandle inThread)
{
    if (inThread == nullptr)
        return false;
    Locked theLock(inThread);
    return inThread->itsTerminated;
}

void waitForThreadExit(ThreadHandle inThread)
{
    if (inThread == nullptr)
        return;
    WaitForSingleObject(inThread->itsEnded, INFINITE);
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
    // Throwing while another exception unwinds would end the process.
    if (holdWhileSuspended(theThread) && std::uncaught_exceptions() == 0)
        throw ThreadTerminated();
}

namespace detail
{

// The terminate event of the calling thread when the porting layer created
// it, else null: every wait includes it so that termination interrupts it.
void* currentTerminateEvent()
{
    OsThreadObject* theThread = theCurrentThread;
    return theThread != nullptr ? theThread->itsTerminate : nullptr;
}

} // namespace detail

} // namespace corvel::platform
