// The IPv4 recogniser: the octet rule, the optional reverse and wildcard
// forms with their dot counts, and a differential check against the C
// library's own parser.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "tests/support/log_capture.h"
#include "corvel/util/qzipaddressstatemachine.h"

namespace
{
using TraceCapture = LogCapture;
bool accepts(const std::string& inText, bool inArpa = false, bool inWildcard = false)
{
    qzIPAddressStateMachine theMachine(inArpa, inWildcard);
    return theMachine.addBuffer(inText.data(), static_cast<std::uint32_t>(inText.size()));
}

// The octet rule stated independently of the table: one to three digits
// and a value of at most 255.
bool octetIsValid(const std::string& inOctet)
{
    if (inOctet.empty() || inOctet.size() > 3)
        return false;
    for (const char curChar : inOctet)
        if (curChar < '0' || curChar > '9')
            return false;
    return std::stoi(inOctet) <= 255;
}
} // namespace

TEST(IPAddressOctets, BoundariesInEveryPosition)
{
    const char* const theOctets[] = {"0",   "00",  "000",  "001", "0001", "1",   "9",   "10",
                                     "99",  "100", "199",  "200", "209",  "249", "250", "255",
                                     "256", "259", "260",  "299", "300",  "999", "25",  "2",
                                     "26",  "29",  "1000", "01",  "010",  "0255"};
    for (const char* curOctet : theOctets)
    {
        for (int curPosition = 0; curPosition < 4; ++curPosition)
        {
            std::string theText;
            for (int curIndex = 0; curIndex < 4; ++curIndex)
            {
                if (curIndex > 0)
                    theText += '.';
                theText += curIndex == curPosition ? curOctet : "7";
            }
            EXPECT_EQ(octetIsValid(curOctet), accepts(theText)) << theText;
        }
    }
}

TEST(IPAddressOctets, EveryValueUpToThreeDigits)
{
    for (int curValue = 0; curValue < 1000; ++curValue)
    {
        const std::string thePlain = std::to_string(curValue);
        EXPECT_EQ(curValue <= 255, accepts("1.2.3." + thePlain)) << thePlain;
        EXPECT_EQ(curValue <= 255, accepts(thePlain + ".1.2.3")) << thePlain;
    }
}

TEST(IPAddressForms, WholeAddressesOnly)
{
    EXPECT_TRUE(accepts("1.2.3.4"));
    EXPECT_TRUE(accepts("255.255.255.255"));
    EXPECT_TRUE(accepts("0.0.0.0"));
    EXPECT_TRUE(accepts("001.2.3.4"));
    EXPECT_FALSE(accepts(""));
    EXPECT_FALSE(accepts("1.2.3"));
    EXPECT_FALSE(accepts("1.2.3.4."));
    EXPECT_FALSE(accepts(".1.2.3.4"));
    EXPECT_FALSE(accepts("1..2.3"));
    EXPECT_FALSE(accepts("1.2.3.4.5"));
    EXPECT_FALSE(accepts("1.2.3.4 "));
    EXPECT_FALSE(accepts(" 1.2.3.4"));
    EXPECT_FALSE(accepts("1.2.3.-4"));
    EXPECT_FALSE(accepts("a.b.c.d"));
}

TEST(IPAddressForms, SuffixLetterIsNoOctet)
{
    // "i" starts the reverse suffix; on its own it is neither an octet nor
    // a partial address, whatever the flags.
    EXPECT_FALSE(accepts("1.2.3.i"));
    EXPECT_FALSE(accepts("1.2.3.i", true, false));
    EXPECT_FALSE(accepts("1.2.3.i", false, true));
    qzIPAddressStateMachine theMachine;
    EXPECT_FALSE(theMachine.addBuffer("i", 1));
    EXPECT_FALSE(theMachine.isPartialAddress());
}

TEST(IPAddressForms, BytesOfHighValueAreRejected)
{
    for (int curByte = 128; curByte < 256; ++curByte)
    {
        std::string theText = "1.2.3.4";
        theText += static_cast<char>(curByte);
        EXPECT_FALSE(accepts(theText)) << curByte;
        theText = static_cast<char>(curByte) + std::string("1.2.3.4");
        EXPECT_FALSE(accepts(theText)) << curByte;
    }
}

TEST(IPAddressForms, ReverseFormNeedsFlagFinalDotAndSixDots)
{
    const std::string theReverse = "4.3.2.1.in-addr.arpa.";
    EXPECT_TRUE(accepts(theReverse, true, false));
    EXPECT_FALSE(accepts(theReverse));
    EXPECT_FALSE(accepts(theReverse, false, true));
    EXPECT_FALSE(accepts("4.3.2.1.in-addr.arpa", true, false));
    EXPECT_FALSE(accepts("2.1.in-addr.arpa.", true, false));
    EXPECT_FALSE(accepts("5.4.3.2.1.in-addr.arpa.", true, false));
    EXPECT_FALSE(accepts("4.3.2.1.IN-ADDR.ARPA.", true, false));
    EXPECT_FALSE(accepts("4.3.2.1.in-addr.Arpa.", true, false));
    EXPECT_FALSE(accepts("4.3.2.1.in-addr.arpa.x", true, false));
    EXPECT_FALSE(accepts("4.3.2.256.in-addr.arpa.", true, false));

    qzIPAddressStateMachine theMachine(true, false);
    ASSERT_TRUE(
        theMachine.addBuffer(theReverse.data(), static_cast<std::uint32_t>(theReverse.size())));
    EXPECT_TRUE(theMachine.isArpaAddress());
    EXPECT_FALSE(theMachine.isWildcardAddress());
    EXPECT_FALSE(theMachine.isPartialAddress());

    qzIPAddressStateMachine thePlain(true, false);
    ASSERT_TRUE(thePlain.addBuffer("4.3.2.1", 7));
    EXPECT_FALSE(thePlain.isArpaAddress());
}

TEST(IPAddressForms, WildcardStandsForTheLastOctetGiven)
{
    for (const char* curText : {"*", "10.*", "10.1.*", "10.1.2.*"})
    {
        EXPECT_TRUE(accepts(curText, false, true)) << curText;
        EXPECT_FALSE(accepts(curText)) << curText;
        EXPECT_FALSE(accepts(curText, true, false)) << curText;
        qzIPAddressStateMachine theMachine(false, true);
        theMachine.addBuffer(curText, static_cast<std::uint32_t>(std::strlen(curText)));
        EXPECT_TRUE(theMachine.isWildcardAddress()) << curText;
        EXPECT_FALSE(theMachine.isArpaAddress()) << curText;
    }
    EXPECT_FALSE(accepts("10.*.1", false, true));
    EXPECT_FALSE(accepts("10.1.2.3.*", false, true));
    EXPECT_FALSE(accepts("1*", false, true));
    EXPECT_FALSE(accepts("**", false, true));
    EXPECT_TRUE(accepts("1.2.3.4", false, true)) << "plain addresses still pass";
}

TEST(IPAddressForms, PartialAddresses)
{
    const auto partial = [](const char* inText)
    {
        qzIPAddressStateMachine theMachine;
        theMachine.addBuffer(inText, static_cast<std::uint32_t>(std::strlen(inText)));
        return theMachine.isPartialAddress();
    };
    EXPECT_TRUE(partial("10"));
    EXPECT_TRUE(partial("10.1"));
    EXPECT_TRUE(partial("10.1.2"));
    EXPECT_TRUE(partial("10.1.2.3"));
    EXPECT_FALSE(partial(""));
    EXPECT_FALSE(partial("10.")) << "ends at an octet start";
    EXPECT_FALSE(partial("10.1.2.3.4"));
    EXPECT_FALSE(partial("300"));
}

TEST(IPAddressForms, BothFormsAtOnceIsReported)
{
    TraceCapture theLog;
    qzIPAddressStateMachine theMachine(true, true);
    EXPECT_FALSE(
        theLog
            .containing(
                "Offending command: \"!itsUnderstandArpaFormatFlag || !itsAllowWildcardFlag\"")
            .empty());
    // It goes on with both forms understood.
    EXPECT_TRUE(accepts("10.*", true, true));
    EXPECT_TRUE(accepts("4.3.2.1.in-addr.arpa.", true, true));
}

TEST(IPAddressDifferential, AgreesWithInetPtonWithoutLeadingZeros)
{
    std::mt19937 theRandom(20110914);
    const char theAlphabet[] = "0123456789012345678901234567890123456789..........x -";
    int theCompared = 0;
    int theAccepted = 0;
    for (int curRound = 0; curRound < 200000; ++curRound)
    {
        std::string theText;
        const int theLength = 1 + static_cast<int>(theRandom() % 17);
        for (int curIndex = 0; curIndex < theLength; ++curIndex)
            theText += theAlphabet[theRandom() % (sizeof theAlphabet - 1)];
        // Also well-formed candidates, so that acceptance is exercised.
        if (curRound % 2 == 0)
        {
            theText.clear();
            const int theOctets = 3 + static_cast<int>(theRandom() % 3);
            for (int curIndex = 0; curIndex < theOctets; ++curIndex)
            {
                if (curIndex > 0)
                    theText += '.';
                theText += std::to_string(theRandom() % 300);
            }
        }
        // inet_pton refuses leading zeros, which this recogniser allows.
        bool theLeadingZero = false;
        for (std::size_t curIndex = 0; curIndex + 1 < theText.size(); ++curIndex)
        {
            const bool theStart = curIndex == 0 || theText[curIndex - 1] == '.';
            if (theStart && theText[curIndex] == '0' && theText[curIndex + 1] >= '0' &&
                theText[curIndex + 1] <= '9')
                theLeadingZero = true;
        }
        if (theLeadingZero)
            continue;
        unsigned char theAddress[4];
        const bool theExpected = inet_pton(AF_INET, theText.c_str(), theAddress) == 1;
        ASSERT_EQ(theExpected, accepts(theText)) << "\"" << theText << "\"";
        ++theCompared;
        theAccepted += theExpected ? 1 : 0;
    }
    EXPECT_GT(theCompared, 50000);
    EXPECT_GT(theAccepted, 10000);
}

TEST(IPAddressConcurrency, FirstConstructionsOnTwoThreads)
{
    // The tables are built on first use; both threads must see them whole.
    std::vector<int> theResults(2, 0);
    auto theWork = [&theResults](int inIndex)
    {
        for (int curRound = 0; curRound < 200; ++curRound)
        {
            if (accepts("192.168.1.254") && !accepts("192.168.1.256"))
                ++theResults[inIndex];
        }
    };
    std::thread theFirst(theWork, 0);
    std::thread theSecond(theWork, 1);
    theFirst.join();
    theSecond.join();
    EXPECT_EQ(200, theResults[0]);
    EXPECT_EQ(200, theResults[1]);
}
