// The information log: the framework's one output channel for operational
// messages.
//
// Every entry has a level (smaller is more severe). An entry is offered to the
// registered callbacks first; unless one of them handles it (returns true) and
// as long as it passes the threshold, it is written to the default
// destination: standard error, or appended to a log file ("infoLog.log"
// unless set otherwise). Lines carry the local time and the id and name of
// the calling thread; file lines also carry the date and the prefix.
//
// Process-wide state, serialised by one recursive mutex. A callback may log
// again on the same thread; the inner entry completes before the outer one
// goes on.
#pragma once

#include <cstdint>
#include <string>

enum qzInfoLogLevel : std::int32_t
{
    qzLogError = 0,
    qzLogNotice = 1,
    qzLogWarning = 2,
    qzLogInfo = 3,
    qzLogVerbose = 4,
    qzLogDebug = 5
};

// Destinations.
enum : std::int32_t
{
    qzLogToStdErr = 2,
    qzLogToFile = 3
};

// Returns true when it has handled the entry, so that it is not written to
// the default destination.
typedef bool (*qzInfoLogCallback)(qzInfoLogLevel inLevel, const char* inText);

void setInfoLog(const char* inPrefix, std::int32_t inDestination);
void setInfoLogFile(const char* inPrefix, const std::string& inPath);
void setInfoLogLevel(std::int32_t inLevel);
std::int32_t getInfoLogLevel();
const std::string& getInfoLogFileName();

// inLevel only widens the first level test; it is not a per-callback filter.
void addInfoLogCallback(qzInfoLogCallback inCallback, std::int32_t inLevel);
void removeInfoLogCallback(qzInfoLogCallback inCallback);

// printf-style entry, formatted into a 10240-byte buffer (an over-long entry
// is truncated).
void infoLog(qzInfoLogLevel inLevel, const char* inFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

void writeInfoLog(qzInfoLogLevel inLevel, const char* inText);

// "error", "notice", "warning", "info", "info", "debug"; "" for other values.
const char* getInfoLogLevelName(std::int32_t inLevel);
