// Collects information-log lines (traces and assertion reports included) for
// the thread tests. The callback is registered without holding the capture's
// own lock, so that the only lock order is: log mutex, then capture lock.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"

class CapturedLog
{
public:
    CapturedLog()
    {
        {
            std::lock_guard<std::mutex> theLock(mutex());
            lines().clear();
        }
        addInfoLogCallback(&CapturedLog::callback, qzLogDebug);
        setInfoLogLevel(qzLogDebug);
    }
    ~CapturedLog() { removeInfoLogCallback(&CapturedLog::callback); }

    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    // The lines that contain inNeedle.
    std::vector<std::string> containing(const std::string& inNeedle) const
    {
        std::lock_guard<std::mutex> theLock(mutex());
        std::vector<std::string> theFound;
        for (const std::string& curLine : lines())
            if (curLine.find(inNeedle) != std::string::npos)
                theFound.push_back(curLine);
        return theFound;
    }

private:
    static bool callback(qzInfoLogLevel, const char* inText)
    {
        std::lock_guard<std::mutex> theLock(mutex());
        lines().emplace_back(inText);
        return true;
    }
    static std::mutex& mutex()
    {
        static std::mutex theMutex;
        return theMutex;
    }
    static std::vector<std::string>& lines()
    {
        static std::vector<std::string> theLines;
        return theLines;
    }
};
