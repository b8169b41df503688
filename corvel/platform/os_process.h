// The running process as the operating system sees it.
#pragma once

#include <string>

namespace corvel::platform
{

// The full path of the program file of this process (on Linux the target of
// /proc/self/exe). False when the system cannot tell it.
bool programFilePath(std::string& outPath);

} // namespace corvel::platform
