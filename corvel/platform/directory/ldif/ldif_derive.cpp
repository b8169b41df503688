#include "corvel/platform/directory/ldif/ldif_derive.h"

#include <cinttypes>
#include <exception>
#include <thread>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldif/ldif_input.h"
#include "corvel/platform/os_report.h"

namespace corvel::directory::ldif
{

namespace
{

// Fewer entries than this are not worth a thread.
constexpr std::size_t theEntriesForThread = 20000;

std::string upper(std::string inText)
{
    for (char& curChar : inText)
        if (curChar >= 'a' && curChar <= 'z')
            curChar = static_cast<char>(curChar - 'a' + 'A');
    return inText;
}

// The DN id of a DN met after the records (an nCName), added when new.
std::uint32_t internDn(Directory& ioDir, TextArena& ioArena, std::string_view inText,
                       const std::string& inKey)
{
    const std::uint32_t theHash = hashFolded(inKey);
    const std::uint32_t theFound = ioDir.findDnKey(inKey, theHash);
    if (theFound != NoIndex)
        return theFound;
    const std::uint32_t theId = static_cast<std::uint32_t>(ioDir.itsDns.size());
    const std::string_view theKey = foldedEquals(inKey, inText) ? inText : ioArena.add(inKey);
    ioDir.itsDns.push_back(DnRecord{inText, theKey, theHash, NoIndex});
    ioDir.itsDnTable.add(theHash, theId);
    return theId;
}

void buildDomains(Directory& ioDir, TextArena& ioArena)
{
    // Domains named by crossRef entries first (they carry the NetBIOS name),
    // then domainDNS entries that have none: for those the names follow from
    // the DC= components.
    for (const Entry& curEntry : ioDir.itsEntries)
    {
        if (!curEntry.is(Class_CrossRef))
            continue;
        const std::string_view* theNc = ioDir.firstValue(curEntry, Attr_nCName);
        const std::string_view* theNetbios = ioDir.firstValue(curEntry, Attr_nETBIOSName);
        const std::string_view* theDns = ioDir.firstValue(curEntry, Attr_dnsRoot);
        if (!theNc || !theNetbios)
            continue; // the configuration and schema partitions
        std::vector<dn::Rdn> theRdns;
        if (!dn::parseDN(std::string(*theNc), theRdns))
        {
            platform::reportLog(platform::Report_error,
                                "LDIF file \"%s\" line %" PRIu32
                                ": nCName \"%s\" is not a distinguished name; ignored",
                                ioDir.itsPath.c_str(), curEntry.itsLine,
                                std::string(*theNc).c_str());
            continue;
        }
        const std::uint32_t theNcDn = internDn(ioDir, ioArena, *theNc, dn::normalizeRdns(theRdns));
        bool theKnown = false;
        for (const Domain& curDomain : ioDir.itsDomains)
            theKnown = theKnown || curDomain.itsNcDn == theNcDn;
        if (theKnown)
            continue;
        Domain theDomain;
        theDomain.itsNcDn = theNcDn;
        theDomain.itsNcRdnCount = theRdns.size();
        theDomain.itsNetbios = *theNetbios;
        if (theDns)
            theDomain.itsDnsRoot = *theDns;
        else
            for (const dn::Rdn& curRdn : theRdns)
                if (foldedEquals(curRdn.itsAvas[0].itsType, "dc"))
                    theDomain.itsDnsRoot +=
                        (theDomain.itsDnsRoot.empty() ? "" : ".") + curRdn.itsAvas[0].itsValue;
        ioDir.itsDomains.push_back(std::move(theDomain));
    }
    for (const Entry& curEntry : ioDir.itsEntries)
    {
        if (!curEntry.is(Class_DomainDNS))
            continue;
        bool theKnown = false;
        for (const Domain& curDomain : ioDir.itsDomains)
            theKnown = theKnown || curDomain.itsNcDn == curEntry.itsDn;
        if (theKnown)
            continue;
        std::vector<dn::Rdn> theRdns;
        dn::parseDN(std::string(ioDir.dnText(curEntry.itsDn)), theRdns);
        Domain theDomain;
        theDomain.itsNcDn = curEntry.itsDn;
        theDomain.itsNcRdnCount = theRdns.size();
        for (const dn::Rdn& curRdn : theRdns)
        {
            if (!foldedEquals(curRdn.itsAvas[0].itsType, "dc"))
                continue;
            if (theDomain.itsNetbios.empty())
                theDomain.itsNetbios = upper(curRdn.itsAvas[0].itsValue);
            theDomain.itsDnsRoot +=
                (theDomain.itsDnsRoot.empty() ? "" : ".") + curRdn.itsAvas[0].itsValue;
        }
        if (theDomain.itsNetbios.empty())
        {
            platform::reportLog(platform::Report_error,
                                "LDIF file \"%s\" line %" PRIu32
                                ": domain \"%s\" has no DC= component and no crossRef; ignored",
                                ioDir.itsPath.c_str(), curEntry.itsLine,
                                std::string(ioDir.dnText(curEntry.itsDn)).c_str());
            continue;
        }
        ioDir.itsDomains.push_back(std::move(theDomain));
    }
}

// Each entry belongs to the domain whose naming context is the longest
// suffix of its DN: the first one met going from the whole key to ever
// shorter suffixes at RDN boundaries.
void assignDomains(Directory& ioDir)
{
    if (ioDir.itsDomains.empty())
        return;
    IdTable theByKey;
    std::vector<std::size_t> theLengths;
    for (std::uint32_t curDomain = 0; curDomain < ioDir.itsDomains.size(); ++curDomain)
    {
        const DnRecord& theNc = ioDir.itsDns[ioDir.itsDomains[curDomain].itsNcDn];
        theByKey.findOrAdd(theNc.itsHash, curDomain,
                           [&](std::uint32_t inOther) {
                               return foldedEquals(
                                   ioDir.itsDns[ioDir.itsDomains[inOther].itsNcDn].itsKey,
                                   theNc.itsKey);
                           });
        theLengths.push_back(theNc.itsKey.size());
    }
    const auto hasLength = [&](std::size_t inLength)
    {
        for (std::size_t curLength : theLengths)
            if (curLength == inLength)
                return true;
        return false;
    };
    for (Entry& curEntry : ioDir.itsEntries)
    {
        const std::string_view theKey = ioDir.itsDns[curEntry.itsDn].itsKey;
        std::size_t theStart = 0;
        while (theStart <= theKey.size())
        {
            const std::string_view theSuffix = theKey.substr(theStart);
            if (hasLength(theSuffix.size()))
            {
                const std::uint32_t theDomain = theByKey.find(
                    hashFolded(theSuffix),
                    [&](std::uint32_t inDomain) {
                        return foldedEquals(ioDir.itsDns[ioDir.itsDomains[inDomain].itsNcDn].itsKey,
                                            theSuffix);
                    });
                if (theDomain != IdTable::None)
                {
                    curEntry.itsDomain = theDomain;
                    break;
                }
            }
            // Next unescaped ',' of the normal form.
            std::size_t curPos = theStart;
            while (curPos < theKey.size() && theKey[curPos] != ',')
                curPos += theKey[curPos] == '\\' ? 2 : 1;
            if (curPos >= theKey.size())
                break;
            theStart = curPos + 1;
        }
    }
}

// Lines about dangling members go to outLines, in group order.
void deriveMemberOf(Directory& ioDir, std::vector<std::string>& outLines)
{
    // Counted first, so that each entry's groups are one run, in the order
    // of the groups in the file.
    std::vector<std::uint32_t> theCounts(ioDir.itsEntries.size() + 1, 0);
    for (const Entry& curGroup : ioDir.itsEntries)
    {
        for (std::uint32_t curMember : ioDir.members(curGroup))
        {
            const std::uint32_t theEntry = ioDir.itsDns[curMember].itsEntry;
            if (theEntry == NoIndex)
            {
                outLines.push_back(formatText("LDIF file \"%s\" line %" PRIu32
                                              ": member \"%s\" of \"%s\" names no entry",
                                              ioDir.itsPath.c_str(), curGroup.itsLine,
                                              std::string(ioDir.dnText(curMember)).c_str(),
                                              std::string(ioDir.dnText(curGroup.itsDn)).c_str()));
                continue;
            }
            ++theCounts[theEntry + 1];
        }
    }
    for (std::size_t curEntry = 0; curEntry < ioDir.itsEntries.size(); ++curEntry)
    {
        theCounts[curEntry + 1] += theCounts[curEntry];
        ioDir.itsEntries[curEntry].itsMemberOfBegin = theCounts[curEntry];
    }
    ioDir.itsMemberOfIds.resize(theCounts.back());
    for (const Entry& curGroup : ioDir.itsEntries)
        for (std::uint32_t curMember : ioDir.members(curGroup))
        {
            const std::uint32_t theEntry = ioDir.itsDns[curMember].itsEntry;
            if (theEntry != NoIndex)
                ioDir.itsMemberOfIds[theCounts[theEntry]++] = curGroup.itsDn;
        }
}

// The index of inAttr's values.
void buildIndex(Directory& ioDir, std::uint32_t inAttr, Directory::ValueIndex& outIndex)
{
    for (std::uint32_t curIndex = 0; curIndex < ioDir.itsEntries.size(); ++curIndex)
        for (const AttrValue& curValue : ioDir.attrs(ioDir.itsEntries[curIndex]))
            if (curValue.itsAttr == inAttr)
                outIndex.add(ioDir.itsValues, curValue.itsValue, curIndex);
    outIndex.seal();
}

} // namespace

void deriveDirectory(Directory& ioDir)
{
    TextArena theArena;
    buildDomains(ioDir, theArena);
    // The indexes read only values; domains and memberOf write other fields
    // of the entries: for a large directory they go on side by side.
    const bool theThreads = ioDir.itsEntries.size() >= theEntriesForThread;
    std::vector<std::string> theLines;
    std::exception_ptr theFailures[2];
    const auto indexes = [&](int inHalf)
    {
        try
        {
            if (inHalf == 0 || !theThreads)
            {
                buildIndex(ioDir, Attr_sAMAccountName, ioDir.itsBySam);
                buildIndex(ioDir, Attr_userPrincipalName, ioDir.itsByUpn);
            }
            if (inHalf == 1 || !theThreads)
            {
                buildIndex(ioDir, Attr_objectSid, ioDir.itsBySid);
                buildIndex(ioDir, Attr_objectGUID, ioDir.itsByGuid);
            }
        }
        catch (...)
        {
            theFailures[inHalf] = std::current_exception();
        }
    };
    if (!theThreads)
        indexes(0);
    {
        std::jthread theFirst;
        std::jthread theSecond;
        if (theThreads)
        {
            theFirst = std::jthread(indexes, 0);
            theSecond = std::jthread(indexes, 1);
        }
        assignDomains(ioDir);
        deriveMemberOf(ioDir, theLines);
    }
    for (const std::exception_ptr& curFailure : theFailures)
        if (curFailure)
            std::rethrow_exception(curFailure);
    for (const std::string& curLine : theLines)
        platform::reportLog(platform::Report_error, "%s", curLine.c_str());
    ioDir.itsArenas.push_back(std::move(theArena));
}

} // namespace corvel::directory::ldif
