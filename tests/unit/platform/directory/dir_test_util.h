// Shared by the directory tests: fixture paths, temporary LDIF files and a
// capture of the information log.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"

namespace dirtest
{

inline std::string sourcePath(const std::string& inRelative)
{
    return std::string(CORVEL_SOURCE_DIR) + "/" + inRelative;
}

inline std::string corpPath() { return sourcePath("examples/corp.ldif"); }

// A scratch directory of its own for each test process.
inline std::filesystem::path scratchDir()
{
    static std::filesystem::path theDir = []
    {
        std::filesystem::path thePath =
            std::filesystem::temp_directory_path() /
            ("corvel-dirtest-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(thePath);
        return thePath;
    }();
    return theDir;
}

inline std::string writeFile(const std::string& inName, const std::string& inText)
{
    std::filesystem::path thePath = scratchDir() / inName;
    std::ofstream theFile(thePath, std::ios::binary | std::ios::trunc);
    theFile << inText;
    return thePath.string();
}

struct LogLine
{
    int itsLevel;
    std::string itsText;
};

inline std::vector<LogLine>& capturedLines()
{
    static std::vector<LogLine> theLines;
    return theLines;
}

inline bool captureLine(qzInfoLogLevel inLevel, const char* inText)
{
    capturedLines().push_back(LogLine{inLevel, inText ? inText : ""});
    return true;
}

// Captures every log line for the lifetime of the object, and keeps them off
// standard error.
class LogCapture
{
public:
    LogCapture()
    {
        capturedLines().clear();
        addInfoLogCallback(captureLine, qzLogDebug);
    }
    ~LogCapture() { removeInfoLogCallback(captureLine); }

    // Error-level lines containing every one of the given fragments.
    std::size_t errorsWith(std::initializer_list<std::string> inFragments) const
    {
        std::size_t theCount = 0;
        for (const LogLine& curLine : capturedLines())
        {
            if (curLine.itsLevel != qzLogError)
                continue;
            bool theAll = true;
            for (const std::string& curFragment : inFragments)
                theAll = theAll && curLine.itsText.find(curFragment) != std::string::npos;
            theCount += theAll ? 1 : 0;
        }
        return theCount;
    }
    std::size_t errorCount() const { return errorsWith({}); }
    bool anyLineContains(const std::string& inText) const
    {
        for (const LogLine& curLine : capturedLines())
            if (curLine.itsText.find(inText) != std::string::npos)
                return true;
        return false;
    }
};

} // namespace dirtest
