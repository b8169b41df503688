#include "corvel/platform/os_files.h"

#include <windows.h>

namespace corvel::platform
{

static bool writeAll(HANDLE inFile, const char* inData, std::size_t inSize)
{
    while (inSize > 0)
    {
        // WriteFile takes a 32-bit count: write big buffers in pieces.
        const DWORD thePiece = inSize > 0x40000000u ? 0x40000000u : static_cast<DWORD>(inSize);
        DWORD theWritten = 0;
        if (!WriteFile(inFile, inData, thePiece, &theWritten, nullptr) || theWritten == 0)
            return false;
        inData += theWritten;
        inSize -= theWritten;
    }
    return true;
}

bool appendToFile(const std::string& inPath, const char* inData, std::size_t inSize)
{
    // FILE_APPEND_DATA alone: every write lands at the end even when other
    // processes append to the same file, which they may open at the same time.
    HANDLE theFile = CreateFileA(inPath.c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (theFile == INVALID_HANDLE_VALUE)
        return false;
    const bool theOk = writeAll(theFile, inData, inSize);
    CloseHandle(theFile);
    return theOk;
}

void writeStdErr(const char* inData, std::size_t inSize)
{
    HANDLE theErr = GetStdHandle(STD_ERROR_HANDLE);
    if (theErr == nullptr || theErr == INVALID_HANDLE_VALUE)
        return;
    writeAll(theErr, inData, inSize);
    FlushFileBuffers(theErr);
}

char pathSeparator() { return '\\'; }

static bool endsWithSeparator(const std::string& inPath)
{
    return !inPath.empty() && (inPath.back() == '\\' || inPath.back() == '/');
}

bool getCurrentDir(std::string& outPath)
{
    // The first call tells the size needed, terminator included.
    const DWORD theNeeded = GetCurrentDirectoryA(0, nullptr);
    if (theNeeded == 0)
        return false;
    std::string theBuffer(theNeeded, '\0');
    const DWORD theLength = GetCurrentDirectoryA(theNeeded, theBuffer.data());
    if (theLength == 0 || theLength >= theNeeded)
        return false;
    theBuffer.resize(theLength);
    outPath = theBuffer;
    return true;
}

bool setCurrentDir(const std::string& inPath) { return SetCurrentDirectoryA(inPath.c_str()) != 0; }

bool makeDirectory(const std::string& inPath)
{
    return CreateDirectoryA(inPath.c_str(), nullptr) != 0;
}

static DWORD attributesOf(const std::string& inPath) { return GetFileAttributesA(inPath.c_str()); }

bool isDirectory(const std::string& inPath)
{
    const DWORD theAttributes = attributesOf(inPath);
    return theAttributes != INVALID_FILE_ATTRIBUTES &&
           (theAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isSymbolicLink(const std::string& inPath)
{
    // Symbolic links and junctions are both reparse points.
    const DWORD theAttributes = attributesOf(inPath);
    return theAttributes != INVALID_FILE_ATTRIBUTES &&
           (theAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool removeEmptyDirectory(const std::string& inPath)
{
    // RemoveDirectoryA would remove a directory link: links are files here.
    if (isSymbolicLink(inPath))
        return false;
    return RemoveDirectoryA(inPath.c_str()) != 0;
}

bool readDirectory(const std::string& inPath, std::vector<DirEntry>& outEntries)
{
    std::string thePattern = inPath;
    if (!endsWithSeparator(thePattern))
        thePattern += '\\';
    thePattern += '*';
    WIN32_FIND_DATAA theData{};
    HANDLE theFind = FindFirstFileA(thePattern.c_str(), &theData);
    if (theFind == INVALID_HANDLE_VALUE)
        return false;
    bool theOk = true;
    for (;;)
    {
        const std::string theName = theData.cFileName;
        if (theName != "." && theName != "..")
        {
            DirEntry theItem;
            theItem.name = theName;
            // A link to a directory is never a directory here.
            theItem.isDirectory = (theData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                  (theData.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
            outEntries.push_back(std::move(theItem));
        }
        if (!FindNextFileA(theFind, &theData))
        {
            theOk = GetLastError() == ERROR_NO_MORE_FILES;
            break;
        }
    }
    FindClose(theFind);
    return theOk;
}

bool isReadableFile(const std::string& inPath)
{
    HANDLE theFile = CreateFileA(inPath.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (theFile == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION theInfo{};
    const bool theOk = GetFileInformationByHandle(theFile, &theInfo) &&
                       (theInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(theFile);
    return theOk;
}

bool removeFile(const std::string& inPath)
{
    // A link to a directory is removed as a directory entry, never followed.
    const DWORD theAttributes = attributesOf(inPath);
    if (theAttributes != INVALID_FILE_ATTRIBUTES &&
        (theAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (theAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return RemoveDirectoryA(inPath.c_str()) != 0;
    return DeleteFileA(inPath.c_str()) != 0;
}

bool copyFileTo(const std::string& inFrom, const std::string& inTo)
{
    // CopyFileA refuses to copy a file onto itself instead of truncating it.
    return CopyFileA(inFrom.c_str(), inTo.c_str(), FALSE) != 0;
}

bool moveFileTo(const std::string& inFrom, const std::string& inTo)
{
    return MoveFileExA(inFrom.c_str(), inTo.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

bool fileModifiedTime(const std::string& inPath, std::int64_t& outSeconds,
                      std::int32_t& outMillisecond)
{
    WIN32_FILE_ATTRIBUTE_DATA theData{};
    if (!GetFileAttributesExA(inPath.c_str(), GetFileExInfoStandard, &theData))
        return false;
    const std::uint64_t theTicks =
        (static_cast<std::uint64_t>(theData.ftLastWriteTime.dwHighDateTime) << 32) |
        theData.ftLastWriteTime.dwLowDateTime;
    // 100 ns units since 1601 to milliseconds since 1970.
    const std::int64_t theMs = static_cast<std::int64_t>(theTicks / 10000u) - 11644473600000ll;
    outSeconds = theMs >= 0 ? theMs / 1000 : -((-theMs + 999) / 1000);
    outMillisecond = static_cast<std::int32_t>(theMs - outSeconds * 1000);
    return true;
}

std::string tempDirectory()
{
    char theBuffer[MAX_PATH + 1];
    const DWORD theLength = GetTempPathA(sizeof theBuffer, theBuffer);
    if (theLength == 0 || theLength > MAX_PATH)
        return std::string();
    std::string thePath(theBuffer, theLength);
    if (!isDirectory(thePath))
        return std::string();
    if (!endsWithSeparator(thePath))
        thePath += '\\';
    return thePath;
}

bool makeUniqueFile(const std::string& inDirectory, const std::string& inPrefix,
                    std::string& outPath)
{
    std::string theDirectory = inDirectory.empty() ? std::string(".") : inDirectory;
    if (inPrefix.size() <= 3)
    {
        // GetTempFileNameA creates the file itself (CREATE_NEW), so the name
        // is ours alone; it keeps only three prefix characters.
        char theName[MAX_PATH];
        if (theDirectory.size() + 14 >= MAX_PATH)
            return false;
        if (GetTempFileNameA(theDirectory.c_str(), inPrefix.c_str(), 0, theName) == 0)
            return false;
        outPath = theName;
        return true;
    }
    // A longer prefix is kept whole: the same unique-name scheme, bounded.
    if (!endsWithSeparator(theDirectory))
        theDirectory += '\\';
    DWORD theCounter = GetTickCount() ^ GetCurrentProcessId();
    for (int i = 0; i < 65536; ++i, ++theCounter)
    {
        char theUnique[16];
        wsprintfA(theUnique, "%04X.tmp", static_cast<unsigned>(theCounter & 0xFFFFu));
        const std::string theCandidate = theDirectory + inPrefix + theUnique;
        HANDLE theFile = CreateFileA(theCandidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (theFile != INVALID_HANDLE_VALUE)
        {
            CloseHandle(theFile);
            outPath = theCandidate;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

} // namespace corvel::platform
