// The text of an LDIF file and the checks made on it before libldap's
// reader sees it.
//
// An LDIF file is data and must never make the program read anything else,
// nor hang or crash it: the file is read only when it is a regular file
// (a FIFO named as the file cannot hang the open), text with a NUL byte is
// no LDIF, "include:" lines and URL values ("attr:< file:///...") are
// turned into comments, and record shapes that crash libldap's record
// parser are refused.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvel::directory::ldif
{

// The whole file in memory pages of its own; released as the loader no
// longer needs them, so that a large file and the directory built from it
// are not both held in full.
class FileText
{
public:
    FileText() = default;
    ~FileText();
    FileText(FileText&& inOther) noexcept;
    FileText& operator=(FileText&& inOther) noexcept;
    FileText(const FileText&) = delete;
    FileText& operator=(const FileText&) = delete;

    // Reads inPath; false with errno's text (or why it is refused: not a
    // regular file, 4 GB or more) in outError.
    bool read(const std::string& inPath, std::string& outError);
    // Takes a copy of inText, as if read from a file; false when it is too
    // large or no memory is left.
    bool assign(std::string_view inText, std::string& outError);

    char* data() { return itsData; }
    std::size_t size() const { return itsSize; }
    // Drops the first inBytes bytes of the text (at most its size).
    void dropFront(std::size_t inBytes);
    // Gives back the whole memory pages inside [inBegin, inEnd): their text
    // is not looked at again.
    void release(std::size_t inBegin, std::size_t inEnd);

private:
    void reset();

    char* itsData = nullptr;
    std::size_t itsSize = 0;
    std::size_t itsCapacity = 0; // bytes mapped
};

// Windows tools write LDIF in more than UTF-8: ldifde -u, and redirection in
// Windows PowerShell 5, write UTF-16 (little-endian, after a byte order
// mark); Notepad and PowerShell's UTF-8 put a UTF-8 byte order mark first,
// which would otherwise spoil the first record. Leaves ioText UTF-8 without
// a mark. UTF-16 is known by its mark, or without one by a NUL beside the
// first character (LDIF starts with an ASCII character). outEncoding names
// what was converted ("UTF-16LE", "UTF-16BE", "UTF-8 with a byte order
// mark"), empty for plain text. false with why in outError when the UTF-16
// is malformed (odd length, unpaired surrogate); ioText is then unchanged.
bool decodeToUtf8(FileText& ioText, std::string& outEncoding, std::string& outError);

// How many '\n' inText holds.
std::size_t countNewlines(std::string_view inText);

// The 1-based line of the first NUL byte, or 0 when there is none.
unsigned long findNulLine(std::string_view inText);

// How many lines of each kind a text has: enough to size tables up front.
struct LineCounts
{
    std::size_t itsLines = 0;
    std::size_t itsDnLines = 0;     // "dn:" (any case)
    std::size_t itsMemberLines = 0; // "member:" (any case)
};

// Turns "include:" lines and URL-valued attribute lines of inText into
// comments, with an error line for each in outErrors. Folded lines are looked
// at unfolded, so a name split over two lines cannot slip through. inFirstLine
// is the number of inText's first line in the file. Counts the lines on the
// way.
void neutraliseFileReferences(char* inText, std::size_t inSize, unsigned long inFirstLine,
                              const std::string& inPath, std::vector<std::string>& outErrors,
                              LineCounts& outCounts);

// Whether libldap's record parser can be given the record text (see the .cpp
// for the shapes it crashes on). outCheckLines says whether a line may be
// one libldap's line parser refuses (no colon, base64 that is not plainly
// base64): see ParsedRecord::parse. ioScratch is reused between calls.
bool isParsableRecord(std::string_view inRecord, std::string& ioScratch, bool& outCheckLines);

// Where inText may be cut into about inParts parts that libldap's reader
// reads as it reads the whole: each cut follows a blank line, where the
// reader starts afresh. Offsets of the part starts, 0 first; fewer when
// there are not enough blank lines.
std::vector<std::size_t> splitAtBlankLines(std::string_view inText, std::size_t inParts);

// printf-style into a string.
std::string formatText(const char* inFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace corvel::directory::ldif
