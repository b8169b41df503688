// The in-memory text stream qzStrStream, and free functions over paths,
// directories and files.
//
// Paths are 8-bit text. Both '\\' and '/' are read as separators; the one
// written is the platform's own (pathSeparator: '/' on POSIX, '\\' on
// Windows), so a joined path names the file the caller meant. Every operation
// reports failure by its result (false or an empty string); none throws.
#pragma once

#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

class qzDate;
class qzTime;

// The buffer of qzStrStream: a growable character buffer with one put area
// and one get area over the same characters, as the classic strstreambuf
// keeps them. Reading sees everything written so far.
//
// str() freezes the buffer and returns its start; the pointer stays valid
// until the buffer grows again, which it cannot while frozen (a write that
// needs more room then fails and sets badbit), or until the stream is
// destroyed. The characters are always followed by a '\0' that pcount does
// not count, so a caller that forgets std::ends still reads a terminated text.
class qzStrStreamBuf : public std::streambuf
{
public:
    qzStrStreamBuf() = default;
    ~qzStrStreamBuf() override;

    qzStrStreamBuf(const qzStrStreamBuf&) = delete;
    qzStrStreamBuf& operator=(const qzStrStreamBuf&) = delete;

    char* str();
    void freeze(bool inFreeze = true) { itsFrozen = inFreeze; }
    bool isFrozen() const { return itsFrozen; }
    // Characters put so far: the put position from the start.
    std::streamsize pcount() const;

protected:
    int_type overflow(int_type inChar) override;
    int_type underflow() override;
    int_type pbackfail(int_type inChar) override;
    pos_type seekoff(off_type inOffset, std::ios_base::seekdir inDir,
                     std::ios_base::openmode inWhich) override;
    pos_type seekpos(pos_type inPos, std::ios_base::openmode inWhich) override;

private:
    // The end of the written characters, which is past the put position
    // after a seek backwards.
    char* writtenEnd();
    bool grow(std::size_t inMinCapacity);

    char* itsData = nullptr;
    std::size_t itsCapacity = 0; // usable characters; one more is allocated for the '\0'
    char* itsEnd = nullptr;
    bool itsFrozen = false;
};

// A character stream over a growable buffer that the stream owns. The buffer
// is freed when the stream is destroyed, even after a caller took it with
// str() and left it frozen, so callers may take str() and drop the stream.
class qzStrStream : public std::iostream
{
public:
    qzStrStream();
    ~qzStrStream() override;

    qzStrStream(const qzStrStream&) = delete;
    qzStrStream& operator=(const qzStrStream&) = delete;

    // Freezes the buffer and returns its start ('\0'-terminated).
    char* str() { return itsBuffer.str(); }
    void freeze(bool inFreeze = true) { itsBuffer.freeze(inFreeze); }
    std::streamsize pcount() const { return itsBuffer.pcount(); }
    qzStrStreamBuf* rdbuf() const { return const_cast<qzStrStreamBuf*>(&itsBuffer); }

private:
    qzStrStreamBuf itsBuffer;
};

// ---- Path text ------------------------------------------------------------

// True for '\\' and '/'.
bool isPathSeparator(char inChar);

// Non-empty and either begins with a separator, or is longer than two
// characters and begins with a letter, ':' and a separator.
bool isAbsolutePath(const std::string& inPath);

// inA, then the platform separator unless inA ends or inB begins with a
// separator, then inB. An empty part gives the other one unchanged; two
// separators in a row are kept.
std::string joinPath(const std::string& inA, const std::string& inB);

// Places an absolute path under inBase: a drive ("c:") is dropped first. A
// relative path is returned unchanged.
std::string rebasePath(const std::string& inBase, const std::string& inPath);

// Splits at the last separator or ':': the directory keeps it, the name is
// the rest. Without one, or when the only separator is the first character,
// the directory is empty and the name is the whole path.
void splitPath(const std::string& inPath, std::string& outDirectory, std::string& outName);

// True when inName matches inPattern under the Windows wildcard rules: '*'
// any run of characters, '?' exactly one, letters compared without case; a
// pattern ending in ".*" also matches the name without an extension (so
// "*.*" matches every name) and one ending in "." matches names with no dot.
bool matchesFilePattern(const std::string& inName, const std::string& inPattern);

// ---- Current directory and directories ------------------------------------

// Asserts that the name is not empty; an empty name then changes nothing and
// gives true.
bool setCurrentDirectory(const std::string& inDirName);
// The current directory, or the empty string (after an assertion) when it
// cannot be read.
std::string getCurrentDirectory();

// Creates one directory (parents are not created). One trailing separator is
// ignored.
bool createDirectory(const std::string& inPath);
// True when the path names a directory. One trailing separator is ignored.
bool directoryExists(const std::string& inPath);

// Removes a directory with everything in it. Files and links are removed as
// themselves: nothing a symbolic link points to is touched, and a link given
// as inDirectory is removed itself. In each directory the entries go in the
// system's order; a file that cannot be removed ends the work in that
// directory, which then stays, and so do its parents, making the result
// false. inMode is kept for callers written for other platforms and is not
// used. The walk keeps its own stack, so a deep tree cannot exhaust the
// program's stack.
bool removeDirectoryTree(const std::string& inDirectory, std::int32_t inMode = 0755);

// Appends to ioNames (never cleared) the path of every file in inDirectory
// whose name matches inPattern, in the order the system returns them; with
// inRecursive then the same for every subdirectory, depth first, a
// directory's own files before those of its subdirectories. Symbolic links
// are listed as files and never entered.
void listFiles(const std::string& inDirectory, const std::string& inPattern,
               std::vector<std::string>& ioNames, bool inRecursive);

// ---- Files -------------------------------------------------------------------

// True when the path names a file that can be opened for reading.
bool fileExists(const std::string& inPath);
bool deleteFile(const std::string& inPath);
// Renames, replacing an existing target, across file systems as well.
bool moveFile(const std::string& inFrom, const std::string& inTo);
// Copies, overwriting an existing target.
bool copyFile(const std::string& inFrom, const std::string& inTo);

// The last modification time in local time; on failure false and both
// outputs unchanged.
bool getFileTime(const std::string& inPath, qzDate& outDate, qzTime& outTime);

// The directory for temporary files, ending in a separator; empty when the
// system has none.
std::string getTempPath();

// Creates a new empty file whose name begins with "tmp" in inDirectory (in
// getTempPath() when empty, or "." when that is empty too) and returns its
// path; the empty string on failure. The name is taken atomically, so no
// other process can be handed the same file.
std::string makeTempFileName(const std::string& inDirectory);

// ---- Program path ----------------------------------------------------------

// The program file's full path, its directory (with the trailing separator)
// and its name; read once, on first use, and the same for the whole run.
std::string getProgramPath();
std::string getProgramDirectory();
std::string getProgramName();
