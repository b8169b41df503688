// Windows-only expectations of the porting layer: separators, temporary
// names, the version record, the account and the plug-in loader.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include <windows.h>

#include "corvel/testing/platform_hooks.h"
#include "corvel/platform/os_files.h"
#include "corvel/platform/os_identity.h"
#include "corvel/platform/os_loader.h"
#include "corvel/platform/os_process.h"
#include "corvel/platform/os_text.h"
#include "corvel/platform/os_version.h"

namespace pf = corvel::platform;

namespace
{
std::string readAll(const std::string& inPath)
{
    std::ifstream theFile(inPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(theFile), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& inPath, const std::string& inText)
{
    std::ofstream theFile(inPath, std::ios::binary | std::ios::trunc);
    theFile << inText;
}

// A fresh directory under the temporary directory, removed with its files.
struct ScratchDir
{
    std::string itsPath;
    ScratchDir()
    {
        std::string theFile;
        EXPECT_TRUE(pf::makeUniqueFile(pf::tempDirectory(), "tmp", theFile));
        pf::removeFile(theFile);
        itsPath = theFile;
        EXPECT_TRUE(pf::makeDirectory(itsPath));
    }
    ~ScratchDir()
    {
        std::vector<pf::DirEntry> theEntries;
        pf::readDirectory(itsPath, theEntries);
        for (const pf::DirEntry& curEntry : theEntries)
            pf::removeFile(itsPath + "\\" + curEntry.name);
        pf::removeEmptyDirectory(itsPath);
    }
};
} // namespace

TEST(FilesWin, TemporaryNamesAreWindowsPathsAndUnique)
{
    EXPECT_EQ(pf::pathSeparator(), '\\');
    const std::string theTemp = pf::tempDirectory();
    ASSERT_FALSE(theTemp.empty());
    EXPECT_EQ(theTemp.back(), '\\');

    std::string theFirst;
    std::string theSecond;
    ASSERT_TRUE(pf::makeUniqueFile(theTemp, "tmp", theFirst));
    ASSERT_TRUE(pf::makeUniqueFile(theTemp, "tmp", theSecond));
    EXPECT_NE(theFirst, theSecond);
    EXPECT_EQ(theFirst.substr(0, theTemp.size() + 3), theTemp + "tmp");
    EXPECT_TRUE(pf::isReadableFile(theFirst));
    // A prefix longer than GetTempFileNameA keeps is kept whole.
    std::string theLong;
    ASSERT_TRUE(pf::makeUniqueFile(theTemp, "corvelLog", theLong));
    EXPECT_EQ(theLong.substr(0, theTemp.size() + 9), theTemp + "corvelLog");
    EXPECT_TRUE(pf::isReadableFile(theLong));
    for (const std::string& curPath : {theFirst, theSecond, theLong})
        EXPECT_TRUE(pf::removeFile(curPath));
    EXPECT_FALSE(pf::isReadableFile(theFirst));
}

TEST(FilesWin, CopyMoveAndListWithBackslashes)
{
    ScratchDir theDir;
    const std::string theFrom = theDir.itsPath + "\\from.txt";
    const std::string theTo = theDir.itsPath + "\\to.txt";
    writeAll(theFrom, "payload");
    writeAll(theTo, "old and longer");

    // Onto itself: refused, the contents survive.
    EXPECT_FALSE(pf::copyFileTo(theFrom, theFrom));
    EXPECT_EQ(readAll(theFrom), "payload");

    ASSERT_TRUE(pf::copyFileTo(theFrom, theTo));
    EXPECT_EQ(readAll(theTo), "payload");
    writeAll(theFrom, "second");
    ASSERT_TRUE(pf::moveFileTo(theFrom, theTo));
    EXPECT_EQ(readAll(theTo), "second");
    EXPECT_FALSE(pf::isReadableFile(theFrom));

    ASSERT_TRUE(pf::makeDirectory(theDir.itsPath + "\\sub"));
    EXPECT_FALSE(pf::makeDirectory(theDir.itsPath + "\\sub"));
    std::vector<pf::DirEntry> theEntries;
    ASSERT_TRUE(pf::readDirectory(theDir.itsPath, theEntries));
    ASSERT_EQ(theEntries.size(), 2u);
    for (const pf::DirEntry& curEntry : theEntries)
        EXPECT_EQ(curEntry.isDirectory, curEntry.name == "sub") << curEntry.name;
    EXPECT_FALSE(pf::isReadableFile(theDir.itsPath + "\\sub"));
    EXPECT_TRUE(pf::removeEmptyDirectory(theDir.itsPath + "\\sub"));
    EXPECT_FALSE(pf::readDirectory(theDir.itsPath + "\\missing", theEntries));

    std::int64_t theSeconds = 0;
    std::int32_t theMillis = -1;
    ASSERT_TRUE(pf::fileModifiedTime(theTo, theSeconds, theMillis));
    EXPECT_GT(theSeconds, 1600000000);
    EXPECT_GE(theMillis, 0);
    EXPECT_LT(theMillis, 1000);
}

TEST(FilesWin, AppendedLinesLandAtTheEndOfASharedFile)
{
    ScratchDir theDir;
    const std::string thePath = theDir.itsPath + "\\log.txt";
    ASSERT_TRUE(pf::appendToFile(thePath, "one\n", 4));
    // Another handle open for writing does not stop the append.
    HANDLE theOther = CreateFileA(thePath.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(theOther, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(pf::appendToFile(thePath, "two\n", 4));
    CloseHandle(theOther);
    EXPECT_EQ(readAll(thePath), "one\ntwo\n");
    EXPECT_FALSE(pf::appendToFile(theDir.itsPath + "\\missing\\log.txt", "x", 1));
}

TEST(SystemWin, VersionProgramPathAndAccount)
{
    pf::OsVersion theVersion;
    ASSERT_TRUE(pf::queryOsVersion(theVersion));
    EXPECT_TRUE(theVersion.systemName.empty());
    EXPECT_EQ(theVersion.platformId, pf::platformWinNT);
    EXPECT_GE(theVersion.major, 5u);
    EXPECT_NE(theVersion.productType, 0);

    std::string theProgram;
    ASSERT_TRUE(pf::programFilePath(theProgram));
    ASSERT_GT(theProgram.size(), 4u);
    EXPECT_EQ(theProgram.substr(theProgram.size() - 4), ".exe");
    EXPECT_TRUE(pf::isReadableFile(theProgram));

    std::string theName;
    std::string theDomain;
    std::string theSid;
    ASSERT_TRUE(pf::currentAccount(theName, theDomain, theSid));
    EXPECT_FALSE(theName.empty());
    EXPECT_EQ(theSid.rfind("S-1-5-", 0), 0u) << theSid;
    // The first buffer too small for the token's user: grown once.
    std::string theSidAgain;
    ASSERT_TRUE(pf::currentAccountWithBuffer(1, theName, theDomain, theSidAgain));
    EXPECT_EQ(theSidAgain, theSid);

    std::string theLookedUp;
    std::string theLookedUpDomain;
    // Wine may not resolve its own user by name; where it does, the SID agrees.
    if (pf::lookupAccountSidWithBuffer(1, theDomain + "\\" + theName, theLookedUp,
                                       theLookedUpDomain))
    {
        EXPECT_EQ(theLookedUp, theSid);
    }
    std::string theUntouched = "kept";
    EXPECT_FALSE(pf::lookupAccountSid("", theUntouched, theLookedUpDomain));
    EXPECT_EQ(theUntouched, "kept");
}

TEST(TextWin, WideToNarrowRefusesWhatTheCodePageCannotHold)
{
    EXPECT_EQ(pf::wideToNarrow(u"alice"), "alice");
    EXPECT_EQ(pf::wideToNarrow(nullptr), "");
    const char16_t theLone[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(pf::wideToNarrow(theLone), "");
    const char16_t theTrail[] = {0xDC00, 0};
    EXPECT_EQ(pf::wideToNarrow(theTrail), "");
}

TEST(LoaderWin, SearchesOnlyTheProgramDirectoryAndSystem32)
{
    EXPECT_EQ(pf::pluginFileName("qzSSPI.dll"), "qzSSPI.dll");
    EXPECT_EQ(pf::pluginFileName("..\\qzSSPI.dll"), "");
    EXPECT_EQ(pf::pluginFileName("C:qzSSPI.dll"), "");

    pf::LoadedLibrary theLibrary;
    EXPECT_FALSE(theLibrary.load("sub\\qzSSPI.dll"));
    EXPECT_EQ(theLibrary.lastError(), pf::LoaderError_invalidName);
    EXPECT_FALSE(theLibrary.load("noSuchPlugin.dll"));
    EXPECT_EQ(theLibrary.lastError(), pf::LoaderError_modNotFound);

    // A system library comes from System32 and answers by export name.
    ASSERT_TRUE(theLibrary.load("kernel32.dll"));
    EXPECT_FALSE(theLibrary.path().empty());
    EXPECT_NE(theLibrary.symbol("GetTickCount"), nullptr);
    EXPECT_EQ(theLibrary.symbol("noSuchExport"), nullptr);
    EXPECT_EQ(theLibrary.lastError(), pf::LoaderError_procNotFound);
    theLibrary.unload();
    EXPECT_FALSE(theLibrary.isLoaded());

    // A library in the current directory is not taken, though one of that
    // name is there.
    ScratchDir theDir;
    char theSystem[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(theSystem, MAX_PATH), 0u);
    ASSERT_TRUE(pf::copyFileTo(std::string(theSystem) + "\\version.dll",
                               theDir.itsPath + "\\plantedPlugin.dll"));
    std::string theSaved;
    ASSERT_TRUE(pf::getCurrentDir(theSaved));
    ASSERT_TRUE(pf::setCurrentDir(theDir.itsPath));
    EXPECT_FALSE(theLibrary.load("plantedPlugin.dll"));
    EXPECT_EQ(theLibrary.lastError(), pf::LoaderError_modNotFound);
    // The plug-in directory, chosen by code, is searched first.
    pf::setPluginDirectory(theDir.itsPath);
    EXPECT_TRUE(theLibrary.load("plantedPlugin.dll"));
    theLibrary.unload();
    pf::setPluginDirectory("");
    EXPECT_TRUE(pf::setCurrentDir(theSaved));
}
