// Find and replace, substitution, trimming, quoting, line breaks, split and
// join, lists of strings.
#include "corvel/util/qzstringutils.h"

#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(StringBlockReplace, FindBytes)
{
    const char theBlock[] = "abcabc";
    EXPECT_EQ(findBytes(theBlock, 6, "bc", 2, 0), 1);
    EXPECT_EQ(findBytes(theBlock, 6, "bc", 2, 2), 4);
    EXPECT_EQ(findBytes(theBlock, 6, "bc", 2, 5), -1);
    EXPECT_EQ(findBytes(theBlock, 6, "bc", 2, 100), -1);
    EXPECT_EQ(findBytes(theBlock, 6, "", 0, 0), -1);
    EXPECT_EQ(findBytes(theBlock, 2, "abc", 3, 0), -1);
    // The size bounds the search, not the terminator.
    EXPECT_EQ(findBytes(theBlock, 5, "bc", 2, 2), -1);
}

TEST(StringBlockReplace, GrowsShrinksAndKeepsTerminator)
{
    char theBlock[32] = "a-b-c";
    std::size_t theSize = replaceInBlock(theBlock, 5, 31, "-", 1, "--", 2, true);
    EXPECT_EQ(theSize, 7u);
    EXPECT_STREQ(theBlock, "a--b--c");
    theSize = replaceInBlock(theBlock, theSize, 31, "--", 2, "", 0, true);
    EXPECT_EQ(theSize, 3u);
    EXPECT_STREQ(theBlock, "abc");
    theSize = replaceInBlock(theBlock, theSize, 31, "b", 1, "B", 1, false);
    EXPECT_STREQ(theBlock, "aBc");
    // Only the first occurrence without all.
    std::strcpy(theBlock, "xxx");
    theSize = replaceInBlock(theBlock, 3, 31, "x", 1, "yy", 2, false);
    EXPECT_EQ(theSize, 4u);
    EXPECT_STREQ(theBlock, "yyxx");
    // A replacement holding the find text is not searched again.
    std::strcpy(theBlock, "aa");
    theSize = replaceInBlock(theBlock, 2, 31, "a", 1, "aa", 2, true);
    EXPECT_EQ(theSize, 4u);
    EXPECT_STREQ(theBlock, "aaaa");
}

TEST(StringBlockReplace, NeverTouchesBytesBeyondCapacity)
{
    // A block of exactly its capacity, with guards on both sides.
    struct Guarded
    {
        char itsBefore[4];
        char itsBlock[6];
        char itsAfter[4];
    } theData;
    std::memset(&theData, '#', sizeof theData);
    std::memcpy(theData.itsBlock, "abcdef", 6);
    std::size_t theSize = replaceInBlock(theData.itsBlock, 6, 6, "b", 1, "XYZ", 3, true);
    EXPECT_EQ(theSize, 6u);
    EXPECT_EQ(std::string(theData.itsBlock, 6), "aXYZcd");
    EXPECT_EQ(std::string(theData.itsAfter, 4), "####");
    EXPECT_EQ(std::string(theData.itsBefore, 4), "####");

    // The replacement itself is cut at the capacity.
    std::memcpy(theData.itsBlock, "abcdef", 6);
    theSize = replaceInBlock(theData.itsBlock, 6, 6, "f", 1, "123", 3, true);
    EXPECT_EQ(theSize, 6u);
    EXPECT_EQ(std::string(theData.itsBlock, 6), "abcde1");
    EXPECT_EQ(std::string(theData.itsAfter, 4), "####");

    // Shrinking a full block reads nothing past it.
    std::memcpy(theData.itsBlock, "abcdef", 6);
    theSize = replaceInBlock(theData.itsBlock, 6, 6, "cd", 2, "", 0, true);
    EXPECT_EQ(theSize, 4u);
    EXPECT_EQ(std::string(theData.itsBlock, 4), "abef");
    EXPECT_EQ(std::string(theData.itsAfter, 4), "####");
}

TEST(StringBlockReplace, EmptyFindAndBadArgumentsChangeNothing)
{
    LogCapture theLog;
    char theBlock[16] = "abc";
    EXPECT_EQ(replaceInBlock(theBlock, 3, 15, "", 0, "x", 1, true), 3u);
    EXPECT_STREQ(theBlock, "abc");
    EXPECT_TRUE(theLog.containing("Assertion failed").empty());

    EXPECT_EQ(replaceInBlock(theBlock, 3, 15, nullptr, 1, "x", 1, true), 3u);
    EXPECT_EQ(theLog.containing("blockPtr && findPtr && replacePtr").size(), 1u);
    EXPECT_STREQ(theBlock, "abc");

    // A size above the capacity is reported and taken as the capacity.
    EXPECT_EQ(replaceInBlock(theBlock, 10, 2, "c", 1, "x", 1, true), 2u);
    EXPECT_EQ(theLog.containing("blockSize <= maxBlockSize").size(), 1u);
    EXPECT_STREQ(theBlock, "abc");
}

TEST(StringCStringReplace, CutsAtBufferAndTerminates)
{
    struct Guarded
    {
        char itsBuffer[8];
        char itsAfter[4];
    } theData;
    std::memset(&theData, '#', sizeof theData);
    std::strcpy(theData.itsBuffer, "abc");
    char* theResult = replaceInCString(theData.itsBuffer, "b", "XYZXYZ", false, 8);
    EXPECT_EQ(theResult, theData.itsBuffer);
    EXPECT_STREQ(theData.itsBuffer, "aXYZXYZ");
    EXPECT_EQ(std::string(theData.itsAfter, 4), "####");

    std::strcpy(theData.itsBuffer, "a.b.c");
    replaceInCString(theData.itsBuffer, ".", "::", true, 8);
    EXPECT_STREQ(theData.itsBuffer, "a::b::c");
    replaceInCString(theData.itsBuffer, "::", "", true, 8);
    EXPECT_STREQ(theData.itsBuffer, "abc");

    // An unterminated buffer is read only up to its size and gets terminated.
    std::memset(theData.itsBuffer, 'z', 8);
    replaceInCString(theData.itsBuffer, "q", "r", true, 8);
    EXPECT_EQ(std::string(theData.itsBuffer), "zzzzzzz");
    EXPECT_EQ(std::string(theData.itsAfter, 4), "####");

    char theEmpty[1] = {'k'};
    replaceInCString(theEmpty, "k", "m", true, 0);
    EXPECT_EQ(theEmpty[0], 'k');
}

TEST(StringCountedReplace, LengthByteAndCapacity)
{
    std::uint8_t theString[12];
    std::memset(theString, '#', sizeof theString);
    theString[0] = 3;
    std::memcpy(theString + 1, "abc", 3);
    replaceInCountedString(theString, "b", "1234567890", true, 8);
    ASSERT_EQ(theString[0], 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(theString + 1), 8), "a1234567");
    EXPECT_EQ(theString[9], '#');

    LogCapture theLog;
    std::uint8_t theBig[300] = {};
    theBig[0] = 1;
    theBig[1] = 'x';
    replaceInCountedString(theBig, "x", "yy", true, 300);
    EXPECT_EQ(theLog.containing("maxStringSize < 256").size(), 1u);
    EXPECT_EQ(theBig[0], 2);
    EXPECT_EQ(theBig[2], 'y');
}

TEST(StringReplace, ReplaceStringAndEmptyFind)
{
    EXPECT_EQ(replaceString("a.b.c", ".", "..", true), "a..b..c");
    EXPECT_EQ(replaceString("a.b.c", ".", "", false), "ab.c");
    EXPECT_EQ(replaceString("aaa", "a", "aa", true), "aaaaaa");
    EXPECT_EQ(replaceString("abc", "", "x", true), "abc");
    EXPECT_EQ(replaceString("abc", "", "x", false), "abc");
    EXPECT_EQ(replaceString("", "a", "b", true), "");
}

TEST(StringReplace, SubstituteParameterDoesNotReexpand)
{
    std::string theText = "Error $e in $l, code $e";
    EXPECT_EQ(substituteParameter(theText, 'e', "5"), "Error 5 in $l, code 5");
    EXPECT_EQ(theText, "Error 5 in $l, code 5");
    EXPECT_EQ(substitutedParameter("$e and $e", 'e', "$e"), "$e and $e");
    EXPECT_EQ(substitutedParameter("$e$e", 'e', "x$ey"), "x$eyx$ey");
    EXPECT_EQ(substitutedParameter("$$e", 'e', "1"), "$1");
    EXPECT_EQ(substitutedParameter("", 'e', "1"), "");
    EXPECT_EQ(substitutedParameter("$E", 'e', "1"), "$E");
    EXPECT_EQ(substitutedParameter("end$", 'e', "1"), "end$");
}

TEST(StringReplace, ReplaceMatchByType)
{
    EXPECT_EQ(replaceMatch("anything", "zz", "R", qzMatchAny, false), "R");
    EXPECT_EQ(replaceMatch("Domain", "DOMAIN", "R", qzMatchExact, false), "R");
    EXPECT_EQ(replaceMatch("Domain", "DOM", "R", qzMatchExact, false), "Domain");
    EXPECT_EQ(replaceMatch("CORP\\alice", "corp\\", "EAST\\", qzMatchStart, false), "EAST\\alice");
    EXPECT_EQ(replaceMatch("host.EXAMPLE.com", ".example.com", ".test", qzMatchEnd, false),
              "host.test");
    EXPECT_EQ(replaceMatch("aXbxc", "x", "--", qzMatchContains, false), "a--bxc");
    EXPECT_EQ(replaceMatch("aXbxc", "x", "--", qzMatchContains, true), "a--b--c");
    EXPECT_EQ(replaceMatch("aa", "a", "AA", qzMatchContains, true), "AAAA");
    EXPECT_EQ(replaceMatch("abc", "z", "R", qzMatchContains, true), "abc");
    EXPECT_EQ(replaceMatch("abc", "", "R", qzMatchContains, true), "abc");
    EXPECT_EQ(replaceMatch("abc", "abc", "R", 9, true), "abc");
}

TEST(StringTrimQuote, TrimReplaceCharAndQuotes)
{
    std::string theText = "  a b  ";
    EXPECT_EQ(trim(theText, ' '), "a b");
    theText = "xxx";
    EXPECT_EQ(trimRight(theText, 'x'), "");
    theText = "00120";
    EXPECT_EQ(trimLeft(theText, '0'), "120");
    theText = "a.b.c";
    EXPECT_EQ(replaceChar(theText, '.', '/'), "a/b/c");

    EXPECT_EQ(unquote("\"abc\""), "abc");
    EXPECT_EQ(unquote("\"\""), "");
    EXPECT_EQ(unquote("\""), "\"");
    EXPECT_EQ(unquote("\"abc"), "\"abc");
    EXPECT_EQ(quote("abc"), "\"abc\"");
    EXPECT_EQ(quote("\"abc\""), "\"abc\"");
    EXPECT_EQ(quote("\""), "\"\"\"");
    EXPECT_EQ(unquote(quote("x y")), "x y");
}

TEST(StringLineEnds, AllFourFormats)
{
    const std::string theMixed = "a\r\nb\nc\rd";
    EXPECT_EQ(convertedLineEnds(theMixed, qzLineEndLF, false), "a\nb\nc\nd");
    EXPECT_EQ(convertedLineEnds(theMixed, qzLineEndCRLF, false), "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(convertedLineEnds(theMixed, qzLineEndDefault, false), "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(convertedLineEnds(theMixed, qzLineEndCR, false), "a\rb\rc\rd");
    EXPECT_EQ(convertedLineEnds(theMixed, qzLineEndSpace, false), "a b c d");

    EXPECT_EQ(convertedLineEnds("\n", qzLineEndCRLF, false), "\r\n");
    EXPECT_EQ(convertedLineEnds("\r\n\r", qzLineEndLF, false), "\n\n");
    EXPECT_EQ(convertedLineEnds("\n\r", qzLineEndCRLF, false), "\r\n\r\n");
    EXPECT_EQ(convertedLineEnds("\r\r\n\n", qzLineEndCR, false), "\r\r\r");

    // Already converted text is left as it is.
    for (std::int32_t curFormat = 1; curFormat <= 4; ++curFormat)
    {
        const bool theFinal = (curFormat != qzLineEndSpace);
        const std::string theOnce = convertedLineEnds(theMixed, curFormat, theFinal);
        EXPECT_EQ(convertedLineEnds(theOnce, curFormat, theFinal), theOnce) << curFormat;
    }
}

TEST(StringLineEnds, FinalBreakAndBadFormat)
{
    std::string theText = "abc";
    EXPECT_EQ(convertLineEnds(theText, qzLineEndLF, true), "abc\n");
    EXPECT_EQ(theText, "abc\n");
    EXPECT_EQ(convertedLineEnds("", qzLineEndCRLF, true), "\r\n");
    EXPECT_EQ(convertedLineEnds("abc\r\n", qzLineEndCRLF, true), "abc\r\n");
    EXPECT_EQ(convertedLineEnds("abc", qzLineEndSpace, true), "abc ");
    EXPECT_EQ(convertedLineEnds("abc", qzLineEndLF, false), "abc");

    LogCapture theLog;
    EXPECT_EQ(convertedLineEnds("a\nb", 5, true), "a\nb");
    EXPECT_EQ(theLog.containing("inFormat > 0 && inFormat < 5").size(), 1u);
}

TEST(StringSplitJoin, SplitKeepsEmptyPieces)
{
    std::vector<std::string> theVector = {"stale"};
    splitString("a,,b", theVector, ',');
    EXPECT_EQ(theVector, (std::vector<std::string>{"a", "", "b"}));
    splitString("a,", theVector, ',');
    EXPECT_EQ(theVector, (std::vector<std::string>{"a", ""}));
    splitString(",", theVector, ',');
    EXPECT_EQ(theVector, (std::vector<std::string>{"", ""}));
    splitString("", theVector, ',');
    EXPECT_TRUE(theVector.empty());

    std::list<std::string> theList;
    splitString("c;a;c", theList, ';');
    EXPECT_EQ(theList, (std::list<std::string>{"c", "a", "c"}));
    std::set<std::string> theSet;
    splitString("c;a;c;", theSet, ';');
    EXPECT_EQ(theSet, (std::set<std::string>{"", "a", "c"}));
}

TEST(StringSplitJoin, RoundTrips)
{
    const char* const theTexts[] = {"a,,b", "a,", ",a", ",", "abc", ",,,", "x,y,z"};
    for (const char* cur : theTexts)
    {
        std::vector<std::string> theVector;
        splitString(cur, theVector, ',');
        EXPECT_EQ(joinStrings(theVector, ','), cur);
        std::list<std::string> theList;
        splitString(cur, theList, ',');
        EXPECT_EQ(joinStrings(theList, ','), cur);
    }
    EXPECT_EQ(joinStrings(std::vector<std::string>{}, ','), "");
    EXPECT_EQ(joinStrings(std::set<std::string>{"b", "a"}, '|'), "a|b");
    EXPECT_EQ(joinNumbers(std::vector<std::uint32_t>{1, 4294967295u}, ','), "1,4294967295");
    EXPECT_EQ(joinNumbers(std::vector<std::int32_t>{-5, 0, 7}, ' '), "-5 0 7");
    EXPECT_EQ(joinNumbers(std::set<std::uint32_t>{9, 3, 3}, ','), "3,9");

    std::vector<std::int32_t> theNumbers;
    ASSERT_TRUE(
        parseNumberList(joinNumbers(std::vector<std::int32_t>{-1, 2, -3}, ':'), theNumbers, ':'));
    EXPECT_EQ(theNumbers, (std::vector<std::int32_t>{-1, 2, -3}));
}

TEST(StringSplitJoin, NumberLists)
{
    std::vector<std::uint32_t> theVector{99};
    EXPECT_TRUE(parseNumberList("1, 2 ,3", theVector, ','));
    EXPECT_EQ(theVector, (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_TRUE(parseNumberList("\t4\t,  5", theVector, ','));
    EXPECT_EQ(theVector, (std::vector<std::uint32_t>{4, 5}));
    EXPECT_TRUE(parseNumberList("", theVector, ','));
    EXPECT_TRUE(theVector.empty());

    EXPECT_FALSE(parseNumberList("1,,2", theVector, ','));
    EXPECT_EQ(theVector, (std::vector<std::uint32_t>{1}));
    EXPECT_FALSE(parseNumberList("1,x", theVector, ','));
    EXPECT_EQ(theVector, (std::vector<std::uint32_t>{1}));
    EXPECT_FALSE(parseNumberList("1,2,", theVector, ','));
    EXPECT_EQ(theVector, (std::vector<std::uint32_t>{1, 2}));
    EXPECT_FALSE(parseNumberList("1,  ,2", theVector, ','));
    EXPECT_FALSE(parseNumberList("1, 2 3", theVector, ','));
    EXPECT_FALSE(parseNumberList("-1", theVector, ','));
    EXPECT_FALSE(parseNumberList("4294967296", theVector, ','));

    std::vector<std::int32_t> theSigned;
    EXPECT_TRUE(parseNumberList("-1; +2", theSigned, ';'));
    EXPECT_EQ(theSigned, (std::vector<std::int32_t>{-1, 2}));
    EXPECT_FALSE(parseNumberList("2147483648", theSigned, ';'));

    std::set<std::uint32_t> theSet;
    EXPECT_TRUE(parseNumberList("5,1,5", theSet, ','));
    EXPECT_EQ(theSet, (std::set<std::uint32_t>{1, 5}));
}

TEST(StringSplitJoin, SplitAt)
{
    std::string theLeft = "L", theRight = "R";
    EXPECT_TRUE(splitAt("abc", theLeft, theRight, '@', false, 0));
    EXPECT_EQ(theLeft, "abc");
    EXPECT_EQ(theRight, "");
    theLeft = "L";
    theRight = "R";
    EXPECT_FALSE(splitAt("abc", theLeft, theRight, '@', true, 0));
    EXPECT_EQ(theLeft, "L");
    EXPECT_EQ(theRight, "R");

    EXPECT_TRUE(splitAt("admin@example.com", theLeft, theRight, '@', true, 0));
    EXPECT_EQ(theLeft, "admin");
    EXPECT_EQ(theRight, "example.com");
    EXPECT_FALSE(splitAt("@example.com", theLeft, theRight, '@', true, 0));
    EXPECT_TRUE(splitAt("@example.com", theLeft, theRight, '@', false, 0));
    EXPECT_EQ(theLeft, "");

    EXPECT_TRUE(splitAt("a.b.c", theLeft, theRight, '.', true, 1));
    EXPECT_EQ(theLeft, "a.b");
    EXPECT_EQ(theRight, "c");
    EXPECT_TRUE(splitAt("a.b", theLeft, theRight, '.', false, 1));
    EXPECT_EQ(theLeft, "a.b");
    EXPECT_EQ(theRight, "");
    theLeft = "L";
    EXPECT_FALSE(splitAt("a.b", theLeft, theRight, '.', false, 2));
    EXPECT_FALSE(splitAt("a.b", theLeft, theRight, '.', false, -1));
    EXPECT_EQ(theLeft, "L");
}

TEST(StringSplitJoin, FieldsAndNames)
{
    EXPECT_EQ(getField("a,b,c", 0, ','), "a");
    EXPECT_EQ(getField("a,b,c", 2, ','), "c");
    EXPECT_EQ(getField("a,,c", 1, ','), "");
    EXPECT_EQ(getField("a,b", 3, ','), "");
    EXPECT_EQ(getField("a,b", -1, ','), "");

    EXPECT_EQ(qualifyName("", "example.com."), "example.com.");
    EXPECT_EQ(qualifyName("www.", "example.com."), "www.");
    EXPECT_EQ(qualifyName("www", "example.com."), "www.example.com.");

    EXPECT_EQ(removeFirstLabel("www.example.com."), "example.com.");
    EXPECT_EQ(removeFirstLabel("com"), "");
    EXPECT_EQ(removeFirstLabel(".a"), "a");

    EXPECT_EQ(getParentName("a.b.", '.'), "b.");
    EXPECT_EQ(getParentName("abc.", '.'), ".");
    EXPECT_EQ(getParentName(".", '.'), "");
    EXPECT_EQ(getParentName("abc", '.'), "");
    EXPECT_EQ(getParentName(".abc", '.'), "abc");
}

TEST(StringLists, FindRemoveAndDeduplicate)
{
    std::list<std::string> theList{"Alpha", "beta", "ALPHA", "gamma", "beta"};
    auto theFound = findInList(theList, "alpha", false);
    ASSERT_NE(theFound, theList.end());
    EXPECT_EQ(*theFound, "Alpha");
    EXPECT_EQ(*findInList(std::next(theList.begin()), theList.end(), "alpha", false), "ALPHA");
    EXPECT_EQ(findInList(theList, "alpha", true), theList.end());
    const std::list<std::string>& theConst = theList;
    EXPECT_EQ(*findInList(theConst, "GAMMA", false), "gamma");

    std::set<std::string> theSet{"Zed", "alpha"};
    auto theInSet = findInSet(theSet, "ZED", false);
    ASSERT_NE(theInSet, theSet.end());
    EXPECT_EQ(*theInSet, "Zed");
    EXPECT_EQ(findInSet(theSet, "ZED", true), theSet.end());

    std::list<std::string> theCopy = theList;
    removeDuplicates(theCopy, false);
    EXPECT_EQ(theCopy, (std::list<std::string>{"Alpha", "beta", "gamma"}));
    theCopy = theList;
    removeDuplicates(theCopy, true);
    EXPECT_EQ(theCopy, (std::list<std::string>{"Alpha", "beta", "ALPHA", "gamma"}));

    theCopy = theList;
    removeFromList(theCopy, "beta", true);
    EXPECT_EQ(theCopy, (std::list<std::string>{"Alpha", "ALPHA", "gamma"}));
    theCopy = theList;
    removeFromList(theCopy, "beta", false);
    EXPECT_EQ(theCopy, (std::list<std::string>{"Alpha", "", "ALPHA", "gamma", ""}));
    removeFromList(theCopy, "alpha", true);
    EXPECT_EQ(theCopy.size(), 5u);
}
