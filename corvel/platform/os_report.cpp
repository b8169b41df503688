#include "corvel/platform/os_report.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace corvel::platform
{

namespace
{

constexpr std::size_t kReportSize = 10240;

// Set once at start-up by the framework, read on any thread.
std::atomic<void (*)(std::int32_t, const char*)> theLog{nullptr};
std::atomic<void (*)(std::uint8_t, const char*, std::int32_t, const char*)> theTrace{nullptr};

} // namespace

void setReporter(const Reporter& inReporter)
{
    theLog.store(inReporter.itsLog, std::memory_order_release);
    theTrace.store(inReporter.itsTrace, std::memory_order_release);
}

void reportLog(std::int32_t inLevel, const char* inFormat, ...)
{
    std::vector<char> theText(kReportSize);
    va_list theArgs;
    va_start(theArgs, inFormat);
    std::vsnprintf(theText.data(), theText.size(), inFormat, theArgs);
    va_end(theArgs);
    if (auto theSink = theLog.load(std::memory_order_acquire))
        theSink(inLevel, theText.data());
    else
        std::fprintf(stderr, "%s\n", theText.data());
}

void reportTrace(std::uint8_t inVerbosity, const char* inFile, std::int32_t inLine,
                 const char* inFormat, ...)
{
    // Only verbosity 0 and 1 are ever shown: nothing else is formatted.
    if (inVerbosity > 1)
        return;
    std::vector<char> theText(kReportSize);
    va_list theArgs;
    va_start(theArgs, inFormat);
    std::vsnprintf(theText.data(), theText.size(), inFormat, theArgs);
    va_end(theArgs);
    if (auto theSink = theTrace.load(std::memory_order_acquire))
        theSink(inVerbosity, inFile, inLine, theText.data());
    else
        std::fprintf(stderr, "* %s\n", theText.data());
}

} // namespace corvel::platform
