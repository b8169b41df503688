// System information: a readable name and version of the operating system,
// and the fixed vocabulary of platform kinds used to tag data with the
// platform it came from. Nothing here keeps state.
//
// Platform kinds, by index: 0 "Unknown" U, 1 "Windows" W, 2 "MacOS" M,
// 3 "Linux" L, 4 "SunOS" S, 5 "MacOS-X" X, 6 "FreeBSD" F, 7 "HP-UX" H,
// 8 "Windows64" W. Index 8 shares W with index 1, so a letter never maps back
// to 8; 10 stands for no platform.
#pragma once

#include <cstdint>
#include <string>

#include "corvel/platform/os_version.h"

// The index that stands for no platform.
inline constexpr std::int32_t qzPlatformNone = 10;

// The running system's name, e.g. "Microsoft Windows 7 v6.1, Build 7601" on
// Windows and "Linux v6.1, Build 0" on Linux; the empty text when the system
// cannot be asked.
std::string getOSName(bool inWithVendor, bool inWithBuild);
// With vendor, without build.
std::string getOSName();

// The naming rules over a given version record:
// - a record with a system name (not Windows): that name, no vendor word;
// - a Windows record: "Microsoft " when inWithVendor, then the name chosen by
//   platform id, major and minor version, product type and the R2 metric
//   (Win32s; Windows 95/98; NT, 2000, XP, Server 2003 [R2], Vista, Server
//   2008, 7, Server 2008 R2), nothing for an unknown platform id;
// then " v<major>.<minor>", and with inWithBuild ", Build <low 16 bits of
// the build>".
std::string getOSName(const corvel::platform::OsVersion& inVersion, bool inWithVendor,
                      bool inWithBuild);

// The name of the platform kind, "NONE" outside 0 to 8.
std::string getPlatformName(std::int32_t inIndex);
// The letter of the platform kind, 'X' outside 0 to 8 (also index 5's letter).
char getPlatformLetter(std::int32_t inIndex);
// The first index 0 to 7 whose letter is inLetter (case-sensitive), else
// qzPlatformNone.
std::int32_t getPlatformFromLetter(char inLetter);
