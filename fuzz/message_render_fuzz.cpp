// Builds messages and error messages from fuzz bytes (a text and up to seven
// parameter codes and values) and renders them.
//
// A value inserted for one code is scanned again for the codes after it, so
// chained values can multiply the length of the text; inputs whose rendered
// length could pass a bound are skipped to keep each run short.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "corvel/messages/qzerrormessage.h"

namespace
{
constexpr std::size_t theRenderBound = 1 << 16;

bool quiet(qzInfoLogLevel, const char*) { return true; }

void check(bool inCondition)
{
    if (!inCondition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Conversions of non-numbers report assertions: keep them off stderr.
    setInfoLog("", 0);
    addInfoLogCallback(&quiet, qzLogDebug);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* inData, std::size_t inSize)
{
    FuzzedDataProvider theInput(inData, inSize);
    const std::string theText = theInput.ConsumeRandomLengthString(512);
    const int theCount = theInput.ConsumeIntegralInRange<int>(0, 7);
    std::vector<std::pair<char, std::string>> thePairs;
    std::size_t theBound = theText.size();
    for (int curIndex = 0; curIndex < theCount; ++curIndex)
    {
        const char theCode = theInput.ConsumeIntegral<char>();
        std::string theValue = theInput.ConsumeRandomLengthString(64);
        // Every 2-character token may become the value.
        theBound += (theBound / 2) * theValue.size();
        thePairs.emplace_back(theCode, std::move(theValue));
    }
    if (theBound > theRenderBound)
        return 0;

    qzMessage theMessage(theText);
    qzErrorMessage theError(static_cast<qzErr>(theInput.ConsumeIntegral<std::uint16_t>()),
                            theText.c_str());
    for (const auto& [curCode, curValue] : thePairs)
    {
        theMessage.addParam(curCode, curValue);
        theError.addParam(curCode, curValue);
    }

    const std::string thePlain = theMessage.getText();
    const std::string theSentence = theError.getText();
    check(!theText.empty() || thePlain.empty());
    // The sentence form never ends in a space.
    check(theSentence.empty() || theSentence.back() != ' ');

    // Copies render the same and compare equal.
    qzErrorMessage theCopy(theError);
    check(theCopy == theError && !(theCopy < theError) && !(theError < theCopy));
    check(theCopy.getText() == theSentence);

    // Parameter access over every stored pair.
    char theCode = 0;
    std::string theValue;
    for (int curIndex = 0; theMessage.getParamAt(curIndex, theCode, theValue); ++curIndex)
    {
        check(theMessage.getParam(theCode) == theValue);
        theMessage.getParamUnsigned(theCode);
        theMessage.getParamLong(theCode);
    }
    theMessage.getParamString(',');

    qzException theException(theError);
    check(theException.errorMessage.getRawText() == theException.what());
    errorMessageFromException(theException).getText();
    return 0;
}
