#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "corvel/platform/os_files.h"
#include "corvel/platform/os_time.h"
#include "corvel/util/qzdate.h"
#include "corvel/util/qzstream.h"
#include "corvel/util/qztime.h"
#include "tests/support/log_capture.h"

namespace fs = std::filesystem;

namespace
{

// The separator the platform writes.
const std::string S(1, corvel::platform::pathSeparator());

void writeFile(const std::string& inPath, const std::string& inContents)
{
    std::ofstream theFile(inPath, std::ios::binary);
    theFile << inContents;
}

std::string readFile(const std::string& inPath)
{
    std::ifstream theFile(inPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(theFile), std::istreambuf_iterator<char>());
}

// A fresh directory under the system's temporary directory for each test,
// removed afterwards with the standard library (not with the code under test).
class qzFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::random_device theRandom;
        itsRoot =
            (fs::temp_directory_path() / ("qzstream_test_" + std::to_string(theRandom()))).string();
        fs::create_directory(itsRoot);
    }
    void TearDown() override
    {
        std::error_code theError;
        fs::remove_all(itsRoot, theError);
        if (!itsOutside.empty())
            fs::remove_all(itsOutside, theError);
    }
    std::string path(const std::string& inRelative) const { return itsRoot + S + inRelative; }

    std::string itsRoot;
    std::string itsOutside;
};

std::string split(const std::string& inPath)
{
    std::string theDirectory = "unset";
    std::string theName = "unset";
    splitPath(inPath, theDirectory, theName);
    return "[" + theDirectory + "][" + theName + "]";
}

} // namespace

TEST(qzPathText, SeparatorsAndAbsolutePaths)
{
    EXPECT_TRUE(isPathSeparator('\\'));
    EXPECT_TRUE(isPathSeparator('/'));
    EXPECT_FALSE(isPathSeparator(':'));
    EXPECT_TRUE(isAbsolutePath("\\x"));
    EXPECT_TRUE(isAbsolutePath("/x"));
    EXPECT_TRUE(isAbsolutePath("c:\\x"));
    EXPECT_TRUE(isAbsolutePath("Z:/x"));
    EXPECT_FALSE(isAbsolutePath("c:x"));
    EXPECT_FALSE(isAbsolutePath("c:"));
    EXPECT_FALSE(isAbsolutePath("x\\y"));
    EXPECT_FALSE(isAbsolutePath("1:\\y"));
    EXPECT_FALSE(isAbsolutePath(""));
}

TEST(qzPathText, JoinWritesThePlatformSeparator)
{
    EXPECT_EQ(joinPath("c:\\a", "b"), "c:\\a" + S + "b");
    EXPECT_EQ(joinPath("c:\\a\\", "b"), "c:\\a\\b");
    EXPECT_EQ(joinPath("c:\\a\\", "\\b"), "c:\\a\\\\b");
    EXPECT_EQ(joinPath("/a/", "/b"), "/a//b");
    EXPECT_EQ(joinPath("/a", "/b"), "/a/b");
    EXPECT_EQ(joinPath("/a", "b/c"), "/a" + S + "b/c");
    EXPECT_EQ(joinPath("", "b"), "b");
    EXPECT_EQ(joinPath("a", ""), "a");
    EXPECT_EQ(joinPath("", ""), "");
}

TEST(qzPathText, Rebase)
{
    EXPECT_EQ(rebasePath("d:\\mirror", "c:\\data\\f"), "d:\\mirror\\data\\f");
    EXPECT_EQ(rebasePath("/mirror", "c:/data/f"), "/mirror/data/f");
    EXPECT_EQ(rebasePath("/mirror/", "/data/f"), "/mirror//data/f");
    EXPECT_EQ(rebasePath("/mirror", "\\data\\f"), "/mirror\\data\\f");
    EXPECT_EQ(rebasePath("/mirror", "data/f"), "data/f");
    EXPECT_EQ(rebasePath("/mirror", "c:data"), "c:data");
    EXPECT_EQ(rebasePath("", "c:\\data"), "\\data");
}

TEST(qzPathText, Split)
{
    EXPECT_EQ(split("c:\\dir\\file.txt"), "[c:\\dir\\][file.txt]");
    EXPECT_EQ(split("/dir/sub/file.txt"), "[/dir/sub/][file.txt]");
    EXPECT_EQ(split("dir\\sub/file"), "[dir\\sub/][file]");
    EXPECT_EQ(split("dir/sub\\file"), "[dir/sub\\][file]");
    EXPECT_EQ(split("c:file"), "[c:][file]");
    EXPECT_EQ(split("file"), "[][file]");
    EXPECT_EQ(split("c:\\dir\\"), "[c:\\dir\\][]");
    EXPECT_EQ(split("\\file"), "[][\\file]");
    EXPECT_EQ(split("/file"), "[][/file]");
    EXPECT_EQ(split("a/"), "[a/][]");
    EXPECT_EQ(split(""), "[][]");
}

TEST(qzPathText, WindowsWildcards)
{
    EXPECT_TRUE(matchesFilePattern("a.txt", "*.*"));
    EXPECT_TRUE(matchesFilePattern("noext", "*.*"));
    EXPECT_TRUE(matchesFilePattern(".hidden", "*.*"));
    EXPECT_TRUE(matchesFilePattern("a.b.c", "*"));
    EXPECT_TRUE(matchesFilePattern("A.TXT", "*.txt"));
    EXPECT_FALSE(matchesFilePattern("a.txt.bak", "*.txt"));
    EXPECT_TRUE(matchesFilePattern("a1.log", "a?.log"));
    EXPECT_FALSE(matchesFilePattern("a.log", "a?.log"));
    EXPECT_FALSE(matchesFilePattern("a12.log", "a?.log"));
    EXPECT_TRUE(matchesFilePattern("report", "rep*.*"));
    EXPECT_TRUE(matchesFilePattern("report.doc", "rep*.*"));
    EXPECT_FALSE(matchesFilePattern("other.doc", "rep*.*"));
    EXPECT_TRUE(matchesFilePattern("makefile", "*."));
    EXPECT_FALSE(matchesFilePattern("make.file", "*."));
    EXPECT_TRUE(matchesFilePattern("abcabcabd", "*abd"));
    EXPECT_FALSE(matchesFilePattern("abcabcabe", "*abd"));
    EXPECT_TRUE(matchesFilePattern("x", "x"));
    EXPECT_FALSE(matchesFilePattern("", "?"));
    // A long name against a pattern of many stars still ends quickly.
    EXPECT_FALSE(matchesFilePattern(std::string(5000, 'a'), "*a*a*a*a*a*a*a*a*b"));
}

TEST(qzStrStream, WritesReadsAndHandsOutItsBuffer)
{
    qzStrStream theStream;
    EXPECT_EQ(theStream.pcount(), 0);
    EXPECT_STREQ(theStream.str(), "");
    theStream.freeze(false);

    theStream << "year " << 2011 << ' ' << 3.5;
    EXPECT_EQ(theStream.pcount(), 13);
    // Terminated even without std::ends.
    EXPECT_STREQ(theStream.str(), "year 2011 3.5");
    theStream.freeze(false);

    std::string theWord;
    int theYear = 0;
    double theValue = 0;
    theStream >> theWord >> theYear >> theValue;
    EXPECT_EQ(theWord, "year");
    EXPECT_EQ(theYear, 2011);
    EXPECT_EQ(theValue, 3.5);
    char theChar = 0;
    EXPECT_FALSE(theStream.get(theChar));
    EXPECT_TRUE(theStream.eof());

    // Reading sees what is written after the end was reached.
    theStream.clear();
    theStream << " 42";
    int theMore = 0;
    theStream >> theMore;
    EXPECT_EQ(theMore, 42);
}

TEST(qzStrStream, GrowsWhileNotFrozen)
{
    qzStrStream theStream;
    std::string theExpected;
    for (int curLine = 0; curLine < 5000; ++curLine)
    {
        theStream << "line " << curLine << '\n';
        theExpected += "line " + std::to_string(curLine) + '\n';
    }
    EXPECT_EQ(theStream.pcount(), static_cast<std::streamsize>(theExpected.size()));
    EXPECT_EQ(std::string(theStream.str()), theExpected);
    // Dropped frozen: the destructor frees the buffer (the leak checker of
    // the sanitizer build would report it otherwise).
}

TEST(qzStrStream, FrozenBufferStaysWhereItIs)
{
    qzStrStream theStream;
    theStream << "abc";
    char* const theText = theStream.str();
    // Enough to need a bigger buffer: refused while frozen, so the pointer
    // handed out stays valid.
    theStream << std::string(10000, 'x');
    EXPECT_TRUE(theStream.bad());
    EXPECT_EQ(theStream.str(), theText);
    EXPECT_EQ(std::string(theText, 3), "abc");

    theStream.clear();
    theStream.freeze(false);
    theStream.seekp(0, std::ios::end);
    theStream << "def";
    EXPECT_TRUE(theStream.good());
    const std::string theAll = theStream.str();
    EXPECT_EQ(theAll.substr(0, 3), "abc");
    EXPECT_EQ(theAll.substr(theAll.size() - 3), "def");
}

TEST(qzStrStream, Seeking)
{
    qzStrStream theStream;
    theStream << "hello world";
    theStream.seekp(0);
    theStream << "J";
    EXPECT_EQ(theStream.pcount(), 1);
    // The text written before stays after a seek backwards.
    EXPECT_STREQ(theStream.str(), "Jello world");
    theStream.freeze(false);
    theStream.seekg(6);
    std::string theWord;
    theStream >> theWord;
    EXPECT_EQ(theWord, "world");
    theStream.clear();
    theStream.seekg(1);
    char theChar = 0;
    theStream.get(theChar);
    EXPECT_EQ(theChar, 'e');
    theStream.unget();
    theStream.get(theChar);
    EXPECT_EQ(theChar, 'e');
    // Outside the written text a seek fails.
    theStream.seekg(100);
    EXPECT_TRUE(theStream.fail());
}

TEST_F(qzFiles, CreateAndTestDirectories)
{
    EXPECT_TRUE(createDirectory(path("a")));
    EXPECT_TRUE(directoryExists(path("a")));
    EXPECT_FALSE(createDirectory(path("a")));
    // One trailing separator of either kind is dropped.
    EXPECT_TRUE(createDirectory(path("b\\")));
    EXPECT_TRUE(directoryExists(path("b")));
    EXPECT_TRUE(directoryExists(path("b") + "\\"));
    EXPECT_TRUE(createDirectory(path("c/")));
    EXPECT_TRUE(directoryExists(path("c") + "/"));
    // A backslash inside the path is a separator here too.
    EXPECT_TRUE(createDirectory(itsRoot + "\\a\\inner"));
    EXPECT_TRUE(fs::is_directory(fs::path(itsRoot) / "a" / "inner"));
    // Parents are not created.
    EXPECT_FALSE(createDirectory(path("x") + S + "y"));
    EXPECT_FALSE(directoryExists(path("x")));
    writeFile(path("file"), "data");
    EXPECT_FALSE(directoryExists(path("file")));
}

TEST_F(qzFiles, CurrentDirectory)
{
    const std::string theStart = getCurrentDirectory();
    ASSERT_FALSE(theStart.empty());
    ASSERT_TRUE(setCurrentDirectory(itsRoot));
    EXPECT_EQ(fs::path(getCurrentDirectory()), fs::canonical(itsRoot));
    EXPECT_FALSE(setCurrentDirectory(path("missing")));
    EXPECT_EQ(fs::path(getCurrentDirectory()), fs::canonical(itsRoot));
    {
        LogCapture theLog;
        EXPECT_TRUE(setCurrentDirectory(""));
        EXPECT_EQ(theLog.containing("!inDirName.empty()").size(), 1u);
    }
    EXPECT_EQ(fs::path(getCurrentDirectory()), fs::canonical(itsRoot));
    ASSERT_TRUE(setCurrentDirectory(theStart));
}

TEST_F(qzFiles, RemoveTreeLeavesWhatLinksPointTo)
{
    // Outside the tree: a directory with a file, reached by a link inside.
    itsOutside = itsRoot + "_outside";
    fs::create_directory(itsOutside);
    writeFile(itsOutside + S + "keep.txt", "keep");

    fs::create_directories(fs::path(itsRoot) / "tree" / "sub" / "deeper");
    writeFile(path("tree") + S + "a.txt", "a");
    writeFile(path("tree") + S + "sub" + S + "b", "b");
    writeFile(path("tree") + S + "sub" + S + "deeper" + S + "c.dat", "c");
    fs::create_directory_symlink(itsOutside, fs::path(itsRoot) / "tree" / "sub" / "link");
    fs::create_symlink(itsOutside + S + "keep.txt", fs::path(itsRoot) / "tree" / "filelink");
    // A link loop must not make the walk go round.
    fs::create_directory_symlink(fs::path(itsRoot) / "tree",
                                 fs::path(itsRoot) / "tree" / "sub" / "loop");

    EXPECT_TRUE(removeDirectoryTree(path("tree")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(fs::path(itsRoot) / "tree")));
    EXPECT_EQ(readFile(itsOutside + S + "keep.txt"), "keep");
    EXPECT_TRUE(fs::is_directory(itsOutside));
}

TEST_F(qzFiles, RemoveTreeEdgeCases)
{
    EXPECT_FALSE(removeDirectoryTree(path("missing")));
    writeFile(path("plain"), "x");
    EXPECT_FALSE(removeDirectoryTree(path("plain")));
    EXPECT_TRUE(fs::exists(path("plain")));

    // An empty directory, named with Windows separators.
    fs::create_directory(path("empty"));
    EXPECT_TRUE(removeDirectoryTree(itsRoot + "\\empty"));
    EXPECT_FALSE(fs::exists(path("empty")));

    // A link given as the tree is removed itself; its target survives.
    itsOutside = itsRoot + "_outside";
    fs::create_directory(itsOutside);
    writeFile(itsOutside + S + "keep.txt", "keep");
    fs::create_directory_symlink(itsOutside, path("link"));
    EXPECT_TRUE(removeDirectoryTree(path("link")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("link"))));
    EXPECT_EQ(readFile(itsOutside + S + "keep.txt"), "keep");
}

TEST_F(qzFiles, RemoveDeepTree)
{
    fs::path theDeep = fs::path(itsRoot) / "deep";
    for (int curLevel = 0; curLevel < 150; ++curLevel)
        theDeep /= "d";
    fs::create_directories(theDeep);
    writeFile((theDeep / "leaf").string(), "x");
    EXPECT_TRUE(removeDirectoryTree(path("deep")));
    EXPECT_FALSE(fs::exists(path("deep")));
}

TEST_F(qzFiles, ListOrderAndPatterns)
{
    fs::create_directories(fs::path(itsRoot) / "s1" / "s11");
    fs::create_directories(fs::path(itsRoot) / "s2");
    for (const char* curName : {"a.txt", "B.TXT", "noext", "c.log"})
        writeFile(path(curName), "x");
    writeFile(path("s1") + S + "d.txt", "x");
    writeFile(path("s1") + S + "s11" + S + "e.txt", "x");
    writeFile(path("s2") + S + "f.txt", "x");
    writeFile(path("s2") + S + "g.log", "x");
    itsOutside = itsRoot + "_outside";
    fs::create_directory(itsOutside);
    writeFile(itsOutside + S + "h.txt", "x");
    fs::create_directory_symlink(itsOutside, path("s2") + S + "linked.txt");

    // The expected order follows the system's order of each directory.
    std::vector<std::string> theExpected;
    std::vector<std::string> thePending{itsRoot};
    while (!thePending.empty())
    {
        const std::string theDir = thePending.back();
        thePending.pop_back();
        std::vector<corvel::platform::DirEntry> theEntries;
        ASSERT_TRUE(corvel::platform::readDirectory(theDir, theEntries));
        std::vector<std::string> theSubs;
        for (const auto& curEntry : theEntries)
        {
            if (curEntry.isDirectory)
                theSubs.push_back(theDir + S + curEntry.name);
            else if (curEntry.name.find(".txt") != std::string::npos ||
                     curEntry.name.find(".TXT") != std::string::npos)
                theExpected.push_back(theDir + S + curEntry.name);
        }
        thePending.insert(thePending.end(), theSubs.rbegin(), theSubs.rend());
    }

    std::vector<std::string> theNames{"kept"};
    listFiles(itsRoot, "*.txt", theNames, true);
    ASSERT_FALSE(theNames.empty());
    EXPECT_EQ(theNames.front(), "kept");
    theNames.erase(theNames.begin());
    EXPECT_EQ(theNames, theExpected);
    // The top directory's own files come first, and the link is listed as a
    // file and never entered.
    ASSERT_EQ(theNames.size(), 6u);
    EXPECT_EQ(fs::path(theNames[0]).parent_path(), fs::path(itsRoot));
    EXPECT_EQ(fs::path(theNames[1]).parent_path(), fs::path(itsRoot));
    EXPECT_NE(std::find(theNames.begin(), theNames.end(), path("s2") + S + "linked.txt"),
              theNames.end());
    EXPECT_EQ(
        std::find(theNames.begin(), theNames.end(), path("s2") + S + "linked.txt" + S + "h.txt"),
        theNames.end());
    // s11's file comes right after s1's own, before anything of s2.
    const auto theD = std::find(theNames.begin(), theNames.end(), path("s1") + S + "d.txt");
    ASSERT_NE(theD, theNames.end());
    ASSERT_NE(theD + 1, theNames.end());
    EXPECT_EQ(*(theD + 1), path("s1") + S + "s11" + S + "e.txt");

    std::vector<std::string> theAll;
    listFiles(itsRoot, "*.*", theAll, false);
    std::sort(theAll.begin(), theAll.end());
    EXPECT_EQ(theAll, (std::vector<std::string>{path("B.TXT"), path("a.txt"), path("c.log"),
                                                path("noext")}));

    std::vector<std::string> theOne;
    listFiles(itsRoot, "?.log", theOne, true);
    std::sort(theOne.begin(), theOne.end());
    EXPECT_EQ(theOne, (std::vector<std::string>{path("c.log"), path("s2") + S + "g.log"}));

    std::vector<std::string> theNone;
    listFiles(path("missing"), "*.*", theNone, true);
    EXPECT_TRUE(theNone.empty());
}

TEST_F(qzFiles, CopyMoveAndDelete)
{
    writeFile(path("a"), "first");
    writeFile(path("b"), "second, longer");
    EXPECT_TRUE(fileExists(path("a")));
    EXPECT_FALSE(fileExists(path("missing")));
    EXPECT_FALSE(fileExists(itsRoot));

    EXPECT_TRUE(copyFile(path("a"), path("b")));
    EXPECT_EQ(readFile(path("b")), "first");
    EXPECT_EQ(readFile(path("a")), "first");
    EXPECT_FALSE(copyFile(path("missing"), path("c")));
    EXPECT_FALSE(fs::exists(path("c")));
    // Onto itself: refused, the contents stay.
    EXPECT_FALSE(copyFile(path("a"), itsRoot + "\\a"));
    EXPECT_EQ(readFile(path("a")), "first");

    std::string theBig(300000, '\0');
    for (std::size_t curIndex = 0; curIndex < theBig.size(); ++curIndex)
        theBig[curIndex] = static_cast<char>(curIndex * 7);
    writeFile(path("big"), theBig);
    EXPECT_TRUE(copyFile(path("big"), path("big2")));
    EXPECT_EQ(readFile(path("big2")), theBig);

    writeFile(path("c"), "third");
    EXPECT_TRUE(moveFile(path("c"), path("a")));
    EXPECT_EQ(readFile(path("a")), "third");
    EXPECT_FALSE(fs::exists(path("c")));
    EXPECT_FALSE(moveFile(path("c"), path("d")));

    EXPECT_TRUE(deleteFile(path("a")));
    EXPECT_FALSE(fs::exists(path("a")));
    EXPECT_FALSE(deleteFile(path("a")));
}

TEST_F(qzFiles, MoveAcrossFileSystems)
{
    // /dev/shm is a separate memory file system on most Linux systems.
    std::error_code theError;
    if (!fs::is_directory("/dev/shm", theError))
        GTEST_SKIP() << "no second file system";
    const std::string theOther = "/dev/shm/qzstream_test_" + std::to_string(std::random_device()());
    writeFile(theOther, "travels");
    writeFile(path("target"), "old");
    const bool theMoved = moveFile(theOther, path("target"));
    const bool theSourceLeft = fs::exists(theOther);
    fs::remove(theOther, theError);
    EXPECT_TRUE(theMoved);
    EXPECT_EQ(readFile(path("target")), "travels");
    EXPECT_FALSE(theSourceLeft);
}

TEST_F(qzFiles, FileTimeIsLocal)
{
    writeFile(path("f"), "x");
    const std::int64_t theSeconds = 1315994703;
    const auto theSys = std::chrono::sys_time<std::chrono::milliseconds>(
        std::chrono::milliseconds(theSeconds * 1000 + 250));
    fs::last_write_time(path("f"), std::chrono::file_clock::from_sys(theSys));

    corvel::platform::LocalTime theLocal;
    ASSERT_TRUE(corvel::platform::localTimeOf(theSeconds, theLocal));
    qzDate theDate;
    qzTime theTime;
    ASSERT_TRUE(getFileTime(path("f"), theDate, theTime));
    EXPECT_EQ(theDate, qzDate(static_cast<std::uint16_t>(theLocal.day),
                              static_cast<std::uint16_t>(theLocal.month),
                              static_cast<std::uint16_t>(theLocal.year)));
    EXPECT_EQ(theTime.getHour(), theLocal.hour);
    EXPECT_EQ(theTime.getMinute(), 5);
    EXPECT_EQ(theTime.getSecond(), 3);
    EXPECT_EQ(theTime.getMillisecond(), 250);

    qzDate theKeptDate(5, 3, 2011);
    qzTime theKeptTime;
    theKeptTime.set(1, 2, 3, 4);
    EXPECT_FALSE(getFileTime(path("missing"), theKeptDate, theKeptTime));
    EXPECT_EQ(theKeptDate, qzDate(5, 3, 2011));
    EXPECT_EQ(theKeptTime.toMilliseconds(), 3723004);
}

TEST_F(qzFiles, TempNames)
{
    const std::string theFirst = makeTempFileName(itsRoot);
    const std::string theSecond = makeTempFileName(itsRoot + S);
    ASSERT_FALSE(theFirst.empty());
    ASSERT_FALSE(theSecond.empty());
    EXPECT_NE(theFirst, theSecond);
    for (const std::string& curName : {theFirst, theSecond})
    {
        std::string theDirectory;
        std::string theName;
        splitPath(curName, theDirectory, theName);
        EXPECT_EQ(theDirectory, itsRoot + S);
        EXPECT_EQ(theName.rfind("tmp", 0), 0u) << theName;
        EXPECT_TRUE(fs::is_regular_file(curName));
        EXPECT_EQ(fs::file_size(curName), 0u);
    }

    const std::string theTempPath = getTempPath();
    ASSERT_FALSE(theTempPath.empty());
    EXPECT_TRUE(isPathSeparator(theTempPath.back()));
    const std::string theDefault = makeTempFileName("");
    ASSERT_FALSE(theDefault.empty());
    EXPECT_EQ(theDefault.rfind(theTempPath + "tmp", 0), 0u) << theDefault;
    EXPECT_TRUE(fs::is_regular_file(theDefault));
    fs::remove(theDefault);

    EXPECT_EQ(makeTempFileName(path("missing")), "");
}

TEST(qzProgramPath, NamesThisTestProgram)
{
    const std::string thePath = getProgramPath();
    ASSERT_TRUE(isAbsolutePath(thePath));
    EXPECT_TRUE(fileExists(thePath));
    EXPECT_EQ(getProgramName(), "unit_util");
    EXPECT_EQ(getProgramDirectory() + getProgramName(), thePath);
    EXPECT_TRUE(isPathSeparator(getProgramDirectory().back()));
    EXPECT_EQ(fs::path(thePath), fs::canonical("/proc/self/exe"));
}
