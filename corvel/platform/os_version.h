// The version of the operating system, as a record the framework names.
//
// On Windows the record comes from the version query (the extended record,
// then the plain one, whose product type stays 0) and the second-release
// server metric. On POSIX it comes from uname: the system name is the
// kernel's name ("Linux"), major, minor and build are the first three numbers
// of the kernel release ("6.1.0-18-amd64" gives 6, 1 and 0), and the Windows
// fields (platform id, product type, R2 metric) are 0.
#pragma once

#include <cstdint>
#include <string>

namespace corvel::platform
{

// Platform ids of the Windows version query.
inline constexpr std::uint32_t platformWin32s = 0;
inline constexpr std::uint32_t platformWin9x = 1;
inline constexpr std::uint32_t platformWinNT = 2;

// Product type of a workstation; servers and domain controllers report others.
inline constexpr std::uint8_t productWorkstation = 1;

struct OsVersion
{
    // Empty for Windows; the kernel's name on other systems.
    std::string systemName;
    std::uint32_t platformId = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint8_t productType = 0;
    // The second-release server metric (Windows Server 2003 R2): not 0 when set.
    std::int32_t serverR2Metric = 0;
};

// Fills the record for the running system; false when the query fails.
bool queryOsVersion(OsVersion& outVersion);

// Reads a kernel release text into major, minor and build: up to three
// numbers separated by dots, ending at the first character that continues
// none of them ("5.15.0-91-generic" gives 5, 15, 0; "6.1" gives 6, 1, 0).
// False when the text does not start with a number that fits 32 bits; a later
// number that does not fit ends the reading there. The other fields are left
// as they were, and nothing is written on failure.
bool parseKernelRelease(const char* inRelease, OsVersion& ioVersion);

} // namespace corvel::platform
