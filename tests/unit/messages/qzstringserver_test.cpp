#include "corvel/messages/qzstringserver.h"

#include <gtest/gtest.h>

#include "corvel/messages/qzmessage.h"
#include "log_capture.h"

TEST(StringServer, ZeroIsTheEmptyTextWithoutRegistration)
{
    LogCapture theLog;
    qzStringServer theServer;
    ASSERT_NE(theServer.getString(0), nullptr);
    EXPECT_STREQ(theServer.getString(0), "");
    EXPECT_STREQ(theStringServer.getString(0), "");
    EXPECT_EQ(theLog.assertions(), 0);
}

TEST(StringServer, TableReturnsLastRowAndKeepsThePointers)
{
    static const char* const theTexts[] = {"five", "nine", "two"};
    const qzStringEntry theTable[] = {
        {5, theTexts[0]}, {9, theTexts[1]}, {2, theTexts[2]}, {0, nullptr}};
    qzStringServer theServer;
    EXPECT_EQ(theServer.addStrings(theTable), 2u);  // the last row, not the largest
    EXPECT_EQ(theServer.getString(9), theTexts[1]); // the pointer itself
    EXPECT_EQ(theServer.getString(5), theTexts[0]);
    EXPECT_EQ(theServer.getString(2), theTexts[2]);
}

TEST(StringServer, EmptyOrNullTableChangesNothing)
{
    LogCapture theLog;
    const qzStringEntry theEmpty[] = {{0, "never stored"}};
    qzStringServer theServer;
    EXPECT_EQ(theServer.addStrings(theEmpty), 0u);
    EXPECT_EQ(theServer.addStrings(nullptr), 0u);
    EXPECT_STREQ(theServer.getString(0), "");
    EXPECT_EQ(theLog.assertions(), 0);
}

TEST(StringServer, UnregisteredNumberAssertsAndReturnsEmpty)
{
    LogCapture theLog;
    qzStringServer theServer;
    const char* theText = theServer.getString(77);
    ASSERT_NE(theText, nullptr);
    EXPECT_STREQ(theText, "");
    EXPECT_TRUE(theLog.hasAssertion("itsStrMap.find(inRef) != itsStrMap.end()"));
}

TEST(StringServer, DuplicateRegistrationAssertsAndReplaces)
{
    LogCapture theLog;
    qzStringServer theServer;
    const char*& theSlot = theServer.addString(40, "old");
    EXPECT_STREQ(theSlot, "old");
    EXPECT_EQ(theLog.assertions(), 0);

    theServer.addString(qzStringEntry{40, "new"});
    EXPECT_TRUE(theLog.hasAssertion("itsStrMap.find(inRef) == itsStrMap.end()"));
    EXPECT_STREQ(theServer.getString(40), "new");

    theLog.reset();
    const qzStringEntry theTable[] = {{41, "a"}, {40, "again"}, {0, nullptr}};
    EXPECT_EQ(theServer.addStrings(theTable), 40u);
    EXPECT_TRUE(theLog.hasAssertion("iter == itsStrMap.end()"));
    EXPECT_STREQ(theServer.getString(40), "again");
}

TEST(StringServer, ReferenceZeroIsNeverStored)
{
    LogCapture theLog;
    qzStringServer theServer;
    theServer.addString(0, "zero");
    EXPECT_TRUE(theLog.hasAssertion("inRef != 0"));
    EXPECT_STREQ(theServer.getString(0), "");
}

TEST(StringServer, NullTextRendersEmpty)
{
    LogCapture theLog;
    qzStringServer theServer;
    theServer.addString(8, nullptr);
    ASSERT_NE(theServer.getString(8), nullptr);
    EXPECT_STREQ(theServer.getString(8), "");
    EXPECT_EQ(theLog.assertions(), 0);
}

TEST(StringServer, RegisterStringsFeedsTheProcessWideServer)
{
    static const qzStringEntry theTable[] = {
        {1201, "Saved $n files"}, {1200, "Ready"}, {0, nullptr}};
    EXPECT_EQ(qzMessage::registerStrings(theTable), 1200u);
    EXPECT_EQ(theStringServer.getString(1201), theTable[0].itsText);

    qzMessage theMessage("", 'n', "3");
    theMessage.setStrRef(1201);
    EXPECT_EQ(theMessage.getText(), "Saved 3 files");
}
