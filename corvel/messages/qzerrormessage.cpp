#include "corvel/messages/qzerrormessage.h"

#include <new>
#include <typeinfo>

#include "corvel/debug/qzdebug.h"
#include "corvel/util/qzstringutils.h"

// ---------------------------------------------------------------- qzErrorMessage

qzErrorMessage::qzErrorMessage() : itsErrorValue(qzErr_noError) {}

qzErrorMessage::qzErrorMessage(qzErr inCode, const char* inText)
    : qzMessage(inText), itsErrorValue(inCode)
{
}

qzErrorMessage::qzErrorMessage(qzErr inCode, const char* inText, char inCode1,
                               const std::string& inValue1)
    : qzMessage(inText, inCode1, inValue1), itsErrorValue(inCode)
{
}

qzErrorMessage::qzErrorMessage(qzErr inCode, const char* inText, char inCode1,
                               const std::string& inValue1, char inCode2,
                               const std::string& inValue2)
    : qzMessage(inText, inCode1, inValue1, inCode2, inValue2), itsErrorValue(inCode)
{
}

qzErrorMessage::qzErrorMessage(qzErr inCode, const char* inText, char inCode1,
                               const std::string& inValue1, char inCode2,
                               const std::string& inValue2, char inCode3,
                               const std::string& inValue3)
    : qzMessage(inText, inCode1, inValue1, inCode2, inValue2, inCode3, inValue3),
      itsErrorValue(inCode)
{
}

qzErrorMessage::qzErrorMessage(const qzErrorMessage& inOther) = default;

qzErrorMessage& qzErrorMessage::operator=(const qzErrorMessage& inOther) = default;

qzErrorMessage::~qzErrorMessage() = default;

void qzErrorMessage::clear()
{
    qzMessage::clear();
    itsErrorValue = qzErr_noError;
    itsStrRef = qzClearedErrorStrRef;
}

bool qzErrorMessage::isEmpty() const
{
    if (itsErrorValue == qzErr_noError && itsStrRef == qzClearedErrorStrRef)
        return true;
    return qzMessage::isEmpty();
}

std::string qzErrorMessage::getText() const
{
    std::string theText;
    getText(theText);
    return theText;
}

std::string& qzErrorMessage::getText(std::string& outText) const
{
    qzMessage::getText(outText);
    // Only spaces: a trailing tab or line end is the text's own.
    trimRight(outText, ' ');
    if (outText.empty())
        return outText;
    const char theLast = outText.back();
    if (theLast == '.' || theLast == '?' || theLast == '!')
        return outText;
    if (endsWith(outText, std::string(".\""), true))
        return outText;
    outText += '.';
    return outText;
}

// ---------------------------------------------------------------- qzException

qzException::qzException(qzErr inCode) : errorMessage(inCode) {}

qzException::qzException(qzErr inCode, const char* inText) : errorMessage(inCode, inText) {}

qzException::qzException(qzErr inCode, const char* inText, char inCode1,
                         const std::string& inValue1)
    : errorMessage(inCode, inText, inCode1, inValue1)
{
}

qzException::qzException(qzErr inCode, const char* inText, char inCode1,
                         const std::string& inValue1, char inCode2, const std::string& inValue2)
    : errorMessage(inCode, inText, inCode1, inValue1, inCode2, inValue2)
{
}

qzException::qzException(const qzErrorMessage& inErrorMessage) : errorMessage(inErrorMessage) {}

// The base's own description is not copied: what() comes from errorMessage.
qzException::qzException(const qzException& inOther)
    : std::exception(), errorMessage(inOther.errorMessage)
{
}

qzException& qzException::operator=(const qzException& inOther)
{
    errorMessage = inOther.errorMessage;
    return *this;
}

qzException::~qzException() = default;

const char* qzException::what() const noexcept { return errorMessage.getRawText().c_str(); }

// ---------------------------------------------------------------- throwing

void qzThrow(qzErr inCode, const char* inFile, int inLine)
{
    trace(1, inFile, inLine, "throwing %s", getErrorName(inCode));
    throw qzException(inCode);
}

void qzThrowBadAllocFrom(const char* inFile, int inLine)
{
    trace(1, inFile, inLine, "throwing bad_alloc");
    throw std::bad_alloc();
}

// ---------------------------------------------------------------- conversion

qzErrorMessage errorMessageFromException(const std::exception& inException)
{
    if (const auto* theException = dynamic_cast<const qzException*>(&inException))
    {
        qzErrorMessage theMessage(theException->errorMessage);
        if (theMessage.getStrRef() == qzNoStrRef &&
            theMessage.getRawText() == qzUnspecifiedErrorText && !theMessage.hasParam('e'))
            theMessage.addParam('e', static_cast<unsigned long>(theMessage.getErrorValue()));
        return theMessage;
    }
    if (typeid(inException) == typeid(std::bad_alloc))
        return qzErrorMessage(qzErr_memFull, qzMemoryExhaustedText);
    const char* theWhat = inException.what();
    return qzErrorMessage(qzErr_internal, qzUnexpectedExceptionText, 'e',
                          std::string(theWhat ? theWhat : ""));
}

qzErrorMessage internalErrorMessage(const char* inFile, long inLine)
{
    return qzErrorMessage(qzErr_internal, qzInternalErrorText, 'f',
                          std::string(inFile ? inFile : ""), 'l', intToString(inLine));
}
