// Pseudo-random numbers. Neither source is meant for security.
//
// The free functions draw from the C library style generator of the calling
// thread (corvel/platform/os_random.h, values 0 to 32767). Each thread's
// generator is seeded once, on its first use here, with the calendar time in
// seconds; the generator is per thread, so the seeded flag is too.
//
// qzRandomGenerator is the 32-bit Mersenne Twister MT19937, the published
// reference algorithm of Matsumoto and Nishimura, bit for bit.
//
// The process-wide default seed is set during static initialisation to the
// millisecond tick count (4294967295 taken as 0) and is stirred by every
// number a qzRandomGenerator produces, so that generators built later without
// a seed start from a state that depends on everything drawn so far. It is
// read and written without a lock by design: a relaxed atomic.
#pragma once

#include <cstdint>
#include <string>

// rand: 0 to 32767.
std::uint32_t random15();
// (rand << 16) | rand, the first draw giving the high half: bits 15 and 31
// are always 0.
std::uint32_t random32();
// random32 mod inLimit. A limit of 0 asserts and gives 0.
std::uint32_t randomBelow(std::uint32_t inLimit);
// inLow + random32 mod (inHigh - inLow); inHigh itself is never returned.
// inHigh not above inLow asserts and gives inLow.
std::uint32_t randomBetween(std::uint32_t inLow, std::uint32_t inHigh);
// The same over a single draw of rand, as 16-bit values.
std::uint16_t randomBelow16(std::uint16_t inLimit);
std::uint16_t randomBetween16(std::uint16_t inLow, std::uint16_t inHigh);

// The process-wide default seed.
std::uint32_t getDefaultRandomSeed();
void setDefaultRandomSeed(std::uint32_t inSeed);

class qzRandomGenerator
{
public:
    static constexpr std::uint32_t kStateSize = 624;

    // The 60 characters of random strings: no 'w' and no 'W'.
    static constexpr const char* kAlphabet =
        "abcdefghijklmnopqrstuvxyzABCDEFGHIJKLMNOPQRSTUVXYZ0123456789";
    static constexpr std::uint32_t kAlphabetSize = 60;

    // Seeds with the current default seed.
    qzRandomGenerator();
    // The reference single-word seeding (init_genrand).
    explicit qzRandomGenerator(std::uint32_t inSeed);
    // The reference array seeding (init_by_array). An empty key array (length
    // 0 or a null pointer) mixes in nothing instead of reading a key that is
    // not there.
    qzRandomGenerator(const std::uint32_t* inKeys, std::uint32_t inLength);

    // The next tempered output (genrand_int32); stirs the default seed.
    std::uint32_t next();
    // next mod inLimit. A limit of 0 asserts and gives 0 without drawing.
    std::uint32_t nextBelow(std::uint32_t inLimit);
    // inCount characters, each kAlphabet[nextBelow(60)].
    std::string randomString(std::uint32_t inCount);

private:
    void seed(std::uint32_t inSeed);
    void regenerate();

    std::uint32_t itsState[kStateSize];
    std::uint32_t itsIndex;
    std::uint32_t itsMag01[2];
};
