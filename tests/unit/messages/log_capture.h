// Collects the information log's entries (traces and assertion reports
// included) for the lifetime of the object, and keeps them off stderr.
#pragma once

#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"

class LogCapture
{
public:
    LogCapture()
    {
        lines().clear();
        setInfoLog("", 0);
        addInfoLogCallback(&collect, qzLogDebug);
    }
    ~LogCapture() { removeInfoLogCallback(&collect); }

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::string>& entries() const { return lines(); }
    void reset() { lines().clear(); }

    // Entries whose text contains inPart.
    int count(const std::string& inPart) const
    {
        int theCount = 0;
        for (const std::string& curLine : lines())
            if (curLine.find(inPart) != std::string::npos)
                ++theCount;
        return theCount;
    }
    int assertions() const { return count("Assertion failed."); }
    bool hasAssertion(const std::string& inCommand) const
    {
        return count("Offending command: \"" + inCommand + "\"") > 0;
    }

private:
    static std::vector<std::string>& lines()
    {
        static std::vector<std::string> theLines;
        return theLines;
    }
    static bool collect(qzInfoLogLevel /*inLevel*/, const char* inText)
    {
        lines().push_back(inText ? inText : "");
        return true;
    }
};
