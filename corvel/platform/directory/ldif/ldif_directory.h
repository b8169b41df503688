// The directory as loaded from one LDIF file: immutable once loaded, shared
// by every service, translator and object made from it (on any thread).
//
// Each DN is stored once and referred to by its id (the index into
// itsDnText); member lists are vectors of DN ids, so a directory of a
// hundred thousand groups stays compact and loads fast.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

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

struct Entry
{
    std::uint32_t itsDn = NoIndex;
    std::uint32_t itsLine = 0;
    std::uint32_t itsDomain = NoIndex;
    std::uint8_t itsClasses = 0;
    std::string itsRdnText;  // the first RDN as written, "CN=Sales"
    std::string itsRdnValue; // its value unescaped, "Sales"
    // Attribute values in file order; objectSid and objectGUID as text.
    std::vector<std::pair<std::uint32_t, std::string>> itsAttrs;
    std::vector<std::uint32_t> itsMembers;  // DN ids of the member values, file order
    std::vector<std::uint32_t> itsMemberOf; // DN ids of the groups listing this entry

    bool is(ClassBit inClass) const { return (itsClasses & inClass) != 0; }
    const std::string* firstValue(std::uint32_t inAttr) const;
};

struct Domain
{
    std::string itsDnsRoot;
    std::string itsNetbios;
    std::uint32_t itsNcDn = NoIndex;
    std::size_t itsNcRdnCount = 0;
};

class Directory
{
public:
    std::string itsPath;
    bool itsLoaded = false; // false: the file could not be read at all

    std::vector<std::string> itsDnText;      // by DN id: as the entry's dn line wrote it
    std::vector<const std::string*> itsDnKey; // by DN id: the normal form (owned by itsDnIds)
    std::vector<std::uint32_t> itsEntryOfDn; // by DN id: entry index or NoIndex
    std::unordered_map<std::string, std::uint32_t> itsDnIds;
    std::vector<Entry> itsEntries; // file order
    std::vector<Domain> itsDomains;

    std::vector<std::string> itsAttrNames; // lower-case, by id
    std::unordered_map<std::string, std::uint32_t> itsAttrIds;

    // Lower-case value -> entry indexes, in file order.
    std::unordered_map<std::string, std::vector<std::uint32_t>> itsBySam;
    std::unordered_map<std::string, std::vector<std::uint32_t>> itsByUpn;
    std::unordered_map<std::string, std::vector<std::uint32_t>> itsBySid;
    std::unordered_map<std::string, std::vector<std::uint32_t>> itsByGuid;

    // The last answer of findPathDn (written under the lock).
    mutable platform::OsLock itsPathMutex;
    mutable std::string itsLastPath;
    mutable int itsLastPathResult = -1; // -1 none yet, 0 found or absent, 1 bad path, 2 bad DN
    mutable std::uint32_t itsLastPathDn = NoIndex;
    mutable std::uint32_t itsLastPathPrimary = NoIndex; // entry of its primary group

    Directory();
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    // The DN id of inDN (any spelling), or NoIndex.
    std::uint32_t findDn(const std::string& inDN) const;
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
    // The id of an attribute name (any case), or NoIndex.
    std::uint32_t findAttr(const std::string& inName) const;
    // A domain by NetBIOS or DNS name (any case), or NoIndex.
    std::uint32_t findDomain(const std::string& inName) const;
    std::uint32_t findDomainByNetbios(const std::string& inName) const;
    std::uint32_t findDomainByDns(const std::string& inName) const;
    // "corp.example.test/Users/alice"; empty for an entry in no domain.
    std::string canonicalName(const Entry& inEntry) const;
};

// The directory of inPath. A file already loaded in this process and not
// changed since (same modification time and size) is not read again. Never
// null: a file that cannot be read gives a directory with itsLoaded false,
// after an error line in the information log.
std::shared_ptr<const Directory> loadDirectory(const std::string& inPath);

} // namespace corvel::directory::ldif
