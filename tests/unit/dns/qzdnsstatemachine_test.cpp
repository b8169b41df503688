// The DNS name recogniser: its options, the shared option cells that every
// construction rewrites, and the C-string tests built on it.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "tests/support/log_capture.h"
#include "corvel/dns/qzdnsstatemachine.h"

namespace
{
using TraceCapture = LogCapture;
bool machineAccepts(const std::string& inName, bool inUnderscore, bool inSpecials, bool inStart)
{
    qzDNSStateMachine theMachine(inUnderscore, inSpecials, inStart);
    return theMachine.addBuffer(inName.data(), static_cast<std::uint32_t>(inName.size()));
}

const char* const theOptionAssertion =
    "Offending command: \"allowUnderscore || ! mayStartWithUnderscore\"";
} // namespace

TEST(DNSNameOptions, EveryCombination)
{
    // Columns: (allowUnderscore, specialsAsLetters, mayStartWithUnderscore)
    // = 000, 001, 010, 011, 100, 101, 110, 111.
    struct Row
    {
        const char* itsName;
        const char* itsExpected;
    };
    const Row theRows[] = {
        {"a", "11111111"},   {"a-b", "11111111"},   {"a/b", "11111111"},  {"a.b.", "11111111"},
        {"*.a", "11111111"}, {"a.*.b", "11111111"}, {"a_b", "00111111"},  {"a-", "00110011"},
        {"a_", "00110011"},  {"-a", "01110111"},    {"/a", "01110111"},   {"a.-b", "01110111"},
        {"_a", "00110111"},  {"a*", "00000000"},    {"a..b", "00000000"}, {"", "00000000"},
        {".", "00000000"},   {"a b", "00000000"},   {"-", "01110111"},    {"a.-", "01110111"},
    };
    // One capture for the whole case: constructing another while entries
    // flow would take the capture's lock and the log's in the other order.
    TraceCapture theLog;
    for (const Row& curRow : theRows)
    {
        for (int curCombination = 0; curCombination < 8; ++curCombination)
        {
            const bool theUnderscore = (curCombination & 4) != 0;
            const bool theSpecials = (curCombination & 2) != 0;
            const bool theStart = (curCombination & 1) != 0;
            theLog.clear();
            EXPECT_EQ(curRow.itsExpected[curCombination] == '1',
                      machineAccepts(curRow.itsName, theUnderscore, theSpecials, theStart))
                << "\"" << curRow.itsName << "\" with options " << theUnderscore << theSpecials
                << theStart;
            // Only a start special without underscores is reported.
            EXPECT_EQ(theStart && !theUnderscore, !theLog.containing(theOptionAssertion).empty())
                << curCombination;
        }
    }
}

TEST(DNSNameOptions, SetOptionsReturnsStartFlag)
{
    qzDNSStateMachine theMachine(true, false, false);
    EXPECT_TRUE(theMachine.setOptions(true, false, true));
    EXPECT_FALSE(theMachine.setOptions(true, true, false));
}

TEST(DNSNameOptions, LatestConstructionGovernsEarlierMachines)
{
    qzDNSStateMachine theEarlier(true, false, false);
    ASSERT_TRUE(theEarlier.addChar('a'));
    {
        qzDNSStateMachine theLater(true, true, false);
    }
    // "-" is a letter now, so the earlier machine may end on it.
    ASSERT_TRUE(theEarlier.addChar('-'));
    EXPECT_TRUE(theEarlier.isLegalEnd());

    qzDNSStateMachine theOther(true, false, false);
    ASSERT_TRUE(theOther.addBuffer("a.", 2));
    // A hyphen right after a dot is refused until a construction allows a
    // label to start with a special.
    {
        qzDNSStateMachine theStarter(true, false, true);
    }
    EXPECT_TRUE(theOther.addChar('-'));
    EXPECT_TRUE(theOther.addChar('b'));
    EXPECT_TRUE(theOther.isLegalEnd());

    // isValidDNSName constructs with its own options, which then govern.
    qzDNSStateMachine theLetters(true, true, false);
    EXPECT_FALSE(isValidDNSName("a-", false));
    EXPECT_FALSE(theLetters.addBuffer("a-", 2));
}

TEST(DNSNameOptions, DumpShowsTheOptionClasses)
{
    TraceCapture theLog;
    qzDNSStateMachine theMachine(false, false, false);
    theMachine.dumpTable();
    const std::vector<std::string> theDump = theLog.containing("XXXXXX");
    ASSERT_EQ(1u, theDump.size());
    const std::string& theText = theDump[0];
    EXPECT_EQ(0u, theText.find("* XXXXXX\t0\t1\t2\t3\t4\t5\t\r"));
    EXPECT_NE(std::string::npos, theText.find("\r3 (-)\t0\t0\t3\t3\t0\t0\t\r"));
    EXPECT_NE(std::string::npos, theText.find("\r4 (.)\t0\t0\t4\t0\t0\t4\t\r"));
    EXPECT_NE(std::string::npos, theText.find("\r5 (*)\t0\t5\t0\t0\t5\t0\t\r"));
    EXPECT_EQ(std::string::npos, theText.find("(_)")) << "underscore not allowed";
    EXPECT_NE(std::string::npos, theText.find("\rLegal ends: 2\t4\t5\t\r"));
}

TEST(DNSNameValidity, AcceptedAndRejectedNames)
{
    for (const char* curName : {"a", "a.", "1a", "a-b", "a_b", "a/b", "*", "*.a", "a.*", "a.*.b",
                                "www.example.com.", "0.1.2.3", "A-b.C_d"})
        EXPECT_TRUE(isValidDNSName(curName, false)) << curName;
    for (const char* curName :
         {"", ".", "-a", "_a", "a-", "a..b", "a.-b", "a*", "a b", "a.b..", "..", "*a", "a.b-.c"})
        EXPECT_FALSE(isValidDNSName(curName, false)) << curName;
    EXPECT_TRUE(isValidDNSName(".", true));
    EXPECT_FALSE(isValidDNSName("", true));
    EXPECT_FALSE(isValidDNSName("..", true));
    EXPECT_FALSE(isValidDNSName(nullptr, true));
    for (int curByte = 1; curByte < 256; ++curByte)
    {
        if (curByte >= 128 || curByte < 33)
        {
            const char theName[] = {'a', static_cast<char>(curByte), 'b', '\0'};
            EXPECT_FALSE(isValidDNSName(theName, false)) << curByte;
        }
    }
}

TEST(DNSNameValidity, PrintableNames)
{
    EXPECT_TRUE(isPrintableName("a"));
    EXPECT_TRUE(isPrintableName("!~"));
    EXPECT_TRUE(isPrintableName("\x7f")) << "127 is let through";
    EXPECT_FALSE(isPrintableName(""));
    EXPECT_FALSE(isPrintableName(nullptr));
    EXPECT_FALSE(isPrintableName("a b"));
    EXPECT_FALSE(isPrintableName("a\tb"));
    EXPECT_FALSE(isPrintableName("a\x80"));
    EXPECT_FALSE(isPrintableName("\xff"));
}

TEST(DNSNameConcurrency, ConstructionsOnSeveralThreads)
{
    // Every construction rewrites the shared option cells; with the same
    // options on every thread the answers must stay right (and the
    // ThreadSanitizer build must see no race).
    int theGood[2] = {0, 0};
    auto theWork = [&theGood](int inIndex)
    {
        for (int curRound = 0; curRound < 500; ++curRound)
        {
            if (isValidDNSName("a_b.example.", false) && !isValidDNSName("-a", false))
                ++theGood[inIndex];
        }
    };
    std::thread theFirst(theWork, 0);
    std::thread theSecond(theWork, 1);
    theFirst.join();
    theSecond.join();
    EXPECT_EQ(500, theGood[0]);
    EXPECT_EQ(500, theGood[1]);
}
