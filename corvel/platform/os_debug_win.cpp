#include "corvel/platform/os_debug.h"

#include <windows.h>

namespace corvel::platform
{

bool debuggerAttached() { return IsDebuggerPresent() != FALSE; }

void debugBreakIfAttached()
{
    // Without a debugger DebugBreak would end the process.
    if (debuggerAttached())
        DebugBreak();
}

} // namespace corvel::platform
