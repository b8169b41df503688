// How the porting layer reports what it does and what went wrong.
//
// The platform calls nothing above it: it reports through a reporter that
// the framework plugs in (the information log and the debug trace, see
// corvel/debug). Until one is plugged in, and in a program built on the
// platform alone, lines go to standard error as they are.
#pragma once

#include <cstdint>

namespace corvel::platform
{

// The information log's levels (smaller is more severe).
enum ReportLevel : std::int32_t
{
    Report_error = 0,
    Report_notice = 1,
    Report_warning = 2,
    Report_info = 3,
    Report_debug = 5,
};

struct Reporter
{
    // A log entry of the given level, already formatted.
    void (*itsLog)(std::int32_t inLevel, const char* inText) = nullptr;
    // A debug trace line of the given verbosity from inFile:inLine.
    void (*itsTrace)(std::uint8_t inVerbosity, const char* inFile, std::int32_t inLine,
                     const char* inText) = nullptr;
};

// Plugs in the reporter; a null function keeps standard error for that kind.
void setReporter(const Reporter& inReporter);

// printf-style; entries longer than 10239 bytes are cut.
void reportLog(std::int32_t inLevel, const char* inFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void reportTrace(std::uint8_t inVerbosity, const char* inFile, std::int32_t inLine,
                 const char* inFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

} // namespace corvel::platform

// A trace line of the porting layer, with its source file and line.
#define osTrace(verbosity, ...)                                                                    \
    ::corvel::platform::reportTrace((verbosity), __FILE__, __LINE__, __VA_ARGS__)
