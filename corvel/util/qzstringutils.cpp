// Conversions, case folding, comparison and character tests.
#include "corvel/util/qzstringutils.h"

#include "corvel/platform/os_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace
{

// Both digit tables in one array, each with its NUL, so the upper-case one
// starts 17 bytes after the lower-case one.
const char theHexDigitTables[] = "0123456789abcdef\0"
                                 "0123456789ABCDEF";

const char* const theTrueWords[] = {"y", "yes", "t", "true"};
const char* const theFalseWords[] = {"n", "no", "f", "false"};

const char theIntegerError[] = "Trying to convert string to integer: ";
const char theBooleanError[] = "Trying to convert string to boolean: ";

[[noreturn]] void throwConversion(const char* inPrefix, const char* inText)
{
    std::string theText(inPrefix);
    if (inText != nullptr)
        theText += inText;
    throw std::invalid_argument(theText);
}

// Reads the decimal digits at inText, saturating well above 32 bits, and
// tells whether the digits ran to the end of the text. Locale-free on
// purpose: the accepted forms must not depend on the C library's locale.
struct qzDigitRun
{
    std::uint64_t itsValue = 0;
    bool itsAnyDigit = false;
    bool itsReachedEnd = false;
};

qzDigitRun readDigits(const char* inText)
{
    qzDigitRun theRun;
    const char* cur = inText;
    for (; *cur >= '0' && *cur <= '9'; ++cur)
    {
        theRun.itsAnyDigit = true;
        // Anything above 2^33 is already out of every range we convert to;
        // stop growing so that a long run of digits cannot overflow.
        if (theRun.itsValue < (std::uint64_t(1) << 33))
            theRun.itsValue = theRun.itsValue * 10 + static_cast<std::uint64_t>(*cur - '0');
    }
    theRun.itsReachedEnd = (*cur == '\0');
    return theRun;
}

// parseUInt with a report of whether it wrote outValue, which parseUShort
// needs to leave its own value alone in the same cases.
bool parseUIntImpl(const char* inText, std::uint32_t& outValue, bool& outWritten)
{
    outWritten = false;
    if (inText == nullptr || !(isDigit(inText[0]) || inText[0] == '+'))
        return false;
    const char* theDigits = inText + (inText[0] == '+' ? 1 : 0);
    const qzDigitRun theRun = readDigits(theDigits);
    // The C library saturates at the largest value; the 32-bit limit holds
    // here whatever the width of unsigned long.
    const std::uint32_t theValue =
        theRun.itsValue > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(theRun.itsValue);
    outValue = theValue;
    outWritten = true;
    if (!theRun.itsAnyDigit)
        return false;
    if (theValue == 0xFFFFFFFFu)
        return std::strcmp(theDigits, "4294967295") == 0;
    return theRun.itsReachedEnd;
}

} // namespace

// ---------------------------------------------------------------------------
// Conversions from text

bool parseBool(const char* inText, bool& outValue)
{
    if (inText == nullptr)
        return false;
    if (isDigit(inText[0]))
    {
        std::int32_t theNumber = 0;
        if (!parseInt(inText, theNumber))
            return false;
        outValue = (theNumber != 0);
        return true;
    }
    const std::string theLower = toLowerString(inText);
    for (const char* theWord : theTrueWords)
    {
        if (theLower == theWord)
        {
            outValue = true;
            return true;
        }
    }
    for (const char* theWord : theFalseWords)
    {
        if (theLower == theWord)
        {
            outValue = false;
            return true;
        }
    }
    return false;
}

bool parseBool(const std::string& inText, bool& outValue)
{
    return parseBool(inText.c_str(), outValue);
}

bool stringToBool(const char* inText)
{
    bool theValue = false;
    if (!parseBool(inText, theValue))
        throwConversion(theBooleanError, inText);
    return theValue;
}

bool stringToBool(const std::string& inText) { return stringToBool(inText.c_str()); }

bool parseInt(const char* inText, std::int32_t& outValue)
{
    if (inText == nullptr)
        return false;
    const char theFirst = inText[0];
    if (!(isDigit(theFirst) || theFirst == '+' || theFirst == '-'))
        return false;
    const bool theNegative = (theFirst == '-');
    const qzDigitRun theRun = readDigits(inText + (isDigit(theFirst) ? 0 : 1));
    // Clamped as a 32-bit strtol would, so the value and the refusal of the
    // two overflow results are the same on every platform.
    std::int64_t theValue = static_cast<std::int64_t>(theRun.itsValue);
    if (theNegative)
        theValue = -theValue;
    if (theValue > INT32_MAX)
        theValue = INT32_MAX;
    if (theValue < INT32_MIN)
        theValue = INT32_MIN;
    outValue = static_cast<std::int32_t>(theValue);
    return theRun.itsAnyDigit && theRun.itsReachedEnd && theValue != INT32_MAX &&
           theValue != INT32_MIN;
}

bool parseInt(const std::string& inText, std::int32_t& outValue)
{
    return parseInt(inText.c_str(), outValue);
}

std::int32_t stringToInt(const char* inText)
{
    std::int32_t theValue = 0;
    if (!parseInt(inText, theValue))
        throwConversion(theIntegerError, inText);
    return theValue;
}

std::int32_t stringToInt(const std::string& inText) { return stringToInt(inText.c_str()); }

std::int32_t stringToIntOr(const char* inText, std::int32_t inDefault)
{
    std::int32_t theValue = 0;
    return parseInt(inText, theValue) ? theValue : inDefault;
}

std::int32_t stringToIntOr(const std::string& inText, std::int32_t inDefault)
{
    return stringToIntOr(inText.c_str(), inDefault);
}

bool parseUInt(const char* inText, std::uint32_t& outValue)
{
    bool theWritten = false;
    return parseUIntImpl(inText, outValue, theWritten);
}

bool parseUInt(const std::string& inText, std::uint32_t& outValue)
{
    return parseUInt(inText.c_str(), outValue);
}

std::uint32_t stringToUInt(const char* inText)
{
    std::uint32_t theValue = 0;
    if (!parseUInt(inText, theValue))
        throwConversion(theIntegerError, inText);
    return theValue;
}

std::uint32_t stringToUInt(const std::string& inText) { return stringToUInt(inText.c_str()); }

std::uint32_t stringToUIntOr(const char* inText, std::uint32_t inDefault)
{
    std::uint32_t theValue = 0;
    return parseUInt(inText, theValue) ? theValue : inDefault;
}

std::uint32_t stringToUIntOr(const std::string& inText, std::uint32_t inDefault)
{
    return stringToUIntOr(inText.c_str(), inDefault);
}

bool parseUShort(const char* inText, std::uint16_t& outValue)
{
    std::uint32_t theValue = 0;
    bool theWritten = false;
    const bool theOk = parseUIntImpl(inText, theValue, theWritten);
    if (theWritten)
        outValue = static_cast<std::uint16_t>(theValue & 0xFFFFu);
    return theOk && theValue < 65536u;
}

bool parseUShort(const std::string& inText, std::uint16_t& outValue)
{
    return parseUShort(inText.c_str(), outValue);
}

std::uint16_t stringToUShort(const char* inText)
{
    std::uint16_t theValue = 0;
    if (!parseUShort(inText, theValue))
        throwConversion(theIntegerError, inText);
    return theValue;
}

std::uint16_t stringToUShort(const std::string& inText) { return stringToUShort(inText.c_str()); }

std::uint16_t stringToUShortOr(const char* inText, std::uint16_t inDefault)
{
    std::uint16_t theValue = 0;
    return parseUShort(inText, theValue) ? theValue : inDefault;
}

std::uint16_t stringToUShortOr(const std::string& inText, std::uint16_t inDefault)
{
    return stringToUShortOr(inText.c_str(), inDefault);
}

// ---------------------------------------------------------------------------
// Conversions to text

std::string intToString(long inValue)
{
    char theBuffer[32];
    std::snprintf(theBuffer, sizeof theBuffer, "%ld", inValue);
    return theBuffer;
}

std::string uintToString(unsigned long inValue)
{
    char theBuffer[32];
    std::snprintf(theBuffer, sizeof theBuffer, "%lu", inValue);
    return theBuffer;
}

std::string uintToHex(unsigned long inValue)
{
    char theBuffer[32];
    std::snprintf(theBuffer, sizeof theBuffer, "%lX", inValue);
    return theBuffer;
}

std::string int64ToString(std::int64_t inValue)
{
    std::ostringstream theStream;
    theStream << inValue;
    return theStream.str();
}

// ---------------------------------------------------------------------------
// Hexadecimal blocks

const char* hexDigits(bool inUpperCase) { return theHexDigitTables + (inUpperCase ? 17 : 0); }

std::string& appendHex(std::string& ioOut, const std::uint8_t* inBytes, std::size_t inCount,
                       const std::string& inSeparator, bool inUpperCase)
{
    if (inBytes == nullptr)
        return ioOut;
    const char* theDigits = hexDigits(inUpperCase);
    ioOut.reserve(ioOut.size() + inCount * (2 + inSeparator.size()));
    for (std::size_t i = 0; i < inCount; ++i)
    {
        ioOut += inSeparator;
        ioOut += theDigits[inBytes[i] >> 4];
        ioOut += theDigits[inBytes[i] & 0x0F];
    }
    return ioOut;
}

bool hexToBytes(std::uint8_t* outBuffer, std::size_t inCapacity, std::size_t& outCount,
                const char* inText)
{
    outCount = 0;
    if (inText == nullptr || outBuffer == nullptr)
        return false;
    for (const char* cur = inText; *cur != '\0'; cur += 2)
    {
        std::uint8_t theHigh = 0;
        if (!hexDigitValue(cur[0], theHigh))
            return false;
        if (outCount >= inCapacity)
            return false;
        // The byte counts as soon as its first digit is read.
        outBuffer[outCount++] = static_cast<std::uint8_t>(theHigh << 4);
        if (cur[1] == '\0')
            break;
        std::uint8_t theLow = 0;
        if (!hexDigitValue(cur[1], theLow))
            return false;
        outBuffer[outCount - 1] = static_cast<std::uint8_t>(outBuffer[outCount - 1] | theLow);
    }
    return true;
}

bool hexToBytes(std::uint8_t* outBuffer, std::size_t& outCount, const char* inText)
{
    if (inText == nullptr)
    {
        outCount = 0;
        return false;
    }
    // The caller promises (length + 1) / 2 bytes; that is all a text can fill.
    return hexToBytes(outBuffer, (std::strlen(inText) + 1) / 2, outCount, inText);
}

bool hexDigitValue(char inChar, std::uint8_t& outValue)
{
    if (inChar >= '0' && inChar <= '9')
        outValue = static_cast<std::uint8_t>(inChar - '0');
    else if (inChar >= 'a' && inChar <= 'f')
        outValue = static_cast<std::uint8_t>(inChar - 'a' + 10);
    else if (inChar >= 'A' && inChar <= 'F')
        outValue = static_cast<std::uint8_t>(inChar - 'A' + 10);
    else
        return false;
    return true;
}

// ---------------------------------------------------------------------------
// Case and comparison

char toUpper(char inChar)
{
    return (inChar >= 'a' && inChar <= 'z') ? static_cast<char>(inChar - 'a' + 'A') : inChar;
}

char toLower(char inChar)
{
    return (inChar >= 'A' && inChar <= 'Z') ? static_cast<char>(inChar - 'A' + 'a') : inChar;
}

std::string toUpperString(const std::string& inText)
{
    std::string theResult(inText);
    for (char& cur : theResult)
        cur = toUpper(cur);
    return theResult;
}

std::string toLowerString(const std::string& inText)
{
    std::string theResult(inText);
    for (char& cur : theResult)
        cur = toLower(cur);
    return theResult;
}

int compareStrings(const char* inA, const char* inB, bool inCaseSensitive)
{
    const char* theA = inA != nullptr ? inA : "";
    const char* theB = inB != nullptr ? inB : "";
    auto fold = [inCaseSensitive](char inChar)
    { return inCaseSensitive ? inChar : toUpper(inChar); };
    while (*theA != '\0' && fold(*theA) == fold(*theB))
    {
        ++theA;
        ++theB;
    }
    // Signed chars on every platform, as the framework always compared them.
    return static_cast<int>(static_cast<signed char>(fold(*theA))) -
           static_cast<int>(static_cast<signed char>(fold(*theB)));
}

bool equalStrings(const char* inA, const char* inB, bool inCaseSensitive)
{
    return compareStrings(inA, inB, inCaseSensitive) == 0;
}

bool equalStrings(const std::string& inA, const std::string& inB, bool inCaseSensitive)
{
    return equalStrings(inA.c_str(), inB.c_str(), inCaseSensitive);
}

namespace
{

int findIn(const char* inText, std::size_t inTextLength, const char* inPattern,
           std::size_t inPatternLength, int inStart, bool inCaseSensitive)
{
    if (inPatternLength == 0 || inStart < 0)
        return -1;
    const std::size_t theStart = static_cast<std::size_t>(inStart);
    if (theStart > inTextLength || inTextLength - theStart < inPatternLength)
        return -1;
    const std::size_t theLast = inTextLength - inPatternLength;
    for (std::size_t i = theStart; i <= theLast; ++i)
    {
        std::size_t j = 0;
        if (inCaseSensitive)
        {
            while (j < inPatternLength && inText[i + j] == inPattern[j])
                ++j;
        }
        else
        {
            while (j < inPatternLength && toUpper(inText[i + j]) == toUpper(inPattern[j]))
                ++j;
        }
        if (j == inPatternLength)
            return i > static_cast<std::size_t>(INT32_MAX) ? -1 : static_cast<int>(i);
    }
    return -1;
}

} // namespace

int findString(const char* inText, const char* inPattern, int inStart, bool inCaseSensitive)
{
    if (inText == nullptr || inPattern == nullptr)
        return -1;
    return findIn(inText, std::strlen(inText), inPattern, std::strlen(inPattern), inStart,
                  inCaseSensitive);
}

int findString(const std::string& inText, const std::string& inPattern, int inStart,
               bool inCaseSensitive)
{
    if (inText.empty())
        return -1;
    return findIn(inText.data(), inText.size(), inPattern.data(), inPattern.size(), inStart,
                  inCaseSensitive);
}

bool startsWith(const char* inText, const char* inPattern, bool inCaseSensitive)
{
    return findString(inText, inPattern, 0, inCaseSensitive) == 0;
}

bool startsWith(const std::string& inText, const std::string& inPattern, bool inCaseSensitive)
{
    return findString(inText, inPattern, 0, inCaseSensitive) == 0;
}

bool endsWith(const char* inText, const char* inPattern, bool inCaseSensitive)
{
    if (inText == nullptr || inPattern == nullptr)
        return false;
    const std::size_t theTextLength = std::strlen(inText);
    const std::size_t thePatternLength = std::strlen(inPattern);
    if (theTextLength < thePatternLength || theTextLength > static_cast<std::size_t>(INT32_MAX))
        return false;
    const int theStart = static_cast<int>(theTextLength - thePatternLength);
    return findString(inText, inPattern, theStart, inCaseSensitive) == theStart;
}

bool endsWith(const std::string& inText, const std::string& inPattern, bool inCaseSensitive)
{
    if (inText.size() < inPattern.size() || inText.size() > static_cast<std::size_t>(INT32_MAX))
        return false;
    const int theStart = static_cast<int>(inText.size() - inPattern.size());
    return findString(inText, inPattern, theStart, inCaseSensitive) == theStart;
}

bool contains(const char* inText, const char* inPattern, bool inCaseSensitive)
{
    return findString(inText, inPattern, 0, inCaseSensitive) != -1;
}

bool contains(const std::string& inText, const std::string& inPattern, bool inCaseSensitive)
{
    return findString(inText, inPattern, 0, inCaseSensitive) != -1;
}

bool matchString(const char* inText, const char* inPattern, std::int32_t inMatchType)
{
    switch (inMatchType)
    {
    case qzMatchAny:
        return true;
    case qzMatchStart:
        return startsWith(inText, inPattern, false);
    case qzMatchEnd:
        return endsWith(inText, inPattern, false);
    case qzMatchContains:
        return contains(inText, inPattern, false);
    case qzMatchExact:
        return equalStrings(inText, inPattern, false);
    default:
        return false;
    }
}

bool matchString(const std::string& inText, const std::string& inPattern, std::int32_t inMatchType)
{
    switch (inMatchType)
    {
    case qzMatchAny:
        return true;
    case qzMatchStart:
        return startsWith(inText, inPattern, false);
    case qzMatchEnd:
        return endsWith(inText, inPattern, false);
    case qzMatchContains:
        return contains(inText, inPattern, false);
    case qzMatchExact:
        return equalStrings(inText, inPattern, false);
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Character tests

bool isDigit(char inChar) { return inChar >= '0' && inChar <= '9'; }

namespace
{

bool isHexChar(char inChar)
{
    std::uint8_t theIgnored = 0;
    return hexDigitValue(inChar, theIgnored);
}

bool isAsciiAlnum(char inChar)
{
    return isDigit(inChar) || (inChar >= 'a' && inChar <= 'z') || (inChar >= 'A' && inChar <= 'Z');
}

// The C library classifiers take an unsigned char value; a plain char of
// 128 or more would be negative and undefined behaviour.
bool isPrintableChar(char inChar) { return std::isprint(static_cast<unsigned char>(inChar)) != 0; }
bool isControlChar(char inChar) { return std::iscntrl(static_cast<unsigned char>(inChar)) != 0; }

template <typename Pred>
bool allOf(const char* inText, std::size_t inLength, Pred inPred)
{
    for (std::size_t i = 0; i < inLength; ++i)
    {
        if (!inPred(inText[i]))
            return false;
    }
    return true;
}

} // namespace

bool isAllDigits(const char* inText)
{
    return inText != nullptr && *inText != '\0' && allOf(inText, std::strlen(inText), isDigit);
}

bool isAllDigits(const std::string& inText)
{
    return !inText.empty() && allOf(inText.data(), inText.size(), isDigit);
}

bool isHexString(const char* inText)
{
    return inText != nullptr && *inText != '\0' && allOf(inText, std::strlen(inText), isHexChar);
}

bool isHexString(const std::string& inText)
{
    return !inText.empty() && allOf(inText.data(), inText.size(), isHexChar);
}

bool isPrintableString(const char* inText)
{
    return inText == nullptr || allOf(inText, std::strlen(inText), isPrintableChar);
}

bool isPrintableString(const std::string& inText)
{
    return allOf(inText.data(), inText.size(), isPrintableChar);
}

bool hasNoControlChars(const char* inText)
{
    return inText == nullptr ||
           allOf(inText, std::strlen(inText), [](char inChar) { return !isControlChar(inChar); });
}

bool hasNoControlChars(const std::string& inText)
{
    return allOf(inText.data(), inText.size(), [](char inChar) { return !isControlChar(inChar); });
}

bool isAlphanumeric(const std::string& inText)
{
    return allOf(inText.data(), inText.size(), isAsciiAlnum);
}

std::string replaceNonPrintable(const std::string& inText)
{
    std::string theResult(inText);
    for (char& cur : theResult)
    {
        if (!isPrintableChar(cur))
            cur = '.';
    }
    return theResult;
}

// ---------------------------------------------------------------------------
// Wide text

std::string wideToString(const char16_t* inWide) { return corvel::platform::wideToNarrow(inWide); }
