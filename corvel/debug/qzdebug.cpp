#include "corvel/debug/qzdebug.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/os_debug.h"
#include "corvel/util/qzalloc.h"

namespace
{
constexpr std::size_t theAssertBufferSize = 1024;
constexpr std::uint32_t theTraceBufferSize = 10240;
} // namespace

const char* assertReport(const char* inFile, long inLine, const char* inCommand,
                         const char* inExtra)
{
    // Per thread, so that assertions failing on several threads at once each
    // keep their own report.
    thread_local char theBuffer[theAssertBufferSize];
    int theLength = std::snprintf(theBuffer, sizeof theBuffer,
                                  "Assertion failed.  File: %s, line: %ld.  Offending command: \"%s\".",
                                  inFile ? inFile : "", inLine, inCommand ? inCommand : "");
    if (theLength < 0)
        theLength = 0;
    if (inExtra != nullptr && static_cast<std::size_t>(theLength) < sizeof theBuffer - 1)
        std::snprintf(theBuffer + theLength, sizeof theBuffer - static_cast<std::size_t>(theLength),
                      " --- %s.", inExtra);
    traceText(1, __FILE__, __LINE__, theBuffer);
    return theBuffer;
}

void trace(std::uint8_t inVerbosity, const char* inFile, std::int32_t inLine, const char* inFormat,
           ...)
{
    if (inVerbosity > qzTraceThreshold)
        return;
    qzAlloc theBuffer(theTraceBufferSize, true);
    va_list theArgs;
    va_start(theArgs, inFormat);
    std::vsnprintf(theBuffer.getChars(), theTraceBufferSize, inFormat, theArgs);
    va_end(theArgs);
    traceText(inVerbosity, inFile, inLine, theBuffer.getChars());
}

void traceText(std::uint8_t inVerbosity, const char* inFile, std::int32_t /*inLine*/,
               const char* inText)
{
    if (inVerbosity > qzTraceThreshold || isTraceFiltered(inFile))
        return;
    std::string theText("* ");
    theText += inText ? inText : "";
    writeInfoLog(qzLogDebug, theText.c_str());
}

void traceLocation(std::uint8_t inVerbosity, const char* inFile, std::uint32_t inLine)
{
    trace(inVerbosity, inFile, static_cast<std::int32_t>(inLine),
          "==============[File: %s  Line: %u]==============", inFile, inLine);
}

bool isTraceFiltered(const char* /*inFile*/) { return false; }

void qzDebugBreak() { corvel::platform::debugBreakIfAttached(); }
