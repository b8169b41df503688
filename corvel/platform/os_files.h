// Files and directories as the operating system sees them.
//
// Paths are 8-bit text. Both '\\' and '/' are read as separators: the POSIX
// implementation turns every '\\' into '/' before it calls the system, so a
// path written for Windows names the same file here. Failures are reported by
// the result only (false or an empty string); nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvel::platform
{

// Opens inPath for appending (created when missing, shared with other
// processes), writes inSize bytes and closes it. False when the file cannot
// be opened or written.
bool appendToFile(const std::string& inPath, const char* inData, std::size_t inSize);

// Writes inSize bytes to standard error in one call and flushes it.
void writeStdErr(const char* inData, std::size_t inSize);

// The separator this platform writes between path parts ('/' on POSIX,
// '\\' on Windows).
char pathSeparator();

// The process's current directory; false when it cannot be read.
bool getCurrentDir(std::string& outPath);
bool setCurrentDir(const std::string& inPath);

// Creates one directory; parents are not created. False when it exists.
bool makeDirectory(const std::string& inPath);
// True when inPath names a directory (a link to a directory counts).
bool isDirectory(const std::string& inPath);
// Removes an empty directory (or, given a link, fails: links are files).
bool removeEmptyDirectory(const std::string& inPath);
// True when inPath itself is a symbolic link.
bool isSymbolicLink(const std::string& inPath);

struct DirEntry
{
    std::string name;
    // A real directory. A symbolic link is never a directory here, whatever
    // it points to, so walks that descend only into directories cannot
    // leave the tree or loop.
    bool isDirectory = false;
};

// The entries of a directory in the order the system returns them, without
// "." and "..". False when the directory cannot be opened or read.
bool readDirectory(const std::string& inPath, std::vector<DirEntry>& outEntries);

// True when inPath can be opened for reading and is not a directory.
bool isReadableFile(const std::string& inPath);
// Removes a file or a symbolic link (never what the link points to).
bool removeFile(const std::string& inPath);
// Copies contents and permission bits, replacing an existing target.
bool copyFileTo(const std::string& inFrom, const std::string& inTo);
// Renames, replacing an existing target; across file systems copies and then
// removes the source.
bool moveFileTo(const std::string& inFrom, const std::string& inTo);

// The last modification time as seconds since 1970 UTC and the millisecond
// within that second.
bool fileModifiedTime(const std::string& inPath, std::int64_t& outSeconds,
                      std::int32_t& outMillisecond);

// The directory for temporary files, ending in a separator; empty when none
// is usable.
std::string tempDirectory();

// Creates a new, empty file named inPrefix followed by a unique part in
// inDirectory, atomically (no other process can take the same name), and
// returns its path in outPath.
bool makeUniqueFile(const std::string& inDirectory, const std::string& inPrefix,
                    std::string& outPath);

} // namespace corvel::platform
