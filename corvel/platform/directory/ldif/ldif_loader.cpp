// Loading an LDIF file: reading and checking it, parsing its parts on
// threads, merging them in file order, and the process-wide cache.
#include "corvel/platform/directory/ldif/ldif_loader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <exception>
#include <map>
#include <thread>

#include "corvel/platform/directory/ldif/ldif_derive.h"
#include "corvel/platform/directory/ldif/ldif_input.h"
#include "corvel/platform/directory/ldif/ldif_part.h"
#include "corvel/platform/directory/libldap_log.h"
#include "corvel/platform/os_lock.h"
#include "corvel/platform/os_report.h"

namespace corvel::directory::ldif
{

namespace
{

// A part smaller than this is not worth a thread of its own.
constexpr std::size_t theMinPartSize = std::size_t(4) << 20;
constexpr unsigned theMaxThreads = 8;

void reportLine(const std::string& inText)
{
    platform::reportLog(platform::Report_error, "%s", inText.c_str());
}

// Appends inFrom to ioTo, moving when ioTo is empty.
template <class T>
void append(std::vector<T>& ioTo, std::vector<T>& inFrom)
{
    if (ioTo.empty())
        ioTo.swap(inFrom);
    else
        ioTo.insert(ioTo.end(), inFrom.begin(), inFrom.end());
    std::vector<T>().swap(inFrom);
}

// Takes the parts into the directory in file order. What one part could
// not know is decided here: an entry defined in an earlier part, and the
// directory's DN and attribute ids, given in the order the whole file meets
// them. Every DN, attribute name and value a kept record refers to is
// mapped as it is met, so the ids come out as one reader would give them.
class Merger
{
public:
    explicit Merger(Directory& ioDir) : itsDir(ioDir) {}

    void merge(Part& ioPart);

private:
    // The first part, when none of its records repeats another: its ids are
    // the directory's as they stand, and its tables are taken whole.
    bool canAdopt(const Part& inPart) const { return itsDir.itsDns.empty() && !inPart.itsRepeats; }
    void adopt(Part& ioPart);
    std::uint32_t mapDn(const Part& inPart, std::uint32_t inDn, std::string_view inSpelling);
    std::uint32_t mapAttr(const Part& inPart, std::uint32_t inAttr);
    void report(const Part& inPart, std::size_t inBegin, std::size_t inEnd);
    void takeTables(Part& ioPart);

    Directory& itsDir;
    std::vector<std::uint32_t> itsDnMap;   // part DN id -> directory DN id
    std::vector<std::uint32_t> itsAttrMap; // part attribute id -> directory attribute id
};

std::uint32_t Merger::mapDn(const Part& inPart, std::uint32_t inDn, std::string_view inSpelling)
{
    std::uint32_t& theMapped = itsDnMap[inDn];
    if (theMapped != NoIndex)
        return theMapped;
    const PartDn& theDn = inPart.itsDns[inDn];
    theMapped = itsDir.findDnKey(theDn.itsKey, theDn.itsHash);
    if (theMapped == NoIndex)
    {
        theMapped = static_cast<std::uint32_t>(itsDir.itsDns.size());
        itsDir.itsDns.push_back(DnRecord{inSpelling, theDn.itsKey, theDn.itsHash, NoIndex});
        itsDir.itsDnTable.add(theDn.itsHash, theMapped);
    }
    return theMapped;
}

std::uint32_t Merger::mapAttr(const Part& inPart, std::uint32_t inAttr)
{
    if (inAttr < Attr_knownCount)
        return inAttr;
    std::uint32_t& theMapped = itsAttrMap[inAttr];
    if (theMapped != NoIndex)
        return theMapped;
    const std::string_view theName = inPart.itsAttrNames[inAttr];
    const std::uint32_t theNewId = static_cast<std::uint32_t>(itsDir.itsAttrNames.size());
    theMapped = itsDir.itsAttrTable.findOrAdd(hashBytes(theName), theNewId,
                                              [&](std::uint32_t inId)
                                              { return itsDir.itsAttrNames[inId] == theName; });
    if (theMapped == theNewId)
        itsDir.itsAttrNames.push_back(theName);
    return theMapped;
}

void Merger::report(const Part& inPart, std::size_t inBegin, std::size_t inEnd)
{
    for (std::size_t curLine = inBegin; curLine < inEnd; ++curLine)
    {
        const PartLine& theLine = inPart.itsLines[curLine];
        if (theLine.itsFromLibldap)
            reportLibldapLine(theLine.itsText);
        else
            reportLine(theLine.itsText);
    }
}

// A part's value tables, once its ids are the directory's, and the arena
// its texts live in.
void Merger::takeTables(Part& ioPart)
{
    append(itsDir.itsAttrValues, ioPart.itsAttrValues);
    append(itsDir.itsMemberIds, ioPart.itsMembers);
    append(itsDir.itsValues, ioPart.itsValues);
    itsDir.itsArenas.push_back(std::move(ioPart.itsArena));
}

void Merger::adopt(Part& ioPart)
{
    report(ioPart, 0, ioPart.itsLines.size());
    itsDir.itsDns.reserve(ioPart.itsDns.size());
    for (const PartDn& curDn : ioPart.itsDns)
        itsDir.itsDns.push_back(DnRecord{curDn.itsText, curDn.itsKey, curDn.itsHash, NoIndex});
    itsDir.itsDnTable = std::move(ioPart.itsDnTable);
    itsDir.itsAttrNames = ioPart.itsAttrNames;
    itsDir.itsAttrTable = std::move(ioPart.itsAttrTable);
    std::size_t theMemberOut = 0;
    itsDir.itsEntries.reserve(ioPart.itsRecords.size());
    for (std::size_t curRecord = 0; curRecord < ioPart.itsRecords.size(); ++curRecord)
    {
        const PartRecord& theRecord = ioPart.itsRecords[curRecord];
        const std::size_t theMemberEnd = curRecord + 1 == ioPart.itsRecords.size()
                                             ? ioPart.itsMembers.size()
                                             : ioPart.itsRecords[curRecord + 1].itsMemberBegin;
        Entry theEntry;
        theEntry.itsDn = theRecord.itsDn;
        theEntry.itsLine = theRecord.itsLine;
        theEntry.itsClasses = theRecord.itsClasses;
        theEntry.itsRdnSize = theRecord.itsRdnSize;
        theEntry.itsRdnValue = theRecord.itsRdnValue;
        theEntry.itsAttrBegin = theRecord.itsAttrBegin;
        theEntry.itsMemberBegin = static_cast<std::uint32_t>(theMemberOut);
        if (theRecord.itsKeepsMembers)
            for (std::size_t curMember = theRecord.itsMemberBegin; curMember < theMemberEnd;
                 ++curMember)
                ioPart.itsMembers[theMemberOut++] = ioPart.itsMembers[curMember];
        itsDir.itsDns[theRecord.itsDn].itsText = theRecord.itsDnText;
        itsDir.itsDns[theRecord.itsDn].itsEntry =
            static_cast<std::uint32_t>(itsDir.itsEntries.size());
        itsDir.itsEntries.push_back(theEntry);
    }
    ioPart.itsMembers.resize(theMemberOut);
    takeTables(ioPart);
}

void Merger::merge(Part& ioPart)
{
    if (canAdopt(ioPart))
    {
        adopt(ioPart);
        return;
    }
    itsDnMap.assign(ioPart.itsDns.size(), NoIndex);
    itsAttrMap.assign(ioPart.itsAttrNames.size(), NoIndex);
    const std::uint32_t theValueBase = static_cast<std::uint32_t>(itsDir.itsValues.size());
    const std::uint32_t theAttrBase = static_cast<std::uint32_t>(itsDir.itsAttrValues.size());
    const std::uint32_t theMemberBase = static_cast<std::uint32_t>(itsDir.itsMemberIds.size());

    // Values and members are remapped in place, dropping those of records
    // that repeat an entry, then appended whole.
    std::size_t theAttrOut = 0;
    std::size_t theMemberOut = 0;
    std::size_t theSpelling = 0;
    std::size_t theReported = 0;
    itsDir.itsEntries.reserve(itsDir.itsEntries.size() + ioPart.itsRecords.size());
    for (std::size_t curRecord = 0; curRecord < ioPart.itsRecords.size(); ++curRecord)
    {
        const PartRecord& theRecord = ioPart.itsRecords[curRecord];
        const bool theLast = curRecord + 1 == ioPart.itsRecords.size();
        const std::size_t theAttrEnd =
            theLast ? ioPart.itsAttrValues.size() : ioPart.itsRecords[curRecord + 1].itsAttrBegin;
        const std::size_t theMemberEnd =
            theLast ? ioPart.itsMembers.size() : ioPart.itsRecords[curRecord + 1].itsMemberBegin;
        report(ioPart, theReported, theRecord.itsLinesBegin);
        theReported = theRecord.itsLinesEnd;

        const std::uint32_t theDn = mapDn(ioPart, theRecord.itsDn, theRecord.itsDnText);
        DnRecord& theDnRecord = itsDir.itsDns[theDn];
        if (theDnRecord.itsEntry != NoIndex)
        {
            reportLine(formatText(
                "LDIF file \"%s\" line %" PRIu32 ": entry \"%s\" already defined at line %" PRIu32
                "; record skipped",
                itsDir.itsPath.c_str(), theRecord.itsLine, std::string(theRecord.itsDnText).c_str(),
                itsDir.itsEntries[theDnRecord.itsEntry].itsLine));
            while (theSpelling < ioPart.itsSpellings.size() &&
                   ioPart.itsSpellings[theSpelling].first < theMemberEnd)
                ++theSpelling;
            continue;
        }
        report(ioPart, theRecord.itsLinesBegin, theRecord.itsLinesEnd);
        // The entry's own spelling wins over one met earlier in a member value.
        theDnRecord.itsText = theRecord.itsDnText;
        theDnRecord.itsEntry = static_cast<std::uint32_t>(itsDir.itsEntries.size());

        Entry theEntry;
        theEntry.itsDn = theDn;
        theEntry.itsLine = theRecord.itsLine;
        theEntry.itsClasses = theRecord.itsClasses;
        theEntry.itsRdnSize = theRecord.itsRdnSize;
        theEntry.itsRdnValue = theValueBase + theRecord.itsRdnValue;
        theEntry.itsAttrBegin = static_cast<std::uint32_t>(theAttrBase + theAttrOut);
        for (std::size_t curValue = theRecord.itsAttrBegin; curValue < theAttrEnd; ++curValue)
        {
            const AttrValue theValue = ioPart.itsAttrValues[curValue];
            ioPart.itsAttrValues[theAttrOut++] =
                AttrValue{mapAttr(ioPart, theValue.itsAttr), theValueBase + theValue.itsValue};
        }
        theEntry.itsMemberBegin = static_cast<std::uint32_t>(theMemberBase + theMemberOut);
        for (std::size_t curMember = theRecord.itsMemberBegin; curMember < theMemberEnd;
             ++curMember)
        {
            const std::uint32_t thePartDn = ioPart.itsMembers[curMember];
            std::string_view theSpelt = ioPart.itsDns[thePartDn].itsText;
            if (theSpelling < ioPart.itsSpellings.size() &&
                ioPart.itsSpellings[theSpelling].first == curMember)
                theSpelt = ioPart.itsSpellings[theSpelling++].second;
            const std::uint32_t theMember = mapDn(ioPart, thePartDn, theSpelt);
            if (theRecord.itsKeepsMembers)
                ioPart.itsMembers[theMemberOut++] = theMember;
        }
        itsDir.itsEntries.push_back(theEntry);
    }
    report(ioPart, theReported, ioPart.itsLines.size());

    ioPart.itsAttrValues.resize(theAttrOut);
    ioPart.itsMembers.resize(theMemberOut);
    takeTables(ioPart);
}

// How many parts inSize is worth with inThreads (0: this machine's cores).
std::size_t partCount(std::size_t inSize, unsigned inThreads)
{
    if (inThreads > 0)
        return inThreads;
    const unsigned theCores =
        std::max(1u, std::min(theMaxThreads, std::thread::hardware_concurrency()));
    return std::max<std::size_t>(1, std::min<std::size_t>(theCores, inSize / theMinPartSize));
}

// Parses the parts of ioText, the first on this thread and the others on
// threads of their own; the first failure of any is thrown here.
void parseParts(FileText& ioText, const std::vector<std::size_t>& inStarts,
                const std::string& inPath, std::vector<Part>& outParts)
{
    outParts.resize(inStarts.size());
    std::vector<unsigned long> theFirstLines(inStarts.size(), 1);
    for (std::size_t curPart = 1; curPart < inStarts.size(); ++curPart)
        theFirstLines[curPart] =
            theFirstLines[curPart - 1] +
            static_cast<unsigned long>(countNewlines(std::string_view(
                ioText.data() + inStarts[curPart - 1], inStarts[curPart] - inStarts[curPart - 1])));
    std::vector<std::exception_ptr> theFailures(inStarts.size());
    const auto parseOne = [&](std::size_t inPart)
    {
        try
        {
            const std::size_t theEnd =
                inPart + 1 < inStarts.size() ? inStarts[inPart + 1] : ioText.size();
            outParts[inPart].parse(ioText.data() + inStarts[inPart], theEnd - inStarts[inPart],
                                   theFirstLines[inPart], inPath, &ioText);
        }
        catch (...)
        {
            theFailures[inPart] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> theThreads;
        for (std::size_t curPart = 1; curPart < inStarts.size(); ++curPart)
            theThreads.emplace_back(parseOne, curPart);
        parseOne(0);
    }
    for (const std::exception_ptr& curFailure : theFailures)
        if (curFailure)
            std::rethrow_exception(curFailure);
}

void load(Directory& ioDir, FileText& ioText, unsigned inThreads)
{
    const std::string& thePath = ioDir.itsPath;
    std::string theEncoding;
    std::string theError;
    if (!decodeToUtf8(ioText, theEncoding, theError))
    {
        platform::reportLog(platform::Report_error, "LDIF file \"%s\": %s; nothing loaded",
                            thePath.c_str(), theError.c_str());
        return;
    }
    if (!theEncoding.empty())
        platform::reportLog(platform::Report_debug, "LDIF file \"%s\" read as %s", thePath.c_str(),
                            theEncoding.c_str());
    const unsigned long theNulLine = findNulLine(std::string_view(ioText.data(), ioText.size()));
    if (theNulLine != 0)
    {
        platform::reportLog(
            platform::Report_error,
            "LDIF file \"%s\" line %lu: NUL byte, this is no LDIF text; nothing loaded",
            thePath.c_str(), theNulLine);
        return;
    }
    const std::vector<std::size_t> theStarts = splitAtBlankLines(
        std::string_view(ioText.data(), ioText.size()), partCount(ioText.size(), inThreads));
    std::vector<Part> theParts;
    parseParts(ioText, theStarts, thePath, theParts);
    ioText = FileText(); // nothing refers to the text any more

    for (const Part& curPart : theParts)
        for (const std::string& curLine : curPart.itsFileLines)
            reportLine(curLine);
    ioDir.itsLoaded = true;
    for (const Part& curPart : theParts)
    {
        if (!curPart.itsOpened)
        {
            platform::reportLog(platform::Report_error,
                                "LDIF file \"%s\": cannot be read into the LDIF reader",
                                thePath.c_str());
            ioDir.itsLoaded = false;
            return;
        }
    }
    std::size_t theRecords = 0;
    for (const Part& curPart : theParts)
        theRecords += curPart.itsRecords.size();
    ioDir.itsDns.reserve(theRecords + theRecords / 8 + 16);
    ioDir.itsDnTable.reserve(theRecords + theRecords / 8 + 16);
    Merger theMerger(ioDir);
    for (Part& curPart : theParts)
    {
        theMerger.merge(curPart);
        const bool theStopped = curPart.itsReadFailed;
        curPart = Part();
        if (theStopped)
            break; // one reader would have read no further
    }
    deriveDirectory(ioDir);
}

struct CacheSlot
{
    std::int64_t itsMtimeNs = 0;
    std::int64_t itsSize = -1;
    std::uint64_t itsInode = 0;
    std::shared_ptr<const Directory> itsDir;
};

platform::OsLock& cacheMutex()
{
    static platform::OsLock theMutex;
    return theMutex;
}

std::map<std::string, CacheSlot>& cache()
{
    static std::map<std::string, CacheSlot> theCache;
    return theCache;
}

// The directory of inPath; outRead false when the file could not be read.
std::shared_ptr<Directory> readDirectory(const std::string& inPath, unsigned inThreads,
                                         bool& outRead)
{
    routeLibldapDiagnostics();
    auto theDir = std::make_shared<Directory>();
    theDir->itsPath = inPath;
    FileText theText;
    std::string theError;
    outRead = theText.read(inPath, theError);
    if (!outRead)
    {
        platform::reportLog(platform::Report_error, "LDIF file \"%s\" cannot be read: %s",
                            inPath.c_str(), theError.c_str());
        return theDir;
    }
    load(*theDir, theText, inThreads);
    return theDir;
}

} // namespace

std::shared_ptr<const Directory> loadDirectoryUncached(const std::string& inPath,
                                                       unsigned inThreads)
{
    bool theRead = false;
    return readDirectory(inPath, inThreads, theRead);
}

std::shared_ptr<const Directory> loadDirectoryText(std::string_view inText,
                                                   const std::string& inName)
{
    routeLibldapDiagnostics();
    auto theDir = std::make_shared<Directory>();
    theDir->itsPath = inName;
    FileText theText;
    std::string theError;
    if (!theText.assign(inText, theError))
    {
        platform::reportLog(platform::Report_error, "LDIF text \"%s\" cannot be taken: %s",
                            inName.c_str(), theError.c_str());
        return theDir;
    }
    load(*theDir, theText, 0);
    return theDir;
}

std::shared_ptr<const Directory> loadDirectory(const std::string& inPath)
{
    platform::OsLockGuard theLock(cacheMutex());
    struct stat theStat;
    const bool theStated = ::stat(inPath.c_str(), &theStat) == 0;
    const std::int64_t theMtime =
        theStated ? static_cast<std::int64_t>(theStat.st_mtim.tv_sec) * 1000000000 +
                        theStat.st_mtim.tv_nsec
                  : 0;
    if (theStated)
    {
        auto theFound = cache().find(inPath);
        if (theFound != cache().end() && theFound->second.itsMtimeNs == theMtime &&
            theFound->second.itsSize == static_cast<std::int64_t>(theStat.st_size) &&
            theFound->second.itsInode == static_cast<std::uint64_t>(theStat.st_ino))
            return theFound->second.itsDir;
    }
    bool theRead = false;
    std::shared_ptr<const Directory> theDir = readDirectory(inPath, 0, theRead);
    // Not cached when the file could not be read: it may be there next time.
    if (theStated && theRead)
    {
        CacheSlot& theSlot = cache()[inPath];
        theSlot.itsMtimeNs = theMtime;
        theSlot.itsSize = static_cast<std::int64_t>(theStat.st_size);
        theSlot.itsInode = static_cast<std::uint64_t>(theStat.st_ino);
        theSlot.itsDir = theDir;
    }
    return theDir;
}

} // namespace corvel::directory::ldif
