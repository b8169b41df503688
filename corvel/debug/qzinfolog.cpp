#include "corvel/debug/qzinfolog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <list>
#include <string>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinitorder.h"
#include "corvel/platform/os_files.h"
#include "corvel/platform/os_report.h"
#include "corvel/platform/os_time.h"
#include "corvel/threads/qzmutex.h"
#include "corvel/threads/qzthread.h"
#include "corvel/util/qzalloc.h"
#include "corvel/util/qzdate.h"

namespace
{
constexpr std::uint32_t theFormatBufferSize = 10240;

// Read without the log mutex by design (the level tests of an entry), hence
// relaxed atomics; constant-initialised, so usable before any constructor.
std::atomic<std::int32_t> theDestination{qzLogToStdErr};
std::atomic<std::int32_t> theThreshold{qzLogInfo};
std::atomic<std::int32_t> theHighestCallbackLevel{qzLogError};

// Built during static initialisation in this order, destroyed in reverse.
QZ_INIT_ORDER(QZ_INIT_INFO_LOG) std::string thePrefix;
QZ_INIT_ORDER(QZ_INIT_INFO_LOG) std::list<qzInfoLogCallback> theCallbacks;
QZ_INIT_ORDER(QZ_INIT_INFO_LOG) std::string theFilePath("infoLog.log");
QZ_INIT_ORDER(QZ_INIT_INFO_LOG) qzMemMutex theLogMutex;

// The porting layer reports through this log and the debug trace: plugged
// in with the log's own state, so that no platform line bypasses callbacks,
// threshold or destination.
struct PlatformReporter
{
    PlatformReporter()
    {
        corvel::platform::Reporter theReporter;
        theReporter.itsLog = [](std::int32_t inLevel, const char* inText)
        { writeInfoLog(static_cast<qzInfoLogLevel>(inLevel), inText); };
        theReporter.itsTrace = [](std::uint8_t inVerbosity, const char* inFile, std::int32_t inLine,
                                  const char* inText)
        { traceText(inVerbosity, inFile, inLine, inText); };
        corvel::platform::setReporter(theReporter);
    }
    ~PlatformReporter() { corvel::platform::setReporter(corvel::platform::Reporter{}); }
};
QZ_INIT_ORDER(QZ_INIT_INFO_LOG) PlatformReporter thePlatformReporter;

// The caller's identity for an entry. A nested entry (a callback logging on
// the same thread) reuses what its outer entry looked up, so the log never
// asks the registry while it holds the log mutex.
struct EntryContext
{
    int itsDepth = 0;
    std::uint32_t itsThreadID = 0;
    std::string itsThreadName;
};
thread_local EntryContext theContext;

void appendTwoDigits(std::string& ioText, int inValue)
{
    ioText += static_cast<char>('0' + (inValue / 10) % 10);
    ioText += static_cast<char>('0' + inValue % 10);
}

void appendClock(std::string& ioText, const corvel::platform::LocalTime& inTime)
{
    appendTwoDigits(ioText, inTime.hour);
    ioText += ':';
    appendTwoDigits(ioText, inTime.minute);
    ioText += ':';
    appendTwoDigits(ioText, inTime.second);
}

void appendDecimal(std::string& ioText, std::uint32_t inValue)
{
    char theDigits[10];
    int theCount = 0;
    do
    {
        theDigits[theCount++] = static_cast<char>('0' + inValue % 10);
        inValue /= 10;
    } while (inValue != 0);
    while (theCount > 0)
        ioText += theDigits[--theCount];
}

void appendThreadField(std::string& ioText)
{
    ioText += " [";
    appendDecimal(ioText, theContext.itsThreadID);
    ioText += ' ';
    ioText += theContext.itsThreadName;
    ioText += "] ";
}

// The local time of a line, looked up about once a second per thread: the
// clock shows the same "hh:mm:ss" until the second it was read in is over,
// which the steady clock tells without asking for the local time again. The
// look-up is repeated from a few milliseconds before the second ends, more
// than the wall clock can drift from the steady one in a second.
void appendClockNow(std::string& ioText)
{
    struct Clock
    {
        bool itsValid = false;
        std::chrono::steady_clock::time_point itsUntil;
        corvel::platform::LocalTime itsTime;
    };
    thread_local Clock theClock;
    const auto theNow = std::chrono::steady_clock::now();
    if (!theClock.itsValid || theNow >= theClock.itsUntil)
    {
        theClock.itsTime = corvel::platform::LocalTime();
        corvel::platform::localTimeNow(theClock.itsTime);
        const int theLeft = 996 - std::min(std::max(theClock.itsTime.millisecond, 0), 999);
        theClock.itsUntil = theNow + std::chrono::milliseconds(std::max(theLeft, 0));
        theClock.itsValid = true;
    }
    appendClock(ioText, theClock.itsTime);
}

// The standard error line being written. Writing it calls nothing that
// logs, so one per thread serves every entry; null once the thread is
// ending and it is gone.
thread_local bool theLineGone = false;
std::string* keptLine()
{
    struct Kept
    {
        std::string itsText;
        ~Kept() { theLineGone = true; }
    };
    if (theLineGone)
        return nullptr;
    thread_local Kept theKept;
    theKept.itsText.clear();
    return &theKept.itsText;
}

void writeToStdErr(const char* inText)
{
    std::string theOwn;
    std::string* theKept = keptLine();
    std::string& theLine = theKept ? *theKept : theOwn;
    appendClockNow(theLine);
    appendThreadField(theLine);
    theLine += ' ';
    theLine += inText;
    theLine += '\n';
    corvel::platform::writeStdErr(theLine.data(), theLine.size());
}

void writeToFile(const char* inText)
{
    corvel::platform::LocalTime theNow;
    corvel::platform::localTimeNow(theNow);
    std::string theLine;
    qzDate(1).toString(theLine, 0, false, false);
    theLine += ' ';
    appendClock(theLine, theNow);
    theLine += ' ';
    if (!thePrefix.empty())
    {
        theLine += thePrefix;
        theLine += ": ";
    }
    appendThreadField(theLine);
    theLine += inText;
    theLine += '\n';
    // An entry whose file cannot be opened is lost without a report; the
    // callbacks have already seen it.
    corvel::platform::appendToFile(theFilePath, theLine.data(), theLine.size());
}
} // namespace

void setInfoLog(const char* inPrefix, std::int32_t inDestination)
{
    qzStMutex theLock(&theLogMutex);
    theDestination.store(inDestination, std::memory_order_relaxed);
    thePrefix = inPrefix ? inPrefix : "";
}

void setInfoLogFile(const char* inPrefix, const std::string& inPath)
{
    qzStMutex theLock(&theLogMutex);
    theDestination.store(qzLogToFile, std::memory_order_relaxed);
    thePrefix = inPrefix ? inPrefix : "";
    theFilePath = inPath;
}

void setInfoLogLevel(std::int32_t inLevel)
{
    theThreshold.store(inLevel, std::memory_order_relaxed);
}

std::int32_t getInfoLogLevel() { return theThreshold.load(std::memory_order_relaxed); }

const std::string& getInfoLogFileName() { return theFilePath; }

void addInfoLogCallback(qzInfoLogCallback inCallback, std::int32_t inLevel)
{
    qzStMutex theLock(&theLogMutex);
    if (inLevel > theHighestCallbackLevel.load(std::memory_order_relaxed))
        theHighestCallbackLevel.store(inLevel, std::memory_order_relaxed);
    theCallbacks.push_back(inCallback);
}

void removeInfoLogCallback(qzInfoLogCallback inCallback)
{
    qzStMutex theLock(&theLogMutex);
    theCallbacks.remove(inCallback);
}

void infoLog(qzInfoLogLevel inLevel, const char* inFormat, ...)
{
    qzAlloc theBuffer(theFormatBufferSize, true);
    if (inLevel > theThreshold.load(std::memory_order_relaxed) &&
        inLevel > theHighestCallbackLevel.load(std::memory_order_relaxed))
        return;
    va_list theArgs;
    va_start(theArgs, inFormat);
    std::vsnprintf(theBuffer.getChars(), theFormatBufferSize, inFormat, theArgs);
    va_end(theArgs);
    writeInfoLog(inLevel, theBuffer.getChars());
}

void writeInfoLog(qzInfoLogLevel inLevel, const char* inText)
{
    if (inLevel > theThreshold.load(std::memory_order_relaxed) &&
        inLevel > theHighestCallbackLevel.load(std::memory_order_relaxed))
        return;
    if (inText == nullptr)
        inText = "";

    // Who is calling: looked up before the log mutex is taken (the registry
    // mutex is never requested while the log mutex is held).
    if (theContext.itsDepth == 0)
    {
        theContext.itsThreadID = qzThread::getCurrentThreadID();
        theContext.itsThreadName.clear();
        qzThread::findThreadName(theContext.itsThreadID, theContext.itsThreadName);
    }
    struct DepthGuard
    {
        DepthGuard() { ++theContext.itsDepth; }
        ~DepthGuard() { --theContext.itsDepth; }
    } theDepthGuard;

    qzStMutex theLock(&theLogMutex);

    bool theHandled = false;
    // A callback may add or remove callbacks (the mutex is recursive): walk a
    // copy so that the walk stays valid.
    const std::list<qzInfoLogCallback> theCallbacksNow(theCallbacks);
    for (qzInfoLogCallback curCallback : theCallbacksNow)
    {
        try
        {
            if (curCallback(inLevel, inText))
                theHandled = true;
        }
        catch (...)
        {
            // A failing callback does not stop the entry or the other callbacks.
        }
    }
    if (theHandled || inLevel > theThreshold.load(std::memory_order_relaxed))
        return;

    switch (theDestination.load(std::memory_order_relaxed))
    {
    case qzLogToStdErr:
        writeToStdErr(inText);
        break;
    case qzLogToFile:
        writeToFile(inText);
        break;
    default:
        break;
    }
}

const char* getInfoLogLevelName(std::int32_t inLevel)
{
    switch (inLevel)
    {
    case qzLogError:
        return "error";
    case qzLogNotice:
        return "notice";
    case qzLogWarning:
        return "warning";
    case qzLogInfo:
    case qzLogVerbose:
        return "info";
    case qzLogDebug:
        return "debug";
    default:
        return "";
    }
}
