// Threads as the operating system sees them.
#pragma once

#include <cstdint>

namespace corvel::platform
{

// The calling thread's OS id; never 0 (the kernel's thread id on Linux).
std::uint32_t currentThreadId();

} // namespace corvel::platform
