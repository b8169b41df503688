// Events: one thread tells others that something happened.
//
// qzEvent is the interface; qzSingleEvent wraps one manual-reset OS event;
// qzMultiEvent is a set of events that behaves as one (signalled when any
// member is). A single event counts its signals (set and pulse) so that a
// waiter can tell whether it missed one, and it can post a message to a
// window target and to a thread each time it is signalled (first parameter:
// the event's address; second: the notify parameter).
//
// qzThread::waitForEvent (qzthread.h) is the wait on these events.
//
// Locking: one process-wide event mutex guards the flag, the count and the
// waiter list of every single event. It is released before the OS event is
// signalled and before messages are posted; the notification fields are read
// without it (they are atomics). The thread registry mutex may be held while
// the event mutex is taken, never the reverse, so nothing here traces or logs
// while the event mutex is held.
//
// A failing OS event call (create, set, reset, pulse) traces
// "throwing qzErr_resFull" and throws qzException(qzErr_resFull); the flag and
// the count were updated before.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "corvel/platform/os_event.h"
#include "corvel/platform/os_messages.h"

class qzThread;
class qzSingleEvent;

// The OS event behind a single event.
typedef corvel::platform::EventHandle qzEventHandle;
typedef corvel::platform::WindowHandle qzWindowHandle;

class qzEvent
{
public:
    virtual ~qzEvent();
    virtual bool isSet() = 0;
    // The signalled single event, or nullptr.
    virtual qzSingleEvent* getSetEvent() = 0;
    virtual void set() = 0;
    virtual void reset() = 0;
    virtual void pulse() = 0;
    // Number of OS events behind this event.
    virtual int getHandleCount();
    virtual std::int32_t getSignalCount() = 0;
    virtual void addHandles(std::vector<qzEventHandle>& ioHandles) = 0;
    // 0 switches the notification off. Message id and parameter are shared
    // by both notifications: the last call of either sets them for both.
    virtual void setNotifyWindow(qzWindowHandle inWindow, std::uint32_t inMessage,
                                 std::int32_t inParam) = 0;
    virtual void setNotifyThread(std::uint32_t inThreadID, std::uint32_t inMessage,
                                 std::int32_t inParam) = 0;
    virtual void addWaiter(qzThread* inThread) = 0;
    virtual void removeWaiter(qzThread* inThread) = 0;
};

class qzSingleEvent : public qzEvent
{
public:
    // With no handle and inOwnsHandle true, creates its own OS event (manual
    // reset, not signalled). With a handle, uses it and closes it on
    // destruction only when inOwnsHandle. With neither, there is no OS event:
    // isSet is false and set, reset and pulse throw.
    explicit qzSingleEvent(qzEventHandle inHandle = nullptr, bool inOwnsHandle = true);
    ~qzSingleEvent() override;

    qzSingleEvent(const qzSingleEvent&) = delete;
    qzSingleEvent& operator=(const qzSingleEvent&) = delete;

    // Tests the OS event without waiting; the flag follows the answer.
    bool isSet() override;
    qzSingleEvent* getSetEvent() override;
    void set() override;
    // The count is not changed and nothing is posted.
    void reset() override;
    // Releases the threads waiting right now and leaves the event not set;
    // counted and posted as set is.
    void pulse() override;
    std::int32_t getSignalCount() override;
    void addHandles(std::vector<qzEventHandle>& ioHandles) override;
    void setNotifyWindow(qzWindowHandle inWindow, std::uint32_t inMessage,
                         std::int32_t inParam) override;
    void setNotifyThread(std::uint32_t inThreadID, std::uint32_t inMessage,
                         std::int32_t inParam) override;
    // Duplicates allowed; removeWaiter removes the first occurrence.
    void addWaiter(qzThread* inThread) override;
    void removeWaiter(qzThread* inThread) override;
    // Calls qzThread::eventSignalled for each registered waiter, on a copy of
    // the list taken under the event mutex.
    virtual void notifyWaiters();

    qzEventHandle getHandle() const { return itsHandle; }

private:
    void signal(bool inPulse);

    std::atomic<bool> itsSignalled{false};
    std::atomic<std::int32_t> itsSignalCount{0};
    qzEventHandle itsHandle;
    bool itsOwnsHandle;
    std::atomic<qzWindowHandle> itsNotifyWindow{0};
    std::atomic<std::uint32_t> itsNotifyThread{0};
    std::atomic<std::uint32_t> itsNotifyMessage{0};
    std::atomic<std::int32_t> itsNotifyParam{0};
    std::vector<qzThread*> itsWaiters;
};

// Members are not owned, kept in insertion order and free of duplicates. The
// member list has no lock of its own: build it before sharing the event.
class qzMultiEvent : public qzEvent
{
public:
    // Adds each non-null event in argument order.
    explicit qzMultiEvent(qzEvent* inEvent1 = nullptr, qzEvent* inEvent2 = nullptr,
                          qzEvent* inEvent3 = nullptr, qzEvent* inEvent4 = nullptr);
    ~qzMultiEvent() override;

    // True at the first member that is set; later members are not asked.
    bool isSet() override;
    qzSingleEvent* getSetEvent() override;
    void set() override;
    void reset() override;
    void pulse() override;
    // Sums over the members.
    int getHandleCount() override;
    std::int32_t getSignalCount() override;
    void addHandles(std::vector<qzEventHandle>& ioHandles) override;
    void setNotifyWindow(qzWindowHandle inWindow, std::uint32_t inMessage,
                         std::int32_t inParam) override;
    void setNotifyThread(std::uint32_t inThreadID, std::uint32_t inMessage,
                         std::int32_t inParam) override;
    void addWaiter(qzThread* inThread) override;
    void removeWaiter(qzThread* inThread) override;

    // Null is ignored; adding a member twice is a programming error.
    void addEvent(qzEvent* inEvent);
    // Null is ignored; removing an absent member is a programming error.
    void removeEvent(qzEvent* inEvent);
    bool containsEvent(qzEvent* inEvent) const;

private:
    std::vector<qzEvent*> itsEvents;
};
