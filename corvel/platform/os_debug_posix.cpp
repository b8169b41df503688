#include "corvel/platform/os_debug.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace corvel::platform
{

bool debuggerAttached()
{
    // Linux names the tracer in /proc/self/status; 0 means none.
    std::FILE* theFile = std::fopen("/proc/self/status", "r");
    if (theFile == nullptr)
        return false;
    char theLine[256];
    bool theAttached = false;
    while (std::fgets(theLine, sizeof theLine, theFile) != nullptr)
    {
        if (std::strncmp(theLine, "TracerPid:", 10) == 0)
        {
            int thePid = 0;
            std::sscanf(theLine + 10, "%d", &thePid);
            theAttached = thePid != 0;
            break;
        }
    }
    std::fclose(theFile);
    return theAttached;
}

void debugBreakIfAttached()
{
    if (debuggerAttached())
        std::raise(SIGTRAP);
}

} // namespace corvel::platform
