// Loads arbitrary bytes as an LDIF directory file and then asks the loaded
// directory about every entry it kept, so that a table the loader left
// inconsistent shows up as a crash or a failed check here. The same bytes
// loaded in one part and in several must give the same directory and the
// same log lines.
//
// The loader reads files only; the input goes to one temp file per process,
// and its modification time is set to a new value each run so that the
// loader's cache (keyed by path, time, size and inode) never returns the
// directory of an earlier input.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldif/ldif_directory.h"
#include "corvel/platform/directory/ldif/ldif_loader.h"
#include "tests/unit/platform/directory/ldif/ldif_describe.h"

using namespace corvel::directory::ldif;

namespace
{
void require(bool inCondition)
{
    if (!inCondition)
        std::abort();
}

std::string thePath;
std::int64_t theRun = 0;

void writeInput(const std::uint8_t* inData, std::size_t inSize)
{
    int theFd = ::open(thePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    require(theFd >= 0);
    std::size_t theDone = 0;
    while (theDone < inSize)
    {
        ssize_t theWritten = ::write(theFd, inData + theDone, inSize - theDone);
        require(theWritten > 0);
        theDone += static_cast<std::size_t>(theWritten);
    }
    ++theRun;
    struct timespec theTimes[2];
    theTimes[0].tv_sec = theTimes[1].tv_sec = 1000000 + theRun / 1000000000;
    theTimes[0].tv_nsec = theTimes[1].tv_nsec = theRun % 1000000000;
    require(::futimens(theFd, theTimes) == 0);
    ::close(theFd);
}

void checkDirectory(const Directory& inDir)
{
    const std::size_t theDns = inDir.itsDns.size();
    for (std::size_t curDn = 0; curDn < theDns; ++curDn)
    {
        const DnRecord& theDn = inDir.itsDns[curDn];
        require(inDir.findDnKey(theDn.itsKey, theDn.itsHash) == curDn);
        // A key is its own normal form; the text has that key.
        std::string theKey;
        require(corvel::directory::dn::normalizeDN(std::string(theDn.itsKey), theKey));
        require(foldedEquals(theKey, theDn.itsKey));
        require(corvel::directory::dn::normalizeDN(std::string(theDn.itsText), theKey));
        require(foldedEquals(theKey, theDn.itsKey));
        require(inDir.findDn(theDn.itsText) == curDn);
        if (theDn.itsEntry != NoIndex)
            require(theDn.itsEntry < inDir.itsEntries.size() &&
                    inDir.itsEntries[theDn.itsEntry].itsDn == curDn);
    }
    for (std::size_t curEntry = 0; curEntry < inDir.itsEntries.size(); ++curEntry)
    {
        const Entry& theEntry = inDir.itsEntries[curEntry];
        require(theEntry.itsDn < theDns && inDir.itsDns[theEntry.itsDn].itsEntry == curEntry);
        require(theEntry.itsDomain == NoIndex || theEntry.itsDomain < inDir.itsDomains.size());
        require(theEntry.itsRdnSize <= inDir.dnText(theEntry.itsDn).size());
        require(theEntry.itsRdnValue < inDir.itsValues.size());
        for (std::uint32_t curMember : inDir.members(theEntry))
            require(curMember < theDns && theEntry.is(Class_Group));
        for (std::uint32_t curGroup : inDir.memberOf(theEntry))
        {
            require(curGroup < theDns);
            const Entry* theGroup = inDir.entryOfDn(curGroup);
            require(theGroup != nullptr && theGroup->is(Class_Group));
        }
        for (const AttrValue& curValue : inDir.attrs(theEntry))
            require(curValue.itsAttr < inDir.itsAttrNames.size() &&
                    curValue.itsValue < inDir.itsValues.size());
        (void)inDir.rdnText(theEntry);
        (void)inDir.canonicalName(theEntry);
        (void)inDir.primaryGroupOf(theEntry);
        if (const std::string_view* theSam = inDir.firstValue(theEntry, Attr_sAMAccountName))
        {
            const auto theFound = inDir.itsBySam.find(*theSam);
            require(std::find(theFound.begin(), theFound.end(), curEntry) != theFound.end());
        }
    }
    for (const Domain& curDomain : inDir.itsDomains)
    {
        require(curDomain.itsNcDn == NoIndex || curDomain.itsNcDn < theDns);
        (void)inDir.findDomain(curDomain.itsNetbios);
        (void)inDir.findDomainByDns(curDomain.itsDnsRoot);
    }
}

std::vector<std::string> theLog;

bool keepLine(qzInfoLogLevel inLevel, const char* inText)
{
    theLog.push_back(std::to_string(inLevel) + " " + (inText ? inText : ""));
    return true;
}

// The directory and log lines of a load past the cache in inThreads parts.
std::string loadIn(unsigned inThreads)
{
    theLog.clear();
    std::string theText = dirtest::describe(*loadDirectoryUncached(thePath, inThreads));
    for (const std::string& curLine : theLog)
        theText += curLine + "\n";
    return theText;
}

void removeInput() { ::unlink(thePath.c_str()); }
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setInfoLog("", 0);
    addInfoLogCallback(keepLine, qzLogDebug);
    const char* theTmp = std::getenv("TMPDIR");
    thePath = std::string(theTmp && *theTmp ? theTmp : "/tmp") + "/ldif_load_fuzz." +
              std::to_string(::getpid()) + ".ldif";
    std::atexit(removeInput);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* inData, std::size_t inSize)
{
    writeInput(inData, inSize);
    std::shared_ptr<const Directory> theDir = loadDirectory(thePath);
    require(theDir != nullptr);
    checkDirectory(*theDir);
    const std::string theWhole = loadIn(1);
    require(theWhole == loadIn(2));
    require(theWhole == loadIn(5));
    return 0;
}
