// The parts of the version record that read text, the same on every
// platform.
#include "corvel/platform/os_version.h"

#include <cstdint>

namespace corvel::platform
{

namespace
{

// Reads the decimal number at ioText; false when there is none or it does not
// fit 32 bits.
bool readNumber(const char*& ioText, std::uint32_t& outValue)
{
    if (*ioText < '0' || *ioText > '9')
        return false;
    std::uint64_t theValue = 0;
    while (*ioText >= '0' && *ioText <= '9')
    {
        theValue = theValue * 10 + static_cast<std::uint64_t>(*ioText - '0');
        if (theValue > 0xFFFFFFFFu)
            return false;
        ++ioText;
    }
    outValue = static_cast<std::uint32_t>(theValue);
    return true;
}

} // namespace

bool parseKernelRelease(const char* inRelease, OsVersion& ioVersion)
{
    if (inRelease == nullptr)
        return false;
    std::uint32_t theParts[3] = {0, 0, 0};
    const char* theText = inRelease;
    if (!readNumber(theText, theParts[0]))
        return false;
    for (int i = 1; i < 3 && *theText == '.'; ++i)
    {
        const char* theAfterDot = theText + 1;
        if (!readNumber(theAfterDot, theParts[i]))
            break;
        theText = theAfterDot;
    }
    ioVersion.major = theParts[0];
    ioVersion.minor = theParts[1];
    ioVersion.build = theParts[2];
    return true;
}

} // namespace corvel::platform
