#include "corvel/platform/os_errors.h"

#include <cerrno>
#include <cstring>

#include "corvel/platform/directory/dir_status.h"

namespace corvel::platform
{

std::uint32_t lastError() { return static_cast<std::uint32_t>(errno); }

void setLastError(std::uint32_t inCode) { errno = static_cast<int>(inCode); }

std::string errorText(std::uint32_t inCode)
{
    if (const char* theText = corvel::directory::statusText(inCode))
        return theText;
    if (inCode > 0xFFFFu)
        return std::string();
    // strerrordesc_np knows only real errno values (null otherwise), unlike
    // strerror's "Unknown error N", and is safe on any thread.
    const char* theText = strerrordesc_np(static_cast<int>(inCode));
    return theText != nullptr ? std::string(theText) : std::string();
}

} // namespace corvel::platform
