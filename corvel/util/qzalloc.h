// qzAlloc: an owning heap byte buffer, freed when the object goes out of
// scope.
//
// Allocation comes in two modes: with the throw flag a failure traces
// "throwing bad_alloc" and throws std::bad_alloc; without it the result says
// whether a buffer is held. grow keeps the contents and never shrinks.
#pragma once

#include <cstdint>

class qzAlloc
{
public:
    qzAlloc(std::uint32_t inSize, bool inThrow);
    // Adopts inData (allocated with new[]) without copying.
    qzAlloc(std::uint8_t* inData, std::uint32_t inSize);
    virtual ~qzAlloc();

    qzAlloc(const qzAlloc&) = delete;
    qzAlloc& operator=(const qzAlloc&) = delete;

    // Frees any current buffer, then allocates inSize bytes (not initialised).
    bool allocate(std::uint32_t inSize, bool inThrow);
    // Grows to inSize keeping the old contents; true without change when the
    // buffer is already at least that large. A failed non-throwing grow
    // leaves the old buffer in place and returns false.
    bool grow(std::uint32_t inSize, bool inThrow);
    // Releases the current buffer and adopts inData (allocated with new[]).
    void attach(std::uint8_t* inData, std::uint32_t inSize);
    void release();

    std::uint8_t* getData() const;
    char* getChars() const { return reinterpret_cast<char*>(getData()); }
    std::uint32_t getSize() const { return itsSize; }
    bool hasData() const { return itsData != nullptr; }

private:
    std::uint8_t* itsData = nullptr;
    std::uint32_t itsSize = 0;
};
