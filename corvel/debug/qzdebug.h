// Assertions and the debug trace.
//
// Both end in the information log at the debug level (qzLogDebug) with the
// text prefixed "* ". A trace carries a verbosity; only verbosity 0 and 1 pass
// the fixed trace threshold, so verbosity 2 traces are never formatted.
//
// qzAssert(cond) evaluates cond once; when it is false it reports
//   Assertion failed.  File: <file>, line: <line>.  Offending command: "<cond>".
// through the trace, breaks into the debugger when one is attached, and then
// execution goes on as if the condition had held.
#pragma once

#include <cstdint>

// The fixed verbosity limit of the trace; there is no way to change it.
inline constexpr std::uint8_t qzTraceThreshold = 1;

// Formats the report into this thread's 1024-byte assertion buffer (an
// over-long report is truncated), emits it through traceText at verbosity 1
// and returns the buffer, valid until the next report on this thread.
// inExtra may be null; when given, " --- <extra>." follows the report.
const char* assertReport(const char* inFile, long inLine, const char* inCommand,
                         const char* inExtra);

// printf-style trace line. Nothing is formatted when inVerbosity exceeds the
// threshold. The text is formatted into a 10240-byte buffer (truncated when
// longer): the calling thread's own, kept from line to line; a trace made
// while another is being written on the thread (from a log callback) gets
// one from qzAlloc, whose exhaustion throws std::bad_alloc.
void trace(std::uint8_t inVerbosity, const char* inFile, std::int32_t inLine, const char* inFormat,
           ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// Emits "* " + inText at qzLogDebug unless the verbosity exceeds the threshold
// or the file is filtered. File and line only serve the filter.
void traceText(std::uint8_t inVerbosity, const char* inFile, std::int32_t inLine,
               const char* inText);

// trace of "==============[File: <file>  Line: <line>]==============".
void traceLocation(std::uint8_t inVerbosity, const char* inFile, std::uint32_t inLine);

// Hook for silencing traces per source file; no file is filtered.
bool isTraceFiltered(const char* inFile);

// Breaks into the debugger if one is attached to the process; otherwise does
// nothing, so a program run without a debugger keeps running.
void qzDebugBreak();

#define qzAssert(cond)                                                                             \
    do                                                                                             \
    {                                                                                              \
        if (!(cond))                                                                               \
        {                                                                                          \
            assertReport(__FILE__, __LINE__, #cond, nullptr);                                      \
            qzDebugBreak();                                                                        \
        }                                                                                          \
    } while (0)

// The same with an extra text appended to the report.
#define qzAssertText(cond, extra)                                                                  \
    do                                                                                             \
    {                                                                                              \
        if (!(cond))                                                                               \
        {                                                                                          \
            assertReport(__FILE__, __LINE__, #cond, (extra));                                      \
            qzDebugBreak();                                                                        \
        }                                                                                          \
    } while (0)

// Trace with the caller's file and line.
#define qzTrace(verbosity, ...) trace((verbosity), __FILE__, __LINE__, __VA_ARGS__)
