// Information log: line formats, level and callback rules, file output.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "corvel/threads/qzthread.h"
#include "tests/support/log_capture.h"
#include "tests/support/stderr_capture.h"

namespace
{

std::string readFile(const std::string& inPath)
{
    std::ifstream theFile(inPath);
    std::stringstream theText;
    theText << theFile.rdbuf();
    return theText.str();
}

std::vector<std::string> splitLines(const std::string& inText)
{
    std::vector<std::string> theLines;
    std::istringstream theStream(inText);
    for (std::string curLine; std::getline(theStream, curLine);)
        theLines.push_back(curLine);
    return theLines;
}

std::string tid() { return std::to_string(qzThread::getCurrentThreadID()); }

std::string uniquePath(const char* inName)
{
    return ::testing::TempDir() + inName + std::to_string(::getpid()) + ".log";
}

} // namespace

TEST(InfoLogFormat, StdErrLineHasTimeThreadAndTwoSpacesBeforeText)
{
    StderrCapture theCapture;
    writeInfoLog(qzLogError, "hello world");
    const std::string theText = theCapture.text();
    // An unregistered thread has an empty name: the bracket holds the id and a space.
    EXPECT_TRUE(std::regex_match(
        theText, std::regex("\\d\\d:\\d\\d:\\d\\d \\[" + tid() + " \\]  hello world\n")))
        << theText;
}

TEST(InfoLogFormat, StdErrLineNamesTheRegisteredThread)
{
    auto* theMain = static_cast<qzMainThread*>(qzThread::getMainThread());
    theMain->ensureRegistered();
    theMain->setName("main");
    StderrCapture theCapture;
    writeInfoLog(qzLogError, "named");
    const std::string theText = theCapture.text();
    EXPECT_TRUE(std::regex_match(
        theText, std::regex("\\d\\d:\\d\\d:\\d\\d \\[" + tid() + " main\\]  named\n")))
        << theText;
    theMain->setName("");
}

TEST(InfoLogFormat, FileLineWithoutPrefix)
{
    const std::string thePath = uniquePath("nopfx");
    std::remove(thePath.c_str());
    setInfoLogFile("", thePath);
    EXPECT_EQ(getInfoLogFileName(), thePath);
    writeInfoLog(qzLogError, "first");
    writeInfoLog(qzLogInfo, "second");
    const auto theLines = splitLines(readFile(thePath));
    ASSERT_EQ(theLines.size(), 2u);
    const std::regex theLine("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [1-9]\\d? "
                             "\\d\\d:\\d\\d:\\d\\d  \\[" +
                             tid() + " \\] first");
    EXPECT_TRUE(std::regex_match(theLines[0], theLine)) << theLines[0];
    EXPECT_NE(theLines[1].find("] second"), std::string::npos);
    std::remove(thePath.c_str());
}

TEST(InfoLogFormat, FileLineWithPrefix)
{
    const std::string thePath = uniquePath("pfx");
    std::remove(thePath.c_str());
    setInfoLogFile("app", thePath);
    writeInfoLog(qzLogNotice, "text");
    const auto theLines = splitLines(readFile(thePath));
    ASSERT_EQ(theLines.size(), 1u);
    const std::regex theLine("[A-Z][a-z]{2} [1-9]\\d? \\d\\d:\\d\\d:\\d\\d app:  \\[" + tid() +
                             " \\] text");
    EXPECT_TRUE(std::regex_match(theLines[0], theLine)) << theLines[0];
    std::remove(thePath.c_str());
}

TEST(InfoLogFormat, FileInMissingDirectoryDropsEntrySilently)
{
    LogCapture theCallbacks(false, qzLogError);
    setInfoLogFile("app", ::testing::TempDir() + "no/such/dir/infoLog.log");
    StderrCapture theStderr;
    writeInfoLog(qzLogError, "lost");
    EXPECT_EQ(theStderr.text(), "");
    // The callbacks saw it before the file was tried.
    EXPECT_EQ(theCallbacks.texts(), std::vector<std::string>{"lost"});
}

TEST(InfoLogFormat, OtherDestinationWritesNothing)
{
    setInfoLog("", 7);
    StderrCapture theCapture;
    writeInfoLog(qzLogError, "nowhere");
    EXPECT_EQ(theCapture.text(), "");
}

TEST(InfoLogLevels, DefaultThresholdShowsLevelsUpToInfo)
{
    StderrCapture theCapture;
    for (int curLevel = 0; curLevel <= 5; ++curLevel)
        infoLog(static_cast<qzInfoLogLevel>(curLevel), "level %d", curLevel);
    const auto theLines = splitLines(theCapture.text());
    ASSERT_EQ(theLines.size(), 4u);
    for (int curLevel = 0; curLevel <= 3; ++curLevel)
        EXPECT_NE(theLines[curLevel].find("level " + std::to_string(curLevel)), std::string::npos);
}

TEST(InfoLogLevels, DebugThresholdShowsAllSixAndNegativeLevelsAlwaysPass)
{
    setInfoLogLevel(qzLogDebug);
    StderrCapture theCapture;
    for (int curLevel = 0; curLevel <= 5; ++curLevel)
        infoLog(static_cast<qzInfoLogLevel>(curLevel), "level %d", curLevel);
    setInfoLogLevel(qzLogError);
    writeInfoLog(static_cast<qzInfoLogLevel>(-1), "negative");
    writeInfoLog(qzLogNotice, "notice dropped");
    const auto theLines = splitLines(theCapture.text());
    ASSERT_EQ(theLines.size(), 7u);
    EXPECT_NE(theLines[6].find("negative"), std::string::npos);
}

TEST(InfoLogLevels, Names)
{
    EXPECT_STREQ(getInfoLogLevelName(0), "error");
    EXPECT_STREQ(getInfoLogLevelName(1), "notice");
    EXPECT_STREQ(getInfoLogLevelName(2), "warning");
    EXPECT_STREQ(getInfoLogLevelName(3), "info");
    EXPECT_STREQ(getInfoLogLevelName(4), "info");
    EXPECT_STREQ(getInfoLogLevelName(5), "debug");
    EXPECT_STREQ(getInfoLogLevelName(6), "");
    EXPECT_STREQ(getInfoLogLevelName(-1), "");
}

TEST(InfoLogLevels, OverlongEntryIsTruncatedToTheBuffer)
{
    LogCapture theCapture;
    const std::string theLong(20000, 'x');
    infoLog(qzLogError, "%s", theLong.c_str());
    const auto theTexts = theCapture.texts();
    ASSERT_EQ(theTexts.size(), 1u);
    EXPECT_EQ(theTexts[0], std::string(10239, 'x'));
}

namespace
{
std::vector<std::string> theCalls;
bool recordFirst(qzInfoLogLevel, const char* inText)
{
    theCalls.push_back(std::string("first:") + inText);
    return true;
}
bool recordSecond(qzInfoLogLevel, const char* inText)
{
    theCalls.push_back(std::string("second:") + inText);
    return false;
}
bool throwing(qzInfoLogLevel, const char*)
{
    theCalls.push_back("throwing");
    throw std::runtime_error("callback failure");
}
bool nesting(qzInfoLogLevel inLevel, const char* inText)
{
    theCalls.push_back(std::string("outer-begin:") + inText);
    if (std::string(inText) == "outer")
        writeInfoLog(inLevel, "inner");
    theCalls.push_back(std::string("outer-end:") + inText);
    return false;
}
} // namespace

TEST(InfoLogCallbacks, HandlingCallbackSuppressesOutputButLaterCallbacksRun)
{
    theCalls.clear();
    addInfoLogCallback(recordFirst, qzLogError);
    addInfoLogCallback(recordSecond, qzLogError);
    StderrCapture theCapture;
    writeInfoLog(qzLogError, "e");
    EXPECT_EQ(theCapture.text(), "");
    EXPECT_EQ(theCalls, (std::vector<std::string>{"first:e", "second:e"}));
    removeInfoLogCallback(recordFirst);
    removeInfoLogCallback(recordSecond);
}

TEST(InfoLogCallbacks, CallbackLevelWidensOnlyTheFirstTest)
{
    theCalls.clear();
    // Registered at level 1, yet offered a level-5 entry once another
    // callback's level lets it past the first test.
    addInfoLogCallback(recordSecond, qzLogNotice);
    StderrCapture theCapture;
    writeInfoLog(qzLogDebug, "debug-before");
    addInfoLogCallback(recordFirst, qzLogDebug);
    writeInfoLog(qzLogDebug, "debug-after");
    EXPECT_EQ(theCalls, (std::vector<std::string>{"second:debug-after", "first:debug-after"}));
    // Above the threshold of 3, nothing reaches stderr.
    EXPECT_EQ(theCapture.text(), "");
    removeInfoLogCallback(recordFirst);
    removeInfoLogCallback(recordSecond);
}

TEST(InfoLogCallbacks, ThrowingCallbackIsSkippedAndDoesNotHandle)
{
    theCalls.clear();
    addInfoLogCallback(throwing, qzLogError);
    addInfoLogCallback(recordSecond, qzLogError);
    StderrCapture theCapture;
    writeInfoLog(qzLogError, "x");
    EXPECT_EQ(theCalls, (std::vector<std::string>{"throwing", "second:x"}));
    EXPECT_NE(theCapture.text().find("x\n"), std::string::npos);
    removeInfoLogCallback(throwing);
    removeInfoLogCallback(recordSecond);
}

TEST(InfoLogCallbacks, RemovedCallbackIsNoLongerCalledAndDuplicatesGoTogether)
{
    theCalls.clear();
    addInfoLogCallback(recordSecond, qzLogError);
    addInfoLogCallback(recordSecond, qzLogError);
    writeInfoLog(qzLogError, "twice");
    removeInfoLogCallback(recordSecond);
    StderrCapture theCapture;
    writeInfoLog(qzLogDebug, "dropped");
    writeInfoLog(qzLogError, "after");
    EXPECT_EQ(theCalls, (std::vector<std::string>{"second:twice", "second:twice"}));
    const auto theLines = splitLines(theCapture.text());
    ASSERT_EQ(theLines.size(), 1u);
    EXPECT_NE(theLines[0].find("after"), std::string::npos);
}

TEST(InfoLogCallbacks, NestedEntryCompletesBeforeTheOuterOneGoesOn)
{
    theCalls.clear();
    addInfoLogCallback(nesting, qzLogError);
    StderrCapture theCapture;
    writeInfoLog(qzLogError, "outer");
    EXPECT_EQ(theCalls, (std::vector<std::string>{"outer-begin:outer", "outer-begin:inner",
                                                  "outer-end:inner", "outer-end:outer"}));
    const auto theLines = splitLines(theCapture.text());
    ASSERT_EQ(theLines.size(), 2u);
    EXPECT_NE(theLines[0].find("inner"), std::string::npos);
    EXPECT_NE(theLines[1].find("outer"), std::string::npos);
    removeInfoLogCallback(nesting);
}

TEST(InfoLogConcurrency, LinesFromManyThreadsNeverInterleave)
{
    const std::string thePath = uniquePath("threads");
    std::remove(thePath.c_str());
    setInfoLogFile("", thePath);
    constexpr int theThreads = 8;
    constexpr int theEntries = 200;
    std::vector<std::thread> theWorkers;
    for (int curThread = 0; curThread < theThreads; ++curThread)
        theWorkers.emplace_back(
            [curThread]
            {
                const std::string theBody(100, static_cast<char>('a' + curThread));
                for (int curEntry = 0; curEntry < theEntries; ++curEntry)
                    infoLog(qzLogError, "%d %s", curThread, theBody.c_str());
            });
    for (auto& curWorker : theWorkers)
        curWorker.join();
    const auto theLines = splitLines(readFile(thePath));
    ASSERT_EQ(theLines.size(), static_cast<size_t>(theThreads * theEntries));
    const std::regex theLine(".*\\] (\\d) ([a-h])\\2{99}");
    for (const auto& curLine : theLines)
    {
        std::smatch theMatch;
        ASSERT_TRUE(std::regex_match(curLine, theMatch, theLine)) << curLine;
        EXPECT_EQ(theMatch[2].str()[0], 'a' + std::stoi(theMatch[1].str()));
    }
    std::remove(thePath.c_str());
}
