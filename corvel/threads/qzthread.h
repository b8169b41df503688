// Framework threads and the process-wide thread registry.
//
// A qzThread owns one OS thread and runs the virtual run on it inside an
// exception barrier: a failure of the body never leaves the thread, it is
// recorded in the thread's error message. States: starting -> running ->
// (suspended <-> running) -> stopped. Threads form a tree: each knows its
// parent and keeps a list of its children (not owned).
//
// The registry maps OS thread ids to qzThread objects so that any code can
// find the thread object it runs on (the information log names the thread
// this way). It is guarded by the registry mutex, which also serialises every
// state change; the registry mutex may be held while the event mutex is
// taken, never the reverse.
//
// qzMainThread stands for the thread that started the process; exactly one
// instance exists, built during static initialisation.
//
// On POSIX, suspension and forced termination are cooperative (see
// corvel/platform/os_thread.h): suspend holds the thread at its next
// framework wait; stop's forced termination, after the 250 ms grace period,
// marks the thread stopped at once, interrupts the framework wait it is in
// and unwinds its body at its next framework wait. The object's destructor
// then waits for that real end, so no thread runs on a freed object's OS
// state. A derived class whose body ignores its stop event must therefore
// keep the body waiting in framework waits (waitForEvent, select), or the
// destructor waits until the body returns by itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "corvel/messages/qzerrormessage.h"
#include "corvel/platform/os_thread.h"
#include "corvel/threads/qzevent.h"
#include "corvel/threads/qzmutex.h"
#include "corvel/util/qztimer.h"

class qzThread
{
public:
    enum ThreadState : std::int32_t
    {
        starting = 0,
        running = 1,
        suspended = 2,
        stopped = 3
    };

    // Condition and result bits of select.
    enum : std::uint16_t
    {
        selectError = 1,
        selectRead = 2,
        selectWrite = 4,
        selectExcept = 8
    };

    // One socket of a select call.
    struct selectInfo
    {
        selectInfo(std::int32_t inSocket, std::uint16_t inWanted)
            : itsSocket(inSocket), itsWanted(inWanted), itsReady(0)
        {
        }
        std::int32_t itsSocket;
        // Conditions to watch: selectRead, selectWrite, selectExcept.
        std::uint16_t itsWanted;
        // Conditions found; cleared by select before it waits.
        std::uint16_t itsReady;
    };

    // The parent is the thread object of the calling OS thread (asserted to
    // exist).
    qzThread();
    // inParent may be null.
    explicit qzThread(qzThread* inParent);
    // Only before start or after the thread stopped.
    virtual ~qzThread();

    qzThread(const qzThread&) = delete;
    qzThread& operator=(const qzThread&) = delete;

    // Running or suspended: resumes the thread, stores the code and sets the
    // stop event. Otherwise nothing.
    virtual void requestStop(std::int32_t inStopCode);
    virtual const qzSingleEvent& getStopEvent() const;
    virtual qzSingleEvent& getStopEvent();
    virtual const qzSingleEvent& getDoneEvent() const;
    virtual qzSingleEvent& getDoneEvent();
    // False: start creates no thread.
    virtual bool preStart();
    virtual void preRun();
    // The body; expected to watch the stop event and return.
    virtual void run() = 0;
    virtual void postRun();
    // Records a failure of the body in the error message.
    virtual void setException(const std::exception& inException);

    // Creates the OS thread; throws std::bad_alloc when that fails.
    void start();
    // Requests a stop, waits up to 250 ms, then terminates the thread.
    void stop();
    void suspend();
    void resume();
    // Waits without limit for the thread to end; at once when called by the
    // thread itself or after it stopped.
    void join();
    bool isActive() const;

    ThreadState getState() const { return itsThreadState.load(std::memory_order_acquire); }
    std::uint32_t getThreadID() const { return itsThreadID.load(std::memory_order_acquire); }
    const std::string& getName() const { return itsName; }
    void setName(const std::string& inName);
    std::int32_t getStopCode() const { return itsStopCode.load(std::memory_order_acquire); }
    qzThread* getParent() const { return itsParent; }
    // Read after the thread stopped (the body writes it).
    const qzErrorMessage& getErrorMessage() const { return itsErrorMessage; }
    const qzTimer& getRunTimer() const { return itsRunTimer; }

    // --- children (each works on a copy of the list, taken under the
    // thread's mutex) ---
    std::vector<qzThread*> getChildren();
    void requestStopAllChildren(std::int32_t inStopCode);
    void joinAllChildren();
    // Destroys every child; each removes itself from this list.
    void deleteAllChildren();

    // --- waits (static) ---

    // True when the wait ended by time-out (4294967295: no limit). Returns
    // false at once when the event is set. No event: sleeps, returns true.
    // With inPumpMessages, discards the calling thread's waiting messages,
    // returns false at once when the event's signal count differs from
    // inSignalCount, and wakes also for any message posted to the thread; a
    // pulse posts message 1280 to it, so no pulse is missed.
    static bool waitForEvent(std::uint32_t inTimeout, qzEvent* inEvent, std::int32_t inSignalCount,
                             bool inPumpMessages);

    // Waits until a socket is ready as asked or the time-out passes.
    // Returns selectRead/selectWrite/selectExcept bits of what occurred, 0 on
    // time-out, selectError on failure (an invalid socket, nothing asked).
    static std::uint16_t select(std::vector<selectInfo>& ioSockets, std::uint32_t inTimeout);
    static std::uint16_t select(std::int32_t inSocket, std::uint16_t inWanted,
                                std::uint32_t inTimeout);

    // Hook called by qzSingleEvent::notifyWaiters; does nothing.
    static void eventSignalled(qzThread* inThread, qzSingleEvent* inEvent);

    // --- registry (static) ---

    // The calling thread's OS id; asserts that it is not 0.
    static std::uint32_t getCurrentThreadID();
    static qzThread* getMainThread();
    // Inserts or replaces; a thread already stopped is not registered.
    static void registerThread(std::uint32_t inID, qzThread* inThread);
    static void unregisterThread(std::uint32_t inID);
    static qzThread* findThread(std::uint32_t inID);
    // The name of the thread registered under inID, read under the registry
    // mutex so that the object cannot go away meanwhile. False (name
    // untouched) when no thread is registered under that id.
    static bool findThreadName(std::uint32_t inID, std::string& outName);
    static qzThread* getCurrentThread();
    static std::int32_t getThreadCount();

    // Diagnostic counters: registry insertions, bodies begun, OS thread
    // handles closed.
    static std::int32_t getTotalCount();
    static std::int32_t getCreatedCount();
    static std::int32_t getDeletedCount();

protected:
    // Under the registry mutex; stopped sets the done event and unregisters.
    void setState(ThreadState inState);
    void executeRunMethod();

    qzThread* itsParent = nullptr;
    std::atomic<std::uint32_t> itsThreadID{0};
    std::string itsName;
    std::atomic<ThreadState> itsThreadState{starting};
    std::atomic<std::int32_t> itsStopCode{0};
    qzTimer itsRunTimer;
    std::atomic<corvel::platform::ThreadHandle> itsThreadHandle{nullptr};
    qzErrorMessage itsErrorMessage;
    // Guards itsChildren only.
    qzMemMutex itsMutex;
    std::vector<qzThread*> itsChildren;
    qzSingleEvent itsStopEvent;
    qzSingleEvent itsDoneEvent;

private:
    static std::uint32_t threadEntry(void* inThreadObj);
    void addToParent();
    void closeHandle();
};

class qzMainThread : public qzThread
{
public:
    qzMainThread();
    ~qzMainThread() override;

    // The main thread has no body.
    void run() override;

    // Registers the object under the calling thread's id the first time.
    void ensureRegistered();
    // Registers the main thread object under the calling thread's id too,
    // when that differs from the id it is registered under.
    static void rebind();

private:
    bool itsRegistered = false;
};
