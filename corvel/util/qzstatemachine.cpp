#include "corvel/util/qzstatemachine.h"

#include <sstream>
#include <string>

#include "corvel/debug/qzdebug.h"

qzStateMachine::qzStateMachine()
    : itsTable(nullptr), itsInputs(nullptr), itsLegalEnds(nullptr), itsNumStates(0),
      itsNumTokens(0), itsNumLegalEnds(0), itsCharCount(0), itsState(1)
{
}

qzStateMachine::~qzStateMachine() = default;

bool qzStateMachine::addChar(char inChar)
{
    qzAssert(itsTable != 0);
    // Without tables there is nothing to read; the machine answers as dead.
    if (itsTable == nullptr || itsState == 0)
        return false;
    return stepChar(inChar);
}

bool qzStateMachine::addBuffer(const char* inBuffer, std::uint32_t inLength)
{
    qzAssert(itsTable != 0);
    if (itsTable == nullptr)
        return false;
    qzAssert(inBuffer != 0 || inLength == 0);
    if (inBuffer == nullptr && inLength != 0)
        return false;
    for (std::uint32_t curIndex = 0; curIndex < inLength; ++curIndex)
    {
        if (!addChar(inBuffer[curIndex]))
            return false;
    }
    return isLegalEnd();
}

bool qzStateMachine::isLegalEnd() const { return isAcceptingState(); }

bool qzStateMachine::isAcceptingState() const
{
    if (itsLegalEnds == nullptr)
        return false;
    for (std::uint32_t curIndex = 0; curIndex < itsNumLegalEnds; ++curIndex)
    {
        if (itsLegalEnds[curIndex] == itsState)
            return true;
    }
    return false;
}

std::uint32_t qzStateMachine::getCharCount() const { return itsCharCount; }

void qzStateMachine::setTable(const std::int8_t* theTable, const std::uint8_t* theInputs,
                              const std::int8_t* theLegalEnds, std::uint32_t numStates,
                              std::uint32_t numTokens, std::uint32_t numLegalEnds)
{
    // A refused install keeps whatever was there: replacing a table under a
    // machine that has already moved could leave its state outside the new
    // table, and a null or empty table cannot be read at all.
    qzAssert(itsTable == 0);
    if (itsTable != nullptr)
        return;
    qzAssert((theTable != 0) && (theInputs != 0) && (theLegalEnds != 0));
    if (theTable == nullptr || theInputs == nullptr || theLegalEnds == nullptr)
        return;
    qzAssert((numStates > 0) && (numTokens > 0) && (numLegalEnds > 0));
    if (numStates == 0 || numTokens == 0 || numLegalEnds == 0)
        return;
    itsTable = theTable;
    itsInputs = theInputs;
    itsLegalEnds = theLegalEnds;
    itsNumStates = numStates;
    itsNumTokens = numTokens;
    itsNumLegalEnds = numLegalEnds;
}

void qzStateMachine::dumpTable() const
{
    qzAssert(itsTable != 0);
    if (itsTable == nullptr)
        return;
    std::ostringstream theStream;
    theStream << "XXXXXX\t";
    for (std::uint32_t curState = 0; curState < itsNumStates; ++curState)
        theStream << curState << '\t';
    theStream << '\r';
    for (unsigned curByte = 0; curByte < 256; ++curByte)
    {
        const unsigned theClass = loadCell(itsInputs + curByte);
        if (theClass == 0 || theClass >= itsNumTokens)
            continue;
        theStream << theClass << " (";
        if (curByte >= 32)
            theStream << static_cast<char>(curByte);
        else
            theStream << curByte;
        theStream << ")\t";
        for (std::uint32_t curState = 0; curState < itsNumStates; ++curState)
        {
            const std::int8_t theCell = loadCell(itsTable + curState * itsNumTokens + theClass);
            theStream << static_cast<unsigned>(static_cast<std::uint8_t>(theCell)) << '\t';
        }
        theStream << '\r';
    }
    theStream << "Legal ends: ";
    for (std::uint32_t curIndex = 0; curIndex < itsNumLegalEnds; ++curIndex)
        theStream << static_cast<int>(itsLegalEnds[curIndex]) << '\t';
    theStream << '\r';
    const std::string theText = theStream.str();
    traceText(1, __FILE__, __LINE__, theText.c_str());
}
