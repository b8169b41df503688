// Test support: what is written to file descriptor 2 while the object lives,
// so that lines a component writes straight to standard error can be read
// back. POSIX only.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

class StderrCapture
{
public:
    StderrCapture()
    {
        std::fflush(stderr);
        itsPath = ::testing::TempDir() + "stderr_capture_XXXXXX";
        itsFd = ::mkstemp(itsPath.data());
        itsSaved = ::dup(2);
        ::dup2(itsFd, 2);
    }
    ~StderrCapture()
    {
        restore();
        ::close(itsFd);
        std::remove(itsPath.c_str());
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Everything written so far; standard error is given back first.
    std::string text()
    {
        restore();
        std::ifstream theFile(itsPath);
        std::stringstream theText;
        theText << theFile.rdbuf();
        return theText.str();
    }

private:
    void restore()
    {
        if (itsSaved < 0)
            return;
        std::fflush(stderr);
        ::dup2(itsSaved, 2);
        ::close(itsSaved);
        itsSaved = -1;
    }
    std::string itsPath;
    int itsFd = -1;
    int itsSaved = -1;
};
