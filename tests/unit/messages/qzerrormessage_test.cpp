#include "corvel/messages/qzerrormessage.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "log_capture.h"

// ------------------------------------------------------------ sentence rule

TEST(ErrorMessageSentence, PeriodAddedOnlyWhereNeeded)
{
    struct Case
    {
        const char* itsText;
        const char* itsRendered;
    };
    const Case theCases[] = {
        {"Operation failed", "Operation failed."},
        {"Operation failed  ", "Operation failed."},
        {"Done!  ", "Done!"},
        {"Really?", "Really?"},
        {"Stopped.", "Stopped."},
        {"He said \"stop.\"", "He said \"stop.\""},
        {"He said \"stop\"", "He said \"stop\"."},
        {"Tab\t", "Tab\t."}, // only spaces are cut
        {"Line\n", "Line\n."},
        {"   ", ""}, // spaces only: empty, no period
        {"", ""},
        {".", "."},
        {"\"", "\"."},
    };
    for (const Case& curCase : theCases)
    {
        qzErrorMessage theMessage(qzErr_timeout, curCase.itsText);
        EXPECT_EQ(theMessage.getText(), curCase.itsRendered) << "text: [" << curCase.itsText << "]";
        // The raw text is left alone.
        EXPECT_EQ(theMessage.getRawText(), curCase.itsText);
    }
}

TEST(ErrorMessageSentence, RuleAppliesAfterSubstitution)
{
    qzErrorMessage theMessage(qzErr_fileOpen, "Cannot open $p", 'p', "a.txt   ");
    EXPECT_EQ(theMessage.getText(), "Cannot open a.txt.");

    qzErrorMessage theQuestion(qzErr_fileOpen, "$q", 'q', "Why?");
    EXPECT_EQ(theQuestion.getText(), "Why?");
}

TEST(ErrorMessageSentence, RenderingIsVirtualThroughTheBase)
{
    std::unique_ptr<qzMessage> theMessage =
        std::make_unique<qzErrorMessage>(qzErr_timeout, "Timed out");
    EXPECT_EQ(theMessage->getText(), "Timed out.");
    std::string theOut;
    EXPECT_EQ(theMessage->getText(theOut), "Timed out.");

    LogCapture theLog;
    setInfoLogLevel(qzLogDebug);
    infoLogMessage(qzLogError, qzErrorMessage(qzErr_timeout, "Timed out after $s s", 's', "5"));
    EXPECT_EQ(theLog.count("Timed out after 5 s."), 1);
}

// ------------------------------------------------------------ state

TEST(ErrorMessageState, ClearRefersToEntry290)
{
    qzErrorMessage theMessage(qzErr_osError, "x $a", 'a', "1");
    EXPECT_FALSE(theMessage.isEmpty());
    theMessage.clear();
    EXPECT_EQ(theMessage.getErrorValue(), qzErr_noError);
    EXPECT_EQ(theMessage.getStrRef(), qzClearedErrorStrRef);
    EXPECT_EQ(theMessage.getParamCount(), 0);
    EXPECT_TRUE(theMessage.isEmpty());

    // A code on the cleared text is an error again.
    theMessage.setErrorValue(qzErr_timeout);
    EXPECT_FALSE(theMessage.isEmpty());

    // A plain message with reference 290 is not empty.
    qzMessage thePlain;
    thePlain.setStrRef(qzClearedErrorStrRef);
    EXPECT_FALSE(thePlain.isEmpty());
}

TEST(ErrorMessageState, ClearedMessageRendersThroughTheStringServer)
{
    qzErrorMessage theMessage(qzErr_osError, "x");
    theMessage.clear();
    {
        LogCapture theLog;
        EXPECT_EQ(theMessage.getText(), "");
        EXPECT_TRUE(theLog.hasAssertion("itsStrMap.find(inRef) != itsStrMap.end()"));
    }
    static const qzStringEntry theTable[] = {{qzClearedErrorStrRef, "No error"}, {0, nullptr}};
    qzMessage::registerStrings(theTable);
    LogCapture theLog;
    EXPECT_EQ(theMessage.getText(), "No error.");
    EXPECT_EQ(theLog.assertions(), 0);
}

TEST(ErrorMessageState, FreshAndCopiedMessages)
{
    qzErrorMessage theFresh;
    EXPECT_EQ(theFresh.getErrorValue(), qzErr_noError);
    EXPECT_TRUE(theFresh.isEmpty());
    EXPECT_EQ(theFresh.getText(), "");

    qzErrorMessage theOriginal(qzErr_noConnect, "$a $b $c", 'a', "1", 'b', "2", 'c', "3");
    qzErrorMessage theCopy(theOriginal);
    qzErrorMessage theAssigned;
    theAssigned = theOriginal;
    for (const qzErrorMessage* curMessage : {&theCopy, &theAssigned})
    {
        EXPECT_EQ(curMessage->getErrorValue(), qzErr_noConnect);
        EXPECT_EQ(*curMessage, theOriginal);
        EXPECT_EQ(curMessage->getText(), "1 2 3.");
    }
}

TEST(ErrorMessageState, SetErrorValueTouchesOnlyTheCode)
{
    qzErrorMessage theMessage(qzErr_fileWrite, "Cannot write $f", 'f', "log");
    theMessage.setErrorValue(qzErr_fileDelete);
    EXPECT_EQ(theMessage.getErrorValue(), qzErr_fileDelete);
    EXPECT_EQ(theMessage.getRawText(), "Cannot write $f");
    EXPECT_EQ(theMessage.getParam('f'), "log");
    EXPECT_EQ(theMessage.getParamCount(), 1);
}

// ------------------------------------------------------------ exception

TEST(Exception, FromCodeAlone)
{
    qzException theException(qzErr_resFull);
    ASSERT_NE(theException.what(), nullptr);
    EXPECT_STREQ(theException.what(), "");
    EXPECT_EQ(theException.errorMessage.getErrorValue(), 0x0104);
    EXPECT_EQ(theException.errorMessage.getText(), "");
}

TEST(Exception, WhatIsTheRawTemplate)
{
    qzException theException(qzErr_internal, qzInternalErrorText, 'f', "src/a.cpp", 'l', "103");
    EXPECT_STREQ(theException.what(), qzInternalErrorText);
    const std::string theText = theException.errorMessage.getText();
    EXPECT_EQ(theText.find("$f"), std::string::npos);
    EXPECT_EQ(theText.rfind("An internal error occurred in \"src/a.cpp\" line \"103\". ", 0), 0u);

    // No period is added by what(), even where rendering adds one.
    qzException theShort(qzErr_timeout, "Timed out");
    EXPECT_STREQ(theShort.what(), "Timed out");
    EXPECT_EQ(theShort.errorMessage.getText(), "Timed out.");
}

TEST(Exception, CopyCarriesAnEqualMessage)
{
    qzException theOriginal(qzErr_noAuthority, "No $r for $u", 'r', "right", 'u', "bob");
    qzException theCopy(theOriginal);
    EXPECT_EQ(theCopy.errorMessage.getErrorValue(), qzErr_noAuthority);
    EXPECT_EQ(theCopy.errorMessage, theOriginal.errorMessage);
    EXPECT_STREQ(theCopy.what(), "No $r for $u");
    // The copy owns its text.
    EXPECT_NE(theCopy.what(), theOriginal.what());
    EXPECT_EQ(theCopy.errorMessage.getText(), "No right for bob.");
}

// ------------------------------------------------------------ throwing

TEST(Throwing, TracesTheCodeNameThenThrows)
{
    LogCapture theLog;
    bool theCaught = false;
    try
    {
        qzThrowError(qzErr_resFull);
    }
    catch (const std::exception& theStandard)
    {
        // Catchers find the code through the dynamic type.
        const auto* theException = dynamic_cast<const qzException*>(&theStandard);
        ASSERT_NE(theException, nullptr);
        theCaught = true;
        EXPECT_EQ(theException->errorMessage.getErrorValue(), qzErr_resFull);
        EXPECT_STREQ(theStandard.what(), "");
    }
    EXPECT_TRUE(theCaught);
    ASSERT_EQ(theLog.entries().size(), 1u);
    EXPECT_EQ(theLog.entries()[0], "* throwing qzErr_resFull");
}

TEST(Throwing, UnnamedCodeIsTracedInHex)
{
    LogCapture theLog;
    EXPECT_THROW(qzThrow(static_cast<qzErr>(0x0403), __FILE__, __LINE__), qzException);
    EXPECT_EQ(theLog.count("* throwing 0x403"), 1);
}

TEST(Throwing, BadAllocIsTracedAndThrown)
{
    LogCapture theLog;
    EXPECT_THROW(qzThrowBadAlloc(), std::bad_alloc);
    ASSERT_EQ(theLog.entries().size(), 1u);
    EXPECT_EQ(theLog.entries()[0], "* throwing bad_alloc");
}

// ------------------------------------------------------------ conversion

TEST(ExceptionConversion, FrameworkExceptionKeepsItsMessage)
{
    qzException theException(qzErr_fileOpen, "Cannot open $p", 'p', "x.txt");
    qzErrorMessage theMessage = errorMessageFromException(theException);
    EXPECT_EQ(theMessage.getErrorValue(), qzErr_fileOpen);
    EXPECT_EQ(theMessage, theException.errorMessage);
    EXPECT_EQ(theMessage.getText(), "Cannot open x.txt.");
}

TEST(ExceptionConversion, DerivedFrameworkExceptionIsAFrameworkException)
{
    struct Derived : qzException
    {
        Derived() : qzException(qzErr_critical, "derived") {}
    };
    qzErrorMessage theMessage = errorMessageFromException(Derived());
    EXPECT_EQ(theMessage.getErrorValue(), qzErr_critical);
    EXPECT_EQ(theMessage.getRawText(), "derived");
}

TEST(ExceptionConversion, UnspecifiedErrorGetsTheCodeAsNumber)
{
    qzException theBare(qzErr_serverFailure, qzUnspecifiedErrorText);
    qzErrorMessage theMessage = errorMessageFromException(theBare);
    EXPECT_EQ(theMessage.getParam('e'), "2308");
    const std::string theText = theMessage.getText();
    EXPECT_EQ(theText.rfind("An unspecified error \"2308\" occurred. ", 0), 0u);

    // An e already given is kept.
    qzException theGiven(qzErr_serverFailure, qzUnspecifiedErrorText, 'e', "mine");
    EXPECT_EQ(errorMessageFromException(theGiven).getParam('e'), "mine");

    // Only the whole text counts.
    const std::string theLonger = std::string(qzUnspecifiedErrorText) + " ";
    qzException theOther(qzErr_serverFailure, theLonger.c_str());
    EXPECT_FALSE(errorMessageFromException(theOther).hasParam('e'));
}

TEST(ExceptionConversion, BadAllocBecomesMemoryFull)
{
    qzErrorMessage theMessage = errorMessageFromException(std::bad_alloc());
    EXPECT_EQ(theMessage.getErrorValue(), qzErr_memFull);
    EXPECT_EQ(theMessage.getText(),
              "Could not perform operation because available memory is exhausted.");
    EXPECT_EQ(theMessage.getParamCount(), 0);

    // Only the exact type: a derived allocation failure is "unexpected".
    qzErrorMessage theDerived = errorMessageFromException(std::bad_array_new_length());
    EXPECT_EQ(theDerived.getErrorValue(), qzErr_internal);
}

TEST(ExceptionConversion, OtherExceptionsAreUnexpected)
{
    qzErrorMessage theMessage = errorMessageFromException(std::runtime_error("disk on fire"));
    EXPECT_EQ(theMessage.getErrorValue(), qzErr_internal);
    EXPECT_EQ(theMessage.getRawText(), qzUnexpectedExceptionText);
    EXPECT_EQ(theMessage.getParam('e'), "disk on fire");
    const std::string theText = theMessage.getText();
    EXPECT_EQ(theText.rfind("An unexpected exception \"disk on fire\" occurred. ", 0), 0u);
    EXPECT_EQ(theText.back(), '.');
}

// ------------------------------------------------------------ standard texts

TEST(StandardTexts, SupportSentenceEndsThreeTexts)
{
    const std::string theSupport = QZ_SUPPORT_SENTENCE;
    for (const char* curText :
         {qzInternalErrorText, qzUnexpectedExceptionText, qzUnspecifiedErrorText})
    {
        const std::string theText = curText;
        ASSERT_GT(theText.size(), theSupport.size());
        EXPECT_EQ(theText.substr(theText.size() - theSupport.size()), theSupport);
        // Ends a sentence already: rendering adds no second period.
        EXPECT_EQ(qzErrorMessage(qzErr_internal, curText).getText(), theText);
    }
    // No address or number to call.
    EXPECT_EQ(theSupport.find('@'), std::string::npos);
    EXPECT_EQ(theSupport.find_first_of("0123456789"), std::string::npos);
}

TEST(StandardTexts, InternalErrorMessageCarriesFileAndLine)
{
    qzErrorMessage theMessage = internalErrorMessage("corvel/threads/qzthread.cpp", 212);
    EXPECT_EQ(theMessage.getErrorValue(), qzErr_internal);
    EXPECT_EQ(theMessage.getParam('f'), "corvel/threads/qzthread.cpp");
    EXPECT_EQ(theMessage.getParamLong('l'), 212);
    EXPECT_EQ(
        theMessage.getText().rfind(
            "An internal error occurred in \"corvel/threads/qzthread.cpp\" line \"212\". ", 0),
        0u);
}
