// Conversion of wide (UTF-16) text to the platform's narrow text.
#pragma once

#include <string>

namespace corvel::platform
{

// Converts a NUL-terminated UTF-16 string to narrow text: UTF-8 on POSIX,
// the ANSI code page on Windows. Any failure (a null pointer, an unpaired
// surrogate, a character the code page cannot hold) gives the empty string.
std::string wideToNarrow(const char16_t* inWide);

} // namespace corvel::platform
