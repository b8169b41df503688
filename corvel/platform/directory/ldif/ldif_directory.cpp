// Lookups in the loaded directory.
#include "corvel/platform/directory/ldif/ldif_directory.h"

#include <algorithm>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/names.h"

namespace corvel::directory::ldif
{

const char* const theKnownAttrNames[Attr_knownCount] = {
    "objectclass",    "samaccountname",       "userprincipalname", "name",      "cn",
    "displayname",    "serviceprincipalname", "objectguid",        "objectsid", "grouptype",
    "primarygroupid", "useraccountcontrol",   "userpassword",      "dnsroot",   "netbiosname",
    "ncname",         "distinguishedname"};

namespace
{

// The end of the run that starts at inEntry's field: the next entry's start,
// or the whole array for the last entry.
template <class Field>
std::size_t runEnd(const std::vector<Entry>& inEntries, const Entry& inEntry, Field inField,
                   std::size_t inTotal)
{
    const std::size_t theIndex = static_cast<std::size_t>(&inEntry - inEntries.data());
    return theIndex + 1 < inEntries.size() ? inEntries[theIndex + 1].*inField : inTotal;
}

} // namespace

Directory::Directory()
{
    itsAttrTable.reserve(64);
    for (std::uint32_t curId = 0; curId < Attr_knownCount; ++curId)
    {
        itsAttrNames.push_back(theKnownAttrNames[curId]);
        itsAttrTable.add(hashBytes(theKnownAttrNames[curId]), curId);
    }
}

std::span<const AttrValue> Directory::attrs(const Entry& inEntry) const
{
    const std::size_t theEnd =
        runEnd(itsEntries, inEntry, &Entry::itsAttrBegin, itsAttrValues.size());
    return std::span<const AttrValue>(itsAttrValues.data() + inEntry.itsAttrBegin,
                                      theEnd - inEntry.itsAttrBegin);
}

std::span<const std::uint32_t> Directory::members(const Entry& inEntry) const
{
    const std::size_t theEnd =
        runEnd(itsEntries, inEntry, &Entry::itsMemberBegin, itsMemberIds.size());
    return std::span<const std::uint32_t>(itsMemberIds.data() + inEntry.itsMemberBegin,
                                          theEnd - inEntry.itsMemberBegin);
}

std::span<const std::uint32_t> Directory::memberOf(const Entry& inEntry) const
{
    const std::size_t theEnd =
        runEnd(itsEntries, inEntry, &Entry::itsMemberOfBegin, itsMemberOfIds.size());
    return std::span<const std::uint32_t>(itsMemberOfIds.data() + inEntry.itsMemberOfBegin,
                                          theEnd - inEntry.itsMemberOfBegin);
}

const std::string_view* Directory::firstValue(const Entry& inEntry, std::uint32_t inAttr) const
{
    for (const AttrValue& curValue : attrs(inEntry))
        if (curValue.itsAttr == inAttr)
            return &itsValues[curValue.itsValue];
    return nullptr;
}

std::string_view Directory::rdnText(const Entry& inEntry) const
{
    std::string_view theText = dnText(inEntry.itsDn).substr(0, inEntry.itsRdnSize);
    while (!theText.empty() && (theText.front() == ' ' || theText.front() == '\t'))
        theText.remove_prefix(1);
    return theText;
}

std::uint32_t Directory::findDnKey(std::string_view inKey, std::uint32_t inHash) const
{
    return itsDnTable.find(inHash, [&](std::uint32_t inId)
                           { return foldedEquals(itsDns[inId].itsKey, inKey); });
}

std::uint32_t Directory::findDn(std::string_view inDN) const
{
    // A spelling that is its own normal form up to case needs no parse.
    std::uint32_t theFound = findDnKey(inDN, hashFolded(inDN));
    if (theFound != NoIndex)
        return theFound;
    std::string theKey;
    if (!dn::normalizeDN(std::string(inDN), theKey))
        return NoIndex;
    return findDnKey(theKey, hashFolded(theKey));
}

bool Directory::findPathDn(const std::string& inPath, std::uint32_t& outDn, bool& outBadPath) const
{
    std::uint32_t thePrimary = NoIndex;
    return findPathDn(inPath, outDn, outBadPath, thePrimary);
}

bool Directory::findPathDn(const std::string& inPath, std::uint32_t& outDn, bool& outBadPath,
                           std::uint32_t& outPrimaryGroup) const
{
    platform::OsLockGuard theLock(itsPathMutex);
    if (itsLastPathResult < 0 || itsLastPath != inPath)
    {
        std::string theServer;
        std::string theDN;
        std::string theKey;
        itsLastPathDn = NoIndex;
        itsLastPathPrimary = NoIndex;
        if (!dn::parseLdapPath(inPath, theServer, theDN))
            itsLastPathResult = 1;
        else if (!dn::normalizeDN(theDN, theKey))
            itsLastPathResult = 2;
        else
        {
            itsLastPathResult = 0;
            itsLastPathDn = findDnKey(theKey, hashFolded(theKey));
            if (const Entry* theEntry = entryOfDn(itsLastPathDn))
                itsLastPathPrimary = primaryGroupOf(*theEntry);
        }
        itsLastPath = inPath;
    }
    outDn = itsLastPathDn;
    outBadPath = itsLastPathResult == 1;
    outPrimaryGroup = itsLastPathPrimary;
    return itsLastPathResult == 0;
}

std::uint32_t Directory::primaryGroupOf(const Entry& inEntry) const
{
    const std::string_view* theSid = firstValue(inEntry, Attr_objectSid);
    const std::string_view* theRid = firstValue(inEntry, Attr_primaryGroupID);
    std::string theGroupSid;
    if (!theSid || !theRid ||
        !names::primaryGroupSid(std::string(*theSid), true, std::string(*theRid), theGroupSid))
        return NoIndex;
    for (std::uint32_t curEntry : itsBySid.find(theGroupSid))
        if (itsEntries[curEntry].is(Class_Group))
            return curEntry;
    return NoIndex;
}

const Entry* Directory::entryOfDn(std::uint32_t inDn) const
{
    const std::uint32_t theEntry = entryIndexOfDn(inDn);
    return theEntry == NoIndex ? nullptr : &itsEntries[theEntry];
}

std::uint32_t Directory::findAttr(std::string_view inName) const
{
    const std::string theName = dn::toLowerAscii(std::string(inName));
    return itsAttrTable.find(hashBytes(theName),
                             [&](std::uint32_t inId) { return itsAttrNames[inId] == theName; });
}

std::uint32_t Directory::findDomainByNetbios(const std::string& inName) const
{
    for (std::uint32_t curDomain = 0; curDomain < itsDomains.size(); ++curDomain)
        if (foldedEquals(itsDomains[curDomain].itsNetbios, inName))
            return curDomain;
    return NoIndex;
}

std::uint32_t Directory::findDomainByDns(const std::string& inName) const
{
    std::string_view theName(inName);
    if (!theName.empty() && theName.back() == '.')
        theName.remove_suffix(1);
    for (std::uint32_t curDomain = 0; curDomain < itsDomains.size(); ++curDomain)
        if (foldedEquals(itsDomains[curDomain].itsDnsRoot, theName))
            return curDomain;
    return NoIndex;
}

std::uint32_t Directory::findDomain(const std::string& inName) const
{
    std::uint32_t theDomain = findDomainByNetbios(inName);
    return theDomain != NoIndex ? theDomain : findDomainByDns(inName);
}

std::string Directory::canonicalName(const Entry& inEntry) const
{
    if (inEntry.itsDomain == NoIndex)
        return std::string();
    const Domain& theDomain = itsDomains[inEntry.itsDomain];
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(std::string(dnText(inEntry.itsDn)), theRdns) ||
        theRdns.size() < theDomain.itsNcRdnCount)
        return std::string();
    std::string theName = theDomain.itsDnsRoot + "/";
    std::size_t theRelative = theRdns.size() - theDomain.itsNcRdnCount;
    for (std::size_t curRdn = theRelative; curRdn > 0; --curRdn)
    {
        theName += names::escapeCanonicalPart(theRdns[curRdn - 1].itsAvas[0].itsValue);
        if (curRdn > 1)
            theName += '/';
    }
    return theName;
}

// ------------------------------------------------------------ value index

void Directory::ValueIndex::add(const std::vector<std::string_view>& inValues,
                                std::uint32_t inValue, std::uint32_t inEntry)
{
    itsValues = &inValues;
    itsItems.push_back(Item{hashFolded(inValues[inValue]), inEntry, inValue});
}

void Directory::ValueIndex::seal()
{
    // A stable sort on the hash keeps the items of one hash in the order
    // added: file order. Many items go through a radix sort, 16 bits at a
    // time; its tables do not pay for a few.
    const auto byHash = [](const Item& inLeft, const Item& inRight)
    { return inLeft.itsHash < inRight.itsHash; };
    if (itsItems.size() < (std::size_t(1) << 16))
    {
        std::stable_sort(itsItems.begin(), itsItems.end(), byHash);
        itsItems.shrink_to_fit();
        return;
    }
    std::vector<Item> theOther(itsItems.size());
    for (int curShift = 0; curShift < 32; curShift += 16)
    {
        std::vector<std::uint32_t> theStarts((1u << 16) + 1, 0);
        for (const Item& curItem : itsItems)
            ++theStarts[((curItem.itsHash >> curShift) & 0xFFFF) + 1];
        for (std::size_t curDigit = 1; curDigit < theStarts.size(); ++curDigit)
            theStarts[curDigit] += theStarts[curDigit - 1];
        for (const Item& curItem : itsItems)
            theOther[theStarts[(curItem.itsHash >> curShift) & 0xFFFF]++] = curItem;
        itsItems.swap(theOther);
    }
    itsItems.shrink_to_fit();
}

std::vector<std::uint32_t> Directory::ValueIndex::find(std::string_view inValue) const
{
    std::vector<std::uint32_t> theEntries;
    const std::uint32_t theHash = hashFolded(inValue);
    auto curItem = std::lower_bound(itsItems.begin(), itsItems.end(), theHash,
                                    [](const Item& inItem, std::uint32_t inHash)
                                    { return inItem.itsHash < inHash; });
    for (; curItem != itsItems.end() && curItem->itsHash == theHash; ++curItem)
        if (foldedEquals((*itsValues)[curItem->itsValue], inValue))
            theEntries.push_back(curItem->itsEntry);
    return theEntries;
}

} // namespace corvel::directory::ldif
