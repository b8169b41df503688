// Debugger support.
#pragma once

namespace corvel::platform
{

// True when a debugger is attached (on Linux: the process has a tracer).
bool debuggerAttached();

// Stops in the attached debugger; does nothing when none is attached.
void debugBreakIfAttached();

} // namespace corvel::platform
