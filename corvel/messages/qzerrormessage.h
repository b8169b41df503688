// Error messages, the framework's exception and the throwing convention.
//
// qzErrorMessage is a qzMessage with a qzErr code. It renders as a sentence:
// trailing spaces are cut, and a period is added unless the text is empty or
// already ends in '.', '?', '!' or ".\"".
//
// qzException is a standard exception carrying one qzErrorMessage. Its what()
// is the raw stored text: no lookup, no substitution, no added period (so an
// exception built from a code alone answers "").
//
// The framework never throws silently: qzThrowError(code) traces
// "throwing <code name>" at verbosity 1 with the thrower's file and line, then
// throws qzException(code); qzThrowBadAlloc() does the same with
// "throwing bad_alloc" and std::bad_alloc.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "corvel/debug/qzerrors.h"
#include "corvel/messages/qzmessage.h"

// Asks the user to report the problem; ends three of the standard texts.
#define QZ_SUPPORT_SENTENCE "Please report this problem to the technical support of this product."

// The framework's standard error texts. They are rendered through getText,
// so the placeholders are substituted.
// qzErr_internal; f: source file path, l: line number.
inline constexpr const char* qzInternalErrorText =
    "An internal error occurred in \"$f\" line \"$l\". " QZ_SUPPORT_SENTENCE;
// qzErr_internal; e: the caught exception's what().
inline constexpr const char* qzUnexpectedExceptionText =
    "An unexpected exception \"$e\" occurred. " QZ_SUPPORT_SENTENCE;
// Any code; e: the code as unsigned decimal text.
inline constexpr const char* qzUnspecifiedErrorText =
    "An unspecified error \"$e\" occurred. " QZ_SUPPORT_SENTENCE;
// qzErr_memFull.
inline constexpr const char* qzMemoryExhaustedText =
    "Could not perform operation because available memory is exhausted.";

// The number of the string-server entry a cleared error message refers to;
// the application registers its text.
inline constexpr std::uint32_t qzClearedErrorStrRef = 290;

class qzErrorMessage : public qzMessage
{
public:
    // The text and pairs go to the qzMessage constructors (null text is the
    // empty text, pairs added with addParam from left to right).
    // No error, no text.
    qzErrorMessage();
    // Explicit, so that a bare code is not taken for a message in a
    // comparison.
    explicit qzErrorMessage(qzErr inCode, const char* inText = nullptr);
    qzErrorMessage(qzErr inCode, const char* inText, char inCode1, const std::string& inValue1);
    qzErrorMessage(qzErr inCode, const char* inText, char inCode1, const std::string& inValue1,
                   char inCode2, const std::string& inValue2);
    qzErrorMessage(qzErr inCode, const char* inText, char inCode1, const std::string& inValue1,
                   char inCode2, const std::string& inValue2, char inCode3,
                   const std::string& inValue3);
    qzErrorMessage(const qzErrorMessage& inOther);
    qzErrorMessage& operator=(const qzErrorMessage& inOther);

    ~qzErrorMessage() override;
    // Clears the message, the code becomes qzErr_noError and the text
    // string-server entry 290.
    void clear() override;
    // True for the cleared state (no error, entry 290); else the plain rule.
    bool isEmpty() const override;
    std::string getText() const override;
    // Renders as a plain message, then applies the sentence rule.
    std::string& getText(std::string& outText) const override;

    qzErr getErrorValue() const { return itsErrorValue; }
    // Replaces the code only; text and parameters stay.
    void setErrorValue(qzErr inCode) { itsErrorValue = inCode; }

protected:
    qzErr itsErrorValue;
};

class qzException : public std::exception
{
public:
    explicit qzException(qzErr inCode);
    qzException(qzErr inCode, const char* inText);
    qzException(qzErr inCode, const char* inText, char inCode1, const std::string& inValue1);
    qzException(qzErr inCode, const char* inText, char inCode1, const std::string& inValue1,
                char inCode2, const std::string& inValue2);
    explicit qzException(const qzErrorMessage& inErrorMessage);
    qzException(const qzException& inOther);
    qzException& operator=(const qzException& inOther);

    ~qzException() override;
    // The raw text of errorMessage; valid while this exception lives and its
    // text is not changed.
    const char* what() const noexcept override;

    qzErrorMessage errorMessage;
};

// Traces "throwing <getErrorName(inCode)>" at verbosity 1 with inFile and
// inLine, then throws qzException(inCode).
[[noreturn]] void qzThrow(qzErr inCode, const char* inFile, int inLine);
// Traces "throwing bad_alloc" at verbosity 1 with inFile and inLine, then
// throws std::bad_alloc.
[[noreturn]] void qzThrowBadAllocFrom(const char* inFile, int inLine);

#define qzThrowError(code) qzThrow((code), __FILE__, __LINE__)
#define qzThrowBadAlloc() qzThrowBadAllocFrom(__FILE__, __LINE__)

// The error message for a caught exception:
// - qzException (or derived): its own message; when its text is exactly
//   qzUnspecifiedErrorText without a parameter e, e := the code in decimal;
// - std::bad_alloc (exactly): qzErr_memFull with qzMemoryExhaustedText;
// - any other: qzErr_internal with qzUnexpectedExceptionText, e := what().
qzErrorMessage errorMessageFromException(const std::exception& inException);

// qzErr_internal with qzInternalErrorText, f := inFile, l := inLine.
qzErrorMessage internalErrorMessage(const char* inFile, long inLine);
