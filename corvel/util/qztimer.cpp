#include "corvel/util/qztimer.h"

#include <cstdio>
#include <cstring>

#include "corvel/debug/qzinitorder.h"
#include "corvel/platform/os_time.h"
#include "corvel/testing/timer_hooks.h"

namespace
{
// Constant-initialised, so it is ready before any dynamic initialisation,
// the start timer's included.
constinit std::atomic<std::uint32_t> theStartCounter{0};
constinit std::atomic<qzTickSource> theTickSource{nullptr};

constexpr std::uint32_t theMaxTicks = 4294967295u;
constexpr std::int32_t theMaxDistance = 2147483647;
constexpr std::int32_t theMinDistance = -2147483647 - 1;

// "1193:02:47:295" plus the terminating zero.
constexpr std::size_t theLongestElapsedText = 15;
} // namespace

qzTimer theStartTimer QZ_INIT_ORDER(QZ_INIT_START_TIMER){1};

qzTimer::qzTimer(std::int32_t inStartFlag) : itsSequenceNumber(0), itsStartTicks(0)
{
    if (inStartFlag == 1)
        start();
}

qzTimer::qzTimer(const qzTimer& inOther)
    : itsSequenceNumber(inOther.getSequenceNumber()), itsStartTicks(inOther.getStartTicks())
{
}

qzTimer& qzTimer::operator=(const qzTimer& inOther)
{
    itsSequenceNumber.store(inOther.getSequenceNumber(), std::memory_order_relaxed);
    itsStartTicks.store(inOther.getStartTicks(), std::memory_order_relaxed);
    return *this;
}

qzTimer::~qzTimer() = default;

void qzTimer::start()
{
    itsStartTicks.store(currentTicks(), std::memory_order_relaxed);
    // fetch_add hands every start its own number, whatever the interleaving.
    itsSequenceNumber.store(theStartCounter.fetch_add(1, std::memory_order_relaxed),
                            std::memory_order_relaxed);
}

void qzTimer::clear()
{
    itsSequenceNumber.store(0, std::memory_order_relaxed);
    itsStartTicks.store(0, std::memory_order_relaxed);
}

bool qzTimer::isCleared() const { return getSequenceNumber() == 0 && getStartTicks() == 0; }

bool qzTimer::isEarlier(const qzTimer& inOther) const
{
    return getSequenceNumber() < inOther.getSequenceNumber();
}

std::uint32_t qzTimer::elapsed() const { return tickDifference(getStartTicks(), currentTicks()); }

std::int32_t qzTimer::distance(const qzTimer& inOther) const
{
    if (isEarlier(inOther))
    {
        const std::uint32_t theDiff = tickDifference(getStartTicks(), inOther.getStartTicks());
        if (theDiff >= static_cast<std::uint32_t>(theMaxDistance))
            return theMaxDistance;
        return static_cast<std::int32_t>(theDiff);
    }
    const std::uint32_t theDiff = tickDifference(inOther.getStartTicks(), getStartTicks());
    if (theDiff >= static_cast<std::uint32_t>(theMaxDistance))
        return theMinDistance;
    return -static_cast<std::int32_t>(theDiff);
}

char* qzTimer::formatElapsed(char* outBuffer) const
{
    char theText[theLongestElapsedText];
    formatElapsed(theText, sizeof theText);
    std::memcpy(outBuffer, theText, std::strlen(theText) + 1);
    return outBuffer;
}

char* qzTimer::formatElapsed(char* outBuffer, std::size_t inSize) const
{
    if (outBuffer == nullptr || inSize == 0)
        return outBuffer;

    std::uint32_t theRest = elapsed();
    char theText[theLongestElapsedText + 8] = {};
    std::size_t theLength = 0;
    // Hours, minutes, seconds, milliseconds: each divisor is the previous one
    // divided by 60 while that exceeds 1000, then by 1000, until it is 0.
    for (std::uint32_t curDivisor = 3600000; curDivisor != 0;
         curDivisor = curDivisor > 1000 ? curDivisor / 60 : curDivisor / 1000)
    {
        const std::uint32_t theQuotient = theRest / curDivisor;
        theRest %= curDivisor;
        const int theWritten = std::snprintf(theText + theLength, sizeof theText - theLength,
                                             theQuotient > 9 ? "%u:" : "0%u:", theQuotient);
        if (theWritten > 0)
            theLength += static_cast<std::size_t>(theWritten);
    }
    if (theLength > 0)
        theText[--theLength] = '\0'; // the last colon

    const std::size_t theCopied = theLength < inSize - 1 ? theLength : inSize - 1;
    std::memcpy(outBuffer, theText, theCopied);
    outBuffer[theCopied] = '\0';
    return outBuffer;
}

std::uint32_t qzTimer::tickDifference(std::uint32_t inFrom, std::uint32_t inTo)
{
    if (inTo >= inFrom)
        return inTo - inFrom;
    return (theMaxTicks - inFrom) + inTo;
}

std::uint32_t qzTimer::currentTicks()
{
    const qzTickSource theSource = theTickSource.load(std::memory_order_relaxed);
    return theSource != nullptr ? theSource() : corvel::platform::tickCount();
}

void qzSetTickSource(qzTickSource inSource)
{
    theTickSource.store(inSource, std::memory_order_relaxed);
}

std::uint32_t getTickCountModMax()
{
    const std::uint32_t theTicks = qzTimer::currentTicks();
    return theTicks == theMaxTicks ? 0 : theTicks;
}
