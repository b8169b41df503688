// Clocks.
#pragma once

#include <cstdint>

namespace corvel::platform
{

// Milliseconds from a monotonic clock, as an unsigned 32-bit count that wraps
// (the counterpart of the Windows tick count).
std::uint32_t tickCount();

struct LocalTime
{
    int year = 0;   // full year
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31
    int hour = 0;   // 0 to 23
    int minute = 0; // 0 to 59
    int second = 0; // 0 to 60
    int millisecond = 0;
};

// The local broken-down time of now; false when the conversion fails.
bool localTimeNow(LocalTime& outTime);

// The local broken-down time of a calendar time in seconds since 1970.
bool localTimeOf(std::int64_t inSeconds, LocalTime& outTime);

// Seconds since 1 January 1970 UTC.
std::int64_t calendarTimeNow();

} // namespace corvel::platform
