// Framework threads and the process-wide thread registry.
//
// The registry maps OS thread ids to qzThread objects so that any code can
// find the thread object it runs on (the information log names the thread
// this way). It is guarded by the registry mutex, which may be held while the
// event mutex is taken, never the reverse.
//
// qzMainThread stands for the thread that started the process; exactly one
// instance exists, built during static initialisation.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

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

    explicit qzThread(qzThread* inParent);
    virtual ~qzThread();

    qzThread(const qzThread&) = delete;
    qzThread& operator=(const qzThread&) = delete;

    virtual void run() = 0;

    ThreadState getState() const { return itsThreadState.load(std::memory_order_acquire); }
    std::uint32_t getThreadID() const { return itsThreadID.load(std::memory_order_acquire); }
    const std::string& getName() const { return itsName; }
    void setName(const std::string& inName);

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

    // Diagnostic counters.
    static std::int32_t getTotalCount();
    static std::int32_t getCreatedCount();
    static std::int32_t getDeletedCount();

protected:
    void setState(ThreadState inState);

    qzThread* itsParent = nullptr;
    std::atomic<std::uint32_t> itsThreadID{0};
    std::string itsName;
    std::atomic<ThreadState> itsThreadState{starting};
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
