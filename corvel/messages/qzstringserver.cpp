#include "corvel/messages/qzstringserver.h"

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinitorder.h"

qzStringServer theStringServer QZ_INIT_ORDER(QZ_INIT_STRING_SERVER);

qzStringServer::qzStringServer() = default;

qzStringServer::~qzStringServer() = default;

const char* qzStringServer::getString(std::uint32_t inRef) const
{
    if (inRef == 0)
        return "";
    const auto theIter = itsStrMap.find(inRef);
    qzAssert(itsStrMap.find(inRef) != itsStrMap.end());
    if (theIter == itsStrMap.end() || theIter->second == nullptr)
        return "";
    return theIter->second;
}

const char*& qzStringServer::addString(std::uint32_t inRef, const char* inText)
{
    qzAssert(inRef != 0);
    if (inRef == 0)
        return itsRefused;
    qzAssert(itsStrMap.find(inRef) == itsStrMap.end());
    const char*& theSlot = itsStrMap[inRef];
    theSlot = inText;
    return theSlot;
}

const char*& qzStringServer::addString(const qzStringEntry& inEntry)
{
    return addString(inEntry.itsRef, inEntry.itsText);
}

std::uint32_t qzStringServer::addStrings(const qzStringEntry* inTable)
{
    std::uint32_t theLast = 0;
    if (inTable == nullptr)
        return theLast;
    for (const qzStringEntry* curEntry = inTable; curEntry->itsRef != 0; ++curEntry)
    {
        const auto iter = itsStrMap.find(curEntry->itsRef);
        qzAssert(iter == itsStrMap.end());
        itsStrMap[curEntry->itsRef] = curEntry->itsText;
        theLast = curEntry->itsRef;
    }
    return theLast;
}
