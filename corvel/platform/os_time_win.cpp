#include "corvel/platform/os_time.h"

#include <ctime>

#include <windows.h>

namespace corvel::platform
{

// Wraps after 49.7 days, as callers of the tick count expect.
std::uint32_t tickCount() { return GetTickCount(); }

static bool fill(std::int64_t inSeconds, int inMillis, LocalTime& outTime)
{
    std::tm theTm{};
    const __time64_t theSeconds = inSeconds;
    if (_localtime64_s(&theTm, &theSeconds) != 0)
        return false;
    outTime.year = theTm.tm_year + 1900;
    outTime.month = theTm.tm_mon + 1;
    outTime.day = theTm.tm_mday;
    outTime.hour = theTm.tm_hour;
    outTime.minute = theTm.tm_min;
    outTime.second = theTm.tm_sec;
    outTime.millisecond = inMillis;
    return true;
}

bool localTimeNow(LocalTime& outTime)
{
    // One reading of the clock for the seconds and the milliseconds.
    FILETIME theNow{};
    GetSystemTimeAsFileTime(&theNow);
    const std::uint64_t theTicks =
        (static_cast<std::uint64_t>(theNow.dwHighDateTime) << 32) | theNow.dwLowDateTime;
    // 100 ns units since 1601 to milliseconds since 1970.
    const std::uint64_t theMs = theTicks / 10000u - 11644473600000ull;
    return fill(static_cast<std::int64_t>(theMs / 1000u), static_cast<int>(theMs % 1000u), outTime);
}

bool localTimeOf(std::int64_t inSeconds, LocalTime& outTime) { return fill(inSeconds, 0, outTime); }

std::int64_t calendarTimeNow() { return static_cast<std::int64_t>(_time64(nullptr)); }

} // namespace corvel::platform
