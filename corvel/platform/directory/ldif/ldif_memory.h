// Memory for the large tables and text blocks of a loaded directory.
//
// A directory of a million entries is hundreds of megabytes reached at
// random (hash tables, DN records): in memory of 2 MB pages one translation
// covers what takes 512 of ordinary pages, so lookups wait far less. Blocks
// of 2 MB and more are aligned for such pages and the system asked to use
// them; smaller ones are ordinary memory.
#pragma once

#include <cstddef>
#include <memory>

namespace corvel::directory::ldif
{

inline constexpr std::size_t theLargePage = std::size_t(2) << 20;

// inBytes of memory (contents undefined); throws std::bad_alloc.
void* allocateLarge(std::size_t inBytes);
void freeLarge(void* inBlock);

struct LargeFree
{
    void operator()(void* inBlock) const { freeLarge(inBlock); }
};

template <class T>
using LargeArray = std::unique_ptr<T[], LargeFree>;

// An array of inCount T for the caller to fill (T trivially copyable).
template <class T>
LargeArray<T> makeLargeArray(std::size_t inCount)
{
    return LargeArray<T>(static_cast<T*>(allocateLarge(inCount * sizeof(T))));
}

} // namespace corvel::directory::ldif
