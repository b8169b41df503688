#include "corvel/util/qzconsole.h"

#include <cstring>
#include <iostream>
#include <istream>
#include <memory>
#include <ostream>

#include "corvel/messages/qzerrormessage.h"
#include "corvel/messages/qzmessage.h"
#include "corvel/platform/os_console.h"
#include "corvel/util/qzstringutils.h"

namespace
{

constexpr std::size_t kMaxLine = 255;

bool isConsoleInput(const std::istream& inIn)
{
    return &inIn == &std::cin && corvel::platform::stdinIsTerminal();
}

// Reads up to the next line end, keeping at most kMaxLine characters; the rest
// of a longer line is consumed so that it does not answer the next question.
// A carriage return before the line end is dropped. False when the input had
// ended before anything was read.
bool readLine(std::istream& ioIn, std::string& outLine)
{
    outLine.clear();
    bool theAny = false;
    for (;;)
    {
        const int theChar = ioIn.get();
        if (theChar == std::char_traits<char>::eof())
            break;
        theAny = true;
        if (theChar == '\n')
            break;
        if (outLine.size() < kMaxLine + 1)
            outLine += static_cast<char>(theChar);
    }
    if (!outLine.empty() && outLine.back() == '\r')
        outLine.pop_back();
    if (outLine.size() > kMaxLine)
        outLine.resize(kMaxLine);
    return theAny;
}

// The answer when no further line can be read.
std::int32_t answerAtEnd(std::int32_t inType)
{
    switch (inType)
    {
    case qzAskOkCancel:
    case qzAskYesNoCancel:
        return qzAnswerCancel;
    case qzAskYesNo:
        return qzAnswerNo;
    default:
        return qzAnswerOk;
    }
}

} // namespace

std::int32_t askUser(std::istream& ioIn, std::ostream& ioOut, std::int32_t inType,
                     std::int32_t /*inReserved*/, const std::string& inText,
                     bool /*inReservedFlag*/)
{
    const char* theSuffix = " ";
    const char* theLetters = "";
    switch (inType)
    {
    case qzAskOkCancel:
        theSuffix = " [Ok/Cancel] ";
        theLetters = "OC";
        break;
    case qzAskYesNo:
        theSuffix = " [Yes/No] ";
        theLetters = "YN";
        break;
    case qzAskYesNoCancel:
        theSuffix = " [Yes/No/Cancel] ";
        theLetters = "YNC";
        break;
    default:
        break;
    }
    const std::string thePrompt = "Warning: " + inText + theSuffix;
    const bool theConsole = isConsoleInput(ioIn);

    std::string theLine;
    for (;;)
    {
        ioOut << thePrompt << std::flush;
        ioIn.clear();
        if (theConsole)
            corvel::platform::discardConsoleInput();
        if (!readLine(ioIn, theLine))
        {
            ioOut << '\n' << std::flush;
            return answerAtEnd(inType);
        }
        if (*theLetters == '\0')
            return qzAnswerOk;
        const char theAnswer = toUpper(theLine.empty() ? '\0' : theLine[0]);
        if (theAnswer == '\0' || std::strchr(theLetters, theAnswer) == nullptr)
            continue;
        switch (theAnswer)
        {
        case 'O':
            return qzAnswerOk;
        case 'C':
            return qzAnswerCancel;
        case 'Y':
            return inType == qzAskYesNoCancel ? qzAnswerYes3 : qzAnswerYes;
        default: // 'N'
            return inType == qzAskYesNoCancel ? qzAnswerNo3 : qzAnswerNo;
        }
    }
}

std::int32_t askUser(std::istream& ioIn, std::ostream& ioOut, std::int32_t inType,
                     std::int32_t inReserved, const qzMessage& inMessage, bool inReservedFlag)
{
    return askUser(ioIn, ioOut, inType, inReserved, inMessage.getText(), inReservedFlag);
}

std::int32_t askUser(std::istream& ioIn, std::ostream& ioOut, std::int32_t inType,
                     std::int32_t inReserved, const qzErrorMessage& inMessage, bool inReservedFlag)
{
    return askUser(ioIn, ioOut, inType, inReserved, inMessage.getText(), inReservedFlag);
}

std::int32_t askUser(std::int32_t inType, std::int32_t inReserved, const std::string& inText,
                     bool inReservedFlag)
{
    return askUser(std::cin, std::cout, inType, inReserved, inText, inReservedFlag);
}

std::int32_t askUser(std::istream& ioIn, std::ostream& ioOut, std::int32_t inType,
                     std::int32_t inReserved, const char* inText, bool inReservedFlag)
{
    return askUser(ioIn, ioOut, inType, inReserved, std::string(inText != nullptr ? inText : ""),
                   inReservedFlag);
}

std::int32_t askUser(std::int32_t inType, std::int32_t inReserved, const char* inText,
                     bool inReservedFlag)
{
    return askUser(std::cin, std::cout, inType, inReserved, inText, inReservedFlag);
}

std::int32_t askUser(std::int32_t inType, std::int32_t inReserved, const qzMessage& inMessage,
                     bool inReservedFlag)
{
    return askUser(std::cin, std::cout, inType, inReserved, inMessage, inReservedFlag);
}

std::int32_t askUser(std::int32_t inType, std::int32_t inReserved, const qzErrorMessage& inMessage,
                     bool inReservedFlag)
{
    return askUser(std::cin, std::cout, inType, inReserved, inMessage, inReservedFlag);
}

std::int32_t showWarning(std::istream& ioIn, std::ostream& ioOut, const qzMessage& inMessage)
{
    const std::string theText = inMessage.getText();
    if (theText.empty())
        return 0;
    return askUser(ioIn, ioOut, 0, 0, theText, false);
}

std::int32_t showWarning(const qzMessage& inMessage)
{
    return showWarning(std::cin, std::cout, inMessage);
}

bool readConsoleLine(std::istream& ioIn, std::ostream& ioOut, const std::string& inPrompt,
                     std::string& outText, bool inHidden)
{
    outText.clear();
    ioOut << inPrompt << std::flush;
    ioIn.clear();
    if (!inHidden)
        return readLine(ioIn, outText);

    // Key mode only where the keys come from the terminal itself; its
    // destructor puts the terminal back on every way out of this function.
    std::unique_ptr<corvel::platform::ConsoleKeyReader> theReader;
    if (&ioIn == &std::cin)
    {
        theReader = std::make_unique<corvel::platform::ConsoleKeyReader>();
        if (!theReader->isConsole())
            theReader.reset();
    }
    const auto nextKey = [&ioIn, &theReader]() -> int
    {
        if (theReader != nullptr)
            return theReader->readKey();
        const int theChar = ioIn.get();
        return theChar == std::char_traits<char>::eof() ? -1 : static_cast<unsigned char>(theChar);
    };

    for (;;)
    {
        const int theKey = nextKey();
        if (theKey < 0)
        {
            ioOut << '\n' << std::flush;
            return false;
        }
        switch (theKey)
        {
        case 13:
            // A file or pipe written with CR LF line ends: the LF belongs to
            // the same line end, not to the next line.
            if (theReader == nullptr && ioIn.peek() == '\n')
                ioIn.get();
            ioOut << '\n' << std::flush;
            return true;
        case 3:
        case 4:
        case 10:
            ioOut << '\n' << std::flush;
            return true;
        case 0:
            if (nextKey() < 0)
            {
                ioOut << '\n' << std::flush;
                return false;
            }
            break;
        case 8:
            if (!outText.empty())
                outText.pop_back();
            break;
        default:
            outText += static_cast<char>(theKey);
            break;
        }
    }
}

bool readConsoleLine(const std::string& inPrompt, std::string& outText, bool inHidden)
{
    return readConsoleLine(std::cin, std::cout, inPrompt, outText, inHidden);
}
