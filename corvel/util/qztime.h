// qzTime: a time of day with millisecond resolution and no date.
//
// All four fields 0 is midnight and also the "null" time. The class does not
// check ranges: setMilliseconds leaves the hour unreduced (25 hours stay 25),
// and parseTime takes the numbers as typed. qzDateTime checks the ranges when
// it combines a date and a time.
//
// Text forms: 24-hour "09:05:07" and 12-hour "9:05 AM", with the separator
// chosen by the caller; parseTime reads "h:mm[:ss[:mmm]][ AM|PM]".
#pragma once

#include <cstdint>
#include <string>

class qzTime
{
public:
    // 1 reads the local clock (seconds resolution); any other value is 0:00.
    qzTime(std::int32_t inNowFlag = 0);

    // Milliseconds since midnight are not offered as a constructor: an integer
    // argument would pick the now-flag constructor or that one by its type
    // alone.
    static qzTime fromMilliseconds(std::uint32_t inMilliseconds);

    void set(std::uint16_t inHour, std::uint16_t inMinute, std::uint16_t inSecond,
             std::uint16_t inMillisecond);

    std::uint16_t getHour() const { return itsHour; }
    std::uint16_t getMinute() const { return itsMinute; }
    std::uint16_t getSecond() const { return itsSecond; }
    std::uint16_t getMillisecond() const { return itsMillisecond; }

    // Hour, minute and second from the local clock; millisecond 0.
    void setToday();

    // ((minute * 60 + hour * 3600 + second) * 1000) + millisecond, wrapping
    // in 32 bits for hours past what the type holds.
    std::int32_t toMilliseconds() const;
    // Splits inMilliseconds; the hour is not reduced modulo 24.
    void setMilliseconds(std::uint32_t inMilliseconds);

    void clear();
    bool isNull() const;

    // Replaces outText with the time and returns it. 24-hour form: hour two
    // digits wide; 12-hour form: hour without leading zeros (0 prints as 12)
    // followed by " AM" or " PM". Minutes and seconds are two digits wide;
    // milliseconds are never printed.
    std::string& toString(std::string& outText, const std::string& inSeparator, bool inWithSeconds,
                          bool in24Hour) const;

    // Reads "h:mm", "h:mm:ss" or "h:mm:ss:mmm", optionally followed by a blank
    // and "AM" or "PM" (any case), with white space around. outTime is written
    // only on success. Never reads past the text.
    static bool parseTime(const std::string& inText, qzTime& outTime);

    friend bool operator==(const qzTime& inA, const qzTime& inB)
    {
        return inA.itsHour == inB.itsHour && inA.itsMinute == inB.itsMinute &&
               inA.itsSecond == inB.itsSecond && inA.itsMillisecond == inB.itsMillisecond;
    }
    friend bool operator!=(const qzTime& inA, const qzTime& inB) { return !(inA == inB); }

private:
    std::uint16_t itsHour = 0;
    std::uint16_t itsMinute = 0;
    std::uint16_t itsSecond = 0;
    std::uint16_t itsMillisecond = 0;
};
