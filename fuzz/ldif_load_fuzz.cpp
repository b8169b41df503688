// Loads arbitrary bytes as an LDIF directory file and then asks the loaded
// directory about every entry it kept, so that a table the loader left
// inconsistent shows up as a crash or a failed check here.
//
// The loader reads files only; the input goes to one temp file per process,
// and its modification time is set to a new value each run so that the
// loader's cache (keyed by path, time, size and inode) never returns the
// directory of an earlier input.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/ldif/ldif_directory.h"

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
    const std::size_t theDns = inDir.itsDnText.size();
    require(inDir.itsDnKey.size() == theDns && inDir.itsEntryOfDn.size() == theDns);
    require(inDir.itsDnIds.size() == theDns);
    for (std::size_t curDn = 0; curDn < theDns; ++curDn)
    {
        require(inDir.itsDnKey[curDn] != nullptr);
        auto theFound = inDir.itsDnIds.find(*inDir.itsDnKey[curDn]);
        require(theFound != inDir.itsDnIds.end() && theFound->second == curDn);
        if (inDir.itsEntryOfDn[curDn] != NoIndex)
            require(inDir.itsEntryOfDn[curDn] < inDir.itsEntries.size());
    }
    for (std::size_t curEntry = 0; curEntry < inDir.itsEntries.size(); ++curEntry)
    {
        const Entry& theEntry = inDir.itsEntries[curEntry];
        require(theEntry.itsDn < theDns && inDir.itsEntryOfDn[theEntry.itsDn] == curEntry);
        require(theEntry.itsDomain == NoIndex || theEntry.itsDomain < inDir.itsDomains.size());
        for (std::uint32_t curMember : theEntry.itsMembers)
            require(curMember < theDns);
        for (std::uint32_t curGroup : theEntry.itsMemberOf)
        {
            require(curGroup < theDns);
            const Entry* theGroup = inDir.entryOfDn(curGroup);
            require(theGroup != nullptr && theGroup->is(Class_Group));
        }
        for (const auto& curAttr : theEntry.itsAttrs)
            require(curAttr.first < inDir.itsAttrNames.size());
        // Every entry is found again by its own DN text.
        require(inDir.findDn(inDir.itsDnText[theEntry.itsDn]) == theEntry.itsDn);
        (void)inDir.canonicalName(theEntry);
        (void)theEntry.firstValue(Attr_sAMAccountName);
    }
    for (const Domain& curDomain : inDir.itsDomains)
    {
        require(curDomain.itsNcDn == NoIndex || curDomain.itsNcDn < theDns);
        (void)inDir.findDomain(curDomain.itsNetbios);
        (void)inDir.findDomainByDns(curDomain.itsDnsRoot);
    }
}

void removeInput() { ::unlink(thePath.c_str()); }
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setInfoLog("", 0);
    const char* theTmp = std::getenv("TMPDIR");
    thePath = std::string(theTmp && *theTmp ? theTmp : "/tmp") + "/ldif_load_fuzz." + std::to_string(::getpid()) + ".ldif";
    std::atexit(removeInput);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* inData, std::size_t inSize)
{
    writeInput(inData, inSize);
    std::shared_ptr<const Directory> theDir = loadDirectory(thePath);
    require(theDir != nullptr);
    checkDirectory(*theDir);
    return 0;
}
