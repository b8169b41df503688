// The table-driven engine, exercised through a tiny table set of its own so
// that the engine's rules are tested apart from any recogniser.
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "tests/support/log_capture.h"
#include "corvel/util/qzstatemachine.h"

namespace
{
using TraceCapture = LogCapture;
// Three states over three classes: "a" (and the control byte 7 and the byte
// 0xE9) are class 1, "b" class 2. From the start "a" leads to 2; in 2 "a"
// stays and "b" goes back to 1. State 2 is the only accepting state.
const std::int8_t theTinyTable[3 * 3] = {
    0, 0, 0, // 0: dead
    0, 2, 0, // 1: start
    0, 2, 1, // 2
};
const std::int8_t theTinyLegalEnds[1] = {2};

struct TinyInputs
{
    std::uint8_t itsInputs[256] = {};
    TinyInputs()
    {
        itsInputs[7] = 1;
        itsInputs[static_cast<unsigned char>('a')] = 1;
        itsInputs[static_cast<unsigned char>('b')] = 2;
        itsInputs[0xE9] = 1;
    }
};
const TinyInputs theTinyInputs;

class TinyMachine : public qzStateMachine
{
public:
    TinyMachine() { setTable(theTinyTable, theTinyInputs.itsInputs, theTinyLegalEnds, 3, 3, 1); }
    void installAgain(const std::int8_t* inTable, const std::uint8_t* inInputs,
                      const std::int8_t* inLegalEnds, std::uint32_t inStates,
                      std::uint32_t inTokens, std::uint32_t inEnds)
    {
        setTable(inTable, inInputs, inLegalEnds, inStates, inTokens, inEnds);
    }
    std::int8_t state() const { return itsState; }
};

// Counts what reaches the overridable addChar.
class CountingMachine : public TinyMachine
{
public:
    bool addChar(char inChar) override
    {
        ++itsCalls;
        return TinyMachine::addChar(inChar);
    }
    int itsCalls = 0;
};

// A machine that never installs tables.
class BareMachine : public qzStateMachine
{
public:
    void install(const std::int8_t* inTable, const std::uint8_t* inInputs,
                 const std::int8_t* inLegalEnds, std::uint32_t inStates, std::uint32_t inTokens,
                 std::uint32_t inEnds)
    {
        setTable(inTable, inInputs, inLegalEnds, inStates, inTokens, inEnds);
    }
};

bool reported(const TraceCapture& inLog, const std::string& inCondition)
{
    return !inLog.containing("Offending command: \"" + inCondition + "\"").empty();
}
} // namespace

TEST(StateMachineFeeding, AcceptsAndRejectsByTable)
{
    EXPECT_TRUE(TinyMachine().addBuffer("a", 1));
    EXPECT_TRUE(TinyMachine().addBuffer("aaba", 4));
    EXPECT_FALSE(TinyMachine().addBuffer("ab", 2)) << "ends in state 1, not accepting";
    EXPECT_FALSE(TinyMachine().addBuffer("b", 1));
    EXPECT_FALSE(TinyMachine().addBuffer("ax", 2));
    // Length 0 answers for the start state, which is not accepting here.
    EXPECT_FALSE(TinyMachine().addBuffer("", 0));
    EXPECT_FALSE(TinyMachine().addBuffer(nullptr, 0));
}

TEST(StateMachineFeeding, DeadMachineStaysDeadAndStopsCounting)
{
    TinyMachine theMachine;
    EXPECT_TRUE(theMachine.addChar('a'));
    EXPECT_FALSE(theMachine.addChar('x'));
    EXPECT_EQ(2u, theMachine.getCharCount()) << "the rejected character is counted";
    EXPECT_EQ(0, theMachine.state());
    EXPECT_FALSE(theMachine.addChar('a'));
    EXPECT_FALSE(theMachine.addChar('b'));
    EXPECT_EQ(2u, theMachine.getCharCount());
    EXPECT_FALSE(theMachine.isLegalEnd());
}

TEST(StateMachineFeeding, AddBufferGoesThroughOverrideAndStopsAtFirstRejection)
{
    CountingMachine theMachine;
    EXPECT_FALSE(theMachine.addBuffer("axaaaa", 6));
    EXPECT_EQ(2, theMachine.itsCalls);
    EXPECT_EQ(2u, theMachine.getCharCount());

    CountingMachine theWhole;
    EXPECT_TRUE(theWhole.addBuffer("aaaa", 4));
    EXPECT_EQ(4, theWhole.itsCalls);
}

TEST(StateMachineFeeding, HighBytesIndexClassTableAsUnsigned)
{
    // 0xE9 is class 1 in the tiny table; read as a negative index it would
    // land outside the class table (and be caught by the sanitizer build).
    const char theText[] = {static_cast<char>(0xE9), 'a', static_cast<char>(0xE9)};
    EXPECT_TRUE(TinyMachine().addBuffer(theText, 3));
    const char theOther[] = {'a', static_cast<char>(0xEA)};
    EXPECT_FALSE(TinyMachine().addBuffer(theOther, 2));
    const char theEmbeddedNul[] = {'a', '\0', 'a'};
    EXPECT_FALSE(TinyMachine().addBuffer(theEmbeddedNul, 3));
}

TEST(StateMachineSetup, FreshMachineReportsWhenFedWithoutTables)
{
    TraceCapture theLog;
    BareMachine theMachine;
    EXPECT_EQ(0u, theMachine.getCharCount());
    EXPECT_FALSE(theMachine.isLegalEnd());
    EXPECT_FALSE(theMachine.addChar('a'));
    EXPECT_TRUE(reported(theLog, "itsTable != 0"));
    theLog.clear();
    EXPECT_FALSE(theMachine.addBuffer("aa", 2));
    EXPECT_TRUE(reported(theLog, "itsTable != 0"));
    EXPECT_EQ(0u, theMachine.getCharCount());
}

TEST(StateMachineSetup, SecondInstallIsReportedAndRefused)
{
    TraceCapture theLog;
    TinyMachine theMachine;
    EXPECT_TRUE(theLog.containing("Assertion failed").empty());
    EXPECT_TRUE(theMachine.addChar('a')); // now in state 2
    const std::int8_t theOtherTable[2 * 1] = {0, 0};
    const std::uint8_t theOtherInputs[256] = {};
    const std::int8_t theOtherEnds[1] = {1};
    theMachine.installAgain(theOtherTable, theOtherInputs, theOtherEnds, 2, 1, 1);
    EXPECT_TRUE(reported(theLog, "itsTable == 0"));
    // The original tables still drive the machine.
    EXPECT_TRUE(theMachine.addChar('a'));
    EXPECT_TRUE(theMachine.isLegalEnd());
}

TEST(StateMachineSetup, NullTablesAndZeroCountsAreReportedAndRefused)
{
    TraceCapture theLog;
    {
        BareMachine theMachine;
        theMachine.install(theTinyTable, nullptr, theTinyLegalEnds, 3, 3, 1);
        EXPECT_TRUE(reported(theLog, "(theTable != 0) && (theInputs != 0) && (theLegalEnds != 0)"));
        EXPECT_FALSE(theMachine.addChar('a'));
    }
    theLog.clear();
    {
        BareMachine theMachine;
        theMachine.install(theTinyTable, theTinyInputs.itsInputs, theTinyLegalEnds, 3, 0, 1);
        EXPECT_TRUE(reported(theLog, "(numStates > 0) && (numTokens > 0) && (numLegalEnds > 0)"));
        EXPECT_FALSE(theMachine.addChar('a'));
        // Refused, so a correct install afterwards is still the first one.
        theLog.clear();
        theMachine.install(theTinyTable, theTinyInputs.itsInputs, theTinyLegalEnds, 3, 3, 1);
        EXPECT_TRUE(theLog.containing("Assertion failed").empty());
        EXPECT_TRUE(theMachine.addBuffer("a", 1));
    }
}

TEST(StateMachineSetup, MalformedTableRejectsInsteadOfReadingOutside)
{
    // Class 5 in a table of 3 columns, and a cell naming state 9 of 3.
    static std::uint8_t theBadInputs[256] = {};
    theBadInputs[static_cast<unsigned char>('x')] = 5;
    theBadInputs[static_cast<unsigned char>('a')] = 1;
    static const std::int8_t theBadTable[3 * 3] = {0, 0, 0, 0, 9, 0, 0, 0, 0};
    BareMachine theMachine;
    theMachine.install(theBadTable, theBadInputs, theTinyLegalEnds, 3, 3, 1);
    EXPECT_FALSE(theMachine.addChar('x'));
    BareMachine theOther;
    theOther.install(theBadTable, theBadInputs, theTinyLegalEnds, 3, 3, 1);
    EXPECT_FALSE(theOther.addChar('a'));
    EXPECT_FALSE(theOther.addChar('a'));
}

TEST(StateMachineDump, TransposedLayoutWithCarriageReturns)
{
    TraceCapture theLog;
    TinyMachine().dumpTable();
    const std::string theExpected = "* XXXXXX\t0\t1\t2\t\r"
                                    "1 (7)\t0\t2\t2\t\r"
                                    "1 (a)\t0\t2\t2\t\r"
                                    "2 (b)\t0\t0\t1\t\r"
                                    "1 (\xE9)\t0\t2\t2\t\r"
                                    "Legal ends: 2\t\r";
    const std::vector<std::string> theLines = theLog.containing("XXXXXX");
    ASSERT_EQ(1u, theLines.size());
    EXPECT_EQ(theExpected, theLines[0]);
    EXPECT_EQ(std::string::npos, theLines[0].find('\n'));
}

TEST(StateMachineDump, WithoutTablesReportsAndWritesNothing)
{
    TraceCapture theLog;
    BareMachine().dumpTable();
    EXPECT_TRUE(reported(theLog, "itsTable != 0"));
    EXPECT_TRUE(theLog.containing("XXXXXX").empty());
}
