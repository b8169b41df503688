#include "corvel/platform/os_version.h"

#include <windows.h>

namespace corvel::platform
{

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
