#include "corvel/platform/os_time.h"

#include <ctime>
#include <sys/time.h>

namespace corvel::platform
{

std::uint32_t tickCount()
{
    timespec theNow{};
    clock_gettime(CLOCK_MONOTONIC, &theNow);
    const std::uint64_t theMs = static_cast<std::uint64_t>(theNow.tv_sec) * 1000u +
                                static_cast<std::uint64_t>(theNow.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(theMs); // wraps like the Windows tick count
}

static bool fill(std::time_t inSeconds, int inMillis, LocalTime& outTime)
{
    std::tm theTm{};
    if (localtime_r(&inSeconds, &theTm) == nullptr)
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
    timespec theNow{};
    clock_gettime(CLOCK_REALTIME, &theNow);
    return fill(theNow.tv_sec, static_cast<int>(theNow.tv_nsec / 1000000), outTime);
}

bool localTimeOf(std::int64_t inSeconds, LocalTime& outTime)
{
    return fill(static_cast<std::time_t>(inSeconds), 0, outTime);
}

std::int64_t calendarTimeNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

} // namespace corvel::platform
