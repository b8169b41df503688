// String utilities: conversions between text and numbers or truth values,
// case folding and comparison, character tests, and the editing half (find
// and replace, "$" parameter substitution, trimming, quoting, line breaks,
// split and join, lists of strings).
//
// All text is 8-bit. Case folding and every character class are plain ASCII
// rules, independent of the locale, except isPrintableString,
// hasNoControlChars and replaceNonPrintable, which use the C library's
// printable and control tests (the byte is passed as unsigned char).
//
// Number conversions keep 32-bit limits on every platform, whatever the
// width of long: a value that does not fit is refused, never truncated. The
// two values the C library returns on overflow, 2147483647 and -2147483648,
// are refused by parseInt even when written exactly; 4294967295 is accepted
// by parseUInt only when written exactly (after one optional "+").
//
// Conversions come in three forms: parseX (success flag, value through an
// out parameter), stringToX (value, or throws std::invalid_argument with the
// text "Trying to convert string to integer: " / "Trying to convert string to
// boolean: " followed by the input) and stringToXOr (the caller's default on
// failure). A null C string is treated as text that does not convert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <set>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Conversions from text

// Digits are converted with parseInt (so "2" is true, "0" false, "1x" fails);
// otherwise, folded to lower case, "y", "yes", "t", "true" give true and "n",
// "no", "f", "false" give false. Anything else fails, value unchanged.
bool parseBool(const char* inText, bool& outValue);
bool parseBool(const std::string& inText, bool& outValue);
bool stringToBool(const char* inText);
bool stringToBool(const std::string& inText);

// Optional "+" or "-", decimal digits, nothing else (no blanks, no "0x").
// outValue receives the converted prefix (clamped to 32 bits) whenever the
// first character is a sign or a digit, even when the result is false.
bool parseInt(const char* inText, std::int32_t& outValue);
bool parseInt(const std::string& inText, std::int32_t& outValue);
std::int32_t stringToInt(const char* inText);
std::int32_t stringToInt(const std::string& inText);
std::int32_t stringToIntOr(const char* inText, std::int32_t inDefault);
std::int32_t stringToIntOr(const std::string& inText, std::int32_t inDefault);

// Optional "+", decimal digits, nothing else; a minus sign is refused.
bool parseUInt(const char* inText, std::uint32_t& outValue);
bool parseUInt(const std::string& inText, std::uint32_t& outValue);
std::uint32_t stringToUInt(const char* inText);
std::uint32_t stringToUInt(const std::string& inText);
std::uint32_t stringToUIntOr(const char* inText, std::uint32_t inDefault);
std::uint32_t stringToUIntOr(const std::string& inText, std::uint32_t inDefault);

// As parseUInt, and the value must be below 65536; outValue receives the low
// 16 bits of what parseUInt produced.
bool parseUShort(const char* inText, std::uint16_t& outValue);
bool parseUShort(const std::string& inText, std::uint16_t& outValue);
std::uint16_t stringToUShort(const char* inText);
std::uint16_t stringToUShort(const std::string& inText);
std::uint16_t stringToUShortOr(const char* inText, std::uint16_t inDefault);
std::uint16_t stringToUShortOr(const std::string& inText, std::uint16_t inDefault);

// ---------------------------------------------------------------------------
// Conversions to text

std::string intToString(long inValue);
std::string uintToString(unsigned long inValue);
// Upper-case hexadecimal, no leading zeros, no prefix: 255 gives "FF".
std::string uintToHex(unsigned long inValue);
std::string int64ToString(std::int64_t inValue);

// ---------------------------------------------------------------------------
// Hexadecimal blocks

// "0123456789abcdef" or "0123456789ABCDEF". Both tables live in one array,
// the upper-case one 17 bytes after the lower-case one.
const char* hexDigits(bool inUpperCase);

// For each byte appends inSeparator and then two hex digits, high nibble
// first. Returns ioOut.
std::string& appendHex(std::string& ioOut, const std::uint8_t* inBytes, std::size_t inCount,
                       const std::string& inSeparator, bool inUpperCase);

// Reads inText two hex digits at a time into bytes (first digit the high
// nibble); outCount is the number of bytes written. An odd last digit makes a
// byte of its own with a low nibble of 0. False at the first character that
// is not a hex digit (the bytes written so far stay, a byte whose first digit
// was read counts). A null text is false with a count of 0.
// The caller provides at least (strlen(inText) + 1) / 2 bytes; nothing is
// written beyond that.
bool hexToBytes(std::uint8_t* outBuffer, std::size_t& outCount, const char* inText);
// The same, but never writes more than inCapacity bytes: false, with the
// bytes that fitted, when the text needs more.
bool hexToBytes(std::uint8_t* outBuffer, std::size_t inCapacity, std::size_t& outCount,
                const char* inText);

// "0"-"9" give 0-9, "A"-"F" and "a"-"f" give 10-15; anything else is false.
bool hexDigitValue(char inChar, std::uint8_t& outValue);

// ---------------------------------------------------------------------------
// Case and comparison

// Only "a"-"z" and "A"-"Z" change.
char toUpper(char inChar);
char toLower(char inChar);
std::string toUpperString(const std::string& inText);
std::string toLowerString(const std::string& inText);

// Walks both strings while inA has characters and they agree (folded to upper
// case unless case-sensitive) and returns the difference of the characters
// where it stopped, as signed chars: 0 means equal. A null pointer compares
// as the empty text.
int compareStrings(const char* inA, const char* inB, bool inCaseSensitive);
bool equalStrings(const char* inA, const char* inB, bool inCaseSensitive);
bool equalStrings(const std::string& inA, const std::string& inB, bool inCaseSensitive);

// Index of the first occurrence at or after inStart, or -1. Also -1 for a
// null pointer, an empty pattern, a negative start, or fewer than
// pattern-length characters after inStart. The string form is also -1 for an
// empty text.
int findString(const char* inText, const char* inPattern, int inStart, bool inCaseSensitive);
int findString(const std::string& inText, const std::string& inPattern, int inStart,
               bool inCaseSensitive);

// An empty pattern is never found, so these are false for it.
bool startsWith(const char* inText, const char* inPattern, bool inCaseSensitive);
bool startsWith(const std::string& inText, const std::string& inPattern, bool inCaseSensitive);
bool endsWith(const char* inText, const char* inPattern, bool inCaseSensitive);
bool endsWith(const std::string& inText, const std::string& inPattern, bool inCaseSensitive);
bool contains(const char* inText, const char* inPattern, bool inCaseSensitive);
bool contains(const std::string& inText, const std::string& inPattern, bool inCaseSensitive);

// Match types for matchString and replaceMatch.
enum : std::int32_t
{
    qzMatchAny = 0,
    qzMatchStart = 1,
    qzMatchEnd = 2,
    qzMatchContains = 3,
    qzMatchExact = 4
};

// Case-insensitive: 0 always true, 1 startsWith, 2 endsWith, 3 contains,
// 4 equalStrings; any other type false.
bool matchString(const char* inText, const char* inPattern, std::int32_t inMatchType);
bool matchString(const std::string& inText, const std::string& inPattern, std::int32_t inMatchType);

// ---------------------------------------------------------------------------
// Character tests

bool isDigit(char inChar);
// Not null, not empty, only "0"-"9".
bool isAllDigits(const char* inText);
bool isAllDigits(const std::string& inText);
// Not null, not empty, only hex digits of either case.
bool isHexString(const char* inText);
bool isHexString(const std::string& inText);
// C library printable test on every character; empty (or null) text passes.
bool isPrintableString(const char* inText);
bool isPrintableString(const std::string& inText);
// No character passes the C library control test; empty (or null) passes.
bool hasNoControlChars(const char* inText);
bool hasNoControlChars(const std::string& inText);
// Only ASCII letters and digits; the empty string passes.
bool isAlphanumeric(const std::string& inText);
// A copy with every non-printable character replaced by ".".
std::string replaceNonPrintable(const std::string& inText);

// ---------------------------------------------------------------------------
// Wide text

// NUL-terminated UTF-16 to the platform's narrow text (UTF-8 on Linux, the
// ANSI code page on Windows). Any failure, such as an unpaired surrogate or a
// null pointer, gives the empty string.
std::string wideToString(const char16_t* inWide);

// ---------------------------------------------------------------------------
// Find and replace in blocks

// First exact occurrence at or after inStart, or -1; -1 also for an empty
// pattern, a null pointer, or a pattern longer than what remains.
std::ptrdiff_t findBytes(const char* inBlock, std::size_t inBlockSize, const char* inPattern,
                         std::size_t inPatternLength, std::size_t inStart);

// Replaces the first occurrence of the find bytes, or with inAll every one
// (searching again after each inserted replacement), inside a block of
// inBlockSize bytes that may grow to inCapacity bytes. Returns the new size,
// never more than inCapacity; text pushed beyond the capacity is lost. The
// byte at index size (a C string's terminator) moves along with the data
// while it stays inside the capacity. No byte at or beyond inCapacity is read
// or written, so a block of exactly inCapacity bytes is safe. An empty find text leaves the block
// unchanged; a size above the capacity is asserted and taken as the capacity.
std::size_t replaceInBlock(char* ioBlock, std::size_t inBlockSize, std::size_t inCapacity,
                           const char* inFind, std::size_t inFindLength, const char* inReplace,
                           std::size_t inReplaceLength, bool inAll);

// Replace inside the C string held in a buffer of inBufferSize bytes: the
// result is cut at inBufferSize - 1 characters and always NUL-terminated.
// A buffer size of 0 leaves the buffer alone. Returns ioBuffer.
char* replaceInCString(char* ioBuffer, const char* inFind, const char* inReplace, bool inAll,
                       std::size_t inBufferSize);

// Replace inside a length-prefixed string (first byte the length, characters
// after it) that may hold up to inCapacity characters (below 256; a larger
// capacity is asserted and taken as 255). The buffer has inCapacity + 1
// bytes. Returns ioString.
std::uint8_t* replaceInCountedString(std::uint8_t* ioString, const char* inFind,
                                     const char* inReplace, bool inAll, std::size_t inCapacity);

// Replaces the first exact occurrence, or with inAll every one, searching
// again after the inserted replacement. An empty find text changes nothing.
std::string replaceString(const std::string& inText, const std::string& inFind,
                          const std::string& inReplace, bool inAll);

// Every "$" + inCode becomes inValue; the search resumes after the inserted
// value, so a value holding "$" + inCode is not expanded again.
std::string& substituteParameter(std::string& ioText, char inCode, const std::string& inValue);
std::string substitutedParameter(const std::string& inText, char inCode,
                                 const std::string& inValue);

// If inText matches inPattern by matchString, by type: 0 and 4 the
// replacement alone; 1 the replacement and the text after the matched prefix;
// 2 the text before the matched suffix and the replacement; 3 the first (or
// with inAll every) case-insensitive occurrence replaced. Otherwise, or for
// an empty pattern with type 3, the text unchanged.
std::string replaceMatch(const std::string& inText, const std::string& inPattern,
                         const std::string& inReplace, std::int32_t inMatchType, bool inAll);

// ---------------------------------------------------------------------------
// Trimming, quoting, line breaks

std::string& replaceChar(std::string& ioText, char inFrom, char inTo);
std::string& trimLeft(std::string& ioText, char inChar);
std::string& trimRight(std::string& ioText, char inChar);
std::string& trim(std::string& ioText, char inChar);

// The inside of a text longer than one character that starts and ends with
// "\""; otherwise a copy.
std::string unquote(const std::string& inText);
// A copy when already so quoted; otherwise "\"" + text + "\"".
std::string quote(const std::string& inText);

// Line-break formats for convertLineEnds.
enum : std::int32_t
{
    qzLineEndDefault = 0, // the same as qzLineEndCRLF
    qzLineEndLF = 1,
    qzLineEndCRLF = 2,
    qzLineEndCR = 3,
    qzLineEndSpace = 4 // one line: every break becomes a space
};

// Every line break of any convention (CR LF, LF, CR) becomes one break of the
// chosen format. With inEnsureFinalBreak a break is added when the text is
// empty or does not end in one. An unknown format is asserted and the text
// left unchanged. Returns ioText.
std::string& convertLineEnds(std::string& ioText, std::int32_t inFormat, bool inEnsureFinalBreak);
std::string convertedLineEnds(const std::string& inText, std::int32_t inFormat,
                              bool inEnsureFinalBreak);

// ---------------------------------------------------------------------------
// Split and join

// Clears the container, then adds the pieces between separators in order.
// Consecutive separators give empty pieces, a final separator a final empty
// piece; the empty text gives no piece. A set keeps each piece once, sorted.
void splitString(const std::string& inText, std::vector<std::string>& outPieces, char inSeparator);
void splitString(const std::string& inText, std::list<std::string>& outPieces, char inSeparator);
void splitString(const std::string& inText, std::set<std::string>& outPieces, char inSeparator);

std::string joinStrings(const std::vector<std::string>& inPieces, char inSeparator);
std::string joinStrings(const std::list<std::string>& inPieces, char inSeparator);
std::string joinStrings(const std::set<std::string>& inPieces, char inSeparator);

std::string joinNumbers(const std::vector<std::uint32_t>& inNumbers, char inSeparator);
std::string joinNumbers(const std::vector<std::int32_t>& inNumbers, char inSeparator);
std::string joinNumbers(const std::set<std::uint32_t>& inNumbers, char inSeparator);

// Splits at the separator; every piece, with spaces and tabs cut from both
// ends, must convert (parseUInt for the unsigned forms, parseInt for the
// signed one). An empty or blank piece fails, so a trailing separator fails;
// the empty text succeeds with an empty container. On failure the container
// keeps the numbers added so far.
bool parseNumberList(const std::string& inText, std::vector<std::uint32_t>& outNumbers,
                     char inSeparator);
bool parseNumberList(const std::string& inText, std::vector<std::int32_t>& outNumbers,
                     char inSeparator);
bool parseNumberList(const std::string& inText, std::set<std::uint32_t>& outNumbers,
                     char inSeparator);

// Splits at the inN-th separator (from 0): left is the text before it, right
// the text after it; with inRequireBothParts both must be non-empty. When the
// text has exactly inN separators and inRequireBothParts is clear, left is
// the whole text and right empty. Otherwise false, left and right unchanged.
bool splitAt(const std::string& inText, std::string& outLeft, std::string& outRight,
             char inSeparator, bool inRequireBothParts, int inN);

// The inN-th piece (from 0) of the text split at the separator; empty when
// there are fewer than inN separators.
std::string getField(const std::string& inText, int inN, char inSeparator);

// Empty name: the origin; a name ending in ".": the name; otherwise
// name + "." + origin.
std::string qualifyName(const std::string& inName, const std::string& inOrigin);
// The text after the first dot; empty without one.
std::string removeFirstLabel(const std::string& inName);
// The text after the first separator; when that separator is the last
// character and not the first, the separator alone; empty without one.
std::string getParentName(const std::string& inText, char inSeparator);

// ---------------------------------------------------------------------------
// Lists of strings

std::list<std::string>::const_iterator findInList(const std::list<std::string>& inList,
                                                  const std::string& inText, bool inCaseSensitive);
std::list<std::string>::iterator findInList(std::list<std::string>& inList,
                                            const std::string& inText, bool inCaseSensitive);
// Over [inFirst, inLast); inLast when not found.
std::list<std::string>::const_iterator findInList(std::list<std::string>::const_iterator inFirst,
                                                  std::list<std::string>::const_iterator inLast,
                                                  const std::string& inText, bool inCaseSensitive);
std::list<std::string>::iterator findInList(std::list<std::string>::iterator inFirst,
                                            std::list<std::string>::iterator inLast,
                                            const std::string& inText, bool inCaseSensitive);

// Linear search, so a case-insensitive search also finds elements the set's
// own ordering would not.
std::set<std::string>::const_iterator findInSet(const std::set<std::string>& inSet,
                                                const std::string& inText, bool inCaseSensitive);

// Every element exactly equal to inText is erased (inErase) or emptied.
void removeFromList(std::list<std::string>& ioList, const std::string& inText, bool inErase);
// Later elements equal to an earlier one are erased; first occurrences stay.
void removeDuplicates(std::list<std::string>& ioList, bool inCaseSensitive);
