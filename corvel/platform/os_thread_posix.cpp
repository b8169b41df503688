#include "corvel/platform/os_thread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace corvel::platform
{

std::uint32_t currentThreadId()
{
    // The kernel's thread id: unique among live threads, never 0, and the id
    // tools such as top and gdb show.
    thread_local const std::uint32_t theId = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    return theId;
}

} // namespace corvel::platform
