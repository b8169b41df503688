// The directory service over a loaded LDIF directory: name translation,
// objects and enumerations.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/names.h"
#include "corvel/platform/directory/ldif/ldif_backend.h"
#include "corvel/platform/directory/ldif/ldif_directory.h"
#include "corvel/platform/directory/ldif/ldif_loader.h"

namespace corvel::directory::ldif
{

namespace
{

std::string lower(const std::string& inText) { return dn::toLowerAscii(inText); }

// ------------------------------------------------------------------ objects

class LdifObject;

std::unique_ptr<DirObject> makeObject(const std::shared_ptr<const Directory>& inDir,
                                      std::uint32_t inDn);

class LdifEnumerator final : public DirEnumerator
{
public:
    LdifEnumerator(std::shared_ptr<const Directory> inDir, std::span<const std::uint32_t> inDns)
        : itsDir(std::move(inDir)), itsDns(inDns)
    {
    }

    Status next(std::unique_ptr<DirObject>& outObject) override
    {
        outObject.reset();
        if (itsPosition >= itsDns.size())
            return S_false;
        outObject = makeObject(itsDir, itsDns[itsPosition++]);
        return S_ok;
    }

private:
    std::shared_ptr<const Directory> itsDir;
    std::span<const std::uint32_t> itsDns; // owned by the directory, which itsDir keeps
    std::size_t itsPosition = 0;
};

class LdifObject final : public DirGroup, public DirUser
{
public:
    LdifObject(std::shared_ptr<const Directory> inDir, std::uint32_t inDn)
        : itsDir(std::move(inDir)), itsDn(inDn), itsEntry(itsDir->entryOfDn(inDn))
    {
    }

    Status getName(std::string& outName) override
    {
        if (itsEntry)
        {
            outName = itsDir->rdnText(*itsEntry);
            return S_ok;
        }
        std::vector<dn::Rdn> theRdns;
        if (!dn::parseDN(std::string(itsDir->dnText(itsDn)), theRdns))
            return E_invalidDNSyntax;
        outName = theRdns[0].itsText;
        return S_ok;
    }

    Status get(const std::string& inAttribute, std::string& outValue) override
    {
        // The walk asks every member for its DN: no list for that.
        if (foldedEquals(inAttribute, "distinguishedName"))
        {
            outValue = itsDir->dnText(itsDn);
            return S_ok;
        }
        std::vector<std::string> theValues;
        Status theStatus = values(inAttribute, theValues);
        if (theStatus != S_ok)
            return theStatus;
        outValue = std::move(theValues.front());
        return S_ok;
    }

    Status getEx(const std::string& inAttribute, std::vector<std::string>& outValues) override
    {
        std::vector<std::string> theValues;
        Status theStatus = values(inAttribute, theValues);
        if (theStatus != S_ok)
            return theStatus;
        outValues = std::move(theValues);
        return S_ok;
    }

    DirGroup* asGroup() override { return isGroup() ? this : nullptr; }
    DirUser* asUser() override { return isUser() ? this : nullptr; }

    Status isMember(const std::string& inPath, bool& outIsMember) override
    {
        outIsMember = false;
        std::uint32_t theDn = NoIndex;
        bool theBadPath = false;
        std::uint32_t thePrimary = NoIndex;
        if (!itsDir->findPathDn(inPath, theDn, theBadPath, thePrimary))
            return theBadPath ? E_badPathname : E_invalidDNSyntax;
        if (theDn != NoIndex && itsEntry)
        {
            const std::span<const std::uint32_t> theMembers = itsDir->members(*itsEntry);
            outIsMember =
                (thePrimary != NoIndex && itsDir->itsEntries[thePrimary].itsDn == itsDn) ||
                std::find(theMembers.begin(), theMembers.end(), theDn) != theMembers.end();
        }
        return S_ok;
    }

    Status members(std::unique_ptr<DirEnumerator>& outMembers) override
    {
        outMembers.reset();
        if (!isGroup())
            return E_noInterface;
        outMembers = std::make_unique<LdifEnumerator>(itsDir, itsDir->members(*itsEntry));
        return S_ok;
    }

    Status groups(std::unique_ptr<DirEnumerator>& outGroups) override
    {
        outGroups.reset();
        if (!isUser())
            return E_noInterface;
        outGroups = std::make_unique<LdifEnumerator>(itsDir, itsDir->memberOf(*itsEntry));
        return S_ok;
    }

    Status primaryGroup(std::string& outGroupDN) override
    {
        outGroupDN.clear();
        if (!isUser())
            return E_noInterface;
        const std::uint32_t theGroup = itsDir->primaryGroupOf(*itsEntry);
        if (theGroup == NoIndex)
            return S_false;
        outGroupDN = itsDir->dnText(itsDir->itsEntries[theGroup].itsDn);
        return S_ok;
    }

    bool isGroup() const { return itsEntry && itsEntry->is(Class_Group); }
    bool isUser() const { return itsEntry && itsEntry->is(Class_User); }

private:
    static bool isSecurityGroup(const Directory& inDir, const Entry& inGroup)
    {
        // A group without groupType counts as a global security group, the
        // kind the directory makes when none is asked for.
        const std::string_view* theType = inDir.firstValue(inGroup, Attr_groupType);
        if (theType == nullptr)
            return true;
        char* theEnd = nullptr;
        const std::string theText(*theType);
        const long long theValue = std::strtoll(theText.c_str(), &theEnd, 10);
        return theEnd != theText.c_str() && (theValue & 0x80000000LL) != 0;
    }

    // The SIDs of the object's token, as the directory constructs it: the
    // security groups it reaches through member links and its primary
    // group, expanded through security groups only (a distribution group
    // is neither in it nor looked through).
    void tokenGroups(std::vector<std::string>& outValues) const
    {
        std::vector<std::uint32_t> theToVisit; // entry indexes
        for (std::uint32_t curDn : itsDir->memberOf(*itsEntry))
            theToVisit.push_back(itsDir->entryIndexOfDn(curDn));
        theToVisit.push_back(itsDir->primaryGroupOf(*itsEntry));
        std::vector<bool> theSeen(itsDir->itsEntries.size(), false);
        while (!theToVisit.empty())
        {
            const std::uint32_t theIndex = theToVisit.back();
            theToVisit.pop_back();
            if (theIndex == NoIndex || theIndex >= theSeen.size() || theSeen[theIndex])
                continue;
            theSeen[theIndex] = true;
            const Entry& theGroup = itsDir->itsEntries[theIndex];
            if (!theGroup.is(Class_Group) || !isSecurityGroup(*itsDir, theGroup))
                continue;
            if (const std::string_view* theSid = itsDir->firstValue(theGroup, Attr_objectSid))
                outValues.emplace_back(*theSid);
            for (std::uint32_t curDn : itsDir->memberOf(theGroup))
                theToVisit.push_back(itsDir->entryIndexOfDn(curDn));
        }
    }

    void dnTexts(std::span<const std::uint32_t> inDns, std::vector<std::string>& outValues) const
    {
        for (std::uint32_t curDn : inDns)
            outValues.emplace_back(itsDir->dnText(curDn));
    }

    Status values(const std::string& inAttribute, std::vector<std::string>& outValues) const
    {
        std::string theName = lower(inAttribute);
        if (theName == "distinguishedname")
        {
            outValues.emplace_back(itsDir->dnText(itsDn));
            return S_ok;
        }
        if (!itsEntry)
        {
            // A member value that names no entry: only its name is known.
            if (theName != "name" && theName != "cn")
                return E_propertyNotFound;
            std::vector<dn::Rdn> theRdns;
            if (!dn::parseDN(std::string(itsDir->dnText(itsDn)), theRdns))
                return E_propertyNotFound;
            outValues.push_back(theRdns[0].itsAvas[0].itsValue);
            return S_ok;
        }
        if (theName == "memberof")
            dnTexts(itsDir->memberOf(*itsEntry), outValues);
        else if (theName == "tokengroups")
            tokenGroups(outValues);
        else if (theName == "member")
            dnTexts(itsDir->members(*itsEntry), outValues);
        else
        {
            std::uint32_t theAttr = itsDir->findAttr(theName);
            if (theAttr != NoIndex)
                for (const AttrValue& curValue : itsDir->attrs(*itsEntry))
                    if (curValue.itsAttr == theAttr)
                        outValues.emplace_back(itsDir->itsValues[curValue.itsValue]);
            if (outValues.empty() && theAttr == Attr_name)
                outValues.emplace_back(itsDir->rdnValue(*itsEntry)); // every object has a name
        }
        return outValues.empty() ? E_propertyNotFound : S_ok;
    }

    std::shared_ptr<const Directory> itsDir;
    std::uint32_t itsDn;
    const Entry* itsEntry; // null for a member value that names no entry
};

std::unique_ptr<DirObject> makeObject(const std::shared_ptr<const Directory>& inDir,
                                      std::uint32_t inDn)
{
    return std::make_unique<LdifObject>(inDir, inDn);
}

// -------------------------------------------------------------- translator

class LdifTranslator final : public NameTranslator
{
public:
    explicit LdifTranslator(std::shared_ptr<const Directory> inDir) : itsDir(std::move(inDir)) {}

    Status init(InitType inKind, const std::string& inPath) override
    {
        itsInitialised = false;
        itsResult = NoIndex;
        if (!itsDir->itsLoaded || itsDir->itsDomains.empty())
            return E_noSuchDomain;
        switch (inKind)
        {
        case InitType_GC:
        case InitType_Server: // one file serves every domain, as a global catalog does
            itsDomain = NoIndex;
            break;
        case InitType_Domain:
            // No path: the first domain of the file, as a member computer
            // uses its own domain.
            itsDomain = inPath.empty() ? 0 : itsDir->findDomain(inPath);
            if (itsDomain == NoIndex)
                return E_noSuchDomain;
            break;
        default:
            return E_invalidArg;
        }
        itsInitialised = true;
        return S_ok;
    }

    // The file checks no credentials; they are not kept and never logged.
    Status initEx(InitType inKind, const std::string& inPath, const std::string& /*inUser*/,
                  const std::string& /*inDomain*/, const std::string& /*inPassword*/) override
    {
        return init(inKind, inPath);
    }

    Status set(NameType inType, const std::string& inName) override
    {
        itsResult = NoIndex;
        if (!itsInitialised)
            return E_fail;
        std::vector<std::uint32_t> theMatches;
        switch (inType)
        {
        case NameType_Unknown:
            findUnknown(inName, theMatches);
            break;
        case NameType_1779:
            findDn(inName, theMatches);
            break;
        case NameType_NT4:
            findNt4(inName, theMatches);
            break;
        case NameType_Canonical:
            findCanonical(inName, theMatches);
            break;
        case NameType_UserPrincipalName:
            findUpn(inName, theMatches);
            break;
        case NameType_SIDOrSIDHistory:
            findIndexed(itsDir->itsBySid, inName, theMatches);
            break;
        case NameType_GUID:
            findIndexed(itsDir->itsByGuid, inName, theMatches);
            break;
        case NameType_Display:
            findByValue(Attr_displayName, inName, theMatches);
            break;
        case NameType_ServicePrincipalName:
            findByValue(Attr_servicePrincipalName, inName, theMatches);
            break;
        default:
            return E_invalidArg;
        }
        if (theMatches.empty())
            return E_nameNotFound;
        if (theMatches.size() > 1)
            return E_nameNotUnique;
        itsResult = theMatches.front();
        return S_ok;
    }

    Status get(NameType inType, std::string& outName) override
    {
        if (itsResult == NoIndex)
            return E_fail;
        const Entry& theEntry = itsDir->itsEntries[itsResult];
        const Domain* theDomain =
            theEntry.itsDomain == NoIndex ? nullptr : &itsDir->itsDomains[theEntry.itsDomain];
        switch (inType)
        {
        case NameType_1779:
            outName = itsDir->dnText(theEntry.itsDn);
            return S_ok;
        case NameType_NT4:
        {
            if (!theDomain)
                return E_nameNoMapping;
            if (theDomain->itsNcDn == theEntry.itsDn)
            {
                outName = theDomain->itsNetbios + "\\";
                return S_ok;
            }
            const std::string_view* theSam = itsDir->firstValue(theEntry, Attr_sAMAccountName);
            if (!theSam)
                return E_nameNoMapping;
            outName = theDomain->itsNetbios + "\\";
            outName += *theSam;
            return S_ok;
        }
        case NameType_Canonical:
        {
            std::string theCanonical = itsDir->canonicalName(theEntry);
            if (theCanonical.empty())
                return E_nameNoMapping;
            outName = theCanonical;
            return S_ok;
        }
        case NameType_UserPrincipalName:
            return value(theEntry, Attr_userPrincipalName, outName);
        case NameType_Display:
            return value(theEntry, Attr_displayName, outName);
        case NameType_GUID:
            return value(theEntry, Attr_objectGUID, outName);
        case NameType_SIDOrSIDHistory:
            return value(theEntry, Attr_objectSid, outName);
        default:
            return E_notImpl;
        }
    }

private:
    Status value(const Entry& inEntry, std::uint32_t inAttr, std::string& outName) const
    {
        const std::string_view* theValue = itsDir->firstValue(inEntry, inAttr);
        if (!theValue)
            return E_nameNoMapping;
        outName = *theValue;
        return S_ok;
    }

    bool inScope(const Entry& inEntry) const
    {
        return itsDomain == NoIndex || inEntry.itsDomain == itsDomain;
    }

    void addMatch(std::uint32_t inEntry, std::vector<std::uint32_t>& ioMatches) const
    {
        if (!inScope(itsDir->itsEntries[inEntry]))
            return;
        if (std::find(ioMatches.begin(), ioMatches.end(), inEntry) == ioMatches.end())
            ioMatches.push_back(inEntry);
    }

    // Formats tried in the order the directory itself tries them for a name
    // of unknown format; the first that finds anything decides.
    // Every form the name can be read as, in the order names.h gives (the
    // live directory's translator tries the same); the first that finds
    // anything decides.
    void findUnknown(const std::string& inName, std::vector<std::uint32_t>& outMatches) const
    {
        for (names::NameForm curForm : names::candidateForms(inName))
        {
            switch (curForm)
            {
            case names::NameForm::DistinguishedName:
                findDn(inName, outMatches);
                break;
            case names::NameForm::Nt4:
                findNt4(inName, outMatches);
                break;
            case names::NameForm::UserPrincipalName:
                findUpn(inName, outMatches);
                break;
            case names::NameForm::Canonical:
                findCanonical(inName, outMatches);
                break;
            case names::NameForm::Sid:
                findIndexed(itsDir->itsBySid, inName, outMatches);
                break;
            case names::NameForm::Guid:
                findIndexed(itsDir->itsByGuid, inName, outMatches);
                break;
            case names::NameForm::ServicePrincipalName:
                findByValue(Attr_servicePrincipalName, inName, outMatches);
                break;
            case names::NameForm::DisplayName:
                findByValue(Attr_displayName, inName, outMatches);
                break;
            }
            if (!outMatches.empty())
                return;
        }
    }

    void findDn(const std::string& inName, std::vector<std::uint32_t>& outMatches) const
    {
        const std::uint32_t theEntry = itsDir->entryIndexOfDn(itsDir->findDn(inName));
        if (theEntry != NoIndex)
            addMatch(theEntry, outMatches);
    }

    void findSamInDomain(std::uint32_t inDomain, const std::string& inSam,
                         std::vector<std::uint32_t>& outMatches) const
    {
        for (std::uint32_t curEntry : itsDir->itsBySam.find(inSam))
            if (itsDir->itsEntries[curEntry].itsDomain == inDomain)
                addMatch(curEntry, outMatches);
    }

    void findDomainObject(std::uint32_t inDomain, std::vector<std::uint32_t>& outMatches) const
    {
        const std::uint32_t theEntry = itsDir->entryIndexOfDn(itsDir->itsDomains[inDomain].itsNcDn);
        if (theEntry != NoIndex)
            addMatch(theEntry, outMatches);
    }

    void findNt4(const std::string& inName, std::vector<std::uint32_t>& outMatches) const
    {
        // The domain by its NetBIOS or its DNS name, as the directory's own
        // translator takes either.
        std::string theDomainName;
        std::string theSam;
        if (!names::splitNt4Name(inName, theDomainName, theSam))
            return;
        const std::uint32_t theDomain = itsDir->findDomain(theDomainName);
        if (theDomain == NoIndex)
            return;
        if (theSam.empty())
            findDomainObject(theDomain, outMatches);
        else
            findSamInDomain(theDomain, theSam, outMatches);
    }

    void findUpn(const std::string& inName, std::vector<std::uint32_t>& outMatches) const
    {
        findIndexed(itsDir->itsByUpn, inName, outMatches);
        if (!outMatches.empty())
            return;
        // The implicit name every account has: sAMAccountName@dnsRoot.
        std::string theAccount;
        std::string theDomainName;
        if (!names::splitPrincipalName(inName, theAccount, theDomainName))
            return;
        const std::uint32_t theDomain = itsDir->findDomainByDns(theDomainName);
        if (theDomain != NoIndex)
            findSamInDomain(theDomain, theAccount, outMatches);
    }

    void findCanonical(const std::string& inName, std::vector<std::uint32_t>& outMatches) const
    {
        // "dns.domain/OU/.../name", compared component by component (the
        // escapes of names.h: "\\/" and "\\\\").
        std::vector<std::string> theParts;
        if (!names::splitCanonicalName(inName, theParts))
            return;
        const std::uint32_t theDomain = itsDir->findDomainByDns(theParts.front());
        if (theDomain == NoIndex)
            return;
        if (theParts.size() == 2 && theParts.back().empty())
        {
            findDomainObject(theDomain, outMatches);
            return;
        }
        for (std::uint32_t curEntry = 0; curEntry < itsDir->itsEntries.size(); ++curEntry)
        {
            const Entry& theEntry = itsDir->itsEntries[curEntry];
            if (theEntry.itsDomain != theDomain ||
                !foldedEquals(itsDir->rdnValue(theEntry), theParts.back()))
                continue;
            std::vector<std::string> theOwn;
            if (!names::splitCanonicalName(itsDir->canonicalName(theEntry), theOwn) ||
                theOwn.size() != theParts.size())
                continue;
            bool theSame = true;
            for (std::size_t curIndex = 0; curIndex < theOwn.size() && theSame; ++curIndex)
                theSame = foldedEquals(theOwn[curIndex], theParts[curIndex]);
            if (theSame)
                addMatch(curEntry, outMatches);
        }
    }

    void findIndexed(const Directory::ValueIndex& inIndex, const std::string& inName,
                     std::vector<std::uint32_t>& outMatches) const
    {
        for (std::uint32_t curEntry : inIndex.find(inName))
            addMatch(curEntry, outMatches);
    }

    void findByValue(std::uint32_t inAttr, const std::string& inName,
                     std::vector<std::uint32_t>& outMatches) const
    {
        for (std::uint32_t curEntry = 0; curEntry < itsDir->itsEntries.size(); ++curEntry)
            for (const AttrValue& curValue : itsDir->attrs(itsDir->itsEntries[curEntry]))
                if (curValue.itsAttr == inAttr &&
                    foldedEquals(itsDir->itsValues[curValue.itsValue], inName))
                    addMatch(curEntry, outMatches);
    }

    std::shared_ptr<const Directory> itsDir;
    bool itsInitialised = false;
    std::uint32_t itsDomain = NoIndex; // NoIndex: the whole directory (global catalog)
    std::uint32_t itsResult = NoIndex;
};

// ----------------------------------------------------------------- service

// "<SID=S-1-...>" gives the SID in its canonical text.
bool sidPath(const std::string& inDN, std::string& outSid)
{
    constexpr std::string_view thePrefix = "<sid=";
    if (inDN.size() <= thePrefix.size() + 1 || inDN.back() != '>' ||
        lower(inDN.substr(0, thePrefix.size())) != thePrefix)
        return false;
    outSid = names::canonicalSid(inDN.substr(thePrefix.size(), inDN.size() - thePrefix.size() - 1));
    return !outSid.empty();
}

class LdifService final : public DirectoryService
{
public:
    explicit LdifService(std::shared_ptr<const Directory> inDir) : itsDir(std::move(inDir)) {}

    Status createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator) override
    {
        outTranslator.reset();
        outTranslator = std::make_unique<LdifTranslator>(itsDir);
        return S_ok;
    }

    // Credentials are accepted and not checked: the file has no one to ask.
    Status openObject(const std::string& inPath, const Credentials* /*inCredentials*/,
                      ObjectKind inKind, std::unique_ptr<DirObject>& outObject) override
    {
        outObject.reset();
        std::string theServer;
        std::string theDN;
        if (!dn::parseLdapPath(inPath, theServer, theDN))
            return E_badPathname;
        if (!itsDir->itsLoaded)
            return E_noSuchDomain;
        std::uint32_t theDn = NoIndex;
        std::string theSid;
        if (sidPath(theDN, theSid))
        {
            // "<SID=S-1-5-...>": the object with that SID, as AD binds to it.
            for (std::uint32_t curEntry : itsDir->itsBySid.find(theSid))
                theDn = itsDir->itsEntries[curEntry].itsDn;
            if (theDn == NoIndex)
                return E_noSuchObject;
        }
        else
        {
            std::string theKey;
            if (!dn::normalizeDN(theDN, theKey))
                return E_invalidDNSyntax;
            theDn = itsDir->findDnKey(theKey, hashFolded(theKey));
        }
        if (!itsDir->entryOfDn(theDn))
            return E_noSuchObject;
        auto theObject = std::make_unique<LdifObject>(itsDir, theDn);
        if (inKind == ObjectKind::Group && !theObject->isGroup())
            return E_noInterface;
        if (inKind == ObjectKind::User && !theObject->isUser())
            return E_noInterface;
        outObject = std::move(theObject);
        return S_ok;
    }

private:
    std::shared_ptr<const Directory> itsDir;
};

} // namespace

std::shared_ptr<DirectoryService> makeLdifService(const std::string& inPath)
{
    return std::make_shared<LdifService>(loadDirectory(inPath));
}

std::shared_ptr<DirectoryService> makeLdifServiceFromText(const std::string& inText,
                                                          const std::string& inName)
{
    return std::make_shared<LdifService>(loadDirectoryText(inText, inName));
}

} // namespace corvel::directory::ldif
