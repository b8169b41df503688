// Replays a fuzz target's saved inputs as ordinary test cases, so that every
// build (and its sanitizers) runs them: each file of fuzz/regressions/<target>/
// (reproducers of past findings) and fuzz/corpus/<target>/ (the seeds).
//
// Each fuzz target is compiled into this test program with its two entry
// points renamed by macros, so several targets can live in one program.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fuzzreplay
{

using TestOneInput = int (*)(const std::uint8_t*, std::size_t);
using Initialize = int (*)(int*, char***);

inline std::filesystem::path sourceRoot()
{
    // The build names the source tree: __FILE__ may be a relative path (the
    // Debian build maps source paths).
    return std::filesystem::path(CORVEL_SOURCE_DIR);
}

inline std::vector<std::filesystem::path> inputsOf(const std::string& inFolder,
                                                   const std::string& inTarget)
{
    std::vector<std::filesystem::path> theFiles;
    const std::filesystem::path theDir = sourceRoot() / "fuzz" / inFolder / inTarget;
    std::error_code theError;
    for (const auto& curEntry : std::filesystem::directory_iterator(theDir, theError))
        if (curEntry.is_regular_file() && curEntry.path().filename().string()[0] != '.')
            theFiles.push_back(curEntry.path());
    return theFiles;
}

// Runs every saved input of inTarget; the target aborts on a broken
// promise, which fails the test case. Returns how many inputs ran.
inline std::size_t replayAll(const std::string& inTarget, Initialize inInit, TestOneInput inRun)
{
    int theArgc = 0;
    char** theArgv = nullptr;
    inInit(&theArgc, &theArgv);
    std::size_t theCount = 0;
    for (const char* curFolder : {"regressions", "corpus"})
        for (const auto& curFile : inputsOf(curFolder, inTarget))
        {
            SCOPED_TRACE(curFile.string());
            std::ifstream theStream(curFile, std::ios::binary);
            std::vector<char> theBytes((std::istreambuf_iterator<char>(theStream)),
                                       std::istreambuf_iterator<char>());
            inRun(reinterpret_cast<const std::uint8_t*>(theBytes.data()), theBytes.size());
            ++theCount;
        }
    return theCount;
}

} // namespace fuzzreplay
