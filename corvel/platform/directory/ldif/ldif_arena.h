// Contiguous storage for the text of a loaded directory: DNs, their keys and
// attribute values are copied in once and referred to by string_view.
//
// Text is appended to blocks (growing to 2 MB, ldif_memory.h) and never
// moves, so a view stays valid for the life of the arena (and of any arena
// it is moved into). One arena per loading thread; the directory keeps them all.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "corvel/platform/directory/ldif/ldif_memory.h"

namespace corvel::directory::ldif
{

class TextArena
{
public:
    TextArena() = default;
    TextArena(TextArena&&) = default;
    TextArena& operator=(TextArena&&) = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // A copy of inText that lives as long as the arena.
    std::string_view add(std::string_view inText)
    {
        if (inText.empty())
            return std::string_view();
        char* theCopy = allocate(inText.size());
        std::memcpy(theCopy, inText.data(), inText.size());
        return std::string_view(theCopy, inText.size());
    }

    // inSize bytes for the caller to fill.
    char* allocate(std::size_t inSize)
    {
        if (inSize > itsLeft)
        {
            // A text larger than a block gets a block of its own, so the
            // space left in the current one is not wasted.
            if (inSize > theBlockSize / 4)
            {
                itsBlocks.push_back(makeLargeArray<char>(inSize));
                itsBytes += inSize;
                return itsBlocks.back().get();
            }
            // Blocks grow with the arena, so a small directory stays small.
            const std::size_t theSize =
                std::max(inSize, std::min(theBlockSize, std::max(theFirstBlockSize, itsBytes)));
            itsBlocks.push_back(makeLargeArray<char>(theSize));
            itsBytes += theSize;
            itsNext = itsBlocks.back().get();
            itsLeft = theSize;
        }
        char* theResult = itsNext;
        itsNext += inSize;
        itsLeft -= inSize;
        return theResult;
    }

    // Takes over inOther's blocks; views into them stay valid.
    void adopt(TextArena&& inOther)
    {
        for (auto& curBlock : inOther.itsBlocks)
            itsBlocks.push_back(std::move(curBlock));
        itsBytes += inOther.itsBytes;
        inOther.itsBlocks.clear();
        inOther.itsBytes = 0;
        inOther.itsNext = nullptr;
        inOther.itsLeft = 0;
    }

    std::size_t bytes() const { return itsBytes; }

private:
    static constexpr std::size_t theBlockSize = theLargePage;
    static constexpr std::size_t theFirstBlockSize = std::size_t(64) << 10;

    std::vector<LargeArray<char>> itsBlocks;
    char* itsNext = nullptr;
    std::size_t itsLeft = 0;
    std::size_t itsBytes = 0;
};

} // namespace corvel::directory::ldif
