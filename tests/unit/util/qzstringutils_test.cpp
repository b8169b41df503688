// Conversions, comparison, character tests and wide text.
#include "corvel/util/qzstringutils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace
{

template <typename Fn>
std::string thrownText(Fn inFn)
{
    try
    {
        inFn();
    }
    catch (const std::invalid_argument& theError)
    {
        return theError.what();
    }
    return "<no exception>";
}

} // namespace

TEST(StringParseInt, AcceptsSignedDecimalOnly)
{
    struct Case
    {
        const char* itsText;
        bool itsOk;
        std::int32_t itsValue;
    };
    const Case theCases[] = {
        {"12", true, 12},
        {"+7", true, 7},
        {"-0", true, 0},
        {"-15", true, -15},
        {"2147483646", true, 2147483646},
        {"-2147483647", true, -2147483647},
        {"0012", true, 12},
    };
    for (const Case& cur : theCases)
    {
        std::int32_t theValue = 99;
        EXPECT_EQ(parseInt(cur.itsText, theValue), cur.itsOk) << cur.itsText;
        EXPECT_EQ(theValue, cur.itsValue) << cur.itsText;
        EXPECT_EQ(stringToInt(std::string(cur.itsText)), cur.itsValue) << cur.itsText;
    }
}

TEST(StringParseInt, RefusesMalformedAndOutOfRange)
{
    const char* const theBad[] = {"",
                                  " 1",
                                  "1 ",
                                  "12a",
                                  "0x10",
                                  "+",
                                  "-",
                                  "+-1",
                                  "--1",
                                  "1.5",
                                  "2147483647",
                                  "-2147483648",
                                  "2147483648",
                                  "-2147483649",
                                  "4294967296",
                                  "4294967297",
                                  "99999999999999999999999"};
    for (const char* cur : theBad)
    {
        std::int32_t theValue = 0;
        EXPECT_FALSE(parseInt(cur, theValue)) << cur;
        EXPECT_EQ(stringToIntOr(cur, -42), -42) << cur;
    }
    std::int32_t theValue = 5;
    EXPECT_FALSE(parseInt(static_cast<const char*>(nullptr), theValue));
    EXPECT_EQ(theValue, 5);
}

TEST(StringParseInt, ValueIsClampedNeverTruncated)
{
    // 4294967297 truncated to 32 bits would read as 1.
    std::int32_t theValue = 0;
    EXPECT_FALSE(parseInt("4294967297", theValue));
    EXPECT_EQ(theValue, std::numeric_limits<std::int32_t>::max());
    EXPECT_FALSE(parseInt("-4294967297", theValue));
    EXPECT_EQ(theValue, std::numeric_limits<std::int32_t>::min());
    // The converted prefix is still delivered, as the C library would.
    EXPECT_FALSE(parseInt("12a", theValue));
    EXPECT_EQ(theValue, 12);
    theValue = 3;
    EXPECT_FALSE(parseInt("a12", theValue));
    EXPECT_EQ(theValue, 3);
}

TEST(StringParseUInt, LimitsAndSigns)
{
    std::uint32_t theValue = 0;
    EXPECT_TRUE(parseUInt("4294967295", theValue));
    EXPECT_EQ(theValue, 4294967295u);
    theValue = 0;
    EXPECT_TRUE(parseUInt("+4294967295", theValue));
    EXPECT_EQ(theValue, 4294967295u);
    EXPECT_TRUE(parseUInt("4294967294", theValue));
    EXPECT_EQ(theValue, 4294967294u);
    EXPECT_TRUE(parseUInt(std::string("+0"), theValue));
    EXPECT_EQ(theValue, 0u);

    const char* const theBad[] = {
        "4294967296", "4294967297", "18446744073709551617", "-1", "-0", "", " 1", "1 ", "0x10",
        "++1",        "+",          "4294967295x"};
    for (const char* cur : theBad)
        EXPECT_FALSE(parseUInt(cur, theValue)) << cur;
    EXPECT_EQ(stringToUIntOr("4294967296", 7u), 7u);
    EXPECT_EQ(stringToUIntOr("4294967295", 7u), 4294967295u);
}

TEST(StringParseUShort, SixteenBitRange)
{
    std::uint16_t theValue = 0;
    EXPECT_TRUE(parseUShort("65535", theValue));
    EXPECT_EQ(theValue, 65535);
    EXPECT_FALSE(parseUShort("65536", theValue));
    EXPECT_EQ(theValue, 0); // the low 16 bits of 65536
    EXPECT_FALSE(parseUShort("65537", theValue));
    EXPECT_EQ(theValue, 1);
    theValue = 9;
    EXPECT_FALSE(parseUShort("-1", theValue));
    EXPECT_EQ(theValue, 9);
    EXPECT_EQ(stringToUShortOr("70000", 3), 3);
    EXPECT_EQ(stringToUShort("+80"), 80);
}

TEST(StringParseBool, WordsAndDigits)
{
    struct Case
    {
        const char* itsText;
        bool itsValue;
    };
    const Case theGood[] = {{"0", false}, {"2", true},   {"1", true},    {"007", true},
                            {"y", true},  {"YES", true}, {"True", true}, {"t", true},
                            {"n", false}, {"No", false}, {"F", false},   {"false", false}};
    for (const Case& cur : theGood)
    {
        bool theValue = !cur.itsValue;
        EXPECT_TRUE(parseBool(cur.itsText, theValue)) << cur.itsText;
        EXPECT_EQ(theValue, cur.itsValue) << cur.itsText;
        EXPECT_EQ(stringToBool(std::string(cur.itsText)), cur.itsValue) << cur.itsText;
    }
    const char* const theBad[] = {"1x", "on", "off", " yes", "", "yess", "-1", "2147483647", "ye"};
    for (const char* cur : theBad)
    {
        bool theValue = true;
        EXPECT_FALSE(parseBool(cur, theValue)) << cur;
        EXPECT_TRUE(theValue) << cur;
    }
}

TEST(StringConversionErrors, ThrowingFormsNameTheInput)
{
    EXPECT_EQ(thrownText([] { stringToInt("abc"); }), "Trying to convert string to integer: abc");
    EXPECT_EQ(thrownText([] { stringToUInt(std::string("-1")); }),
              "Trying to convert string to integer: -1");
    EXPECT_EQ(thrownText([] { stringToUShort("65536"); }),
              "Trying to convert string to integer: 65536");
    EXPECT_EQ(thrownText([] { stringToBool("maybe"); }),
              "Trying to convert string to boolean: maybe");
    EXPECT_EQ(thrownText([] { stringToBool(static_cast<const char*>(nullptr)); }),
              "Trying to convert string to boolean: ");
}

TEST(StringToText, NumbersAndHex)
{
    EXPECT_EQ(intToString(-123), "-123");
    EXPECT_EQ(intToString(0), "0");
    EXPECT_EQ(uintToString(4294967295ul), "4294967295");
    EXPECT_EQ(uintToHex(255), "FF");
    EXPECT_EQ(uintToHex(0), "0");
    EXPECT_EQ(uintToHex(0xABC0), "ABC0");
    EXPECT_EQ(int64ToString(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_STREQ(hexDigits(false), "0123456789abcdef");
    EXPECT_STREQ(hexDigits(true), "0123456789ABCDEF");
    EXPECT_EQ(hexDigits(true) - hexDigits(false), 17);
}

TEST(StringHex, AppendHex)
{
    const std::uint8_t theBytes[] = {1, 171};
    std::string theOut = "x";
    EXPECT_EQ(appendHex(theOut, theBytes, 2, " ", false), "x 01 ab");
    theOut.clear();
    EXPECT_EQ(appendHex(theOut, theBytes, 2, "", true), "01AB");
    theOut.clear();
    EXPECT_EQ(appendHex(theOut, theBytes, 0, ":", true), "");
}

TEST(StringHex, HexToBytesEvenOddAndBadDigits)
{
    std::uint8_t theBuffer[8] = {};
    std::size_t theCount = 99;
    EXPECT_TRUE(hexToBytes(theBuffer, theCount, "0aFf"));
    ASSERT_EQ(theCount, 2u);
    EXPECT_EQ(theBuffer[0], 10);
    EXPECT_EQ(theBuffer[1], 255);

    EXPECT_TRUE(hexToBytes(theBuffer, theCount, "abc"));
    ASSERT_EQ(theCount, 2u);
    EXPECT_EQ(theBuffer[0], 171);
    EXPECT_EQ(theBuffer[1], 192);

    theBuffer[0] = 0x55;
    EXPECT_FALSE(hexToBytes(theBuffer, theCount, "0g"));
    EXPECT_EQ(theCount, 1u);
    EXPECT_EQ(theBuffer[0], 0);

    EXPECT_FALSE(hexToBytes(theBuffer, theCount, "g0"));
    EXPECT_EQ(theCount, 0u);
    EXPECT_FALSE(hexToBytes(theBuffer, theCount, "12 4"));
    EXPECT_EQ(theCount, 1u);
    EXPECT_FALSE(hexToBytes(theBuffer, theCount, "124 "));
    EXPECT_EQ(theCount, 2u);
    EXPECT_EQ(theBuffer[0], 0x12);
    EXPECT_EQ(theBuffer[1], 0x40);

    EXPECT_TRUE(hexToBytes(theBuffer, theCount, ""));
    EXPECT_EQ(theCount, 0u);
    EXPECT_FALSE(hexToBytes(theBuffer, theCount, static_cast<const char*>(nullptr)));
}

TEST(StringHex, HexToBytesStaysInsideItsBuffer)
{
    // (length + 1) / 2 bytes, with a guard after them that must survive.
    const char* const theTexts[] = {"a", "ab", "abc", "abcd", "abcde"};
    for (const char* cur : theTexts)
    {
        const std::size_t theNeed = (std::strlen(cur) + 1) / 2;
        std::vector<std::uint8_t> theBuffer(theNeed + 1, 0xEE);
        std::size_t theCount = 0;
        EXPECT_TRUE(hexToBytes(theBuffer.data(), theCount, cur)) << cur;
        EXPECT_EQ(theCount, theNeed) << cur;
        EXPECT_EQ(theBuffer[theNeed], 0xEE) << cur;
    }
    // The sized form refuses what does not fit and keeps what did.
    std::uint8_t theSmall[3] = {0, 0, 0xEE};
    std::size_t theCount = 0;
    EXPECT_FALSE(hexToBytes(theSmall, 2, theCount, "010203"));
    EXPECT_EQ(theCount, 2u);
    EXPECT_EQ(theSmall[1], 2);
    EXPECT_EQ(theSmall[2], 0xEE);
}

TEST(StringCase, FoldingIsAsciiOnly)
{
    EXPECT_EQ(toUpper('a'), 'A');
    EXPECT_EQ(toUpper('z'), 'Z');
    EXPECT_EQ(toUpper('{'), '{');
    EXPECT_EQ(toLower('@'), '@');
    EXPECT_EQ(toLower('Q'), 'q');
    EXPECT_EQ(toUpper('\xE9'), '\xE9');
    EXPECT_EQ(toUpperString("abC-\xE9z"), "ABC-\xE9Z");
    EXPECT_EQ(toLowerString("ABc[Z"), "abc[z");
}

TEST(StringCompare, CaseRulesAndOrder)
{
    EXPECT_EQ(compareStrings("abc", "ABC", false), 0);
    EXPECT_NE(compareStrings("abc", "ABC", true), 0);
    EXPECT_LT(compareStrings("abc", "abd", true), 0);
    EXPECT_GT(compareStrings("abcd", "abc", true), 0);
    EXPECT_LT(compareStrings("ab", "abc", false), 0);
    EXPECT_EQ(compareStrings("a", "b", true), 'a' - 'b');
    // Folded to upper case: "_" (95) sorts after "A" (65) but "a" would not.
    EXPECT_GT(compareStrings("_", "a", false), 0);
    EXPECT_EQ(compareStrings(nullptr, "", true), 0);
    EXPECT_TRUE(equalStrings(std::string("Domain"), std::string("DOMAIN"), false));
    EXPECT_FALSE(equalStrings(std::string("Domain"), std::string("DOMAIN"), true));
    EXPECT_FALSE(equalStrings("abc", "ab", false));
}

TEST(StringFind, PositionsAndRefusals)
{
    EXPECT_EQ(findString("hello world", "o", 0, true), 4);
    EXPECT_EQ(findString("hello world", "o", 5, true), 7);
    EXPECT_EQ(findString("hello world", "WORLD", 0, false), 6);
    EXPECT_EQ(findString("hello world", "WORLD", 0, true), -1);
    EXPECT_EQ(findString("abc", "", 0, true), -1);
    EXPECT_EQ(findString("abc", "c", 3, true), -1);
    EXPECT_EQ(findString("abc", "c", 2, true), 2);
    EXPECT_EQ(findString("abc", "c", 10, true), -1);
    EXPECT_EQ(findString("abc", "a", -1, true), -1);
    EXPECT_EQ(findString(nullptr, "a", 0, true), -1);
    EXPECT_EQ(findString("a", nullptr, 0, true), -1);
    EXPECT_EQ(findString(std::string(), std::string("a"), 0, true), -1);
    EXPECT_EQ(findString(std::string("aXbx"), std::string("x"), 2, false), 3);
}

TEST(StringFind, StartsEndsContainsAndMatch)
{
    EXPECT_TRUE(startsWith("Administrator", "admin", false));
    EXPECT_FALSE(startsWith("Administrator", "admin", true));
    EXPECT_FALSE(startsWith("ad", "admin", false));
    EXPECT_TRUE(endsWith(std::string("host.in-addr.arpa."), std::string(".IN-ADDR.ARPA."), false));
    EXPECT_FALSE(endsWith("a", "ba", false));
    EXPECT_TRUE(endsWith("abab", "ab", true));
    EXPECT_FALSE(endsWith("abc", "", true));
    EXPECT_TRUE(contains(std::string("xyzabc"), std::string("ZA"), false));
    EXPECT_FALSE(contains("xyz", "", false));

    EXPECT_TRUE(matchString("anything", "zzz", qzMatchAny));
    EXPECT_TRUE(matchString("Domain Users", "domain", qzMatchStart));
    EXPECT_TRUE(matchString(std::string("Domain Users"), std::string("USERS"), qzMatchEnd));
    EXPECT_TRUE(matchString("Domain Users", "n u", qzMatchContains));
    EXPECT_TRUE(matchString("Domain Users", "domain users", qzMatchExact));
    EXPECT_FALSE(matchString("Domain Users", "domain", qzMatchExact));
    EXPECT_FALSE(matchString("Domain Users", "Domain Users", 5));
    EXPECT_FALSE(matchString("Domain Users", "Domain Users", -1));
}

TEST(StringCharTests, ClassesAndHighBytes)
{
    EXPECT_TRUE(isDigit('0'));
    EXPECT_TRUE(isDigit('9'));
    EXPECT_FALSE(isDigit('a'));
    EXPECT_FALSE(isDigit('\xB9')); // superscript one in Latin-1
    EXPECT_TRUE(isAllDigits("0123"));
    EXPECT_FALSE(isAllDigits(""));
    EXPECT_FALSE(isAllDigits(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(isAllDigits(std::string("12-3")));
    EXPECT_TRUE(isHexString("09afAF"));
    EXPECT_FALSE(isHexString("0g"));
    EXPECT_FALSE(isHexString(std::string()));

    // Bytes of 128 and above must go through the C library safely.
    const std::string theHigh = "ab\xE9\xFF";
    EXPECT_FALSE(isPrintableString(theHigh));
    EXPECT_TRUE(hasNoControlChars(theHigh));
    EXPECT_EQ(replaceNonPrintable(theHigh), "ab..");
    EXPECT_EQ(replaceNonPrintable("a\tb\x7F"), "a.b.");
    EXPECT_TRUE(isPrintableString(""));
    EXPECT_TRUE(isPrintableString("Hello, world ~"));
    EXPECT_FALSE(hasNoControlChars("a\nb"));
    EXPECT_TRUE(hasNoControlChars(std::string()));
    EXPECT_TRUE(isAlphanumeric("abcXYZ019"));
    EXPECT_TRUE(isAlphanumeric(""));
    EXPECT_FALSE(isAlphanumeric("ab_c"));
    EXPECT_FALSE(isAlphanumeric("caf\xE9"));
}

TEST(StringWide, Utf16ToUtf8)
{
    EXPECT_EQ(wideToString(u"CORP\\alice"), "CORP\\alice");
    EXPECT_EQ(wideToString(u""), "");
    EXPECT_EQ(wideToString(nullptr), "");
    EXPECT_EQ(wideToString(u"caf\u00E9"), "caf\xC3\xA9");
    EXPECT_EQ(wideToString(u"\u20AC"), "\xE2\x82\xAC");
    EXPECT_EQ(wideToString(u"a\U0001F600b"), "a\xF0\x9F\x98\x80"
                                             "b");

    // Unpaired surrogates make the whole conversion fail.
    const char16_t theLoneHigh[] = {u'a', 0xD83D, u'b', 0};
    const char16_t theLoneLow[] = {u'a', 0xDE00, 0};
    const char16_t theHighAtEnd[] = {u'a', 0xD83D, 0};
    EXPECT_EQ(wideToString(theLoneHigh), "");
    EXPECT_EQ(wideToString(theLoneLow), "");
    EXPECT_EQ(wideToString(theHighAtEnd), "");
}
