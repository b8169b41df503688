// Names by labels: equality with an origin, counting and slicing, common
// trailing labels, the length-prefixed form, and the duration text.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "corvel/dns/qzdnsstatemachine.h"

namespace
{
// A heap buffer of exactly inSize bytes, so that the sanitizer build catches
// a write past the size a contract allows.
std::unique_ptr<char[]> exactBuffer(std::size_t inSize, const std::string& inContent = "")
{
    std::unique_ptr<char[]> theBuffer(new char[inSize]);
    std::memset(theBuffer.get(), 0x5A, inSize);
    std::memcpy(theBuffer.get(), inContent.data(),
                inContent.size() < inSize ? inContent.size() : inSize);
    return theBuffer;
}

std::string labelsOf(const std::vector<std::string>& inLabels)
{
    std::string theBytes;
    for (const std::string& curLabel : inLabels)
    {
        theBytes += static_cast<char>(curLabel.size());
        theBytes += curLabel;
    }
    theBytes += '\0';
    return theBytes;
}
} // namespace

TEST(DNSLabelsEquality, RelativeNameAgainstAbsoluteWithOrigin)
{
    EXPECT_TRUE(namesEqual("www", "www.example.com.", "example.com."));
    EXPECT_TRUE(namesEqual("www.example.com.", "www", "example.com."));
    EXPECT_TRUE(namesEqual("WWW", "www.EXAMPLE.com.", "example.COM."));
    EXPECT_TRUE(namesEqual("Host.Example.", "host.example.", nullptr));
    EXPECT_FALSE(namesEqual("www.", "www.example.com.", "example.com."))
        << "an absolute name is not qualified";
    EXPECT_FALSE(namesEqual("www", "www.example.com.", nullptr));
    EXPECT_FALSE(namesEqual("www", "www.example.com.", ""));
    EXPECT_FALSE(namesEqual("www", "www.other.com.", "example.com."));
    EXPECT_FALSE(namesEqual("www", "wwwx.example.com.", "example.com."));
    EXPECT_FALSE(namesEqual("", "example.com.", "example.com.")) << "nothing matched";
    EXPECT_FALSE(namesEqual("ab", "ac", "x."));
    EXPECT_TRUE(namesEqual("", "", nullptr));
    EXPECT_FALSE(namesEqual(nullptr, "a", "a"));
    EXPECT_FALSE(namesEqual("a", nullptr, "a"));
}

TEST(DNSLabelsCounting, CountLabels)
{
    EXPECT_EQ(3, countLabels("a.b.", '.'));
    EXPECT_EQ(2, countLabels("a.b", '.'));
    EXPECT_EQ(1, countLabels(".", '.'));
    EXPECT_EQ(0, countLabels("", '.'));
    EXPECT_EQ(0, countLabels(nullptr, '.'));
    EXPECT_EQ(1, countLabels("abc"));
    EXPECT_EQ(3, countLabels("a,b,c", ','));
    EXPECT_EQ(1, countLabels(".", ',')) << "the lone dot is compared whatever the separator";
    EXPECT_EQ(1, countLabels("a.b", ','));
}

TEST(DNSLabelsSlicing, GetLabel)
{
    const std::string theName = "one.two.three.";
    const char* const theExpected[] = {"one", "two", "three", "", "", ""};
    for (int curN = 0; curN < 6; ++curN)
    {
        auto theBuffer = exactBuffer(theName.size() + 1);
        EXPECT_STREQ(theExpected[curN], getLabel(theName.c_str(), curN, theBuffer.get(), '.'))
            << curN;
        EXPECT_EQ(theExpected[curN], getLabel(theName, curN));
    }
    char theSmall[8];
    EXPECT_STREQ("", getLabel("a.b", -1, theSmall, '.'));
    EXPECT_STREQ("b", getLabel("a,b,c", 1, theSmall, ','));
    EXPECT_STREQ("", getLabel("abc", 1, theSmall, '\0'));
    EXPECT_STREQ("abc", getLabel("abc", 0, theSmall, '\0'));
}

TEST(DNSLabelsSlicing, GetLastLabels)
{
    const std::string theName = "one.two.three.";
    EXPECT_EQ("", getLastLabels(theName, 0));
    EXPECT_EQ(".", getLastLabels(theName, 1));
    EXPECT_EQ("three.", getLastLabels(theName, 2));
    EXPECT_EQ("two.three.", getLastLabels(theName, 3));
    EXPECT_EQ(theName, getLastLabels(theName, 4));
    EXPECT_EQ(theName, getLastLabels(theName, 9));
    EXPECT_EQ("", getLastLabels(theName, -2));
    // Relative names: the count of labels asked for, the root not among them.
    EXPECT_EQ("three", getLastLabels("one.two.three", 1));
    EXPECT_EQ("two.three", getLastLabels("one.two.three", 2));
    EXPECT_EQ("one.two.three", getLastLabels("one.two.three", 3));
    EXPECT_EQ("host", getLastLabels("host", 1));
    // The empty text has no last character to give.
    EXPECT_EQ("", getLastLabels("", 1));
    EXPECT_EQ("", getLastLabels("", 3));
    EXPECT_EQ(".", getLastLabels(".", 1));
    EXPECT_EQ(".", getLastLabels(".", 2));

    for (int curN = 0; curN < 6; ++curN)
    {
        auto theBuffer = exactBuffer(theName.size() + 1);
        EXPECT_EQ(getLastLabels(theName, curN),
                  getLastLabels(theName.c_str(), curN, theBuffer.get()));
    }
    auto theEmpty = exactBuffer(1);
    EXPECT_STREQ("", getLastLabels("", 1, theEmpty.get()));
}

TEST(DNSLabelsCommon, TrailingLabelsWithCaseFolding)
{
    struct Case
    {
        const char* itsA;
        const char* itsB;
        int itsExpected;
    };
    const Case theCases[] = {
        {"one.two.three.", "four.Two.THREE.", 3},
        {"a.top.", "ba.top.", 2},
        {"a.top.", "x.a.top.", 3},
        {"a.top.", "a.top.", 3},
        {"A.TOP.", "a.top.", 3},
        {"x.com.", "y.com.", 2},
        {"com.", "example.com.", 2},
        {"a.b", "c.d", 0},
        {"a.b", "c.b", 1},
        {".", "a.", 1},
        {"a.", "b.", 1},
        {"", "", 0},
        {"", "a.b.", 0},
    };
    for (const Case& curCase : theCases)
    {
        EXPECT_EQ(curCase.itsExpected, countCommonLabels(curCase.itsA, curCase.itsB))
            << curCase.itsA << " / " << curCase.itsB;
        EXPECT_EQ(curCase.itsExpected, countCommonLabels(curCase.itsB, curCase.itsA))
            << curCase.itsB << " / " << curCase.itsA;
    }
    EXPECT_EQ(0, countCommonLabels(nullptr, "a."));
}

TEST(DNSLabelsWireForm, LabelsToText)
{
    std::string theBytes = labelsOf({"one", "two", "three"});
    auto theBuffer = exactBuffer(theBytes.size(), theBytes);
    EXPECT_STREQ("one.two.three.", labelsToText(theBuffer.get()));

    theBytes = labelsOf({"a"});
    theBuffer = exactBuffer(theBytes.size(), theBytes);
    EXPECT_STREQ("a.", labelsToText(theBuffer.get()));

    // The root alone has no room for "." and becomes the empty text.
    theBuffer = exactBuffer(1, std::string(1, '\0'));
    EXPECT_STREQ("", labelsToText(theBuffer.get()));
}

TEST(DNSLabelsWireForm, LabelsToTextStopsAtTheTerminatingZero)
{
    // The second length claims 9 bytes, but the zero comes after 2.
    std::string theBytes("\x03one\x09tw", 7);
    theBytes += '\0';
    auto theBuffer = exactBuffer(theBytes.size(), theBytes);
    EXPECT_STREQ("one.tw.", labelsToText(theBuffer.get()));

    theBytes = std::string("\x05", 1);
    theBytes += '\0';
    theBuffer = exactBuffer(theBytes.size(), theBytes);
    EXPECT_STREQ(".", labelsToText(theBuffer.get()));
}

TEST(DNSLabelsWireForm, TextToLabelsAndBack)
{
    const std::string theName = "one.two.three.";
    auto theBuffer = exactBuffer(theName.size() + 1, theName + '\0');
    textToLabels(theBuffer.get());
    EXPECT_EQ(labelsOf({"one", "two", "three"}), std::string(theBuffer.get(), theName.size() + 1));

    const std::string theLong(255, 'x');
    for (const std::string& curName : {std::string("a."), std::string("ab.c.de."),
                                       std::string("www.example.com."), theLong + ".y."})
    {
        auto theRound = exactBuffer(curName.size() + 1, curName + '\0');
        textToLabels(theRound.get());
        EXPECT_NE(curName, std::string(theRound.get()));
        EXPECT_EQ(curName, std::string(labelsToText(theRound.get()))) << curName;
    }

    auto theRoot = exactBuffer(2, std::string(".\0", 2));
    textToLabels(theRoot.get());
    EXPECT_EQ(0, theRoot[0]);
}

TEST(DNSLabelsWireForm, TextToLabelsLeavesWhatItCannotEncode)
{
    const std::string theTooLong = std::string(256, 'x') + ".com.";
    for (const std::string& curName : {std::string("relative.name"), std::string("a..b."),
                                       std::string(".a."), theTooLong, std::string("")})
    {
        auto theBuffer = exactBuffer(curName.size() + 1, curName + '\0');
        textToLabels(theBuffer.get());
        EXPECT_EQ(curName, std::string(theBuffer.get(), curName.size())) << curName;
        EXPECT_EQ('\0', theBuffer[curName.size()]);
    }
}

TEST(DNSDurationText, UnitsAndPlurals)
{
    EXPECT_EQ("1 day, 1 hour, 1 minute, 1 second", durationText(90061));
    EXPECT_EQ("2 hours", durationText(7200));
    EXPECT_EQ("0 seconds", durationText(0));
    EXPECT_EQ("1 minute", durationText(60));
    EXPECT_EQ("1 hour, 1 second", durationText(3601));
    EXPECT_EQ("2 days, 2 seconds", durationText(2 * 86400 + 2));
    EXPECT_EQ("59 seconds", durationText(59));
    EXPECT_EQ("1 day", durationText(86400));
    EXPECT_EQ("23 hours, 59 minutes, 59 seconds", durationText(86399));
    EXPECT_EQ("49710 days, 6 hours, 28 minutes, 15 seconds", durationText(4294967295u));
}

TEST(DNSDurationText, LongestTextFitsTheStatedBuffer)
{
    const std::uint32_t theLongest = 49709u * 86400u + 86399u;
    auto theBuffer = exactBuffer(qzDurationTextSize);
    EXPECT_STREQ("49709 days, 23 hours, 59 minutes, 59 seconds",
                 durationText(theLongest, theBuffer.get()));
    EXPECT_EQ(44u, std::strlen(theBuffer.get()));
    EXPECT_EQ(47u, qzDurationTextSize);

    // Nothing beyond the text's terminating zero is touched.
    char theWide[64];
    std::memset(theWide, 0x5A, sizeof theWide);
    durationText(7200, theWide);
    EXPECT_STREQ("2 hours", theWide);
    for (std::size_t curIndex = 8; curIndex < sizeof theWide; ++curIndex)
        EXPECT_EQ(0x5A, theWide[curIndex]) << curIndex;
}
