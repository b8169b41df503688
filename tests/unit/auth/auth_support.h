// Shared helpers of the authenticator tests: a capture of information-log
// entries (traces arrive there as "* " + text at the debug level), a
// directory written to a temporary LDIF file and selected for this process,
// and the identity substitution.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/ldif/ldif_backend.h"
#include "corvel/platform/os_identity.h"

namespace authtest
{

class Capture
{
public:
    Capture()
    {
        std::lock_guard<std::mutex> theLock(mutex());
        lines().clear();
        setInfoLogLevel(qzLogDebug);
        addInfoLogCallback(&Capture::callback, qzLogDebug);
    }
    ~Capture() { removeInfoLogCallback(&Capture::callback); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // "<level>|<text>" for every entry since the capture started or was cleared.
    std::vector<std::string> all() const
    {
        std::lock_guard<std::mutex> theLock(mutex());
        return lines();
    }
    // Only the trace lines, without their "* " prefix.
    std::vector<std::string> traces() const
    {
        std::vector<std::string> theTraces;
        for (const std::string& curLine : all())
            if (curLine.rfind("5|* ", 0) == 0)
                theTraces.push_back(curLine.substr(4));
        return theTraces;
    }
    std::size_t count(const std::string& inNeedle) const
    {
        std::size_t theCount = 0;
        for (const std::string& curLine : all())
            if (curLine.find(inNeedle) != std::string::npos)
                ++theCount;
        return theCount;
    }
    void clear()
    {
        std::lock_guard<std::mutex> theLock(mutex());
        lines().clear();
    }

private:
    static bool callback(qzInfoLogLevel inLevel, const char* inText)
    {
        std::lock_guard<std::mutex> theLock(mutex());
        lines().push_back(std::to_string(static_cast<int>(inLevel)) + "|" + inText);
        return true; // keep the test output quiet
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

// Writes inText to a fresh file and points this process's directory at it.
class LdifDirectory
{
public:
    explicit LdifDirectory(const std::string& inText)
    {
        itsPath = std::filesystem::temp_directory_path() /
                  ("qzauth_" + std::to_string(::getpid()) + "_" + std::to_string(counter()++) +
                   ".ldif");
        std::ofstream theFile(itsPath, std::ios::binary);
        theFile << inText;
        theFile.close();
        ::setenv("CORVEL_DIRECTORY", ("ldif:" + itsPath.string()).c_str(), 1);
    }
    ~LdifDirectory()
    {
        corvel::directory::ldif::clearFaults();
        ::unsetenv("CORVEL_DIRECTORY");
        std::error_code theError;
        std::filesystem::remove(itsPath, theError);
    }
    LdifDirectory(const LdifDirectory&) = delete;
    LdifDirectory& operator=(const LdifDirectory&) = delete;

    std::string path() const { return itsPath.string(); }

private:
    static int& counter()
    {
        static int theCounter = 0;
        return theCounter;
    }
    std::filesystem::path itsPath;
};

// Acts as the given account for the lifetime of the object.
class ActAs
{
public:
    ActAs(const std::string& inName, const std::string& inDomain, const std::string& inSid)
    {
        corvel::platform::setIdentityOverride(inName, inDomain, inSid);
    }
    ~ActAs() { corvel::platform::clearIdentityOverride(); }
    ActAs(const ActAs&) = delete;
    ActAs& operator=(const ActAs&) = delete;
};

} // namespace authtest
