// Feeds arbitrary text to the string parsers and editors. Buffers are sized
// exactly and allocated on the heap so that any overrun is caught.
#include "corvel/util/qzstringutils.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace
{

// Checks that must hold for every input; abort so the fuzzer reports them.
void require(bool inCondition)
{
    if (!inCondition)
        std::abort();
}

void fuzzNumbers(const std::string& inText)
{
    std::int32_t theInt = 0;
    if (parseInt(inText, theInt))
        require(intToString(theInt) == inText || inText[0] == '+' || inText[0] == '0' ||
                inText.compare(0, 2, "-0") == 0);
    std::uint32_t theUInt = 0;
    if (parseUInt(inText, theUInt))
        require(inText.find('-') == std::string::npos);
    std::uint16_t theShort = 0;
    if (parseUShort(inText, theShort))
        require(parseUInt(inText, theUInt) && theUInt == theShort);
    bool theBool = false;
    (void)parseBool(inText, theBool);
}

void fuzzLists(const std::string& inText, char inSeparator)
{
    std::vector<std::uint32_t> theUnsigned;
    std::vector<std::int32_t> theSigned;
    std::set<std::uint32_t> theSet;
    if (parseNumberList(inText, theUnsigned, inSeparator))
    {
        std::vector<std::uint32_t> theAgain;
        require(parseNumberList(joinNumbers(theUnsigned, inSeparator), theAgain, inSeparator));
        require(theAgain == theUnsigned);
    }
    (void)parseNumberList(inText, theSigned, inSeparator);
    (void)parseNumberList(inText, theSet, inSeparator);

    std::vector<std::string> thePieces;
    splitString(inText, thePieces, inSeparator);
    require(joinStrings(thePieces, inSeparator) == inText);

    std::string theLeft, theRight;
    for (int curN = 0; curN < 3; ++curN)
    {
        if (splitAt(inText, theLeft, theRight, inSeparator, false, curN) && !theRight.empty())
            require(theLeft.size() + 1 + theRight.size() == inText.size());
        (void)splitAt(inText, theLeft, theRight, inSeparator, true, curN);
    }
}

void fuzzHex(const std::string& inText)
{
    const std::size_t theNeed = (inText.size() + 1) / 2;
    // At least one byte so that the pointer is a real heap block.
    std::unique_ptr<std::uint8_t[]> theBuffer(new std::uint8_t[theNeed == 0 ? 1 : theNeed]);
    std::size_t theCount = 0;
    (void)hexToBytes(theBuffer.get(), theCount, inText.c_str());
    require(theCount <= theNeed);
}

void fuzzReplace(const std::string& inText)
{
    // The text is split into three parts: the buffer's content, the find
    // text and the replacement.
    const std::size_t theThird = inText.size() / 3;
    const std::string theContent = inText.substr(0, theThird);
    const std::string theFind = inText.substr(theThird, theThird / 2 + 1);
    const std::string theReplace = inText.substr(theThird + theFind.size());

    for (std::size_t curSize : {std::size_t(1), std::size_t(8), theContent.size() + 1})
    {
        std::unique_ptr<char[]> theBuffer(new char[curSize]);
        const std::size_t theCopy = std::min(theContent.size(), curSize - 1);
        std::memcpy(theBuffer.get(), theContent.data(), theCopy);
        theBuffer[theCopy] = '\0';
        for (bool curAll : {false, true})
        {
            replaceInCString(theBuffer.get(), theFind.c_str(), theReplace.c_str(), curAll, curSize);
            require(std::memchr(theBuffer.get(), '\0', curSize) != nullptr);
        }
    }
    (void)replaceString(theContent, theFind, theReplace, true);
    if (!theFind.empty())
        (void)substitutedParameter(theContent, theFind[0], theReplace);
}

void fuzzLineEnds(const std::string& inText)
{
    for (std::int32_t curFormat = 0; curFormat <= 4; ++curFormat)
    {
        const std::string theOnce = convertedLineEnds(inText, curFormat, false);
        require(convertedLineEnds(theOnce, curFormat, false) == theOnce);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* inData, std::size_t inSize)
{
    const std::string theText(reinterpret_cast<const char*>(inData), inSize);
    // The C-string parsers see the text up to its first NUL, as callers would.
    const std::string theCText(theText.c_str());
    fuzzNumbers(theCText);
    fuzzLists(theText, ',');
    fuzzLists(theText, inSize > 0 ? static_cast<char>(inData[0]) : ';');
    fuzzHex(theCText);
    fuzzReplace(theText);
    fuzzLineEnds(theText);
    return 0;
}
