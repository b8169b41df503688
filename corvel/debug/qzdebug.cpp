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
    int theLength =
        std::snprintf(theBuffer, sizeof theBuffer,
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

namespace
{
// The buffers a trace formats into: each thread keeps its own and uses it
// for the trace it is in; a trace made while one is in progress on the same
// thread (by a log callback) gets buffers of its own, so neither overwrites
// the other's text. The kept ones are plain thread storage, usable up to
// the thread's very end.
thread_local int theTraceDepth = 0;
thread_local int theTextDepth = 0;
thread_local char theKeptTrace[theTraceBufferSize];

struct DepthGuard
{
    explicit DepthGuard(int& ioDepth) : itsDepth(ioDepth) { ++itsDepth; }
    ~DepthGuard() { --itsDepth; }
    int& itsDepth;
};

// This thread's kept line, or null once the thread is ending and it is gone.
thread_local bool theKeptLineGone = false;
std::string* keptLine()
{
    struct Kept
    {
        std::string itsText;
        ~Kept() { theKeptLineGone = true; }
    };
    if (theKeptLineGone)
        return nullptr;
    thread_local Kept theKept;
    return &theKept.itsText;
}
} // namespace

void trace(std::uint8_t inVerbosity, const char* inFile, std::int32_t inLine, const char* inFormat,
           ...)
{
    if (inVerbosity > qzTraceThreshold)
        return;
    const DepthGuard theDepth(theTraceDepth);
    qzAlloc theNested(nullptr, 0);
    if (theTraceDepth > 1)
        theNested.allocate(theTraceBufferSize, true);
    char* const theText = theTraceDepth > 1 ? theNested.getChars() : theKeptTrace;
    va_list theArgs;
    va_start(theArgs, inFormat);
    std::vsnprintf(theText, theTraceBufferSize, inFormat, theArgs);
    va_end(theArgs);
    traceText(inVerbosity, inFile, inLine, theText);
}

void traceText(std::uint8_t inVerbosity, const char* inFile, std::int32_t /*inLine*/,
               const char* inText)
{
    if (inVerbosity > qzTraceThreshold || isTraceFiltered(inFile))
        return;
    const DepthGuard theDepth(theTextDepth);
    std::string theNested;
    std::string* theKept = theTextDepth > 1 ? nullptr : keptLine();
    std::string& theText = theKept ? *theKept : theNested;
    theText.assign("* ");
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
