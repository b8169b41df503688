#include "corvel/platform/os_random.h"

#include <cstdlib>

namespace corvel::platform
{

static_assert(RAND_MAX == randomMax, "the C run-time's rand range");

// The Microsoft C run-time keeps the rand state per thread already.
void seedRandom(std::uint32_t inSeed) { std::srand(inSeed); }

int nextRandom() { return std::rand(); }

} // namespace corvel::platform
