#include "corvel/platform/os_version.h"

#include <windows.h>

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

bool queryOsVersion(OsVersion& outVersion)
{
    OsVersion theVersion;
    // GetVersionExA is deprecated (and lies without a manifest on 8.1 and
    // later), but it is the query this record is defined by.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    OSVERSIONINFOEXA theExtended{};
    theExtended.dwOSVersionInfoSize = sizeof theExtended;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&theExtended)))
    {
        theVersion.productType = theExtended.wProductType;
    }
    else
    {
        OSVERSIONINFOA thePlain{};
        thePlain.dwOSVersionInfoSize = sizeof thePlain;
        if (!GetVersionExA(&thePlain))
            return false;
        theExtended.dwPlatformId = thePlain.dwPlatformId;
        theExtended.dwMajorVersion = thePlain.dwMajorVersion;
        theExtended.dwMinorVersion = thePlain.dwMinorVersion;
        theExtended.dwBuildNumber = thePlain.dwBuildNumber;
    }
#pragma GCC diagnostic pop
    theVersion.platformId = theExtended.dwPlatformId;
    theVersion.major = theExtended.dwMajorVersion;
    theVersion.minor = theExtended.dwMinorVersion;
    theVersion.build = theExtended.dwBuildNumber;
    theVersion.serverR2Metric = GetSystemMetrics(SM_SERVERR2);
    outVersion = theVersion;
    return true;
}

} // namespace corvel::platform
