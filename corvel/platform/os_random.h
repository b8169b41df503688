// The C library's pseudo-random generator, kept per thread.
//
// On Windows the C run-time's rand state is per thread; glibc's is shared by
// the process. The framework seeds each of its threads on its own, so on
// POSIX every thread gets its own generator here and one thread's seeding
// never reseeds another.
#pragma once

#include <cstdint>

namespace corvel::platform
{

// RAND_MAX of the Windows C run-time: values are 0 to 32767 on every platform.
inline constexpr int randomMax = 32767;

void seedRandom(std::uint32_t inSeed);
// The next value of this thread's generator, 0 to randomMax.
int nextRandom();

} // namespace corvel::platform
