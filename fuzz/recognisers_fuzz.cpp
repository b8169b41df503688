// Feeds arbitrary bytes to the IPv4 and DNS recognisers and to the DNS text
// operations. Every buffer an operation writes is a heap buffer of exactly
// the size its contract asks for, so that an overrun is caught at once.
// On digits-and-dots text without leading zeros the IPv4 recogniser must
// agree with the C library's own parser.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "corvel/dns/qzdnsstringutils.h"
#include "corvel/util/qzipaddressstatemachine.h"

namespace
{
void require(bool inCondition)
{
    if (!inCondition)
        std::abort();
}

std::unique_ptr<char[]> heapCopy(const std::string& inText, std::size_t inSize)
{
    std::unique_ptr<char[]> theBuffer(new char[inSize]);
    std::memcpy(theBuffer.get(), inText.data(), inText.size() < inSize ? inText.size() : inSize);
    return theBuffer;
}

bool ipAccepts(const std::string& inText, bool inArpa, bool inWildcard)
{
    qzIPAddressStateMachine theMachine(inArpa, inWildcard);
    return theMachine.addBuffer(inText.data(), static_cast<std::uint32_t>(inText.size()));
}

void fuzzIPv4(const std::string& inBytes)
{
    const bool thePlain = ipAccepts(inBytes, false, false);
    const bool theArpa = ipAccepts(inBytes, true, false);
    const bool theWildcard = ipAccepts(inBytes, false, true);
    // The optional forms only add texts.
    require(!thePlain || (theArpa && theWildcard));

    bool theDottedDecimal = !inBytes.empty();
    for (std::size_t curIndex = 0; curIndex < inBytes.size(); ++curIndex)
    {
        const char curChar = inBytes[curIndex];
        if (curChar != '.' && (curChar < '0' || curChar > '9'))
            theDottedDecimal = false;
        const bool theStart = curIndex == 0 || inBytes[curIndex - 1] == '.';
        if (theStart && curChar == '0' && curIndex + 1 < inBytes.size() &&
            inBytes[curIndex + 1] != '.')
            theDottedDecimal = false; // a leading zero, which inet_pton refuses
    }
    if (theDottedDecimal)
    {
        unsigned char theAddress[4];
        require(thePlain == (inet_pton(AF_INET, inBytes.c_str(), theAddress) == 1));
    }
}

void fuzzDNSNames(const std::string& inBytes, const std::string& inText)
{
    qzDNSStateMachine theMachine(true, false, false);
    const bool theFed =
        theMachine.addBuffer(inBytes.data(), static_cast<std::uint32_t>(inBytes.size()));
    require(theFed == isValidDNSName(inBytes, false));
    isValidDNSName(inText.c_str(), true);
    isPrintableName(inText.c_str());
    isValidMailName(inText, true, false);
    isValidMailName(inText, true, true);
    isValidMailName(inText, false, false);
    const std::string theHostmaster = mailToHostmaster(inText);
    require(theHostmaster.size() >= inText.size());
    isReverseZoneName(inText);
    makeAbsolute(inText);
}

void fuzzLabels(const std::string& inText)
{
    // inText holds no NUL; split it at its first two "|" into a, b, origin.
    std::string theA = inText;
    std::string theB;
    std::string theOrigin;
    const std::size_t theFirst = inText.find('|');
    if (theFirst != std::string::npos)
    {
        theA = inText.substr(0, theFirst);
        theB = inText.substr(theFirst + 1);
        const std::size_t theSecond = theB.find('|');
        if (theSecond != std::string::npos)
        {
            theOrigin = theB.substr(theSecond + 1);
            theB.resize(theSecond);
        }
    }
    namesEqual(theA.c_str(), theB.c_str(), theOrigin.c_str());
    namesEqual(theA.c_str(), theB.c_str(), nullptr);
    const int theCommon = countCommonLabels(theA.c_str(), theB.c_str());
    require(theCommon >= 0);
    require(theCommon == countCommonLabels(theB.c_str(), theA.c_str()));

    const std::size_t theSize = inText.size() + 1;
    for (int curN = -1; curN < 6; ++curN)
    {
        auto theBuffer = heapCopy("", theSize);
        getLastLabels(inText.c_str(), curN, theBuffer.get());
        require(std::strlen(theBuffer.get()) <= inText.size());
        getLabel(inText.c_str(), curN, theBuffer.get(), '.');
        require(std::strlen(theBuffer.get()) <= inText.size());
    }

    // Text to labels and back, in a buffer of exactly the text's size.
    auto theWire = heapCopy(inText + '\0', theSize);
    textToLabels(theWire.get());
    if (inText == ".")
    {
        require(theWire[0] == '\0'); // the root alone: its zero length
    }
    else if (std::memcmp(theWire.get(), inText.c_str(), theSize) != 0)
    {
        require(inText.back() == '.'); // only absolute names change
        labelsToText(theWire.get());
        require(inText == theWire.get());
    }

    // Arbitrary bytes read as labels: the walk must stay before the zero.
    auto theLabels = heapCopy(inText + '\0', theSize);
    labelsToText(theLabels.get());
    require(std::strlen(theLabels.get()) <= inText.size());
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* inData, std::size_t inSize)
{
    const std::string theBytes(reinterpret_cast<const char*>(inData), inSize);
    std::string theText = theBytes;
    // The C-string operations see the bytes up to the first NUL.
    theText.resize(std::strlen(theText.c_str()));

    fuzzIPv4(theBytes);
    fuzzDNSNames(theBytes, theText);
    fuzzLabels(theText);

    char theDuration[qzDurationTextSize];
    std::uint32_t theSeconds = 0;
    std::memcpy(&theSeconds, inData, inSize < sizeof theSeconds ? inSize : sizeof theSeconds);
    durationText(theSeconds, theDuration);
    return 0;
}
