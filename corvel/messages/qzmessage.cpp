#include "corvel/messages/qzmessage.h"

#include <iterator>

#include "corvel/debug/qzdebug.h"
#include "corvel/util/qzstringutils.h"

namespace
{
const std::string& emptyString()
{
    static const std::string theEmpty;
    return theEmpty;
}
} // namespace

qzMessage::qzMessage() : itsStrRef(qzNoStrRef) {}

qzMessage::qzMessage(const char* inText) : itsStrRef(qzNoStrRef), itsText(inText ? inText : "") {}

qzMessage::qzMessage(const std::string& inText) : itsStrRef(qzNoStrRef), itsText(inText) {}

qzMessage::qzMessage(const char* inText, char inCode1, const std::string& inValue1)
    : qzMessage(inText)
{
    addParam(inCode1, inValue1);
}

qzMessage::qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
                     const std::string& inValue2)
    : qzMessage(inText, inCode1, inValue1)
{
    addParam(inCode2, inValue2);
}

qzMessage::qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
                     const std::string& inValue2, char inCode3, const std::string& inValue3)
    : qzMessage(inText, inCode1, inValue1, inCode2, inValue2)
{
    addParam(inCode3, inValue3);
}

qzMessage::qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
                     const std::string& inValue2, char inCode3, const std::string& inValue3,
                     char inCode4, const std::string& inValue4)
    : qzMessage(inText, inCode1, inValue1, inCode2, inValue2, inCode3, inValue3)
{
    addParam(inCode4, inValue4);
}

qzMessage::qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
                     const std::string& inValue2, char inCode3, const std::string& inValue3,
                     char inCode4, const std::string& inValue4, char inCode5,
                     const std::string& inValue5)
    : qzMessage(inText, inCode1, inValue1, inCode2, inValue2, inCode3, inValue3, inCode4, inValue4)
{
    addParam(inCode5, inValue5);
}

qzMessage::qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
                     const std::string& inValue2, char inCode3, const std::string& inValue3,
                     char inCode4, const std::string& inValue4, char inCode5,
                     const std::string& inValue5, char inCode6, const std::string& inValue6)
    : qzMessage(inText, inCode1, inValue1, inCode2, inValue2, inCode3, inValue3, inCode4, inValue4,
                inCode5, inValue5)
{
    addParam(inCode6, inValue6);
}

qzMessage::qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
                     const std::string& inValue2, char inCode3, const std::string& inValue3,
                     char inCode4, const std::string& inValue4, char inCode5,
                     const std::string& inValue5, char inCode6, const std::string& inValue6,
                     char inCode7, const std::string& inValue7)
    : qzMessage(inText, inCode1, inValue1, inCode2, inValue2, inCode3, inValue3, inCode4, inValue4,
                inCode5, inValue5, inCode6, inValue6)
{
    addParam(inCode7, inValue7);
}

qzMessage::qzMessage(const qzMessage& inOther) = default;

qzMessage& qzMessage::operator=(const qzMessage& inOther) = default;

qzMessage::~qzMessage() = default;

void qzMessage::clear()
{
    itsStrRef = 0;
    itsParams.clear();
    itsText.clear();
}

bool qzMessage::isEmpty() const
{
    if (itsStrRef == 0)
        return true;
    return itsStrRef == qzNoStrRef && itsText.empty();
}

std::string qzMessage::getText() const
{
    std::string theText;
    getText(theText);
    return theText;
}

std::string& qzMessage::getText(std::string& outText) const
{
    if (itsStrRef == qzNoStrRef)
        outText = itsText;
    else
        outText = theStringServer.getString(itsStrRef);
    if (outText.empty())
        return outText;
    for (const auto& [curCode, curValue] : itsParams)
        substituteParameter(outText, curCode, curValue);
    return outText;
}

void qzMessage::setText(const char* inText)
{
    itsStrRef = qzNoStrRef;
    itsText = inText ? inText : "";
}

void qzMessage::setStrRef(std::uint32_t inRef) { itsStrRef = inRef; }

void qzMessage::addParam(char inParamCode, const std::string& inValue)
{
    itsParams.emplace(inParamCode, inValue);
}

void qzMessage::addParam(char inParamCode, unsigned long inValue)
{
    if (!hasParam(inParamCode))
        itsParams.emplace(inParamCode, uintToString(inValue));
}

void qzMessage::addParam(char inParamCode, long inValue)
{
    if (!hasParam(inParamCode))
        itsParams.emplace(inParamCode, intToString(inValue));
}

void qzMessage::setParam(char inParamCode, const std::string& inValue)
{
    itsParams[inParamCode] = inValue;
}

void qzMessage::setParam(char inParamCode, unsigned long inValue)
{
    itsParams[inParamCode] = uintToString(inValue);
}

void qzMessage::setParam(char inParamCode, long inValue)
{
    itsParams[inParamCode] = intToString(inValue);
}

bool qzMessage::hasParam(char inParamCode) const
{
    return itsParams.find(inParamCode) != itsParams.end();
}

const std::string& qzMessage::getParam(char inParamCode) const
{
    qzAssert(hasParam(inParamCode));
    const auto theIter = itsParams.find(inParamCode);
    return theIter != itsParams.end() ? theIter->second : emptyString();
}

unsigned long qzMessage::getParamUnsigned(char inParamCode) const
{
    std::uint32_t theValue = 0;
    if (!parseUInt(getParam(inParamCode), theValue))
        qzAssert(false);
    return theValue;
}

long qzMessage::getParamLong(char inParamCode) const
{
    std::int32_t theValue = 0;
    if (!parseInt(getParam(inParamCode), theValue))
        qzAssert(false);
    return theValue;
}

bool qzMessage::getParamAt(int inIndex, char& outParamCode, std::string& outValue) const
{
    // A negative index selects nothing rather than the first parameter.
    if (inIndex < 0 || inIndex >= getParamCount())
        return false;
    auto theIter = itsParams.begin();
    std::advance(theIter, inIndex);
    outParamCode = theIter->first;
    outValue = theIter->second;
    return true;
}

std::string qzMessage::getParamString(char inSeparator) const
{
    std::string theResult;
    bool theFirst = true;
    for (const auto& [curCode, curValue] : itsParams)
    {
        if (!theFirst)
            theResult += inSeparator;
        theFirst = false;
        theResult += curCode;
        theResult += '=';
        theResult += curValue;
    }
    return theResult;
}

bool qzMessage::operator==(const qzMessage& inOther) const
{
    if (itsStrRef != inOther.itsStrRef)
        return false;
    if (itsStrRef == qzNoStrRef && itsText != inOther.itsText)
        return false;
    return itsParams == inOther.itsParams;
}

bool qzMessage::operator<(const qzMessage& inOther) const
{
    if (itsStrRef != inOther.itsStrRef)
        return itsStrRef < inOther.itsStrRef;
    if (itsStrRef == qzNoStrRef && itsText != inOther.itsText)
        return itsText < inOther.itsText;
    return itsParams < inOther.itsParams;
}

std::uint32_t qzMessage::registerStrings(const qzStringEntry* inTable)
{
    return theStringServer.addStrings(inTable);
}

void infoLogMessage(qzInfoLogLevel inLevel, const qzMessage& inMessage)
{
    const std::string theText = inMessage.getText();
    writeInfoLog(inLevel, theText.c_str());
}
