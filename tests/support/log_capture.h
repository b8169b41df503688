// Test support: collects information-log entries through a log callback.
//
// The log takes plain function pointers, so the capture is process-wide; each
// test case runs in its own process, and a LogCapture lives for one case.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"

class LogCapture
{
public:
    struct Entry
    {
        qzInfoLogLevel itsLevel;
        std::string itsText;
    };

    // inHandle: whether the callback handles entries (suppressing the default
    // output).
    explicit LogCapture(bool inHandle = true, std::int32_t inLevel = qzLogDebug)
    {
        {
            std::lock_guard<std::mutex> theLock(mutex());
            entries().clear();
            handle() = inHandle;
        }
        // Registered outside our own lock: the callback takes that lock while
        // the log holds its mutex, so holding ours here would invert the order.
        addInfoLogCallback(&LogCapture::callback, inLevel);
        setInfoLogLevel(inLevel);
    }
    ~LogCapture() { removeInfoLogCallback(&LogCapture::callback); }

    std::vector<Entry> all() const
    {
        std::lock_guard<std::mutex> theLock(mutex());
        return entries();
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> theTexts;
        for (const Entry& curEntry : all())
            theTexts.push_back(curEntry.itsText);
        return theTexts;
    }
    // Entries whose text contains inNeedle.
    std::vector<std::string> containing(const std::string& inNeedle) const
    {
        std::vector<std::string> theTexts;
        for (const Entry& curEntry : all())
            if (curEntry.itsText.find(inNeedle) != std::string::npos)
                theTexts.push_back(curEntry.itsText);
        return theTexts;
    }
    void clear()
    {
        std::lock_guard<std::mutex> theLock(mutex());
        entries().clear();
    }

private:
    static bool callback(qzInfoLogLevel inLevel, const char* inText)
    {
        std::lock_guard<std::mutex> theLock(mutex());
        entries().push_back({inLevel, inText});
        return handle();
    }
    static std::mutex& mutex()
    {
        static std::mutex theMutex;
        return theMutex;
    }
    static std::vector<Entry>& entries()
    {
        static std::vector<Entry> theEntries;
        return theEntries;
    }
    static bool& handle()
    {
        static bool theHandle = true;
        return theHandle;
    }
};
