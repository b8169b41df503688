#include "corvel/debug/qzsysinfo.h"

#include <gtest/gtest.h>

#include <string>

using corvel::platform::OsVersion;

namespace
{

OsVersion windows(std::uint32_t inPlatform, std::uint32_t inMajor, std::uint32_t inMinor,
                  std::uint32_t inBuild, std::uint8_t inProductType, std::int32_t inR2 = 0)
{
    OsVersion theVersion;
    theVersion.platformId = inPlatform;
    theVersion.major = inMajor;
    theVersion.minor = inMinor;
    theVersion.build = inBuild;
    theVersion.productType = inProductType;
    theVersion.serverR2Metric = inR2;
    return theVersion;
}

constexpr std::uint8_t kWorkstation = 1;
constexpr std::uint8_t kServer = 3;

} // namespace

// ------------------------------------------------------------ platform table

TEST(PlatformTable, NamesAndLettersAtAndPastTheEnds)
{
    const char* const theNames[] = {"Unknown", "Windows", "MacOS", "Linux",    "SunOS",
                                    "MacOS-X", "FreeBSD", "HP-UX", "Windows64"};
    const char theLetters[] = "UWMLSXFHW";
    for (std::int32_t i = 0; i < 9; ++i)
    {
        EXPECT_EQ(getPlatformName(i), theNames[i]) << i;
        EXPECT_EQ(getPlatformLetter(i), theLetters[i]) << i;
    }
    for (std::int32_t curIndex : {9, 10, -1, 1000, INT32_MIN, INT32_MAX})
    {
        EXPECT_EQ(getPlatformName(curIndex), "NONE") << curIndex;
        EXPECT_EQ(getPlatformLetter(curIndex), 'X') << curIndex;
    }
}

TEST(PlatformTable, LetterMapsBackToTheFirstIndex)
{
    const char theLetters[] = "UWMLSXFH";
    for (std::int32_t i = 0; i < 8; ++i)
        EXPECT_EQ(getPlatformFromLetter(theLetters[i]), i) << theLetters[i];
    // W belongs to Windows and Windows64: the first wins, 8 is never found.
    EXPECT_EQ(getPlatformFromLetter('W'), 1);
    EXPECT_EQ(getPlatformFromLetter(getPlatformLetter(8)), 1);
    EXPECT_EQ(getPlatformFromLetter('X'), 5);
    // Case-sensitive, and anything else is "no platform".
    EXPECT_EQ(getPlatformFromLetter('u'), 10);
    EXPECT_EQ(getPlatformFromLetter('w'), qzPlatformNone);
    EXPECT_EQ(getPlatformFromLetter('Z'), qzPlatformNone);
    EXPECT_EQ(getPlatformFromLetter('\xFF'), qzPlatformNone);
    // The zero character is not a letter of the table, although a plain
    // search of the lookup text would find its terminator.
    EXPECT_EQ(getPlatformFromLetter('\0'), qzPlatformNone);
}

// ------------------------------------------------------------ Windows names

TEST(OsName, WindowsNamesFromVersionRecords)
{
    using namespace corvel::platform;
    EXPECT_EQ(getOSName(windows(platformWinNT, 5, 1, 2600, kWorkstation), false, false),
              "Windows XP v5.1");
    EXPECT_EQ(getOSName(windows(platformWinNT, 6, 1, 7601, kWorkstation), true, true),
              "Microsoft Windows 7 v6.1, Build 7601");
    EXPECT_EQ(getOSName(windows(platformWinNT, 6, 1, 7601, kServer), true, false),
              "Microsoft Windows Server 2008 R2 v6.1");
    // Every minor above 0 of major 6 and later is in the 7 / 2008 R2 branch.
    EXPECT_EQ(getOSName(windows(platformWinNT, 6, 2, 9200, kServer), false, false),
              "Windows Server 2008 R2 v6.2");
    EXPECT_EQ(getOSName(windows(platformWinNT, 10, 0, 19045, kWorkstation), false, false),
              "Windows Vista v10.0");
    EXPECT_EQ(getOSName(windows(platformWinNT, 6, 0, 6002, kWorkstation), false, false),
              "Windows Vista v6.0");
    EXPECT_EQ(getOSName(windows(platformWinNT, 6, 0, 6002, kServer), false, false),
              "Windows Server 2008 v6.0");
    // The plain record leaves the product type 0: not a workstation.
    EXPECT_EQ(getOSName(windows(platformWinNT, 6, 1, 7601, 0), false, false),
              "Windows Server 2008 R2 v6.1");
    EXPECT_EQ(getOSName(windows(platformWinNT, 5, 2, 3790, kServer), false, false),
              "Windows Server 2003 v5.2");
    EXPECT_EQ(getOSName(windows(platformWinNT, 5, 2, 3790, kServer, 1), false, false),
              "Windows Server 2003 R2 v5.2");
    EXPECT_EQ(getOSName(windows(platformWinNT, 5, 0, 2195, kWorkstation), false, false),
              "Windows 2000 v5.0");
    EXPECT_EQ(getOSName(windows(platformWinNT, 5, 7, 0, kWorkstation), false, false),
              "Windows 2000 v5.7");
    EXPECT_EQ(getOSName(windows(platformWinNT, 4, 0, 1381, kWorkstation), true, false),
              "Microsoft Windows NT v4.0");
}

TEST(OsName, NinetyFiveNinetyEightWin32sAndUnknownPlatforms)
{
    using namespace corvel::platform;
    EXPECT_EQ(getOSName(windows(platformWin9x, 4, 0, 950, 0), false, false), "Windows 95 v4.0");
    EXPECT_EQ(getOSName(windows(platformWin9x, 4, 10, 1998, 0), false, false), "Windows 98 v4.10");
    EXPECT_EQ(getOSName(windows(platformWin9x, 5, 0, 0, 0), false, false), "Windows 98 v5.0");
    EXPECT_EQ(getOSName(windows(platformWin9x, 3, 95, 0, 0), false, false), "Windows 95 v3.95");
    EXPECT_EQ(getOSName(windows(platformWin32s, 3, 10, 0, 0), true, false),
              "Microsoft Win32s v3.10");
    // An unknown platform id names nothing but keeps vendor and version.
    EXPECT_EQ(getOSName(windows(7, 1, 2, 3, 0), true, true), "Microsoft  v1.2, Build 3");
}

TEST(OsName, BuildIsTheLowSixteenBits)
{
    // Windows 9x packs major and minor into the high word of the build.
    EXPECT_EQ(getOSName(windows(1, 4, 10, 0x040A08AEu, 0), false, true),
              "Windows 98 v4.10, Build 2222");
    EXPECT_EQ(getOSName(windows(2, 6, 1, 0xFFFFFFFFu, kWorkstation), false, true),
              "Windows 7 v6.1, Build 65535");
}

// ------------------------------------------------------------ other systems

TEST(OsName, KernelRecordsUseTheKernelName)
{
    OsVersion theVersion;
    theVersion.systemName = "Linux";
    ASSERT_TRUE(corvel::platform::parseKernelRelease("6.1.0-18-amd64", theVersion));
    EXPECT_EQ(getOSName(theVersion, true, true), "Linux v6.1, Build 0");
    EXPECT_EQ(getOSName(theVersion, false, false), "Linux v6.1");
    ASSERT_TRUE(corvel::platform::parseKernelRelease("5.15.133-generic", theVersion));
    EXPECT_EQ(getOSName(theVersion, true, true), "Linux v5.15, Build 133");
}

TEST(OsName, KernelReleaseText)
{
    using corvel::platform::parseKernelRelease;
    OsVersion theVersion;
    ASSERT_TRUE(parseKernelRelease("6.18.44-fc-v1403", theVersion));
    EXPECT_EQ(theVersion.major, 6u);
    EXPECT_EQ(theVersion.minor, 18u);
    EXPECT_EQ(theVersion.build, 44u);
    ASSERT_TRUE(parseKernelRelease("4", theVersion));
    EXPECT_EQ(theVersion.major, 4u);
    EXPECT_EQ(theVersion.minor, 0u);
    EXPECT_EQ(theVersion.build, 0u);
    // Four parts: the fourth is not the build.
    ASSERT_TRUE(parseKernelRelease("2.6.32.71", theVersion));
    EXPECT_EQ(theVersion.build, 32u);

    theVersion.major = 9;
    EXPECT_FALSE(parseKernelRelease("", theVersion));
    EXPECT_FALSE(parseKernelRelease("v6.1", theVersion));
    EXPECT_FALSE(parseKernelRelease(nullptr, theVersion));
    EXPECT_FALSE(parseKernelRelease("99999999999.1", theVersion));
    EXPECT_EQ(theVersion.major, 9u); // untouched by the failures
    // A later number too large ends the reading.
    ASSERT_TRUE(parseKernelRelease("5.99999999999.7", theVersion));
    EXPECT_EQ(theVersion.major, 5u);
    EXPECT_EQ(theVersion.minor, 0u);
}

TEST(OsName, RunningSystem)
{
    corvel::platform::OsVersion theVersion;
    ASSERT_TRUE(corvel::platform::queryOsVersion(theVersion));
    const std::string theName = getOSName(true, true);
    EXPECT_EQ(theName, getOSName(theVersion, true, true));
    EXPECT_EQ(getOSName(), getOSName(theVersion, true, false));
#if defined(__linux__)
    // "Linux v<major>.<minor>, Build <patch>", without the vendor word.
    EXPECT_EQ(theName.rfind("Linux v", 0), 0u) << theName;
    EXPECT_NE(theName.find(", Build "), std::string::npos) << theName;
    EXPECT_EQ(getOSName(false, false), getOSName(true, false));
#endif
}
