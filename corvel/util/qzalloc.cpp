#include "corvel/util/qzalloc.h"

#include <cstring>
#include <new>

#include "corvel/debug/qzdebug.h"
#include "corvel/messages/qzerrormessage.h"

static std::uint8_t* allocateBytes(std::uint32_t inSize, bool inThrow)
{
    if (!inThrow)
        return new (std::nothrow) std::uint8_t[inSize];
    std::uint8_t* theData = new (std::nothrow) std::uint8_t[inSize];
    if (theData == nullptr)
        qzThrowBadAlloc();
    return theData;
}

qzAlloc::qzAlloc(std::uint32_t inSize, bool inThrow) { allocate(inSize, inThrow); }

qzAlloc::qzAlloc(std::uint8_t* inData, std::uint32_t inSize) : itsData(inData), itsSize(inSize) {}

qzAlloc::~qzAlloc() { release(); }

bool qzAlloc::allocate(std::uint32_t inSize, bool inThrow)
{
    qzAssert(inSize);
    release();
    itsSize = inSize;
    itsData = allocateBytes(inSize, inThrow);
    return itsData != nullptr;
}

bool qzAlloc::grow(std::uint32_t inSize, bool inThrow)
{
    if (itsSize >= inSize && itsData != nullptr)
        return true;
    std::uint8_t* theData = allocateBytes(inSize, inThrow);
    if (theData == nullptr)
        return false;
    if (itsData != nullptr)
        std::memcpy(theData, itsData, itsSize);
    delete[] itsData;
    itsData = theData;
    itsSize = inSize;
    return true;
}

void qzAlloc::attach(std::uint8_t* inData, std::uint32_t inSize)
{
    release();
    itsData = inData;
    itsSize = inSize;
}

void qzAlloc::release()
{
    if (itsData != nullptr)
    {
        delete[] itsData;
        itsData = nullptr;
        itsSize = 0;
    }
}

std::uint8_t* qzAlloc::getData() const
{
    qzAssert(itsData);
    return itsData;
}
