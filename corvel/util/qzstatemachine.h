// qzStateMachine: a small deterministic finite automaton over bytes.
//
// A derived recogniser supplies three tables and installs them once with
// setTable: a transition table of numStates rows by numTokens columns, a
// 256-entry character-class table (indexed by the byte taken as unsigned) and
// the list of accepting states. The tables are static data of the derived
// class; the engine never copies or frees them.
//
// Table conventions: state 0 is the dead state (all-zero row, never
// accepting, never left); state 1 is the start state; class 0 is "character
// not allowed" and every column 0 is 0; a cell holds the next state, 0 meaning
// rejection.
//
// A machine is used for one input and then discarded: there is no reset.
// Rejection is no failure, only a false result; misuse (feeding a machine
// without tables, installing tables twice) is reported by assertion and then
// refused, so that nothing is read through a missing or replaced table.
//
// Table cells are read with relaxed atomic loads: a recogniser may rewrite
// some of its shared cells while another thread reads them (the DNS name
// recogniser does), and on every target this is an ordinary byte load.
#pragma once

#include <atomic>
#include <cstdint>

class qzStateMachine
{
public:
    qzStateMachine();
    virtual ~qzStateMachine();

    // Consumes one character; false once the machine is (or becomes) dead.
    // A dead machine does not count further characters.
    virtual bool addChar(char inChar);

    // Feeds inLength bytes through the virtual addChar, stopping at the first
    // rejection; when every byte was taken, answers isLegalEnd.
    virtual bool addBuffer(const char* inBuffer, std::uint32_t inLength);

    // True when the current state is one of the accepting states.
    virtual bool isLegalEnd() const;

    // Characters consumed, the first rejected one included.
    virtual std::uint32_t getCharCount() const;

    // Installs the table set; meant to be called once by the derived
    // constructor. Each failed precondition is reported by assertion and the
    // call then leaves the machine as it was.
    void setTable(const std::int8_t* theTable, const std::uint8_t* theInputs,
                  const std::int8_t* theLegalEnds, std::uint32_t numStates, std::uint32_t numTokens,
                  std::uint32_t numLegalEnds);

    // Writes the table set to the debug trace (verbosity 1), transposed: one
    // line per allowed character, one column per state. Lines end in "\r".
    void dumpTable() const;

protected:
    // The base accept test, for derived classes that add their own rules.
    bool isAcceptingState() const;

    // One transition of an installed, live machine: what the base addChar
    // does once it has checked both. Inline so that an override can take the
    // base step without a further call per character.
    bool stepChar(char inChar)
    {
        ++itsCharCount;
        const std::uint8_t theClass = loadCell(itsInputs + static_cast<std::uint8_t>(inChar));
        // A class or state outside the installed table would read past it;
        // a malformed table rejects instead.
        if (theClass >= itsNumTokens)
        {
            itsState = 0;
            return false;
        }
        const std::uint32_t curRow = static_cast<std::uint8_t>(itsState);
        const std::int8_t theNext = loadCell(itsTable + curRow * itsNumTokens + theClass);
        itsState = static_cast<std::uint8_t>(theNext) < itsNumStates ? theNext : std::int8_t(0);
        return itsState != 0;
    }

    // A relaxed load of one table cell (see above for why cells are loaded
    // atomically). The cell is never written through this reference.
    template <class T>
    static T loadCell(const T* inCell)
    {
        return std::atomic_ref<T>(*const_cast<T*>(inCell)).load(std::memory_order_relaxed);
    }

    const std::int8_t* itsTable;
    const std::uint8_t* itsInputs;
    const std::int8_t* itsLegalEnds;
    std::uint32_t itsNumStates;
    std::uint32_t itsNumTokens;
    std::uint32_t itsNumLegalEnds;
    std::uint32_t itsCharCount;
    std::int8_t itsState;
};
