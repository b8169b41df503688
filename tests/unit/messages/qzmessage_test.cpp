#include "corvel/messages/qzmessage.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "log_capture.h"

// ------------------------------------------------------------ rendering

TEST(MessageRender, SubstitutionOrderAndItsConsequences)
{
    struct Case
    {
        qzMessage itsMessage;
        const char* itsRendered;
    };
    const Case theCases[] = {
        {qzMessage("a $x b $x", 'x', "1"), "a 1 b 1"},
        // A value is never rescanned for its own code.
        {qzMessage("a $x b $x", 'x', "$x"), "a $x b $x"},
        {qzMessage("[$e]", 'e', "$e$e"), "[$e$e]"},
        // A value inserted for a is rescanned for b, which comes later...
        {qzMessage("$a$b", 'a', "$b", 'b', "2"), "22"},
        // ...but a value inserted for b is not scanned for a.
        {qzMessage("$b", 'a', "1", 'b', "$a"), "$a"},
        // Codes are case-sensitive; a token without a parameter stays.
        {qzMessage("$e/$E/$q", 'e', "small", 'E', "big"), "small/big/$q"},
        {qzMessage("cost $5"), "cost $5"},
        // "$$" is no escape: only a parameter '$' replaces it.
        {qzMessage("$$x", 'x', "1"), "$1"},
        {qzMessage("a$$b", '$', "D"), "aDb"},
        // An empty text stays empty whatever its parameters.
        {qzMessage("", 'a', "value"), ""},
        {qzMessage(static_cast<const char*>(nullptr), 'a', "value"), ""},
        // Seven pairs; a code repeated in the list keeps its first value.
        {qzMessage("$a$b$c$d$e$f$g", 'a', "1", 'b', "2", 'c', "3", 'd', "4", 'e', "5", 'f', "6",
                   'g', "7"),
         "1234567"},
        {qzMessage("$k", 'k', "first", 'k', "second", 'k', "third"), "first"},
    };
    for (const Case& curCase : theCases)
    {
        std::string theOut = "old content";
        EXPECT_EQ(&curCase.itsMessage.getText(theOut), &theOut);
        EXPECT_EQ(theOut, curCase.itsRendered) << "text: " << curCase.itsMessage.getRawText();
        EXPECT_EQ(curCase.itsMessage.getText(), curCase.itsRendered);
    }
}

TEST(MessageRender, ReferenceNumberTakesTheServerText)
{
    static const qzStringEntry theTable[] = {{4101, "Disk $d is full"}, {0, nullptr}};
    qzMessage::registerStrings(theTable);

    qzMessage theMessage("literal ignored", 'd', "C:");
    theMessage.setStrRef(4101);
    EXPECT_EQ(theMessage.getText(), "Disk C: is full");
    EXPECT_FALSE(theMessage.isEmpty());

    // A later setText makes it literal again and keeps the parameters.
    theMessage.setText("on $d");
    EXPECT_EQ(theMessage.getStrRef(), qzNoStrRef);
    EXPECT_EQ(theMessage.getText(), "on C:");
}

TEST(MessageRender, UnregisteredReferenceAssertsAndRendersEmpty)
{
    LogCapture theLog;
    qzMessage theMessage("ignored", 'a', "1");
    theMessage.setStrRef(4999);
    EXPECT_EQ(theMessage.getText(), "");
    EXPECT_TRUE(theLog.hasAssertion("itsStrMap.find(inRef) != itsStrMap.end()"));
}

// ------------------------------------------------------------ empty and clear

TEST(MessageState, DefaultClearAndSetText)
{
    qzMessage theMessage;
    EXPECT_EQ(theMessage.getStrRef(), qzNoStrRef);
    EXPECT_TRUE(theMessage.isEmpty());
    EXPECT_EQ(theMessage.getText(), "");

    theMessage.setText("x $a");
    theMessage.addParam('a', "1");
    EXPECT_FALSE(theMessage.isEmpty());

    theMessage.clear();
    EXPECT_EQ(theMessage.getStrRef(), 0u);
    EXPECT_TRUE(theMessage.isEmpty());
    EXPECT_EQ(theMessage.getParamCount(), 0);
    EXPECT_EQ(theMessage.getRawText(), "");
    EXPECT_EQ(theMessage.getText(), "");

    theMessage.setText("again");
    EXPECT_FALSE(theMessage.isEmpty());
    EXPECT_EQ(theMessage.getStrRef(), qzNoStrRef);
    EXPECT_EQ(theMessage.getText(), "again");

    theMessage.setText(nullptr);
    EXPECT_TRUE(theMessage.isEmpty());
}

TEST(MessageParams, AddKeepsFirstValueSetReplaces)
{
    qzMessage theMessage("$v");
    theMessage.addParam('v', "first");
    theMessage.addParam('v', "second");
    theMessage.addParam('v', 9UL);
    theMessage.addParam('v', -9L);
    EXPECT_EQ(theMessage.getParam('v'), "first");

    theMessage.setParam('v', "second");
    EXPECT_EQ(theMessage.getText(), "second");
    theMessage.setParam('v', 12UL);
    EXPECT_EQ(theMessage.getParam('v'), "12");
    theMessage.setParam('v', -12L);
    EXPECT_EQ(theMessage.getParam('v'), "-12");
    EXPECT_EQ(theMessage.getParamCount(), 1);

    theMessage.addParam('u', 4294967295UL);
    theMessage.addParam('l', -5L);
    EXPECT_EQ(theMessage.getParam('u'), "4294967295");
    EXPECT_EQ(theMessage.getParam('l'), "-5");
}

TEST(MessageParams, MissingParameterAssertsAndYieldsEmpty)
{
    LogCapture theLog;
    qzMessage theMessage("x", 'a', "1");
    EXPECT_TRUE(theMessage.hasParam('a'));
    EXPECT_FALSE(theMessage.hasParam('A'));
    EXPECT_EQ(theMessage.getParam('A'), "");
    EXPECT_TRUE(theLog.hasAssertion("hasParam(inParamCode)"));
}

TEST(MessageParams, UnsignedConversionAtItsLimits)
{
    LogCapture theLog;
    qzMessage theMessage;
    theMessage.setParam('a', "4294967295");
    theMessage.setParam('b', "+4294967295");
    theMessage.setParam('c', "0");
    theMessage.setParam('d', "+17");
    EXPECT_EQ(theMessage.getParamUnsigned('a'), 4294967295UL);
    EXPECT_EQ(theMessage.getParamUnsigned('b'), 4294967295UL);
    EXPECT_EQ(theMessage.getParamUnsigned('c'), 0UL);
    EXPECT_EQ(theMessage.getParamUnsigned('d'), 17UL);
    EXPECT_EQ(theLog.assertions(), 0);

    const char* theBad[] = {"4294967296", "-1", "", " 5", "5 ", "0x10", "12x"};
    for (const char* curText : theBad)
    {
        theLog.reset();
        theMessage.setParam('e', curText);
        theMessage.getParamUnsigned('e');
        EXPECT_TRUE(theLog.hasAssertion("false")) << "text: \"" << curText << "\"";
    }
}

TEST(MessageParams, SignedConversionAtItsLimits)
{
    LogCapture theLog;
    qzMessage theMessage;
    theMessage.setParam('a', "2147483646");
    theMessage.setParam('b', "-2147483647");
    theMessage.setParam('c', "+12");
    theMessage.setParam('d', "-0");
    EXPECT_EQ(theMessage.getParamLong('a'), 2147483646L);
    EXPECT_EQ(theMessage.getParamLong('b'), -2147483647L);
    EXPECT_EQ(theMessage.getParamLong('c'), 12L);
    EXPECT_EQ(theMessage.getParamLong('d'), 0L);
    EXPECT_EQ(theLog.assertions(), 0);

    // The two overflow results are refused even when written exactly.
    const char* theBad[] = {"2147483647", "-2147483648", "2147483648", "12x", "", "x"};
    for (const char* curText : theBad)
    {
        theLog.reset();
        theMessage.setParam('e', curText);
        theMessage.getParamLong('e');
        EXPECT_TRUE(theLog.hasAssertion("false")) << "text: \"" << curText << "\"";
    }

    // A failed conversion hands back what it got so far.
    theLog.reset();
    theMessage.setParam('p', "12x");
    EXPECT_EQ(theMessage.getParamLong('p'), 12L);
    EXPECT_EQ(theLog.assertions(), 1);
}

TEST(MessageParams, ConversionOfMissingParameterReportsBoth)
{
    LogCapture theLog;
    qzMessage theMessage;
    EXPECT_EQ(theMessage.getParamUnsigned('n'), 0UL);
    EXPECT_TRUE(theLog.hasAssertion("hasParam(inParamCode)"));
    EXPECT_TRUE(theLog.hasAssertion("false"));
}

TEST(MessageParams, ParamAtWalksInCodeOrder)
{
    qzMessage theMessage("", 'z', "last", 'a', "first", 'm', "middle");
    const std::vector<std::pair<char, std::string>> theExpected = {
        {'a', "first"}, {'m', "middle"}, {'z', "last"}};
    for (int curIndex = 0; curIndex < 3; ++curIndex)
    {
        char theCode = 0;
        std::string theValue;
        ASSERT_TRUE(theMessage.getParamAt(curIndex, theCode, theValue));
        EXPECT_EQ(theCode, theExpected[curIndex].first);
        EXPECT_EQ(theValue, theExpected[curIndex].second);
    }

    char theCode = '?';
    std::string theValue = "untouched";
    EXPECT_FALSE(theMessage.getParamAt(theMessage.getParamCount(), theCode, theValue));
    EXPECT_FALSE(theMessage.getParamAt(-1, theCode, theValue));
    EXPECT_FALSE(theMessage.getParamAt(1000, theCode, theValue));
    EXPECT_EQ(theCode, '?');
    EXPECT_EQ(theValue, "untouched");
}

TEST(MessageParams, ParamStringListsPairsWithoutQuoting)
{
    qzMessage theMessage("", 'b', "x", 'a', "1");
    EXPECT_EQ(theMessage.getParamString(','), "a=1,b=x");
    EXPECT_EQ(qzMessage("", 'k', "a=b,c").getParamString(','), "k=a=b,c");
}

// ------------------------------------------------------------ comparison

TEST(MessageCompare, EqualityLooksAtReferenceTextAndParameters)
{
    EXPECT_EQ(qzMessage("a", 'x', "1"), qzMessage("a", 'x', "1"));
    EXPECT_FALSE(qzMessage("a") == qzMessage("b"));
    EXPECT_FALSE(qzMessage("a", 'x', "1") == qzMessage("a", 'x', "2"));
    EXPECT_FALSE(qzMessage("a", 'x', "1") == qzMessage("a", 'y', "1"));
    EXPECT_FALSE(qzMessage("a", 'x', "1") == qzMessage("a"));

    // With a reference number the literal text is not part of the message.
    qzMessage theFirst("one");
    qzMessage theSecond("two");
    theFirst.setStrRef(12);
    theSecond.setStrRef(12);
    EXPECT_EQ(theFirst, theSecond);
    theSecond.setStrRef(13);
    EXPECT_FALSE(theFirst == theSecond);

    // A cleared message and an empty literal one differ by reference.
    qzMessage theCleared;
    theCleared.clear();
    EXPECT_FALSE(theCleared == qzMessage());
}

TEST(MessageCompare, OrderingIsStrictAndConsistentWithEquality)
{
    qzMessage theRef5("zzz");
    theRef5.setStrRef(5);
    qzMessage theRef5b("aaa", 'a', "1");
    theRef5b.setStrRef(5);
    qzMessage theRef6;
    theRef6.setStrRef(6);

    // Reference number first, as an unsigned number.
    EXPECT_TRUE(theRef5 < theRef6);
    EXPECT_FALSE(theRef6 < theRef5);
    EXPECT_TRUE(theRef6 < qzMessage("a")); // 6 < 0xFFFF

    // Same reference: the text does not count, the parameters do.
    EXPECT_TRUE(theRef5 < theRef5b);
    EXPECT_FALSE(theRef5b < theRef5);

    // Literal messages: by text, then by parameters (code, then value).
    EXPECT_TRUE(qzMessage("abc") < qzMessage("abd"));
    EXPECT_TRUE(qzMessage("t", 'a', "9") < qzMessage("t", 'b', "0"));
    EXPECT_TRUE(qzMessage("t", 'a', "1") < qzMessage("t", 'a', "2"));
    EXPECT_TRUE(qzMessage("t") < qzMessage("t", 'a', "1"));

    const std::vector<qzMessage> theAll = {theRef5,
                                           theRef5b,
                                           theRef6,
                                           qzMessage("abc"),
                                           qzMessage("abd"),
                                           qzMessage("t", 'a', "1"),
                                           qzMessage("t", 'a', "2"),
                                           qzMessage("t", 'b', "0"),
                                           qzMessage("t"),
                                           qzMessage()};
    for (const qzMessage& curA : theAll)
    {
        EXPECT_FALSE(curA < curA);
        for (const qzMessage& curB : theAll)
        {
            // Exactly one of a < b, b < a, a == b.
            const int theCount = (curA < curB) + (curB < curA) + (curA == curB);
            EXPECT_EQ(theCount, 1) << curA.getText() << " / " << curB.getText();
        }
    }
    std::set<qzMessage> theSet(theAll.begin(), theAll.end());
    EXPECT_EQ(theSet.size(), theAll.size());
}

// ------------------------------------------------------------ log

TEST(MessageLog, InfoLogMessageWritesTheRenderedText)
{
    LogCapture theLog;
    setInfoLogLevel(qzLogDebug);
    infoLogMessage(qzLogWarning, qzMessage("user $u not found", 'u', "bob"));
    EXPECT_EQ(theLog.count("user bob not found"), 1);
    EXPECT_EQ(theLog.count("$u"), 0);
}
