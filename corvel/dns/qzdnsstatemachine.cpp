#include "corvel/dns/qzdnsstatemachine.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "corvel/debug/qzdebug.h"
#include "corvel/util/qzstringutils.h"

namespace
{
constexpr std::uint32_t theNumStates = 6;
constexpr std::uint32_t theNumTokens = 6;
constexpr std::uint32_t theNumLegalEnds = 3;

enum : std::uint8_t
{
    classLetter = 1,
    classDigit = 2,
    classSpecial = 3,
    classDot = 4,
    classStar = 5
};

// The process-wide table set. The option cells in it are written with
// relaxed atomic stores, matching the engine's relaxed loads.
std::int8_t theDNSTable[theNumStates * theNumTokens];
std::uint8_t theDNSInputs[256];
std::int8_t theDNSLegalEnds[theNumLegalEnds];
std::once_flag theDNSTablesBuilt;

inline std::size_t cellIndex(std::uint32_t inState, std::uint8_t inClass)
{
    return inState * theNumTokens + inClass;
}

template <class T>
inline void storeCell(T& ioCell, T inValue)
{
    std::atomic_ref<T>(ioCell).store(inValue, std::memory_order_relaxed);
}

void buildFixedTables()
{
    std::memset(theDNSTable, 0, sizeof theDNSTable);
    std::memset(theDNSInputs, 0, sizeof theDNSInputs);
    for (std::uint32_t curState = 1; curState <= 4; ++curState)
    {
        theDNSTable[cellIndex(curState, classLetter)] = 2;
        theDNSTable[cellIndex(curState, classDigit)] = 2;
    }
    theDNSTable[cellIndex(2, classSpecial)] = 3;
    theDNSTable[cellIndex(3, classSpecial)] = 3;
    theDNSTable[cellIndex(2, classDot)] = 4;
    theDNSTable[cellIndex(5, classDot)] = 4;
    theDNSTable[cellIndex(1, classStar)] = 5;
    theDNSTable[cellIndex(4, classStar)] = 5;

    for (int curChar = 'A'; curChar <= 'Z'; ++curChar)
        theDNSInputs[curChar] = classLetter;
    for (int curChar = 'a'; curChar <= 'z'; ++curChar)
        theDNSInputs[curChar] = classLetter;
    for (int curChar = '0'; curChar <= '9'; ++curChar)
        theDNSInputs[curChar] = classDigit;
    theDNSInputs[static_cast<unsigned char>('-')] = classSpecial;
    theDNSInputs[static_cast<unsigned char>('/')] = classSpecial;
    theDNSInputs[static_cast<unsigned char>('.')] = classDot;
    theDNSInputs[static_cast<unsigned char>('*')] = classStar;

    theDNSLegalEnds[0] = 2;
    theDNSLegalEnds[1] = 4;
    theDNSLegalEnds[2] = 5;
}

inline char foldCase(char inChar) { return toUpper(inChar); }
} // namespace

// ---- qzDNSStateMachine

qzDNSStateMachine::qzDNSStateMachine(bool allowUnderscore, bool specialsAsLetters,
                                     bool mayStartWithUnderscore)
{
    // The call is the class's own, not a further override's: none exists yet
    // while the base part is being built.
    qzDNSStateMachine::setOptions(allowUnderscore, specialsAsLetters, mayStartWithUnderscore);
    setTable(theDNSTable, theDNSInputs, theDNSLegalEnds, theNumStates, theNumTokens,
             theNumLegalEnds);
}

qzDNSStateMachine::~qzDNSStateMachine() = default;

bool qzDNSStateMachine::setOptions(bool allowUnderscore, bool specialsAsLetters,
                                   bool mayStartWithUnderscore)
{
    // The assertion reports its command as written, spaces and all.
    // clang-format off
    qzAssert(allowUnderscore || ! mayStartWithUnderscore);
    // clang-format on
    std::call_once(theDNSTablesBuilt, buildFixedTables);

    std::uint8_t theDashClass = classSpecial;
    std::uint8_t theUnderscoreClass = allowUnderscore ? classSpecial : 0;
    if (specialsAsLetters)
    {
        theDashClass = classLetter;
        theUnderscoreClass = classLetter;
    }
    storeCell(theDNSInputs[static_cast<unsigned char>('-')], theDashClass);
    storeCell(theDNSInputs[static_cast<unsigned char>('/')], theDashClass);
    storeCell(theDNSInputs[static_cast<unsigned char>('_')], theUnderscoreClass);

    const std::int8_t theStart = mayStartWithUnderscore ? 2 : 0;
    storeCell(theDNSTable[cellIndex(1, classSpecial)], theStart);
    storeCell(theDNSTable[cellIndex(4, classSpecial)], theStart);
    return mayStartWithUnderscore;
}

// ---- name tests

bool isValidDNSName(const char* inName, bool inAllowRoot)
{
    if (inName == nullptr)
        return false;
    if (inAllowRoot && std::strcmp(inName, ".") == 0)
        return true;
    qzDNSStateMachine theMachine(true, false, false);
    for (const char* curChar = inName; *curChar != '\0'; ++curChar)
    {
        if (!theMachine.qzStateMachine::addChar(*curChar))
            return false;
    }
    return theMachine.qzStateMachine::isLegalEnd();
}

bool isPrintableName(const char* inName)
{
    if (inName == nullptr || *inName == '\0')
        return false;
    for (const char* curChar = inName; *curChar != '\0'; ++curChar)
    {
        const unsigned char theByte = static_cast<unsigned char>(*curChar);
        if (theByte < 33 || theByte > 127)
            return false;
    }
    return true;
}

// ---- names by labels

bool namesEqual(const char* inA, const char* inB, const char* inOrigin)
{
    if (inA == nullptr || inB == nullptr)
        return false;
    std::size_t theMatched = 0;
    while (inA[theMatched] != '\0' && foldCase(inA[theMatched]) == foldCase(inB[theMatched]))
        ++theMatched;
    const char theRestA = inA[theMatched];
    const char theRestB = inB[theMatched];
    if (theRestA == '\0' && theRestB == '\0')
        return true;
    if (theMatched == 0 || inOrigin == nullptr || *inOrigin == '\0')
        return false;
    // One name ended where the other goes on with "." + origin. The nested
    // call has no origin, so it goes no deeper.
    if (theRestA == '\0' && inA[theMatched - 1] != '.' && theRestB == '.')
        return namesEqual(inB + theMatched + 1, inOrigin, nullptr);
    if (theRestB == '\0' && inB[theMatched - 1] != '.' && theRestA == '.')
        return namesEqual(inA + theMatched + 1, inOrigin, nullptr);
    return false;
}

int countLabels(const char* inName, char inSeparator)
{
    if (inName == nullptr || *inName == '\0')
        return 0;
    if (std::strcmp(inName, ".") == 0)
        return 1;
    int theCount = 1;
    for (const char* curChar = inName; *curChar != '\0'; ++curChar)
    {
        if (*curChar == inSeparator)
            ++theCount;
    }
    return theCount;
}

char* getLabel(const char* inName, int inN, char* outBuffer, char inSeparator)
{
    if (outBuffer == nullptr)
        return outBuffer;
    outBuffer[0] = '\0';
    if (inName == nullptr || inN < 0)
        return outBuffer;
    const char* curChar = inName;
    for (int curSkipped = 0; curSkipped < inN; ++curSkipped)
    {
        curChar = std::strchr(curChar, inSeparator);
        if (curChar == nullptr || inSeparator == '\0')
            return outBuffer;
        ++curChar;
    }
    std::size_t theLength = 0;
    while (curChar[theLength] != '\0' && curChar[theLength] != inSeparator)
        ++theLength;
    std::memcpy(outBuffer, curChar, theLength);
    outBuffer[theLength] = '\0';
    return outBuffer;
}

std::string getLabel(const std::string& inName, int inN, char inSeparator)
{
    std::string theBuffer(inName.size() + 1, '\0');
    getLabel(inName.c_str(), inN, theBuffer.data(), inSeparator);
    theBuffer.resize(std::strlen(theBuffer.c_str()));
    return theBuffer;
}

char* getLastLabels(const char* inName, int inN, char* outBuffer)
{
    if (outBuffer == nullptr)
        return outBuffer;
    outBuffer[0] = '\0';
    if (inName == nullptr || inN <= 0)
        return outBuffer;
    const std::size_t theLength = std::strlen(inName);
    if (theLength == 0)
        return outBuffer;
    // The last label of an absolute name is the root, shown as its dot. A
    // relative name's last label is found by the walk below like any other.
    if (inN == 1 && inName[theLength - 1] == '.')
    {
        outBuffer[0] = inName[theLength - 1];
        outBuffer[1] = '\0';
        return outBuffer;
    }
    std::size_t theStart = 0;
    int theDots = 0;
    for (std::size_t curIndex = theLength; curIndex-- > 0;)
    {
        if (inName[curIndex] == '.' && ++theDots == inN)
        {
            theStart = curIndex + 1;
            break;
        }
    }
    std::memmove(outBuffer, inName + theStart, theLength - theStart + 1);
    return outBuffer;
}

std::string getLastLabels(const std::string& inName, int inN)
{
    std::string theBuffer(inName.size() + 1, '\0');
    getLastLabels(inName.c_str(), inN, theBuffer.data());
    theBuffer.resize(std::strlen(theBuffer.c_str()));
    return theBuffer;
}

int countCommonLabels(const char* inA, const char* inB)
{
    if (inA == nullptr || inB == nullptr)
        return 0;
    std::size_t curA = std::strlen(inA);
    std::size_t curB = std::strlen(inB);
    while (curA > 0 && curB > 0 && foldCase(inA[curA - 1]) == foldCase(inB[curB - 1]))
    {
        --curA;
        --curB;
    }
    int theResult = 0;
    if (curA > 0 && curB > 0)
    {
        const int theLabelsA = countLabels(inA + curA - 1, '.');
        const int theLabelsB = countLabels(inB + curB - 1, '.');
        theResult = (theLabelsA < theLabelsB ? theLabelsA : theLabelsB) - 1;
    }
    else if (curA == 0 && curB == 0)
    {
        theResult = countLabels(inA, '.');
    }
    else if (curA == 0)
    {
        // a's first label counts only if it is a whole label of b.
        theResult = countLabels(inA, '.');
        if (inB[curB] != '.' && inB[curB - 1] != '.')
            --theResult;
    }
    else
    {
        theResult = countLabels(inB, '.');
        if (inA[curA] != '.' && inA[curA - 1] != '.')
            --theResult;
    }
    // An empty name shares nothing; it must not come out as -1.
    return theResult < 0 ? 0 : theResult;
}

char* labelsToText(char* ioBuffer)
{
    if (ioBuffer == nullptr)
        return ioBuffer;
    unsigned char* theBytes = reinterpret_cast<unsigned char*>(ioBuffer);
    std::size_t curPos = 0;
    for (;;)
    {
        const std::size_t theLength = theBytes[curPos];
        if (theLength == 0)
            break;
        // Never step over the terminating zero, whatever the length says.
        std::size_t theTaken = 0;
        while (theTaken < theLength && theBytes[curPos + 1 + theTaken] != 0)
            ++theTaken;
        std::memmove(theBytes + curPos, theBytes + curPos + 1, theTaken);
        theBytes[curPos + theTaken] = '.';
        if (theTaken < theLength)
        {
            theBytes[curPos + theTaken + 1] = 0;
            break;
        }
        curPos += theLength + 1;
    }
    // curPos stands on the zero length, which now terminates the text.
    return ioBuffer;
}

char* textToLabels(char* ioBuffer)
{
    if (ioBuffer == nullptr)
        return ioBuffer;
    const std::size_t theLength = std::strlen(ioBuffer);
    if (theLength == 0 || ioBuffer[theLength - 1] != '.')
        return ioBuffer;
    if (theLength == 1)
    {
        ioBuffer[0] = '\0'; // the root alone: its zero length
        return ioBuffer;
    }
    // Every label must fit a length byte and be non-empty, or the result
    // would lose bytes or end early; such a name is left as it is.
    std::size_t theLabelStart = 0;
    for (std::size_t curIndex = 0; curIndex < theLength; ++curIndex)
    {
        if (ioBuffer[curIndex] != '.')
            continue;
        const std::size_t theLabelLength = curIndex - theLabelStart;
        if (theLabelLength == 0 || theLabelLength > 255)
            return ioBuffer;
        theLabelStart = curIndex + 1;
    }
    unsigned char* theBytes = reinterpret_cast<unsigned char*>(ioBuffer);
    unsigned theCount = 0;
    for (std::size_t curIndex = theLength - 1; curIndex-- > 0;)
    {
        if (theBytes[curIndex] == '.')
        {
            theBytes[curIndex + 1] = static_cast<unsigned char>(theCount);
            theCount = 0;
        }
        else
        {
            theBytes[curIndex + 1] = theBytes[curIndex];
            ++theCount;
        }
    }
    theBytes[0] = static_cast<unsigned char>(theCount);
    theBytes[theLength] = 0;
    return ioBuffer;
}

// ---- duration text

namespace
{
void appendDurationPart(std::string& ioText, std::uint32_t inValue, const char* inUnit)
{
    if (inValue == 0)
        return;
    char thePart[32];
    std::snprintf(thePart, sizeof thePart, "%lu %s%s, ", static_cast<unsigned long>(inValue),
                  inUnit, inValue == 1 ? "" : "s");
    ioText += thePart;
}
} // namespace

std::string durationText(std::uint32_t inSeconds)
{
    std::string theText;
    appendDurationPart(theText, inSeconds / 86400, "day");
    appendDurationPart(theText, (inSeconds % 86400) / 3600, "hour");
    appendDurationPart(theText, (inSeconds % 3600) / 60, "minute");
    appendDurationPart(theText, inSeconds % 60, "second");
    if (theText.empty())
        return "0 seconds";
    theText.resize(theText.size() - 2);
    return theText;
}

char* durationText(std::uint32_t inSeconds, char* outBuffer)
{
    if (outBuffer == nullptr)
        return outBuffer;
    const std::string theText = durationText(inSeconds);
    // The longest text has 44 characters; the copy is bounded all the same.
    const std::size_t theCopied =
        theText.size() < qzDurationTextSize - 1 ? theText.size() : qzDurationTextSize - 1;
    std::memcpy(outBuffer, theText.data(), theCopied);
    outBuffer[theCopied] = '\0';
    return outBuffer;
}
