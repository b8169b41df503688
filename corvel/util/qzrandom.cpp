#include "corvel/util/qzrandom.h"

#include <atomic>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinitorder.h"
#include "corvel/platform/os_random.h"
#include "corvel/platform/os_time.h"
#include "corvel/util/qztimer.h"

namespace
{

// Built last among the process-wide objects, after the start timer.
QZ_INIT_ORDER(QZ_INIT_RANDOM_SEED) std::atomic<std::uint32_t> theDefaultSeed{getTickCountModMax()};

// The generator behind the free functions is per thread, so is the flag that
// says it has been seeded: a process-wide flag would leave every thread but
// the first on the fixed start state.
thread_local bool theSeeded = false;

int drawRandom()
{
    if (!theSeeded)
    {
        corvel::platform::seedRandom(
            static_cast<std::uint32_t>(corvel::platform::calendarTimeNow()));
        theSeeded = true;
    }
    return corvel::platform::nextRandom();
}

constexpr std::uint32_t kShift = 397;
constexpr std::uint32_t kUpperMask = 0x80000000u;
constexpr std::uint32_t kLowerMask = 0x7FFFFFFFu;

} // namespace

std::uint32_t random15() { return static_cast<std::uint32_t>(drawRandom()); }

std::uint32_t random32()
{
    const auto theHigh = static_cast<std::uint32_t>(drawRandom());
    const auto theLow = static_cast<std::uint32_t>(drawRandom());
    return (theHigh << 16) | theLow;
}

std::uint32_t randomBelow(std::uint32_t inLimit)
{
    qzAssert(inLimit > 0);
    if (inLimit == 0)
        return 0;
    return random32() % inLimit;
}

std::uint32_t randomBetween(std::uint32_t inLow, std::uint32_t inHigh)
{
    qzAssert(inHigh > inLow);
    if (inHigh <= inLow)
        return inLow;
    return inLow + random32() % (inHigh - inLow);
}

std::uint16_t randomBelow16(std::uint16_t inLimit)
{
    qzAssert(inLimit > 0);
    if (inLimit == 0)
        return 0;
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(drawRandom()) % inLimit);
}

std::uint16_t randomBetween16(std::uint16_t inLow, std::uint16_t inHigh)
{
    qzAssert(inHigh > inLow);
    if (inHigh <= inLow)
        return inLow;
    return static_cast<std::uint16_t>(inLow + static_cast<std::uint32_t>(drawRandom()) %
                                                  static_cast<std::uint32_t>(inHigh - inLow));
}

std::uint32_t getDefaultRandomSeed() { return theDefaultSeed.load(std::memory_order_relaxed); }

void setDefaultRandomSeed(std::uint32_t inSeed)
{
    theDefaultSeed.store(inSeed, std::memory_order_relaxed);
}

// ------------------------------------------------------------ qzRandomGenerator

qzRandomGenerator::qzRandomGenerator() : itsIndex(kStateSize), itsMag01{0u, 0x9908B0DFu}
{
    seed(getDefaultRandomSeed());
}

qzRandomGenerator::qzRandomGenerator(std::uint32_t inSeed)
    : itsIndex(kStateSize), itsMag01{0u, 0x9908B0DFu}
{
    seed(inSeed);
}

qzRandomGenerator::qzRandomGenerator(const std::uint32_t* inKeys, std::uint32_t inLength)
    : itsIndex(kStateSize), itsMag01{0u, 0x9908B0DFu}
{
    seed(19650218u);
    if (inKeys == nullptr)
        inLength = 0;
    std::uint32_t i = 1;
    std::uint32_t j = 0;
    for (std::uint32_t k = (kStateSize > inLength ? kStateSize : inLength); k > 0; --k)
    {
        const std::uint32_t theKey = inLength > 0 ? inKeys[j] + j : 0u;
        itsState[i] =
            (itsState[i] ^ ((itsState[i - 1] ^ (itsState[i - 1] >> 30)) * 1664525u)) + theKey;
        ++i;
        ++j;
        if (i >= kStateSize)
        {
            itsState[0] = itsState[kStateSize - 1];
            i = 1;
        }
        if (j >= inLength)
            j = 0;
    }
    for (std::uint32_t k = kStateSize - 1; k > 0; --k)
    {
        itsState[i] =
            (itsState[i] ^ ((itsState[i - 1] ^ (itsState[i - 1] >> 30)) * 1566083941u)) - i;
        ++i;
        if (i >= kStateSize)
        {
            itsState[0] = itsState[kStateSize - 1];
            i = 1;
        }
    }
    // The most significant bit set assures a state that is not all zero.
    itsState[0] = 0x80000000u;
}

void qzRandomGenerator::seed(std::uint32_t inSeed)
{
    itsState[0] = inSeed;
    for (std::uint32_t i = 1; i < kStateSize; ++i)
        itsState[i] = 1812433253u * (itsState[i - 1] ^ (itsState[i - 1] >> 30)) + i;
    itsIndex = kStateSize;
}

void qzRandomGenerator::regenerate()
{
    std::uint32_t k = 0;
    for (; k < kStateSize - kShift; ++k)
    {
        const std::uint32_t y = (itsState[k] & kUpperMask) | (itsState[k + 1] & kLowerMask);
        itsState[k] = itsState[k + kShift] ^ (y >> 1) ^ itsMag01[y & 1u];
    }
    for (; k < kStateSize - 1; ++k)
    {
        const std::uint32_t y = (itsState[k] & kUpperMask) | (itsState[k + 1] & kLowerMask);
        itsState[k] = itsState[k + kShift - kStateSize] ^ (y >> 1) ^ itsMag01[y & 1u];
    }
    const std::uint32_t y = (itsState[kStateSize - 1] & kUpperMask) | (itsState[0] & kLowerMask);
    itsState[kStateSize - 1] = itsState[kShift - 1] ^ (y >> 1) ^ itsMag01[y & 1u];
    itsIndex = 0;
}

std::uint32_t qzRandomGenerator::next()
{
    if (itsIndex >= kStateSize)
        regenerate();
    std::uint32_t y = itsState[itsIndex++];
    y ^= (y >> 11);
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= (y >> 18);
    // A plain load and store, not an atomic read-modify-write: the seed is
    // only stirred, and a lost update between threads costs nothing.
    theDefaultSeed.store(theDefaultSeed.load(std::memory_order_relaxed) ^ (y >> 1),
                         std::memory_order_relaxed);
    return y;
}

std::uint32_t qzRandomGenerator::nextBelow(std::uint32_t inLimit)
{
    qzAssert(inLimit > 0);
    if (inLimit == 0)
        return 0;
    return next() % inLimit;
}

std::string qzRandomGenerator::randomString(std::uint32_t inCount)
{
    std::string theText;
    theText.reserve(inCount);
    for (std::uint32_t i = 0; i < inCount; ++i)
        theText += kAlphabet[nextBelow(kAlphabetSize)];
    return theText;
}
