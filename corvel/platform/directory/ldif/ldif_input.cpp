#include "corvel/platform/directory/ldif/ldif_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "corvel/platform/directory/ldif/ldif_id_table.h"
#include "corvel/platform/utf8.h"

namespace corvel::directory::ldif
{

namespace
{

constexpr std::uint64_t theMaxSize = 0xFFFFFFFFull;

std::size_t pageSize()
{
    static const std::size_t thePage = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return thePage;
}

// Closes a descriptor on every path.
struct FdOwner
{
    int itsFd;
    ~FdOwner()
    {
        if (itsFd >= 0)
            ::close(itsFd);
    }
};

char* mapPages(std::size_t inBytes)
{
    // Populated at once: the whole file is read into it, and one call is far
    // cheaper than a fault per page.
    void* thePages = ::mmap(nullptr, inBytes, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return thePages == MAP_FAILED ? nullptr : static_cast<char*>(thePages);
}

} // namespace

// ------------------------------------------------------------------ FileText

FileText::~FileText() { reset(); }

FileText::FileText(FileText&& inOther) noexcept
    : itsData(inOther.itsData), itsSize(inOther.itsSize), itsCapacity(inOther.itsCapacity)
{
    inOther.itsData = nullptr;
    inOther.itsSize = inOther.itsCapacity = 0;
}

FileText& FileText::operator=(FileText&& inOther) noexcept
{
    if (this != &inOther)
    {
        reset();
        std::swap(itsData, inOther.itsData);
        std::swap(itsSize, inOther.itsSize);
        std::swap(itsCapacity, inOther.itsCapacity);
    }
    return *this;
}

void FileText::reset()
{
    if (itsData)
        ::munmap(itsData, itsCapacity);
    itsData = nullptr;
    itsSize = itsCapacity = 0;
}

bool FileText::read(const std::string& inPath, std::string& outError)
{
    reset();
    // Non-blocking, so that a FIFO named as the file cannot hang the open;
    // it has no effect on reading a regular file.
    FdOwner theFd{::open(inPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (theFd.itsFd < 0)
    {
        outError = std::strerror(errno);
        return false;
    }
    struct stat theStat;
    if (::fstat(theFd.itsFd, &theStat) != 0 || !S_ISREG(theStat.st_mode))
    {
        outError = "not a regular file";
        return false;
    }
    // Sized from the file, with a page to spare: a file that grows while it
    // is read is read on into a larger mapping.
    std::size_t theWanted = static_cast<std::size_t>(theStat.st_size) + pageSize();
    for (;;)
    {
        // Lines, entries and values are counted in 32 bits.
        if (itsSize >= theMaxSize || static_cast<std::uint64_t>(theStat.st_size) >= theMaxSize)
        {
            outError = "larger than 4 GB";
            reset();
            return false;
        }
        if (itsSize == itsCapacity)
        {
            const std::size_t theCapacity = (theWanted + pageSize() - 1) / pageSize() * pageSize();
            char* theData = mapPages(theCapacity);
            if (!theData)
            {
                outError = std::strerror(ENOMEM);
                reset();
                return false;
            }
            if (itsSize > 0)
                std::memcpy(theData, itsData, itsSize);
            const std::size_t theSize = itsSize;
            reset();
            itsData = theData;
            itsSize = theSize;
            itsCapacity = theCapacity;
            theWanted = theCapacity * 2;
        }
        const ssize_t theRead = ::read(theFd.itsFd, itsData + itsSize, itsCapacity - itsSize);
        if (theRead < 0)
        {
            if (errno == EINTR)
                continue;
            outError = std::strerror(errno);
            reset();
            return false;
        }
        if (theRead == 0)
            return true;
        itsSize += static_cast<std::size_t>(theRead);
    }
}

bool FileText::assign(std::string_view inText, std::string& outError)
{
    reset();
    if (static_cast<std::uint64_t>(inText.size()) >= theMaxSize)
    {
        outError = "larger than 4 GB";
        return false;
    }
    const std::size_t theCapacity =
        (inText.size() + pageSize() + pageSize() - 1) / pageSize() * pageSize();
    itsData = mapPages(theCapacity);
    if (!itsData)
    {
        outError = std::strerror(ENOMEM);
        return false;
    }
    std::memcpy(itsData, inText.data(), inText.size());
    itsSize = inText.size();
    itsCapacity = theCapacity;
    return true;
}

void FileText::release(std::size_t inBegin, std::size_t inEnd)
{
    const std::size_t thePage = pageSize();
    const std::size_t theBegin = (inBegin + thePage - 1) / thePage * thePage;
    const std::size_t theEnd = std::min(inEnd, itsSize) / thePage * thePage;
    if (itsData && theBegin < theEnd)
        ::madvise(itsData + theBegin, theEnd - theBegin, MADV_DONTNEED);
}

void FileText::dropFront(std::size_t inBytes)
{
    inBytes = std::min(inBytes, itsSize);
    if (inBytes == 0)
        return;
    std::memmove(itsData, itsData + inBytes, itsSize - inBytes);
    itsSize -= inBytes;
}

// ----------------------------------------------------------------- encodings

namespace
{

// inText (after its mark) as UTF-8; false with why in outError.
bool utf16ToUtf8(std::string_view inText, bool inBigEndian, std::string& outText,
                 std::string& outError)
{
    const auto unitAt = [&](std::size_t inPos)
    {
        const auto theFirst = static_cast<unsigned char>(inText[inPos]);
        const auto theSecond = static_cast<unsigned char>(inText[inPos + 1]);
        return static_cast<std::uint32_t>(inBigEndian ? (theFirst << 8) | theSecond
                                                      : (theSecond << 8) | theFirst);
    };
    const auto lineOf = [&]
    { return static_cast<unsigned long>(std::count(outText.begin(), outText.end(), '\n')) + 1; };
    if (inText.size() % 2 != 0)
    {
        outError = "UTF-16 text of an odd number of bytes";
        return false;
    }
    outText.clear();
    outText.reserve(inText.size() / 2 + inText.size() / 8);
    for (std::size_t curPos = 0; curPos < inText.size(); curPos += 2)
    {
        std::uint32_t theCode = unitAt(curPos);
        if (theCode >= 0xD800 && theCode <= 0xDBFF && curPos + 2 < inText.size() &&
            unitAt(curPos + 2) >= 0xDC00 && unitAt(curPos + 2) <= 0xDFFF)
        {
            theCode = 0x10000 + ((theCode - 0xD800) << 10) + (unitAt(curPos + 2) - 0xDC00);
            curPos += 2;
        }
        else if (theCode >= 0xD800 && theCode <= 0xDFFF)
        {
            outError = formatText("line %lu: unpaired UTF-16 surrogate", lineOf());
            return false;
        }
        platform::appendUtf8(outText, theCode);
    }
    return true;
}

} // namespace

bool decodeToUtf8(FileText& ioText, std::string& outEncoding, std::string& outError)
{
    outEncoding.clear();
    const std::string_view theText(ioText.data(), ioText.size());
    if (theText.starts_with("\xEF\xBB\xBF"))
    {
        outEncoding = "UTF-8 with a byte order mark";
        ioText.dropFront(3);
        return true;
    }
    std::size_t theMark = 2;
    bool theBigEndian = false;
    if (theText.starts_with("\xFF\xFE"))
        outEncoding = "UTF-16LE";
    else if (theText.starts_with("\xFE\xFF"))
    {
        outEncoding = "UTF-16BE";
        theBigEndian = true;
    }
    else if (theText.size() >= 2 && theText[0] != '\0' && theText[1] == '\0')
    {
        outEncoding = "UTF-16LE";
        theMark = 0;
    }
    else if (theText.size() >= 2 && theText[0] == '\0' && theText[1] != '\0')
    {
        outEncoding = "UTF-16BE";
        theBigEndian = true;
        theMark = 0;
    }
    else
        return true;
    std::string theUtf8;
    if (!utf16ToUtf8(theText.substr(theMark), theBigEndian, theUtf8, outError))
        return false;
    return ioText.assign(theUtf8, outError);
}

// ------------------------------------------------------------------- checks

std::size_t countNewlines(std::string_view inText)
{
    // Eight bytes at a time: a byte of the word XOR '\n'...'\n' is zero
    // exactly where the text has a '\n'.
    constexpr std::uint64_t theLow = 0x7F7F7F7F7F7F7F7Full;
    constexpr std::uint64_t theNewlines = 0x0A0A0A0A0A0A0A0Aull;
    std::size_t theCount = 0;
    std::size_t curPos = 0;
    for (; curPos + 8 <= inText.size(); curPos += 8)
    {
        std::uint64_t theWord;
        std::memcpy(&theWord, inText.data() + curPos, 8);
        theWord ^= theNewlines;
        const std::uint64_t theNonZero = ((theWord & theLow) + theLow) | theWord;
        // One bit per '\n' at the bottom of its byte; the multiplication
        // adds the eight bytes up into the top one.
        const std::uint64_t theHits = (~theNonZero >> 7) & 0x0101010101010101ull;
        theCount += static_cast<std::size_t>((theHits * 0x0101010101010101ull) >> 56);
    }
    for (; curPos < inText.size(); ++curPos)
        theCount += inText[curPos] == '\n' ? 1 : 0;
    return theCount;
}

unsigned long findNulLine(std::string_view inText)
{
    const std::size_t theNul = inText.find('\0');
    if (theNul == std::string_view::npos)
        return 0;
    return static_cast<unsigned long>(countNewlines(inText.substr(0, theNul))) + 1;
}

void neutraliseFileReferences(char* inText, std::size_t inSize, unsigned long inFirstLine,
                              const std::string& inPath, std::vector<std::string>& outErrors,
                              LineCounts& outCounts)
{
    unsigned long theLineNo = inFirstLine - 1;
    std::size_t thePos = 0;
    std::string theLogical;
    while (thePos < inSize)
    {
        const char* theNewline =
            static_cast<const char*>(std::memchr(inText + thePos, '\n', inSize - thePos));
        const std::size_t theLineEnd =
            theNewline ? static_cast<std::size_t>(theNewline - inText) : inSize;
        ++theLineNo;
        const char theFirst = inText[thePos];
        if (theFirst == ' ' || theFirst == '\n' || theFirst == '\r' || theFirst == '#')
        {
            thePos = theLineEnd + 1;
            continue;
        }
        // Most lines show name, colon and the character after it unfolded
        // and without a carriage return: nothing to do for an ordinary one.
        const char* theLine = inText + thePos;
        const char* theColonChar =
            static_cast<const char*>(std::memchr(theLine, ':', theLineEnd - thePos));
        if (theColonChar == theLine + 2 && (theFirst | 0x20) == 'd' && (theLine[1] | 0x20) == 'n')
            ++outCounts.itsDnLines;
        else if (theColonChar == theLine + 6 && strncasecmp(theLine, "member", 6) == 0)
            ++outCounts.itsMemberLines;
        if (theColonChar && theColonChar + 1 < inText + theLineEnd &&
            !std::memchr(theLine, '\r', static_cast<std::size_t>(theColonChar + 2 - theLine)))
        {
            const bool theMaybeInclude =
                theColonChar - theLine == 7 && strncasecmp(theLine, "include", 7) == 0;
            if (theColonChar[1] != '<' && !theMaybeInclude)
            {
                thePos = theLineEnd + 1;
                continue;
            }
        }
        // Unfold this logical line (enough of it to see the name and the
        // character after the colon).
        theLogical.clear();
        std::size_t theScan = thePos;
        std::size_t theScanEnd = theLineEnd;
        for (;;)
        {
            for (std::size_t curPos = theScan; curPos < theScanEnd; ++curPos)
                if (inText[curPos] != '\r')
                    theLogical += inText[curPos];
            const std::size_t theColonSoFar = theLogical.find(':');
            const bool theNeedMore =
                theColonSoFar == std::string::npos || theColonSoFar + 1 == theLogical.size();
            if (!theNeedMore || theScanEnd + 1 >= inSize || inText[theScanEnd + 1] != ' ')
                break;
            theScan = theScanEnd + 2;
            const char* theNext =
                static_cast<const char*>(std::memchr(inText + theScan, '\n', inSize - theScan));
            theScanEnd = theNext ? static_cast<std::size_t>(theNext - inText) : inSize;
        }
        const std::size_t theColon = theLogical.find(':');
        const std::string theName =
            theColon == std::string::npos ? theLogical : theLogical.substr(0, theColon);
        const bool theInclude = theColon != std::string::npos && foldedEquals(theName, "include");
        const bool theUrl = theColon != std::string::npos && theColon + 1 < theLogical.size() &&
                            theLogical[theColon + 1] == '<';
        if (theInclude)
        {
            outErrors.push_back(formatText("LDIF file \"%s\" line %lu: \"include:\" refused, an "
                                           "LDIF file may not name other files",
                                           inPath.c_str(), theLineNo));
            inText[thePos] = '#';
        }
        else if (theUrl)
        {
            outErrors.push_back(formatText("LDIF file \"%s\" line %lu: URL value of \"%s\" "
                                           "refused, an LDIF file may not name other files",
                                           inPath.c_str(), theLineNo, theName.c_str()));
            inText[thePos] = '#';
        }
        thePos = theLineEnd + 1;
    }
    outCounts.itsLines += theLineNo - (inFirstLine - 1);
}

namespace
{

// Base64 as every decoder reads it: whole groups of four, padding only at
// the end.
bool isPlainBase64(std::string_view inText)
{
    if (inText.empty() || inText.size() % 4 != 0)
        return false;
    std::size_t thePadding = 0;
    for (std::size_t curPos = 0; curPos < inText.size(); ++curPos)
    {
        const char curChar = inText[curPos];
        const bool theDigit =
            (curChar >= 'A' && curChar <= 'Z') || (curChar >= 'a' && curChar <= 'z') ||
            (curChar >= '0' && curChar <= '9') || curChar == '+' || curChar == '/';
        if (curChar == '=' && curPos + 2 >= inText.size())
            ++thePadding;
        else if (!theDigit || thePadding > 0)
            return false;
    }
    return true;
}

// What isParsableRecord has seen of the record so far.
struct RecordShape
{
    bool itsModify = false;
    bool itsAfterHeader = true; // a "-" here would be read as a control or changetype
    bool itsParsable = true;
    bool itsCheckLines = false;

    void take(std::string_view inLine)
    {
        if (inLine == "-")
        {
            if (itsAfterHeader || !itsModify)
                itsParsable = false;
            return;
        }
        // libldap's line parser skips white space before the type, so
        // "\t: x" has an empty type too.
        const std::size_t theStart = inLine.find_first_not_of("\t\v\f\r");
        if (theStart == std::string_view::npos)
        {
            itsCheckLines = true;
            return;
        }
        inLine.remove_prefix(theStart);
        if (inLine[0] == ':')
        {
            itsParsable = false;
            return;
        }
        const std::size_t theColon = inLine.find(':');
        if (theColon == std::string_view::npos)
            itsCheckLines = true;
        else if (theColon + 1 < inLine.size() && inLine[theColon + 1] == ':')
        {
            std::string_view theValue = inLine.substr(theColon + 2);
            while (!theValue.empty() && theValue.front() == ' ')
                theValue.remove_prefix(1);
            itsCheckLines = itsCheckLines || !isPlainBase64(theValue);
        }
        const std::string_view theType = inLine.substr(0, theColon);
        itsAfterHeader = foldedEquals(theType, "dn") || foldedEquals(theType, "control") ||
                         foldedEquals(theType, "changetype");
        if (foldedEquals(theType, "changetype") && theColon != std::string_view::npos)
        {
            const std::size_t theValue = inLine.find_first_not_of(' ', theColon + 1);
            itsModify = theValue != std::string_view::npos &&
                        foldedEquals(inLine.substr(theValue), "modify");
        }
    }
};

} // namespace

// libldap's record parser dereferences a null attribute type on a "-" line
// where it looks for a control or a changetype (straight after the dn, a
// control or a changetype line) and on a line whose type is empty (": x", or
// "\t: x" as the line parser skips the white space first).
// Such records are refused before it sees them. A "-" line only ends a
// change of a modify record, so one anywhere else is refused as well.
// Lines are looked at unfolded; comment lines are skipped.
bool isParsableRecord(std::string_view inRecord, std::string& ioScratch, bool& outCheckLines)
{
    RecordShape theShape;
    bool theInComment = false;
    bool theHaveLine = false;
    // The logical line so far: the physical line itself until a
    // continuation makes a copy necessary.
    std::string_view theLine;
    bool theFolded = false;
    const auto takeLine = [&] { theShape.take(theFolded ? std::string_view(ioScratch) : theLine); };
    std::size_t curPos = 0;
    while (curPos < inRecord.size() && theShape.itsParsable)
    {
        std::size_t theEnd = inRecord.find('\n', curPos);
        if (theEnd == std::string_view::npos)
            theEnd = inRecord.size();
        std::string_view thePhysical = inRecord.substr(curPos, theEnd - curPos);
        curPos = theEnd + 1;
        if (!thePhysical.empty() && thePhysical.back() == '\r')
            thePhysical.remove_suffix(1);
        if (thePhysical.empty())
            continue;
        if (thePhysical[0] == ' ')
        {
            // A continuation of the line before.
            if (theInComment || !theHaveLine)
                continue;
            if (!theFolded)
                ioScratch.assign(theLine);
            theFolded = true;
            ioScratch.append(thePhysical.substr(1));
        }
        else if (thePhysical[0] == '#')
            theInComment = true;
        else
        {
            theInComment = false;
            if (theHaveLine)
                takeLine();
            theLine = thePhysical;
            theFolded = false;
            theHaveLine = true;
        }
    }
    if (theHaveLine && theShape.itsParsable)
        takeLine();
    outCheckLines = theShape.itsCheckLines;
    return theShape.itsParsable;
}

std::vector<std::size_t> splitAtBlankLines(std::string_view inText, std::size_t inParts)
{
    std::vector<std::size_t> theStarts{0};
    for (std::size_t curPart = 1; curPart < inParts; ++curPart)
    {
        const std::size_t theTarget = inText.size() / inParts * curPart;
        if (theTarget <= theStarts.back())
            continue;
        // The first blank line ("\n\n" or "\n\r\n") at or after the target.
        std::size_t curPos = theTarget;
        std::size_t theCut = std::string_view::npos;
        while (curPos < inText.size())
        {
            const std::size_t theNewline = inText.find('\n', curPos);
            if (theNewline == std::string_view::npos || theNewline + 1 >= inText.size())
                break;
            if (inText[theNewline + 1] == '\n')
                theCut = theNewline + 2;
            else if (inText[theNewline + 1] == '\r' && theNewline + 2 < inText.size() &&
                     inText[theNewline + 2] == '\n')
                theCut = theNewline + 3;
            if (theCut != std::string_view::npos)
                break;
            curPos = theNewline + 1;
        }
        if (theCut == std::string_view::npos || theCut >= inText.size())
            break;
        theStarts.push_back(theCut);
    }
    return theStarts;
}

std::string formatText(const char* inFormat, ...)
{
    va_list theArgs;
    va_start(theArgs, inFormat);
    va_list theCopy;
    va_copy(theCopy, theArgs);
    const int theLength = std::vsnprintf(nullptr, 0, inFormat, theCopy);
    va_end(theCopy);
    std::string theText;
    if (theLength > 0)
    {
        theText.resize(static_cast<std::size_t>(theLength));
        std::vsnprintf(theText.data(), theText.size() + 1, inFormat, theArgs);
    }
    va_end(theArgs);
    return theText;
}

} // namespace corvel::directory::ldif
