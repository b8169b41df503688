#include "corvel/util/qzstream.h"

#include <climits>
#include <cstring>
#include <new>

#include "corvel/debug/qzdebug.h"
#include "corvel/platform/os_files.h"
#include "corvel/platform/os_process.h"
#include "corvel/platform/os_time.h"
#include "corvel/util/qzdate.h"
#include "corvel/util/qzstringutils.h"
#include "corvel/util/qztime.h"

// ---- qzStrStreamBuf ---------------------------------------------------------

namespace
{

// pbump takes an int; offsets past INT_MAX go in steps.
void bumpPut(std::streambuf& ioBuffer, void (std::streambuf::*inBump)(int), std::size_t inOffset)
{
    while (inOffset > 0)
    {
        const int theStep =
            inOffset > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(inOffset);
        (ioBuffer.*inBump)(theStep);
        inOffset -= static_cast<std::size_t>(theStep);
    }
}

} // namespace

qzStrStreamBuf::~qzStrStreamBuf() { delete[] itsData; }

char* qzStrStreamBuf::writtenEnd()
{
    if (pptr() > itsEnd)
        itsEnd = pptr();
    return itsEnd;
}

bool qzStrStreamBuf::grow(std::size_t inMinCapacity)
{
    if (itsFrozen)
        return false;
    std::size_t theCapacity = itsCapacity < 64 ? 64 : itsCapacity;
    while (theCapacity < inMinCapacity)
        theCapacity *= 2;
    if (theCapacity == itsCapacity && itsData != nullptr)
        return true;

    char* const theData = new char[theCapacity + 1];
    const std::size_t theUsed =
        itsData == nullptr ? 0 : static_cast<std::size_t>(writtenEnd() - itsData);
    const std::size_t thePut = itsData == nullptr ? 0 : static_cast<std::size_t>(pptr() - pbase());
    const std::size_t theGet = itsData == nullptr ? 0 : static_cast<std::size_t>(gptr() - eback());
    if (theUsed > 0)
        std::memcpy(theData, itsData, theUsed);
    theData[theUsed] = '\0';
    delete[] itsData;

    itsData = theData;
    itsCapacity = theCapacity;
    itsEnd = itsData + theUsed;
    setp(itsData, itsData + itsCapacity);
    bumpPut(*this, &qzStrStreamBuf::pbump, thePut);
    setg(itsData, itsData + theGet, itsEnd);
    return true;
}

char* qzStrStreamBuf::str()
{
    // An empty stream still hands out a valid, terminated text.
    if (itsData == nullptr && !grow(1))
        return nullptr;
    itsFrozen = true;
    *writtenEnd() = '\0';
    return itsData;
}

std::streamsize qzStrStreamBuf::pcount() const
{
    return static_cast<std::streamsize>(pptr() - pbase());
}

qzStrStreamBuf::int_type qzStrStreamBuf::overflow(int_type inChar)
{
    if (traits_type::eq_int_type(inChar, traits_type::eof()))
        return traits_type::not_eof(inChar);
    if (pptr() == epptr())
    {
        const std::size_t theUsed =
            itsData == nullptr ? 0 : static_cast<std::size_t>(pptr() - pbase());
        if (!grow(theUsed + 1))
            return traits_type::eof();
    }
    *pptr() = traits_type::to_char_type(inChar);
    pbump(1);
    return inChar;
}

qzStrStreamBuf::int_type qzStrStreamBuf::underflow()
{
    if (itsData == nullptr)
        return traits_type::eof();
    char* const theEnd = writtenEnd();
    if (gptr() >= theEnd)
        return traits_type::eof();
    setg(eback(), gptr(), theEnd);
    return traits_type::to_int_type(*gptr());
}

qzStrStreamBuf::int_type qzStrStreamBuf::pbackfail(int_type inChar)
{
    if (itsData == nullptr || gptr() <= eback())
        return traits_type::eof();
    if (!traits_type::eq_int_type(inChar, traits_type::eof()))
        gptr()[-1] = traits_type::to_char_type(inChar);
    gbump(-1);
    return traits_type::not_eof(inChar);
}

qzStrStreamBuf::pos_type qzStrStreamBuf::seekoff(off_type inOffset, std::ios_base::seekdir inDir,
                                                 std::ios_base::openmode inWhich)
{
    const bool theIn = (inWhich & std::ios_base::in) != 0;
    const bool theOut = (inWhich & std::ios_base::out) != 0;
    if (!theIn && !theOut)
        return pos_type(off_type(-1));
    // Relative to the current position only one of the two can move.
    if (inDir == std::ios_base::cur && theIn && theOut)
        return pos_type(off_type(-1));

    const off_type theEnd = itsData == nullptr ? 0 : writtenEnd() - itsData;
    off_type theBase = 0;
    if (inDir == std::ios_base::cur)
        theBase = itsData == nullptr ? 0 : (theIn ? gptr() - eback() : pptr() - pbase());
    else if (inDir == std::ios_base::end)
        theBase = theEnd;
    const off_type theTarget = theBase + inOffset;
    if (theTarget < 0 || theTarget > theEnd)
        return pos_type(off_type(-1));
    if (itsData == nullptr)
        return pos_type(theTarget);

    if (theIn)
        setg(itsData, itsData + theTarget, itsEnd);
    if (theOut)
    {
        setp(itsData, itsData + itsCapacity);
        bumpPut(*this, &qzStrStreamBuf::pbump, static_cast<std::size_t>(theTarget));
    }
    return pos_type(theTarget);
}

qzStrStreamBuf::pos_type qzStrStreamBuf::seekpos(pos_type inPos, std::ios_base::openmode inWhich)
{
    return seekoff(off_type(inPos), std::ios_base::beg, inWhich);
}

qzStrStream::qzStrStream() : std::iostream(nullptr) { std::iostream::rdbuf(&itsBuffer); }

qzStrStream::~qzStrStream()
{
    // Unfreeze first, as callers expect of this stream: the buffer goes with
    // the stream even when a caller took str() and never unfroze it.
    itsBuffer.freeze(false);
}

// ---- Path text --------------------------------------------------------------

bool isPathSeparator(char inChar) { return inChar == '\\' || inChar == '/'; }

namespace
{

bool isAsciiLetter(char inChar)
{
    return (inChar >= 'a' && inChar <= 'z') || (inChar >= 'A' && inChar <= 'Z');
}

bool hasDrive(const std::string& inPath)
{
    return inPath.size() > 2 && isAsciiLetter(inPath[0]) && inPath[1] == ':' &&
           isPathSeparator(inPath[2]);
}

// One trailing separator goes, unless it is all there is.
std::string withoutTrailingSeparator(const std::string& inPath)
{
    if (inPath.size() > 1 && isPathSeparator(inPath.back()))
        return inPath.substr(0, inPath.size() - 1);
    return inPath;
}

// '*' and '?' with backtracking to the last '*' only: linear in practice and
// never recursive.
bool wildcardMatch(const std::string& inName, const std::string& inPattern)
{
    std::size_t theName = 0;
    std::size_t thePattern = 0;
    std::size_t theStar = std::string::npos;
    std::size_t theStarName = 0;
    while (theName < inName.size())
    {
        if (thePattern < inPattern.size() &&
            (inPattern[thePattern] == '?' ||
             (inPattern[thePattern] != '*' &&
              toLower(inPattern[thePattern]) == toLower(inName[theName]))))
        {
            ++theName;
            ++thePattern;
        }
        else if (thePattern < inPattern.size() && inPattern[thePattern] == '*')
        {
            theStar = thePattern++;
            theStarName = theName;
        }
        else if (theStar != std::string::npos)
        {
            thePattern = theStar + 1;
            theName = ++theStarName;
        }
        else
            return false;
    }
    while (thePattern < inPattern.size() && inPattern[thePattern] == '*')
        ++thePattern;
    return thePattern == inPattern.size();
}

} // namespace

bool isAbsolutePath(const std::string& inPath)
{
    if (inPath.empty())
        return false;
    return isPathSeparator(inPath[0]) || hasDrive(inPath);
}

std::string joinPath(const std::string& inA, const std::string& inB)
{
    if (inA.empty())
        return inB;
    if (inB.empty())
        return inA;
    std::string theResult = inA;
    if (!isPathSeparator(inA.back()) && !isPathSeparator(inB.front()))
        theResult += corvel::platform::pathSeparator();
    theResult += inB;
    return theResult;
}

std::string rebasePath(const std::string& inBase, const std::string& inPath)
{
    if (!isAbsolutePath(inPath))
        return inPath;
    if (hasDrive(inPath))
        return joinPath(inBase, inPath.substr(2));
    return joinPath(inBase, inPath);
}

void splitPath(const std::string& inPath, std::string& outDirectory, std::string& outName)
{
    std::size_t theCut = inPath.size();
    while (theCut > 0 && !isPathSeparator(inPath[theCut - 1]) && inPath[theCut - 1] != ':')
        --theCut;
    // No separator, or only one in front: the whole path is the name.
    if (theCut <= 1)
    {
        outDirectory.clear();
        outName = inPath;
        return;
    }
    outDirectory = inPath.substr(0, theCut);
    outName = inPath.substr(theCut);
}

bool matchesFilePattern(const std::string& inName, const std::string& inPattern)
{
    if (wildcardMatch(inName, inPattern))
        return true;
    const bool theHasDot = inName.find('.') != std::string::npos;
    if (inPattern.size() >= 2 && inPattern.compare(inPattern.size() - 2, 2, ".*") == 0)
        return !theHasDot && wildcardMatch(inName, inPattern.substr(0, inPattern.size() - 2));
    if (!inPattern.empty() && inPattern.back() == '.')
        return !theHasDot && wildcardMatch(inName, inPattern.substr(0, inPattern.size() - 1));
    return false;
}

// ---- Current directory and directories ----------------------------------------

bool setCurrentDirectory(const std::string& inDirName)
{
    qzAssert(!inDirName.empty());
    if (inDirName.empty())
        return true;
    return corvel::platform::setCurrentDir(inDirName);
}

std::string getCurrentDirectory()
{
    std::string thePath;
    if (!corvel::platform::getCurrentDir(thePath))
    {
        qzAssert(false);
        return std::string();
    }
    return thePath;
}

bool createDirectory(const std::string& inPath)
{
    return corvel::platform::makeDirectory(withoutTrailingSeparator(inPath));
}

bool directoryExists(const std::string& inPath)
{
    return corvel::platform::isDirectory(withoutTrailingSeparator(inPath));
}

bool removeDirectoryTree(const std::string& inDirectory, std::int32_t /*inMode*/)
{
    // A link named as the tree is removed as itself; its target stays.
    if (corvel::platform::isSymbolicLink(withoutTrailingSeparator(inDirectory)))
        return corvel::platform::removeFile(withoutTrailingSeparator(inDirectory));

    // One frame per directory being emptied: the walk a recursive removal
    // would make, with the stack on the heap.
    struct Frame
    {
        std::string itsPath;
        std::vector<corvel::platform::DirEntry> itsEntries;
        std::size_t itsNext = 0;
    };
    std::vector<Frame> theStack;
    theStack.push_back(Frame{inDirectory, {}, 0});
    if (!corvel::platform::readDirectory(inDirectory, theStack.back().itsEntries))
        return false;

    bool theResult = false;
    while (!theStack.empty())
    {
        Frame& theFrame = theStack.back();
        if (theFrame.itsNext == theFrame.itsEntries.size())
        {
            // Fails when something below could not be removed.
            theResult = corvel::platform::removeEmptyDirectory(theFrame.itsPath);
            theStack.pop_back();
            continue;
        }
        const corvel::platform::DirEntry& theEntry = theFrame.itsEntries[theFrame.itsNext++];
        std::string theChild = joinPath(theFrame.itsPath, theEntry.name);
        if (!theEntry.isDirectory)
        {
            if (!corvel::platform::removeFile(theChild))
            {
                // This directory stays; its parent goes on with its own
                // entries, as it ignores what a subdirectory reports.
                theResult = false;
                theStack.pop_back();
            }
            continue;
        }
        Frame theSub{std::move(theChild), {}, 0};
        if (corvel::platform::readDirectory(theSub.itsPath, theSub.itsEntries))
            theStack.push_back(std::move(theSub));
    }
    return theResult;
}

void listFiles(const std::string& inDirectory, const std::string& inPattern,
               std::vector<std::string>& ioNames, bool inRecursive)
{
    // Directories still to list, the next one at the back: subdirectories go
    // on in reverse so they come off in the system's order, each one's whole
    // subtree before its next sibling.
    std::vector<std::string> thePending{inDirectory};
    std::vector<corvel::platform::DirEntry> theEntries;
    while (!thePending.empty())
    {
        const std::string theDirectory = std::move(thePending.back());
        thePending.pop_back();
        theEntries.clear();
        if (!corvel::platform::readDirectory(theDirectory, theEntries))
            continue;
        for (const corvel::platform::DirEntry& curEntry : theEntries)
            if (!curEntry.isDirectory && matchesFilePattern(curEntry.name, inPattern))
                ioNames.push_back(joinPath(theDirectory, curEntry.name));
        if (!inRecursive)
            continue;
        for (auto curEntry = theEntries.rbegin(); curEntry != theEntries.rend(); ++curEntry)
            if (curEntry->isDirectory)
                thePending.push_back(joinPath(theDirectory, curEntry->name));
    }
}

// ---- Files ----------------------------------------------------------------------

bool fileExists(const std::string& inPath) { return corvel::platform::isReadableFile(inPath); }

bool deleteFile(const std::string& inPath) { return corvel::platform::removeFile(inPath); }

bool moveFile(const std::string& inFrom, const std::string& inTo)
{
    return corvel::platform::moveFileTo(inFrom, inTo);
}

bool copyFile(const std::string& inFrom, const std::string& inTo)
{
    return corvel::platform::copyFileTo(inFrom, inTo);
}

bool getFileTime(const std::string& inPath, qzDate& outDate, qzTime& outTime)
{
    std::int64_t theSeconds = 0;
    std::int32_t theMillisecond = 0;
    corvel::platform::LocalTime theLocal;
    if (!corvel::platform::fileModifiedTime(inPath, theSeconds, theMillisecond) ||
        !corvel::platform::localTimeOf(theSeconds, theLocal))
        return false;
    if (theLocal.year < 1 || theLocal.year > 65535)
        return false;
    outDate =
        qzDate(static_cast<std::uint16_t>(theLocal.day), static_cast<std::uint16_t>(theLocal.month),
               static_cast<std::uint16_t>(theLocal.year));
    outTime.set(
        static_cast<std::uint16_t>(theLocal.hour), static_cast<std::uint16_t>(theLocal.minute),
        static_cast<std::uint16_t>(theLocal.second), static_cast<std::uint16_t>(theMillisecond));
    return true;
}

std::string getTempPath() { return corvel::platform::tempDirectory(); }

std::string makeTempFileName(const std::string& inDirectory)
{
    std::string theDirectory = inDirectory;
    if (theDirectory.empty())
        theDirectory = getTempPath();
    if (theDirectory.empty())
        theDirectory.assign(1, '.'); // not = ".": GCC 12 warns falsely (-Wrestrict)
    std::string thePath;
    if (!corvel::platform::makeUniqueFile(theDirectory, "tmp", thePath))
        return std::string();
    return thePath;
}

// ---- Program path ---------------------------------------------------------------

namespace
{

struct ProgramPath
{
    std::string itsPath;
    std::string itsDirectory;
    std::string itsName;
};

// Filled once by the first caller; the language makes that initialisation
// safe when threads race for it, and the strings never change afterwards.
const ProgramPath& programPath()
{
    static const ProgramPath theCache = []
    {
        ProgramPath thePaths;
        if (corvel::platform::programFilePath(thePaths.itsPath))
            splitPath(thePaths.itsPath, thePaths.itsDirectory, thePaths.itsName);
        return thePaths;
    }();
    return theCache;
}

} // namespace

std::string getProgramPath() { return programPath().itsPath; }

std::string getProgramDirectory() { return programPath().itsDirectory; }

std::string getProgramName() { return programPath().itsName; }
