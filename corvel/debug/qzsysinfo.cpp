#include "corvel/debug/qzsysinfo.h"

#include <cstring>

#include "corvel/util/qzstringutils.h"

namespace
{

constexpr std::int32_t kPlatformCount = 9;

const char* const kPlatformNames[kPlatformCount] = {
    "Unknown", "Windows", "MacOS", "Linux", "SunOS", "MacOS-X", "FreeBSD", "HP-UX", "Windows64"};

const char kPlatformLetters[kPlatformCount] = {'U', 'W', 'M', 'L', 'S', 'X', 'F', 'H', 'W'};

// The letters that map back to an index: those of 0 to 7.
const char kLetterLookup[] = "UWMLSXFH";

const char* windowsName(const corvel::platform::OsVersion& inVersion)
{
    using namespace corvel::platform;
    const bool theWorkstation = inVersion.productType == productWorkstation;
    switch (inVersion.platformId)
    {
    case platformWin32s:
        return "Win32s";
    case platformWin9x:
        if (inVersion.major > 4 || (inVersion.major == 4 && inVersion.minor > 0))
            return "Windows 98";
        return "Windows 95";
    case platformWinNT:
        if (inVersion.major >= 6)
        {
            // Every minor version above 0 falls into the second branch, so a
            // server reporting 6.2 is named Windows Server 2008 R2.
            if (inVersion.minor == 0)
                return theWorkstation ? "Windows Vista" : "Windows Server 2008";
            return theWorkstation ? "Windows 7" : "Windows Server 2008 R2";
        }
        if (inVersion.major == 5)
        {
            if (inVersion.minor == 2)
                return inVersion.serverR2Metric != 0 ? "Windows Server 2003 R2"
                                                     : "Windows Server 2003";
            if (inVersion.minor == 1)
                return "Windows XP";
            return "Windows 2000";
        }
        return "Windows NT";
    default:
        return "";
    }
}

} // namespace

std::string getOSName(const corvel::platform::OsVersion& inVersion, bool inWithVendor,
                      bool inWithBuild)
{
    std::string theName;
    if (!inVersion.systemName.empty())
    {
        theName = inVersion.systemName;
    }
    else
    {
        if (inWithVendor)
            theName = "Microsoft ";
        theName += windowsName(inVersion);
    }
    theName += " v";
    theName += uintToString(inVersion.major);
    theName += ".";
    theName += uintToString(inVersion.minor);
    if (inWithBuild)
    {
        theName += ", Build ";
        theName += uintToString(inVersion.build & 0xFFFFu);
    }
    return theName;
}

std::string getOSName(bool inWithVendor, bool inWithBuild)
{
    corvel::platform::OsVersion theVersion;
    if (!corvel::platform::queryOsVersion(theVersion))
        return std::string();
    return getOSName(theVersion, inWithVendor, inWithBuild);
}

std::string getOSName() { return getOSName(true, false); }

std::string getPlatformName(std::int32_t inIndex)
{
    if (inIndex < 0 || inIndex >= kPlatformCount)
        return "NONE";
    return kPlatformNames[inIndex];
}

char getPlatformLetter(std::int32_t inIndex)
{
    if (inIndex < 0 || inIndex >= kPlatformCount)
        return 'X';
    return kPlatformLetters[inIndex];
}

std::int32_t getPlatformFromLetter(char inLetter)
{
    // strchr would also find the terminating zero for the letter '\0'.
    if (inLetter == '\0')
        return qzPlatformNone;
    const char* theFound = std::strchr(kLetterLookup, inLetter);
    if (theFound == nullptr)
        return qzPlatformNone;
    return static_cast<std::int32_t>(theFound - kLetterLookup);
}
