#include "corvel/platform/os_random.h"

namespace corvel::platform
{

namespace
{
// The same linear congruential generator the Microsoft C run-time uses, so a
// seed gives the same sequence on both platforms.
thread_local std::uint32_t theState = 1;
} // namespace

void seedRandom(std::uint32_t inSeed) { theState = inSeed; }

int nextRandom()
{
    theState = theState * 214013u + 2531011u;
    return static_cast<int>((theState >> 16) & 0x7FFFu);
}

} // namespace corvel::platform
