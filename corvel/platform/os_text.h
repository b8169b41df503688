// Conversion of wide text to the platform's narrow text and back.
#pragma once

#include <string>

namespace corvel::platform
{

// Converts a NUL-terminated UTF-16 string to narrow text: UTF-8 on POSIX,
// the ANSI code page on Windows. Any failure (a null pointer, an unpaired
// surrogate, a character the code page cannot hold) gives the empty string.
std::string wideToNarrow(const char16_t* inWide);

// The wide strings of the framework's interfaces (wchar_t: UTF-32 on POSIX,
// UTF-16 on Windows) as narrow text, and back. Wide text that does not
// convert gives the empty string; narrow text always converts, a byte that
// starts no valid sequence standing for itself, so that no text is lost.
// Temporary copies are wiped: the text may be a password.
std::string wideToNarrow(const std::wstring& inWide);
std::wstring narrowToWide(const std::string& inNarrow);

// Overwrites text that held a password before its memory is given back,
// then empties it.
void wipeText(std::string& ioText);
void wipeText(std::wstring& ioText);
void wipeText(std::u16string& ioText);

} // namespace corvel::platform
