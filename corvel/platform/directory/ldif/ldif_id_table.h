// A flat hash table from text to a 32-bit id, for the loaded directory's
// DNs, values, attribute names and indexes.
//
// The table holds only (hash, id) pairs in one array (open addressing,
// linear probing, at most half full); the text lives with the caller, who
// hashes it once and says how to compare it with an id already in the
// table. Hashes are computed once per text and kept, so growing the table
// never looks at text again.
//
// Two hashes: hashBytes for text compared byte for byte, hashFolded for
// text compared without regard to ASCII case (DN keys, sAMAccountName);
// foldedEquals is the matching comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "corvel/platform/directory/ldif/ldif_memory.h"

namespace corvel::directory::ldif
{

namespace detail
{

inline std::uint64_t load8(const char* inData)
{
    std::uint64_t theWord;
    std::memcpy(&theWord, inData, 8);
    return theWord;
}

inline std::uint64_t loadTail(const char* inData, std::size_t inSize)
{
    std::uint64_t theWord = 0;
    std::memcpy(&theWord, inData, inSize);
    return theWord;
}

// ASCII 'A'..'Z' to lower case in all eight bytes at once; other bytes,
// including those of 0x80 and above, stay.
inline std::uint64_t foldWord(std::uint64_t inWord)
{
    constexpr std::uint64_t theOnes = 0x0101010101010101ull;
    const std::uint64_t theLow = inWord & (0x7F * theOnes);
    const std::uint64_t theFromA = theLow + (0x80 - 'A') * theOnes;     // high bit: >= 'A'
    const std::uint64_t thePastZ = theLow + (0x80 - 'Z' - 1) * theOnes; // high bit: > 'Z'
    const std::uint64_t theUpper = theFromA & ~thePastZ & ~inWord & (0x80 * theOnes);
    return inWord | (theUpper >> 2);
}

inline std::uint64_t mix(std::uint64_t inHash, std::uint64_t inWord)
{
    inHash ^= inWord;
    inHash *= 0x9E3779B97F4A7C15ull;
    return inHash ^ (inHash >> 29);
}

inline std::uint32_t finish(std::uint64_t inHash)
{
    inHash ^= inHash >> 33;
    inHash *= 0xFF51AFD7ED558CCDull;
    inHash ^= inHash >> 33;
    inHash *= 0xC4CEB9FE1A85EC53ull;
    inHash ^= inHash >> 33;
    return static_cast<std::uint32_t>(inHash);
}

template <bool inFold>
std::uint32_t hashText(std::string_view inText)
{
    std::uint64_t theHash = 0x243F6A8885A308D3ull ^ inText.size();
    std::size_t curPos = 0;
    for (; curPos + 8 <= inText.size(); curPos += 8)
    {
        const std::uint64_t theWord = load8(inText.data() + curPos);
        theHash = mix(theHash, inFold ? foldWord(theWord) : theWord);
    }
    if (curPos < inText.size())
    {
        const std::uint64_t theWord = loadTail(inText.data() + curPos, inText.size() - curPos);
        theHash = mix(theHash, inFold ? foldWord(theWord) : theWord);
    }
    return finish(theHash);
}

} // namespace detail

inline std::uint32_t hashBytes(std::string_view inText) { return detail::hashText<false>(inText); }
inline std::uint32_t hashFolded(std::string_view inText) { return detail::hashText<true>(inText); }

// Equal without regard to ASCII case (as toLowerAscii compares).
inline bool foldedEquals(std::string_view inLeft, std::string_view inRight)
{
    if (inLeft.size() != inRight.size())
        return false;
    std::size_t curPos = 0;
    for (; curPos + 8 <= inLeft.size(); curPos += 8)
        if (detail::foldWord(detail::load8(inLeft.data() + curPos)) !=
            detail::foldWord(detail::load8(inRight.data() + curPos)))
            return false;
    const std::size_t theRest = inLeft.size() - curPos;
    return theRest == 0 || detail::foldWord(detail::loadTail(inLeft.data() + curPos, theRest)) ==
                               detail::foldWord(detail::loadTail(inRight.data() + curPos, theRest));
}

class IdTable
{
public:
    static constexpr std::uint32_t None = 0xFFFFFFFFu;

    IdTable() = default;

    // Room for inCount ids without growing.
    void reserve(std::size_t inCount)
    {
        std::size_t theCapacity = 16;
        while (theCapacity < inCount * 2)
            theCapacity *= 2;
        if (theCapacity > itsCapacity)
            rehash(theCapacity);
    }

    std::size_t size() const { return itsCount; }

    // The id whose text inEquals(id) says is the one hashed to inHash, or None.
    template <class Equals>
    std::uint32_t find(std::uint32_t inHash, Equals&& inEquals) const
    {
        if (itsCapacity == 0)
            return None;
        for (std::size_t curSlot = inHash & itsMask;; curSlot = (curSlot + 1) & itsMask)
        {
            const Slot& theSlot = itsSlots[curSlot];
            if (theSlot.itsId == None)
                return None;
            if (theSlot.itsHash == inHash && inEquals(theSlot.itsId))
                return theSlot.itsId;
        }
    }

    // The id already there for this text, or inNewId, now added.
    template <class Equals>
    std::uint32_t findOrAdd(std::uint32_t inHash, std::uint32_t inNewId, Equals&& inEquals)
    {
        if ((itsCount + 1) * 2 > itsCapacity)
            rehash(itsCapacity == 0 ? 16 : itsCapacity * 2);
        for (std::size_t curSlot = inHash & itsMask;; curSlot = (curSlot + 1) & itsMask)
        {
            Slot& theSlot = itsSlots[curSlot];
            if (theSlot.itsId == None)
            {
                theSlot.itsHash = inHash;
                theSlot.itsId = inNewId;
                ++itsCount;
                return inNewId;
            }
            if (theSlot.itsHash == inHash && inEquals(theSlot.itsId))
                return theSlot.itsId;
        }
    }

    // Adds an id known to be new.
    void add(std::uint32_t inHash, std::uint32_t inId)
    {
        findOrAdd(inHash, inId, [](std::uint32_t) { return false; });
    }

    void release()
    {
        itsSlots.reset();
        itsCapacity = 0;
        itsCount = 0;
        itsMask = 0;
    }

private:
    struct Slot
    {
        std::uint32_t itsHash;
        std::uint32_t itsId;
    };

    void rehash(std::size_t inCapacity)
    {
        LargeArray<Slot> theOld = makeLargeArray<Slot>(inCapacity);
        std::memset(static_cast<void*>(theOld.get()), 0xFF,
                    inCapacity * sizeof(Slot)); // every id None
        std::swap(theOld, itsSlots);
        const std::size_t theOldCapacity = std::exchange(itsCapacity, inCapacity);
        itsMask = inCapacity - 1;
        for (std::size_t curOld = 0; curOld < theOldCapacity; ++curOld)
        {
            const Slot& curSlot = theOld[curOld];
            if (curSlot.itsId == None)
                continue;
            std::size_t curIndex = curSlot.itsHash & itsMask;
            while (itsSlots[curIndex].itsId != None)
                curIndex = (curIndex + 1) & itsMask;
            itsSlots[curIndex] = curSlot;
        }
    }

    LargeArray<Slot> itsSlots;
    std::size_t itsCapacity = 0;
    std::size_t itsMask = 0;
    std::size_t itsCount = 0;
};

} // namespace corvel::directory::ldif
