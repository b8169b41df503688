// The operating system's error numbers and texts.
#pragma once

#include <cstdint>
#include <string>

namespace corvel::platform
{

// The calling thread's last error (errno on POSIX, GetLastError on Windows).
std::uint32_t lastError();
void setLastError(std::uint32_t inCode);

// The system's text for an error code, trailing line breaks not yet trimmed.
// On POSIX: errno values get the C library's text; the HRESULT-style codes of
// the directory layer get its own short texts; anything else gives "".
std::string errorText(std::uint32_t inCode);

} // namespace corvel::platform
