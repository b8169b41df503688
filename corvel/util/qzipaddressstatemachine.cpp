#include "corvel/util/qzipaddressstatemachine.h"

#include "corvel/debug/qzdebug.h"

namespace
{
constexpr std::uint32_t theNumStates = 21;
constexpr std::uint32_t theNumTokens = 20;
constexpr std::uint32_t theNumLegalEnds = 8;

// States with a meaning of their own outside the table.
constexpr std::int8_t theSuffixStartState = 7; // a lone "i" at the start of an octet
constexpr std::int8_t theArpaState = 19;
constexpr std::int8_t theWildcardState = 20;

// Classes: the suffix letters, "-", "." and "*", then the ten digits.
enum : std::uint8_t
{
    classI = 1,
    classN = 2,
    classDash = 3,
    classDot = 4,
    classStar = 5,
    classA = 6,
    classD = 7,
    classR = 8,
    classP = 9,
    classDigit0 = 10
};

struct IPTables
{
    std::int8_t itsTable[theNumStates * theNumTokens] = {};
    std::uint8_t itsInputs[256] = {};
    std::int8_t itsLegalEnds[theNumLegalEnds] = {2, 3, 4, 5, 6, 7, 19, 20};

    void set(int inState, std::uint8_t inClass, int inNext)
    {
        itsTable[inState * theNumTokens + inClass] = static_cast<std::int8_t>(inNext);
    }
    void setDigits(int inState, int inFirst, int inLast, int inNext)
    {
        for (int curDigit = inFirst; curDigit <= inLast; ++curDigit)
            set(inState, static_cast<std::uint8_t>(classDigit0 + curDigit), inNext);
    }

    IPTables()
    {
        itsInputs[static_cast<unsigned char>('i')] = classI;
        itsInputs[static_cast<unsigned char>('n')] = classN;
        itsInputs[static_cast<unsigned char>('-')] = classDash;
        itsInputs[static_cast<unsigned char>('.')] = classDot;
        itsInputs[static_cast<unsigned char>('*')] = classStar;
        itsInputs[static_cast<unsigned char>('a')] = classA;
        itsInputs[static_cast<unsigned char>('d')] = classD;
        itsInputs[static_cast<unsigned char>('r')] = classR;
        itsInputs[static_cast<unsigned char>('p')] = classP;
        for (int curDigit = 0; curDigit <= 9; ++curDigit)
            itsInputs[static_cast<unsigned char>('0' + curDigit)] =
                static_cast<std::uint8_t>(classDigit0 + curDigit);

        // 1: start of an octet.
        setDigits(1, 0, 1, 3);
        setDigits(1, 2, 2, 2);
        setDigits(1, 3, 9, 4);
        set(1, classStar, theWildcardState);
        set(1, classI, theSuffixStartState);
        // 2: the octet so far is 2.
        setDigits(2, 0, 4, 4);
        setDigits(2, 5, 5, 5);
        setDigits(2, 6, 9, 6);
        set(2, classDot, 1);
        // 3: the octet so far is 0 or 1; two more digits allowed.
        setDigits(3, 0, 9, 4);
        set(3, classDot, 1);
        // 4: one more digit allowed.
        setDigits(4, 0, 9, 6);
        set(4, classDot, 1);
        // 5: the octet so far is 25.
        setDigits(5, 0, 5, 6);
        set(5, classDot, 1);
        // 6: the octet is complete.
        set(6, classDot, 1);
        // 7 to 19: the suffix "in-addr.arpa." letter by letter.
        set(7, classN, 8);
        set(8, classDash, 9);
        set(9, classA, 10);
        set(10, classD, 11);
        set(11, classD, 12);
        set(12, classR, 13);
        set(13, classDot, 14);
        set(14, classA, 15);
        set(15, classR, 16);
        set(16, classP, 17);
        set(17, classA, 18);
        set(18, classDot, theArpaState);
    }
};

const IPTables& ipTables()
{
    // Built on first use; the language makes the first construction safe
    // when two threads arrive together.
    static const IPTables theTables;
    return theTables;
}
} // namespace

qzIPAddressStateMachine::qzIPAddressStateMachine(bool inUnderstandArpaFormat, bool inAllowWildcard)
    : itsUnderstandArpaFormatFlag(inUnderstandArpaFormat), itsAllowWildcardFlag(inAllowWildcard),
      itsDotCount(0)
{
    qzAssert(!itsUnderstandArpaFormatFlag || !itsAllowWildcardFlag);
    const IPTables& theTables = ipTables();
    setTable(theTables.itsTable, theTables.itsInputs, theTables.itsLegalEnds, theNumStates,
             theNumTokens, theNumLegalEnds);
}

qzIPAddressStateMachine::~qzIPAddressStateMachine() = default;

bool qzIPAddressStateMachine::addChar(char inChar)
{
    if (inChar == '.')
        ++itsDotCount;
    // The base addChar, without a second call per character.
    if (itsTable == nullptr || itsState == 0)
        return qzStateMachine::addChar(inChar);
    return stepChar(inChar);
}

bool qzIPAddressStateMachine::isLegalEnd() const
{
    if (!isAcceptingState())
        return false;
    if (itsState == theArpaState)
        return itsUnderstandArpaFormatFlag && itsDotCount == 6;
    if (itsState == theWildcardState)
        return itsAllowWildcardFlag && itsDotCount < 4;
    // A lone "i" is only the start of the reverse suffix, never an octet:
    // 1.2.3.i is no address.
    if (itsState == theSuffixStartState)
        return false;
    return itsDotCount == 3;
}

bool qzIPAddressStateMachine::isPartialAddress() const
{
    return getCharCount() != 0 && isAcceptingState() && itsState != theSuffixStartState &&
           itsDotCount < 4;
}

bool qzIPAddressStateMachine::isArpaAddress() const
{
    return isLegalEnd() && itsState == theArpaState;
}

bool qzIPAddressStateMachine::isWildcardAddress() const
{
    return isLegalEnd() && itsState == theWildcardState;
}
