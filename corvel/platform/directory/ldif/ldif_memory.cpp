#include "corvel/platform/directory/ldif/ldif_memory.h"

#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace corvel::directory::ldif
{

void* allocateLarge(std::size_t inBytes)
{
    if (inBytes < theLargePage)
    {
        void* theBlock = std::malloc(inBytes == 0 ? 1 : inBytes);
        if (!theBlock)
            throw std::bad_alloc();
        return theBlock;
    }
    const std::size_t theBytes = (inBytes + theLargePage - 1) / theLargePage * theLargePage;
    void* theBlock = std::aligned_alloc(theLargePage, theBytes);
    if (!theBlock)
        throw std::bad_alloc();
    // Advice only: without large pages the memory works the same.
    ::madvise(theBlock, theBytes, MADV_HUGEPAGE);
    return theBlock;
}

void freeLarge(void* inBlock) { std::free(inBlock); }

} // namespace corvel::directory::ldif
