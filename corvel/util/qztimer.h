// qzTimer: elapsed wall time in milliseconds from the 32-bit millisecond tick
// counter.
//
// A timer remembers the tick count and a process-wide sequence number at its
// last start. The tick count wraps after about 49.7 days; the difference rule
// bridges one wrap. The sequence number orders timers by the moment they were
// started, also across a wrap and within one millisecond.
//
// Difference from tick a (earlier) to b (later): b - a when b >= a, else
// (4294967295 - a) + b. A wrapped difference thus counts a period of
// 4294967295 ticks, the same period getTickCountModMax uses.
//
// A timer is not shared between threads; its fields are relaxed atomics only
// so that a diagnostic read from another thread is not a data race.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

class qzTimer
{
public:
    // Both fields 0 (cleared); with inStartFlag 1 the timer is started.
    explicit qzTimer(std::int32_t inStartFlag = 0);
    qzTimer(const qzTimer& inOther);
    qzTimer& operator=(const qzTimer& inOther);
    virtual ~qzTimer();

    // Takes the current tick count and the next sequence number. Every start
    // in the process gets its own sequence number, also under concurrent
    // starts on several threads.
    void start();

    void clear();
    // True when both fields are 0.
    bool isCleared() const;

    // True when this timer was started before inOther (by sequence number).
    bool isEarlier(const qzTimer& inOther) const;

    // Milliseconds from this timer's start to now, by the difference rule.
    std::uint32_t elapsed() const;

    // Signed milliseconds from this timer's start to inOther's: positive when
    // this one was started earlier. Clamped to 2147483647 and -2147483648.
    std::int32_t distance(const qzTimer& inOther) const;

    // Writes the elapsed time as hh:mm:ss:ms ("00:00:00:45", "01:02:03:04",
    // "100:00:00:00") and returns outBuffer.
    // The buffer must hold 15 bytes to be safe for every elapsed value (the
    // longest text, "1193:02:47:295", has 14 characters); 14 bytes suffice
    // under 100 hours. Exactly strlen(result) + 1 bytes are written. Prefer
    // the sized form.
    char* formatElapsed(char* outBuffer) const;

    // The same, writing at most inSize bytes, the terminating zero included:
    // a short buffer receives the beginning of the text. Nothing is written
    // when inSize is 0.
    char* formatElapsed(char* outBuffer, std::size_t inSize) const;

    std::uint32_t getSequenceNumber() const
    {
        return itsSequenceNumber.load(std::memory_order_relaxed);
    }
    std::uint32_t getStartTicks() const { return itsStartTicks.load(std::memory_order_relaxed); }

    // The difference rule, from tick a to tick b.
    static std::uint32_t tickDifference(std::uint32_t inFrom, std::uint32_t inTo);

    // The current tick count from the tick source.
    static std::uint32_t currentTicks();

private:
    std::atomic<std::uint32_t> itsSequenceNumber;
    std::atomic<std::uint32_t> itsStartTicks;
};

// The current tick count, with 4294967295 returned as 0 (the count modulo
// 4294967295).
std::uint32_t getTickCountModMax();

// Started when the program loads, before every other process-wide object.
extern qzTimer theStartTimer;
