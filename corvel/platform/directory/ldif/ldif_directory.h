// The directory as loaded from one LDIF file: immutable once loaded, shared
// by every service, translator and object made from it (on any thread).
//
// Built for size. All text (DNs, their comparison keys, attribute values)
// lives in arenas and is seen through string_view; each distinct DN is
// stored once and referred to by its id, each distinct value of a loading
// thread once by its value id (SIDs and GUIDs, every one an object's own,
// are stored without a look-up). Entries hold no containers: their values,
// members and memberOf are runs of flat arrays, in file order, read
// through the accessors below. Lookups go through flat hash tables
// (ldif_id_table.h) with hashes computed once.
//
// ldif_loader.h builds it; nothing changes it afterwards except the
// last-path answer of findPathDn, which is kept under its lock.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "corvel/platform/directory/ldif/ldif_arena.h"
#include "corvel/platform/directory/ldif/ldif_id_table.h"
#include "corvel/platform/os_lock.h"

namespace corvel::directory::ldif
{

inline constexpr std::uint32_t NoIndex = 0xFFFFFFFFu;

enum ClassBit : std::uint8_t
{
    Class_User = 1, // also set for computers: in the directory a computer is a user
    Class_Group = 2,
    Class_Computer = 4,
    Class_Contact = 8,
    Class_DomainDNS = 16,
    Class_CrossRef = 32,
};

// Attribute ids known in advance; others are numbered as they are met.
enum AttrId : std::uint32_t
{
    Attr_objectClass,
    Attr_sAMAccountName,
    Attr_userPrincipalName,
    Attr_name,
    Attr_cn,
    Attr_displayName,
    Attr_servicePrincipalName,
    Attr_objectGUID,
    Attr_objectSid,
    Attr_groupType,
    Attr_primaryGroupID,
    Attr_userAccountControl,
    Attr_userPassword,
    Attr_dnsRoot,
    Attr_nETBIOSName,
    Attr_nCName,
    Attr_distinguishedName,
    Attr_knownCount
};

// Lower-case names of the known attributes, by id.
extern const char* const theKnownAttrNames[Attr_knownCount];

// One attribute value of an entry: objectSid and objectGUID as text.
struct AttrValue
{
    std::uint32_t itsAttr;
    std::uint32_t itsValue; // into Directory::itsValues
};

struct Entry
{
    std::uint32_t itsDn = NoIndex;
    std::uint32_t itsLine = 0;
    std::uint32_t itsDomain = NoIndex;
    std::uint32_t itsRdnValue = NoIndex; // value id: the first RDN's value unescaped, "Sales"
    std::uint32_t itsRdnSize = 0; // the first RDN as written ("CN=Sales") ends here in the DN text
    // Where this entry's runs begin; each ends where the next entry's begins.
    std::uint32_t itsAttrBegin = 0;
    std::uint32_t itsMemberBegin = 0;
    std::uint32_t itsMemberOfBegin = 0;
    std::uint8_t itsClasses = 0;

    bool is(ClassBit inClass) const { return (itsClasses & inClass) != 0; }
};

struct Domain
{
    std::string itsDnsRoot;
    std::string itsNetbios;
    std::uint32_t itsNcDn = NoIndex;
    std::size_t itsNcRdnCount = 0;
};

// One distinct DN.
struct DnRecord
{
    std::string_view itsText;  // as its entry's dn line wrote it, else as first met
    std::string_view itsKey;   // the normal form (dn.h); often the text itself, compared folded
    std::uint32_t itsHash = 0; // hashFolded(itsKey)
    std::uint32_t itsEntry = NoIndex;
};

class Directory
{
public:
    std::string itsPath;
    bool itsLoaded = false; // false: the file could not be read at all

    std::vector<DnRecord> itsDns;              // by DN id
    IdTable itsDnTable;                        // DN key -> DN id
    std::vector<Entry> itsEntries;             // file order
    std::vector<AttrValue> itsAttrValues;      // runs by entry, file order
    std::vector<std::uint32_t> itsMemberIds;   // runs by entry: DN ids of member values, file order
    std::vector<std::uint32_t> itsMemberOfIds; // runs by entry: DN ids of the groups listing it
    std::vector<std::string_view> itsValues;   // by value id
    std::vector<Domain> itsDomains;

    std::vector<std::string_view> itsAttrNames; // lower-case, by id
    IdTable itsAttrTable;

    // Lower-case value -> entry indexes, in file order: (hash, entry,
    // value) triples sorted by hash, found by a binary search. Built once,
    // in order and in one pass; a few lookups follow.
    class ValueIndex
    {
    public:
        // Adds inEntry under its value inValue (an id into inValues);
        // entries must come in file order.
        void add(const std::vector<std::string_view>& inValues, std::uint32_t inValue,
                 std::uint32_t inEntry);
        // Sorts what add collected; afterwards only find.
        void seal();
        // The entries with inValue (any case), in file order; an entry with
        // the value twice comes twice.
        std::vector<std::uint32_t> find(std::string_view inValue) const;

    private:
        struct Item
        {
            std::uint32_t itsHash;
            std::uint32_t itsEntry;
            std::uint32_t itsValue;
        };
        const std::vector<std::string_view>* itsValues = nullptr;
        std::vector<Item> itsItems;
    };
    ValueIndex itsBySam;
    ValueIndex itsByUpn;
    ValueIndex itsBySid;
    ValueIndex itsByGuid;

    std::vector<TextArena> itsArenas; // own every view above

    Directory();
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    // --- what an entry holds ---
    std::string_view dnText(std::uint32_t inDn) const { return itsDns[inDn].itsText; }
    std::span<const AttrValue> attrs(const Entry& inEntry) const;
    std::span<const std::uint32_t> members(const Entry& inEntry) const;
    std::span<const std::uint32_t> memberOf(const Entry& inEntry) const;
    // The first value of inAttr, or null. The view lives as long as the directory.
    const std::string_view* firstValue(const Entry& inEntry, std::uint32_t inAttr) const;
    std::string_view rdnText(const Entry& inEntry) const;
    std::string_view rdnValue(const Entry& inEntry) const { return itsValues[inEntry.itsRdnValue]; }

    // --- lookups ---
    // The DN id of inDN (any spelling), or NoIndex.
    std::uint32_t findDn(std::string_view inDN) const;
    // The DN id whose normal form is inKey (as normalizeDN makes it), or NoIndex.
    std::uint32_t findDnKey(std::string_view inKey, std::uint32_t inHash) const;
    // The DN id an "LDAP://" path names (NoIndex: no DN of the file). False
    // with outBadPath true when the path is no path, false with it false when
    // its DN is no DN. The answer for the last path is kept: a membership
    // walk asks about the same user's path at every group.
    bool findPathDn(const std::string& inPath, std::uint32_t& outDn, bool& outBadPath) const;
    // The same, with the entry index of the primary group of the object the
    // path names (NoIndex when it has none or the file holds no such group).
    bool findPathDn(const std::string& inPath, std::uint32_t& outDn, bool& outBadPath,
                    std::uint32_t& outPrimaryGroup) const;
    // The entry index of inEntry's primary group: the group whose objectSid
    // is inEntry's domain SID followed by its primaryGroupID. NoIndex when
    // it has none or the file holds no such group.
    std::uint32_t primaryGroupOf(const Entry& inEntry) const;
    const Entry* entryOfDn(std::uint32_t inDn) const;
    std::uint32_t entryIndexOfDn(std::uint32_t inDn) const
    {
        return inDn < itsDns.size() ? itsDns[inDn].itsEntry : NoIndex;
    }
    // The id of an attribute name (any case), or NoIndex.
    std::uint32_t findAttr(std::string_view inName) const;
    // A domain by NetBIOS or DNS name (any case), or NoIndex.
    std::uint32_t findDomain(const std::string& inName) const;
    std::uint32_t findDomainByNetbios(const std::string& inName) const;
    std::uint32_t findDomainByDns(const std::string& inName) const;
    // "corp.example.test/Users/alice"; empty for an entry in no domain.
    std::string canonicalName(const Entry& inEntry) const;

private:
    // The last answer of findPathDn.
    mutable platform::OsLock itsPathMutex;
    mutable std::string itsLastPath;
    mutable int itsLastPathResult = -1; // -1 none yet, 0 found or absent, 1 bad path, 2 bad DN
    mutable std::uint32_t itsLastPathDn = NoIndex;
    mutable std::uint32_t itsLastPathPrimary = NoIndex; // entry of its primary group
};

} // namespace corvel::directory::ldif
