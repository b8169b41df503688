// Find and replace, parameter substitution, trimming, quoting, line breaks,
// split and join, lists of strings.
#include "corvel/util/qzstringutils.h"

#include "corvel/debug/qzdebug.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------
// Find and replace in blocks

std::ptrdiff_t findBytes(const char* inBlock, std::size_t inBlockSize, const char* inPattern,
                         std::size_t inPatternLength, std::size_t inStart)
{
    if (inBlock == nullptr || inPattern == nullptr || inPatternLength == 0)
        return -1;
    if (inStart > inBlockSize || inBlockSize - inStart < inPatternLength)
        return -1;
    const std::size_t theLast = inBlockSize - inPatternLength;
    for (std::size_t i = inStart; i <= theLast; ++i)
    {
        if (inBlock[i] == inPattern[0] && std::memcmp(inBlock + i, inPattern, inPatternLength) == 0)
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

std::size_t replaceInBlock(char* ioBlock, std::size_t inBlockSize, std::size_t inCapacity,
                           const char* inFind, std::size_t inFindLength, const char* inReplace,
                           std::size_t inReplaceLength, bool inAll)
{
    // Named so that the assertion reports read as the framework has always
    // printed them.
    const std::size_t blockSize = inBlockSize;
    const std::size_t maxBlockSize = inCapacity;
    const char* blockPtr = ioBlock;
    const char* findPtr = inFind;
    const char* replacePtr = inReplace;
    qzAssert(blockSize <= maxBlockSize);
    qzAssert(blockPtr && findPtr && replacePtr);

    std::size_t theSize = std::min(blockSize, maxBlockSize);
    if (!(blockPtr && findPtr && replacePtr))
        return theSize;
    // An empty find text would be found again after every insertion.
    if (inFindLength == 0)
        return theSize;

    std::size_t thePosition = 0;
    for (;;)
    {
        const std::ptrdiff_t theFound =
            findBytes(ioBlock, theSize, inFind, inFindLength, thePosition);
        if (theFound < 0)
            break;
        thePosition = static_cast<std::size_t>(theFound);
        const std::size_t theTail = thePosition + inFindLength;

        // The tail, together with the byte at index size when it lies inside
        // the capacity (a C string's terminator), moves to its new place;
        // what would land at or beyond the capacity is dropped.
        if (inReplaceLength > inFindLength)
        {
            const std::size_t theDelta = inReplaceLength - inFindLength;
            if (theDelta < inCapacity)
            {
                const std::size_t theLast = std::min(theSize, inCapacity - 1 - theDelta);
                if (theLast >= theTail)
                    std::memmove(ioBlock + theTail + theDelta, ioBlock + theTail,
                                 theLast - theTail + 1);
            }
        }
        else if (inReplaceLength < inFindLength)
        {
            const std::size_t theDelta = inFindLength - inReplaceLength;
            const std::size_t theLast = std::min(theSize, inCapacity - 1);
            if (theLast >= theTail)
                std::memmove(ioBlock + theTail - theDelta, ioBlock + theTail,
                             theLast - theTail + 1);
        }

        const std::size_t theCopied = std::min(inReplaceLength, inCapacity - thePosition);
        std::memcpy(ioBlock + thePosition, inReplace, theCopied);

        theSize = std::min(inCapacity, theSize - inFindLength + inReplaceLength);
        thePosition += inReplaceLength;
        if (!inAll)
            break;
    }
    return theSize;
}

char* replaceInCString(char* ioBuffer, const char* inFind, const char* inReplace, bool inAll,
                       std::size_t inBufferSize)
{
    if (ioBuffer == nullptr || inBufferSize == 0)
        return ioBuffer;
    const std::size_t theCapacity = inBufferSize - 1;
    // The text is read only as far as the buffer goes, even when the caller
    // left it unterminated.
    const void* theEnd = std::memchr(ioBuffer, '\0', theCapacity);
    const std::size_t theSize =
        theEnd != nullptr ? static_cast<std::size_t>(static_cast<const char*>(theEnd) - ioBuffer)
                          : theCapacity;
    const std::size_t theNewSize = replaceInBlock(
        ioBuffer, theSize, theCapacity, inFind, inFind != nullptr ? std::strlen(inFind) : 0,
        inReplace, inReplace != nullptr ? std::strlen(inReplace) : 0, inAll);
    ioBuffer[theNewSize] = '\0';
    return ioBuffer;
}

std::uint8_t* replaceInCountedString(std::uint8_t* ioString, const char* inFind,
                                     const char* inReplace, bool inAll, std::size_t inCapacity)
{
    const std::size_t maxStringSize = inCapacity;
    qzAssert(maxStringSize < 256);
    if (ioString == nullptr)
        return ioString;
    // The length byte cannot say more than 255.
    const std::size_t theCapacity = std::min<std::size_t>(maxStringSize, 255);
    const std::size_t theNewSize =
        replaceInBlock(reinterpret_cast<char*>(ioString + 1), ioString[0], theCapacity, inFind,
                       inFind != nullptr ? std::strlen(inFind) : 0, inReplace,
                       inReplace != nullptr ? std::strlen(inReplace) : 0, inAll);
    ioString[0] = static_cast<std::uint8_t>(theNewSize);
    return ioString;
}

std::string replaceString(const std::string& inText, const std::string& inFind,
                          const std::string& inReplace, bool inAll)
{
    std::string theResult(inText);
    if (inFind.empty())
        return theResult;
    std::size_t thePosition = 0;
    while ((thePosition = theResult.find(inFind, thePosition)) != std::string::npos)
    {
        theResult.replace(thePosition, inFind.size(), inReplace);
        thePosition += inReplace.size();
        if (!inAll)
            break;
    }
    return theResult;
}

std::string& substituteParameter(std::string& ioText, char inCode, const std::string& inValue)
{
    if (ioText.empty())
        return ioText;
    const char thePattern[2] = {'$', inCode};
    std::size_t thePosition = 0;
    while ((thePosition = ioText.find(thePattern, thePosition, 2)) != std::string::npos)
    {
        ioText.replace(thePosition, 2, inValue);
        // Resume after the value so that a value holding the pattern is not
        // expanded again.
        thePosition += inValue.size();
    }
    return ioText;
}

std::string substitutedParameter(const std::string& inText, char inCode, const std::string& inValue)
{
    std::string theResult(inText);
    return substituteParameter(theResult, inCode, inValue);
}

std::string replaceMatch(const std::string& inText, const std::string& inPattern,
                         const std::string& inReplace, std::int32_t inMatchType, bool inAll)
{
    if (!matchString(inText, inPattern, inMatchType))
        return inText;
    switch (inMatchType)
    {
    case qzMatchAny:
    case qzMatchExact:
        return inReplace;
    case qzMatchStart:
        return inReplace + inText.substr(inPattern.size());
    case qzMatchEnd:
        return inText.substr(0, inText.size() - inPattern.size()) + inReplace;
    case qzMatchContains:
        break;
    default:
        return inText;
    }

    std::string theResult(inText);
    if (inPattern.empty())
        return theResult;
    std::size_t thePosition = 0;
    while (thePosition <= static_cast<std::size_t>(INT32_MAX))
    {
        const int theFound = findString(theResult, inPattern, static_cast<int>(thePosition), false);
        if (theFound < 0)
            break;
        theResult.replace(static_cast<std::size_t>(theFound), inPattern.size(), inReplace);
        thePosition = static_cast<std::size_t>(theFound) + inReplace.size();
        if (!inAll)
            break;
    }
    return theResult;
}

// ---------------------------------------------------------------------------
// Trimming, quoting, line breaks

std::string& replaceChar(std::string& ioText, char inFrom, char inTo)
{
    std::replace(ioText.begin(), ioText.end(), inFrom, inTo);
    return ioText;
}

std::string& trimLeft(std::string& ioText, char inChar)
{
    const std::size_t theFirst = ioText.find_first_not_of(inChar);
    ioText.erase(0, theFirst == std::string::npos ? ioText.size() : theFirst);
    return ioText;
}

std::string& trimRight(std::string& ioText, char inChar)
{
    const std::size_t theLast = ioText.find_last_not_of(inChar);
    ioText.erase(theLast == std::string::npos ? 0 : theLast + 1);
    return ioText;
}

std::string& trim(std::string& ioText, char inChar)
{
    return trimRight(trimLeft(ioText, inChar), inChar);
}

namespace
{

bool isQuoted(const std::string& inText)
{
    return inText.size() > 1 && inText.front() == '"' && inText.back() == '"';
}

} // namespace

std::string unquote(const std::string& inText)
{
    return isQuoted(inText) ? inText.substr(1, inText.size() - 2) : inText;
}

std::string quote(const std::string& inText)
{
    return isQuoted(inText) ? inText : "\"" + inText + "\"";
}

std::string& convertLineEnds(std::string& ioText, std::int32_t inFormat, bool inEnsureFinalBreak)
{
    if (inFormat == qzLineEndDefault)
        inFormat = qzLineEndCRLF;
    qzAssert(inFormat > 0 && inFormat < 5);
    if (!(inFormat > 0 && inFormat < 5))
        return ioText;

    if (inEnsureFinalBreak && (ioText.empty() || (ioText.back() != '\r' && ioText.back() != '\n')))
        ioText += '\r';

    std::string theResult;
    theResult.reserve(ioText.size() + ioText.size() / 8 + 2);
    const std::size_t theSize = ioText.size();
    for (std::size_t i = 0; i < theSize; ++i)
    {
        const char cur = ioText[i];
        const bool theNextIsLF = (i + 1 < theSize && ioText[i + 1] == '\n');
        const bool thePrevIsCR = (i > 0 && ioText[i - 1] == '\r');
        if (cur == '\r')
        {
            switch (inFormat)
            {
            case qzLineEndLF:
                if (!theNextIsLF)
                    theResult += '\n';
                break;
            case qzLineEndCRLF:
                theResult += '\r';
                if (!theNextIsLF)
                    theResult += '\n';
                break;
            case qzLineEndCR:
                theResult += '\r';
                break;
            default:
                if (!theNextIsLF)
                    theResult += ' ';
                break;
            }
        }
        else if (cur == '\n')
        {
            switch (inFormat)
            {
            case qzLineEndLF:
                theResult += '\n';
                break;
            case qzLineEndCRLF:
                if (!thePrevIsCR)
                    theResult += '\r';
                theResult += '\n';
                break;
            case qzLineEndCR:
                if (!thePrevIsCR)
                    theResult += '\r';
                break;
            default:
                theResult += ' ';
                break;
            }
        }
        else
        {
            theResult += cur;
        }
    }
    ioText.swap(theResult);
    return ioText;
}

std::string convertedLineEnds(const std::string& inText, std::int32_t inFormat,
                              bool inEnsureFinalBreak)
{
    std::string theResult(inText);
    return convertLineEnds(theResult, inFormat, inEnsureFinalBreak);
}

// ---------------------------------------------------------------------------
// Split and join

namespace
{

template <typename Container>
void splitInto(const std::string& inText, Container& outPieces, char inSeparator)
{
    outPieces.clear();
    if (inText.empty())
        return;
    std::size_t theStart = 0;
    for (;;)
    {
        const std::size_t theEnd = inText.find(inSeparator, theStart);
        if (theEnd == std::string::npos)
        {
            outPieces.insert(outPieces.end(), inText.substr(theStart));
            return;
        }
        outPieces.insert(outPieces.end(), inText.substr(theStart, theEnd - theStart));
        theStart = theEnd + 1;
    }
}

template <typename Container, typename ToText>
std::string joinWith(const Container& inPieces, char inSeparator, ToText inToText)
{
    std::string theResult;
    bool theFirst = true;
    for (const auto& cur : inPieces)
    {
        if (!theFirst)
            theResult += inSeparator;
        theResult += inToText(cur);
        theFirst = false;
    }
    return theResult;
}

template <typename Container, typename Parse>
bool parseListInto(const std::string& inText, Container& outNumbers, char inSeparator,
                   Parse inParse)
{
    std::vector<std::string> thePieces;
    splitString(inText, thePieces, inSeparator);
    outNumbers.clear();
    for (const std::string& curPiece : thePieces)
    {
        const std::size_t theFirst = curPiece.find_first_not_of(" \t");
        // Empty and blank pieces both fail: there is no number in them.
        if (theFirst == std::string::npos)
            return false;
        const std::size_t theLast = curPiece.find_last_not_of(" \t");
        typename Container::value_type theValue{};
        if (!inParse(curPiece.substr(theFirst, theLast - theFirst + 1), theValue))
            return false;
        outNumbers.insert(outNumbers.end(), theValue);
    }
    return true;
}

} // namespace

void splitString(const std::string& inText, std::vector<std::string>& outPieces, char inSeparator)
{
    splitInto(inText, outPieces, inSeparator);
}

void splitString(const std::string& inText, std::list<std::string>& outPieces, char inSeparator)
{
    splitInto(inText, outPieces, inSeparator);
}

void splitString(const std::string& inText, std::set<std::string>& outPieces, char inSeparator)
{
    splitInto(inText, outPieces, inSeparator);
}

namespace
{
const std::string& sameText(const std::string& inText) { return inText; }
std::string unsignedText(std::uint32_t inValue) { return uintToString(inValue); }
std::string signedText(std::int32_t inValue) { return intToString(inValue); }
bool parseUnsigned(const std::string& inText, std::uint32_t& outValue)
{
    return parseUInt(inText, outValue);
}
bool parseSigned(const std::string& inText, std::int32_t& outValue)
{
    return parseInt(inText, outValue);
}
} // namespace

std::string joinStrings(const std::vector<std::string>& inPieces, char inSeparator)
{
    return joinWith(inPieces, inSeparator, sameText);
}

std::string joinStrings(const std::list<std::string>& inPieces, char inSeparator)
{
    return joinWith(inPieces, inSeparator, sameText);
}

std::string joinStrings(const std::set<std::string>& inPieces, char inSeparator)
{
    return joinWith(inPieces, inSeparator, sameText);
}

std::string joinNumbers(const std::vector<std::uint32_t>& inNumbers, char inSeparator)
{
    return joinWith(inNumbers, inSeparator, unsignedText);
}

std::string joinNumbers(const std::vector<std::int32_t>& inNumbers, char inSeparator)
{
    return joinWith(inNumbers, inSeparator, signedText);
}

std::string joinNumbers(const std::set<std::uint32_t>& inNumbers, char inSeparator)
{
    return joinWith(inNumbers, inSeparator, unsignedText);
}

bool parseNumberList(const std::string& inText, std::vector<std::uint32_t>& outNumbers,
                     char inSeparator)
{
    return parseListInto(inText, outNumbers, inSeparator, parseUnsigned);
}

bool parseNumberList(const std::string& inText, std::vector<std::int32_t>& outNumbers,
                     char inSeparator)
{
    return parseListInto(inText, outNumbers, inSeparator, parseSigned);
}

bool parseNumberList(const std::string& inText, std::set<std::uint32_t>& outNumbers,
                     char inSeparator)
{
    return parseListInto(inText, outNumbers, inSeparator, parseUnsigned);
}

bool splitAt(const std::string& inText, std::string& outLeft, std::string& outRight,
             char inSeparator, bool inRequireBothParts, int inN)
{
    int theCount = 0;
    for (std::size_t i = 0; i < inText.size(); ++i)
    {
        if (inText[i] != inSeparator)
            continue;
        if (theCount == inN)
        {
            outLeft = inText.substr(0, i);
            outRight = inText.substr(i + 1);
            return !inRequireBothParts || (!outLeft.empty() && !outRight.empty());
        }
        // Past inN the count no longer matters; stop it before it could wrap.
        if (theCount < inN)
            ++theCount;
        else
            return false;
    }
    if (!inRequireBothParts && theCount == inN)
    {
        outLeft = inText;
        outRight.clear();
        return true;
    }
    return false;
}

std::string getField(const std::string& inText, int inN, char inSeparator)
{
    if (inN < 0)
        return std::string();
    std::size_t theStart = 0;
    for (int i = 0; i < inN; ++i)
    {
        const std::size_t theEnd = inText.find(inSeparator, theStart);
        if (theEnd == std::string::npos)
            return std::string();
        theStart = theEnd + 1;
    }
    const std::size_t theEnd = inText.find(inSeparator, theStart);
    return inText.substr(theStart,
                         theEnd == std::string::npos ? std::string::npos : theEnd - theStart);
}

std::string qualifyName(const std::string& inName, const std::string& inOrigin)
{
    if (inName.empty())
        return inOrigin;
    if (inName.back() == '.')
        return inName;
    return inName + "." + inOrigin;
}

std::string removeFirstLabel(const std::string& inName)
{
    // Splitting at the dots, dropping the first piece and joining the rest
    // again leaves exactly the text after the first dot.
    const std::size_t theDot = inName.find('.');
    return theDot == std::string::npos ? std::string() : inName.substr(theDot + 1);
}

std::string getParentName(const std::string& inText, char inSeparator)
{
    const std::size_t theFirst = inText.find(inSeparator);
    if (theFirst == std::string::npos)
        return std::string();
    if (theFirst + 1 == inText.size() && theFirst != 0)
        return std::string(1, inSeparator);
    return inText.substr(theFirst + 1);
}

// ---------------------------------------------------------------------------
// Lists of strings

std::list<std::string>::const_iterator findInList(std::list<std::string>::const_iterator inFirst,
                                                  std::list<std::string>::const_iterator inLast,
                                                  const std::string& inText, bool inCaseSensitive)
{
    for (auto cur = inFirst; cur != inLast; ++cur)
    {
        if (equalStrings(*cur, inText, inCaseSensitive))
            return cur;
    }
    return inLast;
}

std::list<std::string>::iterator findInList(std::list<std::string>::iterator inFirst,
                                            std::list<std::string>::iterator inLast,
                                            const std::string& inText, bool inCaseSensitive)
{
    for (auto cur = inFirst; cur != inLast; ++cur)
    {
        if (equalStrings(*cur, inText, inCaseSensitive))
            return cur;
    }
    return inLast;
}

std::list<std::string>::const_iterator findInList(const std::list<std::string>& inList,
                                                  const std::string& inText, bool inCaseSensitive)
{
    return findInList(inList.cbegin(), inList.cend(), inText, inCaseSensitive);
}

std::list<std::string>::iterator findInList(std::list<std::string>& inList,
                                            const std::string& inText, bool inCaseSensitive)
{
    return findInList(inList.begin(), inList.end(), inText, inCaseSensitive);
}

std::set<std::string>::const_iterator findInSet(const std::set<std::string>& inSet,
                                                const std::string& inText, bool inCaseSensitive)
{
    for (auto cur = inSet.cbegin(); cur != inSet.cend(); ++cur)
    {
        if (equalStrings(*cur, inText, inCaseSensitive))
            return cur;
    }
    return inSet.cend();
}

void removeFromList(std::list<std::string>& ioList, const std::string& inText, bool inErase)
{
    for (auto cur = ioList.begin(); cur != ioList.end();)
    {
        if (*cur != inText)
        {
            ++cur;
            continue;
        }
        if (inErase)
        {
            cur = ioList.erase(cur);
        }
        else
        {
            cur->clear();
            ++cur;
        }
    }
}

void removeDuplicates(std::list<std::string>& ioList, bool inCaseSensitive)
{
    for (auto cur = ioList.begin(); cur != ioList.end(); ++cur)
    {
        auto theNext = std::next(cur);
        while (theNext != ioList.end())
        {
            if (equalStrings(*theNext, *cur, inCaseSensitive))
                theNext = ioList.erase(theNext);
            else
                ++theNext;
        }
    }
}
