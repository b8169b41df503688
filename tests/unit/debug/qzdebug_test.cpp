// Assertions and the debug trace as they reach the information log.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinfolog.h"
#include "tests/support/log_capture.h"

TEST(Assertion, ReportTextReachesTheLogAtDebugLevel)
{
    LogCapture theCapture;
    const char* theReport = assertReport("a.cpp", 103, "false", nullptr);
    EXPECT_STREQ(theReport,
                 "Assertion failed.  File: a.cpp, line: 103.  Offending command: \"false\".");
    const auto theEntries = theCapture.all();
    ASSERT_EQ(theEntries.size(), 1u);
    EXPECT_EQ(theEntries[0].itsLevel, qzLogDebug);
    EXPECT_EQ(theEntries[0].itsText,
              "* Assertion failed.  File: a.cpp, line: 103.  Offending command: \"false\".");
}

TEST(Assertion, ExtraTextFollowsTheReport)
{
    LogCapture theCapture;
    assertReport("a.cpp", 103, "false", "x");
    EXPECT_EQ(theCapture.texts(),
              std::vector<std::string>{"* Assertion failed.  File: a.cpp, line: 103.  Offending "
                                       "command: \"false\". --- x."});
}

TEST(Assertion, MacroReportsOnceWithTheConditionTextAndContinues)
{
    LogCapture theCapture;
    int theEvaluations = 0;
    auto theCondition = [&]
    {
        ++theEvaluations;
        return false;
    };
    const int theLine = __LINE__ + 1;
    qzAssert(theCondition());
    EXPECT_EQ(theEvaluations, 1);
    const auto theTexts = theCapture.texts();
    ASSERT_EQ(theTexts.size(), 1u);
    EXPECT_EQ(theTexts[0], "* Assertion failed.  File: " + std::string(__FILE__) +
                               ", line: " + std::to_string(theLine) +
                               ".  Offending command: \"theCondition()\".");
    qzAssert(theEvaluations == 1);
    EXPECT_EQ(theCapture.texts().size(), 1u);
}

TEST(Assertion, OverlongReportIsTruncatedAndTerminated)
{
    LogCapture theCapture;
    const std::string theCommand(3000, 'c');
    const char* theReport = assertReport("f.cpp", 1, theCommand.c_str(), "extra");
    EXPECT_EQ(std::string(theReport).size(), 1023u);
}

TEST(Assertion, EachThreadKeepsItsOwnReport)
{
    LogCapture theCapture;
    const char* theMine = assertReport("main.cpp", 1, "mine", nullptr);
    std::string theOther;
    std::thread([&] { theOther = assertReport("other.cpp", 2, "other", nullptr); }).join();
    EXPECT_NE(std::string(theMine).find("mine"), std::string::npos);
    EXPECT_NE(theOther.find("other"), std::string::npos);
}

TEST(Trace, OnlyVerbosityZeroAndOnePass)
{
    LogCapture theCapture;
    trace(0, "f.cpp", 1, "zero %d", 0);
    trace(1, "f.cpp", 1, "one %s", "1");
    trace(2, "f.cpp", 1, "two");
    trace(9, "f.cpp", 1, "nine");
    EXPECT_EQ(theCapture.texts(), (std::vector<std::string>{"* zero 0", "* one 1"}));
}

TEST(Trace, LocationLine)
{
    LogCapture theCapture;
    traceLocation(1, "f.cpp", 7);
    EXPECT_EQ(theCapture.texts(),
              std::vector<std::string>{"* ==============[File: f.cpp  Line: 7]=============="});
}

TEST(Trace, OverlongTextIsTruncatedToTheBuffer)
{
    LogCapture theCapture;
    const std::string theLong(30000, 't');
    trace(1, "f.cpp", 1, "%s", theLong.c_str());
    const auto theTexts = theCapture.texts();
    ASSERT_EQ(theTexts.size(), 1u);
    EXPECT_EQ(theTexts[0], "* " + std::string(10239, 't'));
}

TEST(Trace, InvisibleWithDefaultThresholdAndNoCallback)
{
    // With the log threshold at 3 and no callback, a debug entry stops at the
    // first level test: a callback registered afterwards at level 3 sees none.
    LogCapture theCapture(true, qzLogInfo);
    setInfoLogLevel(qzLogInfo);
    trace(1, "f.cpp", 1, "hidden");
    assertReport("f.cpp", 1, "false", nullptr);
    EXPECT_TRUE(theCapture.texts().empty());
}
