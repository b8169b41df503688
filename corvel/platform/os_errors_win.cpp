#include "corvel/platform/os_errors.h"

#include <windows.h>

#include "corvel/platform/directory/dir_status.h"

namespace corvel::platform
{

std::uint32_t lastError() { return GetLastError(); }

void setLastError(std::uint32_t inCode) { SetLastError(inCode); }

std::string errorText(std::uint32_t inCode)
{
    // The directory layer's own texts first, so that its statuses read the
    // same on every platform.
    if (const char* theText = corvel::directory::statusText(inCode))
        return theText;
    char theBuffer[512];
    const DWORD theLength =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, inCode,
                       0x0400, theBuffer, sizeof theBuffer, nullptr);
    if (theLength == 0 || theLength >= sizeof theBuffer)
        return std::string();
    return std::string(theBuffer, theLength);
}

} // namespace corvel::platform
