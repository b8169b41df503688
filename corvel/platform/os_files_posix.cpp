#include "corvel/platform/os_files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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

void writeStdErr(const char* inData, std::size_t inSize)
{
    writeAll(STDERR_FILENO, inData, inSize);
}

// Paths written for Windows use '\\'; here it is read as a separator too.
static std::string nativePath(const std::string& inPath)
{
    std::string thePath = inPath;
    for (char& curChar : thePath)
        if (curChar == '\\')
            curChar = '/';
    return thePath;
}

char pathSeparator() { return '/'; }

bool getCurrentDir(std::string& outPath)
{
    // No fixed limit: the buffer grows until the whole path fits.
    std::vector<char> theBuffer(256);
    for (;;)
    {
        if (::getcwd(theBuffer.data(), theBuffer.size()) != nullptr)
        {
            outPath = theBuffer.data();
            return true;
        }
        if (errno != ERANGE || theBuffer.size() >= (1u << 20))
            return false;
        theBuffer.resize(theBuffer.size() * 2);
    }
}

bool setCurrentDir(const std::string& inPath) { return ::chdir(nativePath(inPath).c_str()) == 0; }

bool makeDirectory(const std::string& inPath)
{
    return ::mkdir(nativePath(inPath).c_str(), 0777) == 0;
}

bool isDirectory(const std::string& inPath)
{
    struct stat theStat
    {
    };
    return ::stat(nativePath(inPath).c_str(), &theStat) == 0 && S_ISDIR(theStat.st_mode);
}

bool removeEmptyDirectory(const std::string& inPath)
{
    return ::rmdir(nativePath(inPath).c_str()) == 0;
}

bool isSymbolicLink(const std::string& inPath)
{
    struct stat theStat
    {
    };
    return ::lstat(nativePath(inPath).c_str(), &theStat) == 0 && S_ISLNK(theStat.st_mode);
}

bool readDirectory(const std::string& inPath, std::vector<DirEntry>& outEntries)
{
    const std::string thePath = nativePath(inPath);
    DIR* theDir = ::opendir(thePath.c_str());
    if (theDir == nullptr)
        return false;
    bool theOk = true;
    for (;;)
    {
        errno = 0;
        const dirent* theEntry = ::readdir(theDir);
        if (theEntry == nullptr)
        {
            theOk = errno == 0;
            break;
        }
        if (std::strcmp(theEntry->d_name, ".") == 0 || std::strcmp(theEntry->d_name, "..") == 0)
            continue;
        DirEntry theItem;
        theItem.name = theEntry->d_name;
        if (theEntry->d_type == DT_UNKNOWN)
        {
            // Some file systems leave the type out: ask without following links.
            struct stat theStat
            {
            };
            const std::string theChild = thePath + "/" + theItem.name;
            theItem.isDirectory =
                ::lstat(theChild.c_str(), &theStat) == 0 && S_ISDIR(theStat.st_mode);
        }
        else
            theItem.isDirectory = theEntry->d_type == DT_DIR;
        outEntries.push_back(std::move(theItem));
    }
    ::closedir(theDir);
    return theOk;
}

bool isReadableFile(const std::string& inPath)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int theFd = ::open(nativePath(inPath).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (theFd < 0)
        return false;
    struct stat theStat
    {
    };
    const bool theOk = ::fstat(theFd, &theStat) == 0 && !S_ISDIR(theStat.st_mode);
    ::close(theFd);
    return theOk;
}

bool removeFile(const std::string& inPath) { return ::unlink(nativePath(inPath).c_str()) == 0; }

bool copyFileTo(const std::string& inFrom, const std::string& inTo)
{
    const std::string theFrom = nativePath(inFrom);
    const std::string theTo = nativePath(inTo);
    const int theIn = ::open(theFrom.c_str(), O_RDONLY | O_CLOEXEC);
    if (theIn < 0)
        return false;
    struct stat theFromStat
    {
    };
    if (::fstat(theIn, &theFromStat) != 0 || !S_ISREG(theFromStat.st_mode))
    {
        ::close(theIn);
        return false;
    }
    // Copying a file onto itself would truncate it before reading it.
    struct stat theToStat
    {
    };
    if (::stat(theTo.c_str(), &theToStat) == 0 && theToStat.st_dev == theFromStat.st_dev &&
        theToStat.st_ino == theFromStat.st_ino)
    {
        ::close(theIn);
        return false;
    }
    const int theOut = ::open(theTo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                              theFromStat.st_mode & 07777);
    if (theOut < 0)
    {
        ::close(theIn);
        return false;
    }
    bool theOk = true;
    char theBuffer[65536];
    for (;;)
    {
        const ssize_t theRead = ::read(theIn, theBuffer, sizeof theBuffer);
        if (theRead < 0 && errno == EINTR)
            continue;
        if (theRead <= 0)
        {
            theOk = theRead == 0;
            break;
        }
        if (!writeAll(theOut, theBuffer, static_cast<std::size_t>(theRead)))
        {
            theOk = false;
            break;
        }
    }
    ::close(theIn);
    if (::close(theOut) != 0)
        theOk = false;
    return theOk;
}

bool moveFileTo(const std::string& inFrom, const std::string& inTo)
{
    const std::string theFrom = nativePath(inFrom);
    const std::string theTo = nativePath(inTo);
    if (::rename(theFrom.c_str(), theTo.c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    // Another file system: the source goes only once the copy is complete.
    if (!copyFileTo(theFrom, theTo))
        return false;
    return ::unlink(theFrom.c_str()) == 0;
}

bool fileModifiedTime(const std::string& inPath, std::int64_t& outSeconds,
                      std::int32_t& outMillisecond)
{
    struct stat theStat
    {
    };
    if (::stat(nativePath(inPath).c_str(), &theStat) != 0)
        return false;
    outSeconds = static_cast<std::int64_t>(theStat.st_mtim.tv_sec);
    outMillisecond = static_cast<std::int32_t>(theStat.st_mtim.tv_nsec / 1000000);
    return true;
}

std::string tempDirectory()
{
    std::string thePath;
    const char* theEnv = std::getenv("TMPDIR");
    if (theEnv != nullptr && *theEnv != '\0' && isDirectory(theEnv))
        thePath = theEnv;
    else if (isDirectory("/tmp"))
        thePath = "/tmp";
    else
        return std::string();
    if (thePath.back() != '/')
        thePath += '/';
    return thePath;
}

bool makeUniqueFile(const std::string& inDirectory, const std::string& inPrefix,
                    std::string& outPath)
{
    std::string theTemplate = nativePath(inDirectory);
    if (!theTemplate.empty() && theTemplate.back() != '/')
        theTemplate += '/';
    theTemplate += inPrefix;
    theTemplate += "XXXXXX";
    std::vector<char> theName(theTemplate.begin(), theTemplate.end());
    theName.push_back('\0');
    // mkstemp creates the file with O_EXCL: the name is ours alone.
    const int theFd = ::mkstemp(theName.data());
    if (theFd < 0)
        return false;
    ::close(theFd);
    outPath = theName.data();
    return true;
}

} // namespace corvel::platform
