#include "corvel/util/qzconsole.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "corvel/messages/qzerrormessage.h"
#include "corvel/messages/qzmessage.h"

namespace
{

// One question against scripted input; keeps what was written.
struct Dialogue
{
    explicit Dialogue(const std::string& inInput) : itsIn(inInput) {}

    std::int32_t ask(std::int32_t inType, const std::string& inText)
    {
        return askUser(itsIn, itsOut, inType, 0, inText, false);
    }
    std::string written() const { return itsOut.str(); }
    std::string rest() { return std::string(std::istreambuf_iterator<char>(itsIn), {}); }

    std::istringstream itsIn;
    std::ostringstream itsOut;
};

// How often inPart occurs in inText.
int occurrences(const std::string& inText, const std::string& inPart)
{
    int theCount = 0;
    for (std::size_t curPos = inText.find(inPart); curPos != std::string::npos;
         curPos = inText.find(inPart, curPos + 1))
        ++theCount;
    return theCount;
}

} // namespace

// ------------------------------------------------------------ askUser

TEST(AskUser, YesNoRepeatsUntilAnAnswerLetter)
{
    Dialogue theDialogue("maybe\n\nyes\nleft over\n");
    EXPECT_EQ(theDialogue.ask(qzAskYesNo, "Delete it?"), qzAnswerYes);
    const std::string thePrompt = "Warning: Delete it? [Yes/No] ";
    EXPECT_EQ(theDialogue.written(), thePrompt + thePrompt + thePrompt);
    // Only the lines it needed were taken.
    EXPECT_EQ(theDialogue.rest(), "left over\n");
}

TEST(AskUser, AnswerCodesByTypeAndLetter)
{
    struct Case
    {
        std::int32_t itsType;
        const char* itsInput;
        std::int32_t itsAnswer;
        int itsPrompts;
    };
    const Case theCases[] = {
        {qzAskOkCancel, "ok\n", qzAnswerOk, 1},
        {qzAskOkCancel, "n\nc\n", qzAnswerCancel, 2}, // N is no answer to Ok/Cancel
        {qzAskOkCancel, "y\nOK\n", qzAnswerOk, 2},
        {qzAskYesNo, "No thanks\n", qzAnswerNo, 1},
        {qzAskYesNo, "c\nN\n", qzAnswerNo, 2}, // C is no answer to Yes/No
        {qzAskYesNoCancel, "c\n", qzAnswerCancel, 1},
        {qzAskYesNoCancel, "Y\n", qzAnswerYes3, 1},
        {qzAskYesNoCancel, "nope\n", qzAnswerNo3, 1},
        {qzAskYesNoCancel, " y\nyes\n", qzAnswerYes3, 2}, // the first character counts
        {0, "anything\n", qzAnswerOk, 1},
        {7, "\n", qzAnswerOk, 1},
        {-1, "n\n", qzAnswerOk, 1},
    };
    for (const Case& curCase : theCases)
    {
        Dialogue theDialogue(curCase.itsInput);
        EXPECT_EQ(theDialogue.ask(curCase.itsType, "Q"), curCase.itsAnswer)
            << "type " << curCase.itsType << " input " << curCase.itsInput;
        EXPECT_EQ(occurrences(theDialogue.written(), "Warning: Q"), curCase.itsPrompts)
            << "type " << curCase.itsType << " input " << curCase.itsInput;
    }
}

TEST(AskUser, EndOfInputStopsAsking)
{
    // Cancel where the question has it, else No, and 1 without answer letters.
    struct Case
    {
        std::int32_t itsType;
        std::int32_t itsAnswer;
        const char* itsPrompt;
    };
    const Case theCases[] = {{qzAskOkCancel, qzAnswerCancel, "Warning: Q [Ok/Cancel] "},
                             {qzAskYesNo, qzAnswerNo, "Warning: Q [Yes/No] "},
                             {qzAskYesNoCancel, qzAnswerCancel, "Warning: Q [Yes/No/Cancel] "},
                             {0, qzAnswerOk, "Warning: Q "},
                             {9, qzAnswerOk, "Warning: Q "}};
    for (const Case& curAnswer : theCases)
    {
        Dialogue theEmpty("");
        EXPECT_EQ(theEmpty.ask(curAnswer.itsType, "Q"), curAnswer.itsAnswer) << curAnswer.itsType;
        // One prompt, then the line is ended.
        EXPECT_EQ(theEmpty.written(), std::string(curAnswer.itsPrompt) + "\n");

        // Wrong answers and then nothing more.
        Dialogue theWrong("x\nz\n");
        EXPECT_EQ(theWrong.ask(curAnswer.itsType, "Q"), curAnswer.itsAnswer);
    }
    // A last line without a line end still answers.
    Dialogue theUnterminated("y");
    EXPECT_EQ(theUnterminated.ask(qzAskYesNo, "Q"), qzAnswerYes);
    // A stream already in a failed state is cleared first and then read.
    Dialogue theFailed("n\n");
    theFailed.itsIn.setstate(std::ios::failbit);
    EXPECT_EQ(theFailed.ask(qzAskYesNo, "Q"), qzAnswerNo);
}

TEST(AskUser, LongAndCrLfLinesAnswerOnce)
{
    // A line far over 255 characters is one attempt, not several.
    Dialogue theLong(std::string(1000, 'x') + "\ny\n");
    EXPECT_EQ(theLong.ask(qzAskYesNo, "Q"), qzAnswerYes);
    EXPECT_EQ(occurrences(theLong.written(), "Warning: "), 2);

    Dialogue theCrLf("\r\nn\r\n");
    EXPECT_EQ(theCrLf.ask(qzAskYesNoCancel, "Q"), qzAnswerNo3);
    EXPECT_EQ(occurrences(theCrLf.written(), "Warning: "), 2);
}

TEST(AskUser, MessageForms)
{
    std::istringstream theIn("c\n");
    std::ostringstream theOut;
    const qzMessage theMessage("Remove $n?", 'n', "report.txt");
    EXPECT_EQ(askUser(theIn, theOut, qzAskOkCancel, 0, theMessage, true), qzAnswerCancel);
    EXPECT_EQ(theOut.str(), "Warning: Remove report.txt? [Ok/Cancel] ");

    // The error message renders as a sentence: the period is added.
    std::istringstream theErrIn("y\n");
    std::ostringstream theErrOut;
    const qzErrorMessage theError(qzErr_unknown, "Disk $d is full", 'd', "C:");
    EXPECT_EQ(askUser(theErrIn, theErrOut, qzAskYesNo, 0, theError, false), qzAnswerYes);
    EXPECT_EQ(theErrOut.str(), "Warning: Disk C: is full. [Yes/No] ");

    std::istringstream theLitIn("y\n");
    std::ostringstream theLitOut;
    EXPECT_EQ(askUser(theLitIn, theLitOut, qzAskYesNo, 0, "Literal", false), qzAnswerYes);
    EXPECT_EQ(theLitOut.str(), "Warning: Literal [Yes/No] ");
}

TEST(AskUser, WarningFromAMessage)
{
    std::istringstream theIn("\n");
    std::ostringstream theOut;
    EXPECT_EQ(showWarning(theIn, theOut, qzMessage("")), 0);
    EXPECT_EQ(theOut.str(), "");
    EXPECT_EQ(theIn.tellg(), 0); // nothing read either

    EXPECT_EQ(showWarning(theIn, theOut, qzMessage("Low on $r", 'r', "memory")), 1);
    EXPECT_EQ(theOut.str(), "Warning: Low on memory ");

    std::istringstream theEmptyIn("");
    std::ostringstream theEmptyOut;
    EXPECT_EQ(showWarning(theEmptyIn, theEmptyOut, qzMessage("Done")), 1);
}

// ------------------------------------------------------------ readConsoleLine

TEST(ReadConsoleLine, VisibleLine)
{
    std::istringstream theIn("first line\r\nsecond\nlast");
    std::ostringstream theOut;
    std::string theText = "old";
    EXPECT_TRUE(readConsoleLine(theIn, theOut, "Name: ", theText, false));
    EXPECT_EQ(theText, "first line");
    EXPECT_EQ(theOut.str(), "Name: ");
    EXPECT_TRUE(readConsoleLine(theIn, theOut, "> ", theText, false));
    EXPECT_EQ(theText, "second");
    EXPECT_TRUE(readConsoleLine(theIn, theOut, "> ", theText, false));
    EXPECT_EQ(theText, "last");
    EXPECT_FALSE(readConsoleLine(theIn, theOut, "> ", theText, false));
    EXPECT_EQ(theText, "");

    // At most 255 characters; the rest of the line does not become the next.
    std::istringstream theLongIn(std::string(300, 'a') + "\nnext\n");
    EXPECT_TRUE(readConsoleLine(theLongIn, theOut, "", theText, false));
    EXPECT_EQ(theText, std::string(255, 'a'));
    EXPECT_TRUE(readConsoleLine(theLongIn, theOut, "", theText, false));
    EXPECT_EQ(theText, "next");
}

TEST(ReadConsoleLine, HiddenKeys)
{
    // a, b, backspace, c, Enter: "ac", and nothing of it is echoed.
    std::istringstream theIn(std::string("ab\bc\r"));
    std::ostringstream theOut;
    std::string theText;
    EXPECT_TRUE(readConsoleLine(theIn, theOut, "Password: ", theText, true));
    EXPECT_EQ(theText, "ac");
    EXPECT_EQ(theOut.str(), "Password: \n");

    struct Case
    {
        std::string itsKeys;
        const char* itsText;
        bool itsEnded;
    };
    const Case theCases[] = {
        {std::string("\b\bx\n"), "x", true},     // backspace on empty text
        {std::string("pw\x03rest"), "pw", true}, // Ctrl-C ends the line
        {std::string("pw\x04rest"), "pw", true}, // Ctrl-D too
        {std::string("a\0Hb\n", 5), "ab", true}, // extended key prefix drops the next
        {std::string("a\0", 2), "a", false},     // prefix at the end of input
        {std::string("abc"), "abc", false},      // input ends before the line
        {std::string(""), "", false},
        {std::string("s\xE9\x7F\n"), "s\xE9\x7F", true}, // other codes are kept as typed
    };
    for (const Case& curCase : theCases)
    {
        std::istringstream theKeys(curCase.itsKeys);
        std::ostringstream theEcho;
        std::string theRead = "stale";
        EXPECT_EQ(readConsoleLine(theKeys, theEcho, ":", theRead, true), curCase.itsEnded);
        EXPECT_EQ(theRead, curCase.itsText);
        EXPECT_EQ(theEcho.str(), ":\n");
    }
}

TEST(ReadConsoleLine, HiddenStopsAtTheLineEnd)
{
    // CR LF from a file is one line end; the next line stays for the next read.
    std::istringstream theIn("secret\r\nuser\n");
    std::ostringstream theOut;
    std::string theText;
    EXPECT_TRUE(readConsoleLine(theIn, theOut, "", theText, true));
    EXPECT_EQ(theText, "secret");
    EXPECT_TRUE(readConsoleLine(theIn, theOut, "", theText, false));
    EXPECT_EQ(theText, "user");
}
