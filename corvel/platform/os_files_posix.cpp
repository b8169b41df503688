#include "corvel/platform/os_files.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace corvel::platform
{

static bool writeAll(int inFd, const char* inData, std::size_t inSize)
{
    while (inSize > 0)
    {
        const ssize_t theWritten = ::write(inFd, inData, inSize);
        if (theWritten < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        inData += theWritten;
        inSize -= static_cast<std::size_t>(theWritten);
    }
    return true;
}

bool appendToFile(const std::string& inPath, const char* inData, std::size_t inSize)
{
    // O_APPEND makes each write land at the end even when other processes
    // append to the same file; POSIX files are always shared.
    const int theFd = ::open(inPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (theFd < 0)
        return false;
    const bool theOk = writeAll(theFd, inData, inSize);
    ::close(theFd);
    return theOk;
}

void writeStdErr(const char* inData, std::size_t inSize) { writeAll(STDERR_FILENO, inData, inSize); }

} // namespace corvel::platform
