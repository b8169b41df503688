#include "corvel/platform/os_version.h"

#include <sys/utsname.h>

namespace corvel::platform
{

bool queryOsVersion(OsVersion& outVersion)
{
    utsname theName{};
    if (uname(&theName) != 0)
        return false;
    OsVersion theVersion;
    theVersion.systemName = theName.sysname;
    if (theVersion.systemName.empty() || !parseKernelRelease(theName.release, theVersion))
        return false;
    outVersion = theVersion;
    return true;
}

} // namespace corvel::platform
