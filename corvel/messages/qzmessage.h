// qzMessage: the framework's user-facing text.
//
// A message is a literal text or a reference number into the string server,
// plus named parameters. A parameter is named by one character (its code);
// the text refers to it as '$' followed by the code, so
// "An internal error occurred in \"$f\" line \"$l\"." takes f and l.
//
// Rendering (getText) takes the literal or registered text and substitutes
// the parameters in ascending code order (plain char order), each
// occurrence once: a value is never rescanned for its own code, but a value
// inserted for one code is scanned for the codes after it. A token whose code
// has no parameter stays as it is; "$$" is no escape. Codes are
// case-sensitive. An empty text renders empty whatever its parameters.
//
// Messages are plain values without a lock.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "corvel/debug/qzinfolog.h"
#include "corvel/messages/qzstringserver.h"

// The reference number of a message whose text is its own literal text.
inline constexpr std::uint32_t qzNoStrRef = 0xFFFF;

class qzMessage
{
public:
    // A null text always counts as the empty text.
    qzMessage();
    qzMessage(const char* inText);
    qzMessage(const std::string& inText);
    // The text, then addParam for each pair from left to right: a code
    // repeated in the list keeps its first value.
    qzMessage(const char* inText, char inCode1, const std::string& inValue1);
    qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
              const std::string& inValue2);
    qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
              const std::string& inValue2, char inCode3, const std::string& inValue3);
    qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
              const std::string& inValue2, char inCode3, const std::string& inValue3, char inCode4,
              const std::string& inValue4);
    qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
              const std::string& inValue2, char inCode3, const std::string& inValue3, char inCode4,
              const std::string& inValue4, char inCode5, const std::string& inValue5);
    qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
              const std::string& inValue2, char inCode3, const std::string& inValue3, char inCode4,
              const std::string& inValue4, char inCode5, const std::string& inValue5, char inCode6,
              const std::string& inValue6);
    qzMessage(const char* inText, char inCode1, const std::string& inValue1, char inCode2,
              const std::string& inValue2, char inCode3, const std::string& inValue3, char inCode4,
              const std::string& inValue4, char inCode5, const std::string& inValue5, char inCode6,
              const std::string& inValue6, char inCode7, const std::string& inValue7);
    qzMessage(const qzMessage& inOther);
    qzMessage& operator=(const qzMessage& inOther);

    // Slot order matters to derived messages: destructor, clear, isEmpty,
    // getText(), getText(std::string&).
    virtual ~qzMessage();
    // Reference 0, no text, no parameters.
    virtual void clear();
    // True for reference 0, or for a literal message with an empty text.
    virtual bool isEmpty() const;
    // Renders through the out-string form, so a derived rendering is used.
    virtual std::string getText() const;
    // Renders into outText and returns it.
    virtual std::string& getText(std::string& outText) const;

    // Makes the message literal again; parameters are kept.
    void setText(const char* inText);
    // Makes the message refer to string-server entry inRef (0 empties it);
    // parameters are kept.
    void setStrRef(std::uint32_t inRef);
    std::uint32_t getStrRef() const { return itsStrRef; }
    // The stored literal text: no lookup, no substitution.
    const std::string& getRawText() const { return itsText; }

    // Inserts only when the code is absent: the first value wins.
    void addParam(char inParamCode, const std::string& inValue);
    void addParam(char inParamCode, unsigned long inValue);
    void addParam(char inParamCode, long inValue);
    void addParam(char inParamCode, unsigned int inValue)
    {
        addParam(inParamCode, static_cast<unsigned long>(inValue));
    }
    void addParam(char inParamCode, int inValue)
    {
        addParam(inParamCode, static_cast<long>(inValue));
    }
    void addParam(char inParamCode, const char* inValue)
    {
        addParam(inParamCode, std::string(inValue ? inValue : ""));
    }

    // Inserts or overwrites.
    void setParam(char inParamCode, const std::string& inValue);
    void setParam(char inParamCode, unsigned long inValue);
    void setParam(char inParamCode, long inValue);
    void setParam(char inParamCode, unsigned int inValue)
    {
        setParam(inParamCode, static_cast<unsigned long>(inValue));
    }
    void setParam(char inParamCode, int inValue)
    {
        setParam(inParamCode, static_cast<long>(inValue));
    }
    void setParam(char inParamCode, const char* inValue)
    {
        setParam(inParamCode, std::string(inValue ? inValue : ""));
    }

    bool hasParam(char inParamCode) const;
    // The value text; an absent code is reported by the assertion
    // "hasParam(inParamCode)" and yields "".
    const std::string& getParam(char inParamCode) const;
    // The value through the strict 32-bit conversions (parseUInt, parseInt):
    // a value that does not convert is reported by the assertion "false" and
    // whatever the conversion left is returned.
    unsigned long getParamUnsigned(char inParamCode) const;
    long getParamLong(char inParamCode) const;
    int getParamCount() const { return static_cast<int>(itsParams.size()); }
    // The parameter at inIndex in code order (0 the first). False, outs
    // untouched, when inIndex is negative or not below getParamCount().
    bool getParamAt(int inIndex, char& outParamCode, std::string& outValue) const;
    // "a=1,b=x" for separator ',': no quoting, no escaping.
    std::string getParamString(char inSeparator) const;

    // Equal references, equal texts when literal, equal parameters.
    bool operator==(const qzMessage& inOther) const;
    // By reference number, then by text for literal messages, then by the
    // parameters (code, then value).
    bool operator<(const qzMessage& inOther) const;

    // Registers a table with the process-wide string server; returns the last
    // reference number added (0 for an empty table).
    static std::uint32_t registerStrings(const qzStringEntry* inTable);

protected:
    std::uint32_t itsStrRef;
    std::string itsText;
    std::map<char, std::string> itsParams;
};

// Renders the message (virtually, so an error message gets its sentence
// form) and writes it to the information log at inLevel. The message is
// rendered even when the level then drops the entry.
void infoLogMessage(qzInfoLogLevel inLevel, const qzMessage& inMessage);
