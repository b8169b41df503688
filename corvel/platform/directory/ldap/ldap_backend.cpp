// The live directory over libldap.
//
// One service per directory session: it owns the connections (one per server,
// port and credentials), opened on first use and closed when the session
// ends, and per connection a cache of the entries read so far. The membership
// walk costs round trips, so a group is read once with its member values,
// which answer both is-member and the member list. A group's members are
// classified (group or not, and a group's own member values with it, so the
// next level needs no read) either by base reads kept in flight together on
// the one connection, or, for a long list, by one search for the groups
// whose memberOf names the group. Nothing is concluded from an answer that
// could be partial: the walk over the cache equals the walk over the live
// directory. (On Samba, searches ORing many DNs and the in-chain rule are
// both far slower than these; the in-chain search is an opt-in prefetch.)
#include "corvel/platform/directory/ldap/ldap_backend.h"

#include <ldap.h>
#include <sasl/sasl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "corvel/platform/os_report.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldap/ldap_text.h"
#include "corvel/platform/directory/ldap/ldap_tls_diagnosis.h"
#include "corvel/platform/directory/names.h"

namespace corvel::directory::ldap
{

namespace
{

constexpr int kGcPort = 3268;
constexpr int kGcsPort = 3269;
// Base reads kept in flight on one connection while classifying a member
// list: enough to hide the round trip, few enough that a server answering
// requests in turn is never flooded.
constexpr std::size_t kReadsInFlight = 64;
// Above this many members to classify, one search for the groups among them
// costs the server less than reading each (measured on Samba: 2,000 member
// groups in one search take a tenth of the server time of 2,000 reads).
constexpr std::size_t kSearchAbove = 32;
// AD returns at most MaxPageSize (1000) entries per search without paging.
constexpr int kPageSize = 1000;
// Bounds the range retrieval of one attribute: 1500 values a step on AD,
// so this allows groups of tens of millions of members and no endless loop.
constexpr int kMaxRangeSteps = 100000;
constexpr const char* kInChainRule = "1.2.840.113556.1.4.1941";

int timeoutSeconds()
{
    // Tests shorten it to prove that a silent server cannot hang a walk.
    if (const char* theText = std::getenv("CORVEL_LDAP_TIMEOUT"))
    {
        const int theValue = std::atoi(theText);
        if (theValue > 0 && theValue <= 3600)
            return theValue;
    }
    return 10;
}

std::string lower(const std::string& inText) { return dn::toLowerAscii(inText); }

// The comparison key of a DN; text that is no DN compares as itself.
std::string dnKey(const std::string& inDN)
{
    std::string theKey;
    if (dn::normalizeDN(inDN, theKey))
        return theKey;
    return lower(inDN);
}

// The DC= suffix of a DN: the DN of the domain naming context holding it.
std::string domainOf(const std::string& inDN)
{
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(inDN, theRdns))
        return {};
    std::size_t theFirst = theRdns.size();
    while (theFirst > 0 && theRdns[theFirst - 1].itsAvas.size() == 1 &&
           lower(theRdns[theFirst - 1].itsAvas[0].itsType) == "dc")
        --theFirst;
    std::string theDN;
    for (std::size_t curIndex = theFirst; curIndex < theRdns.size(); ++curIndex)
    {
        if (!theDN.empty())
            theDN += ',';
        theDN += theRdns[curIndex].itsText;
    }
    return theDN;
}

using Target = LdapUri;

// One entry as read from the directory.
struct Entry
{
    std::string itsDN;
    bool itsClassKnown = false;
    bool itsIsGroup = false;
    bool itsIsUser = false;
    // Attributes read so far, by lower-case name; a name present with no
    // values was asked for and is absent.
    std::map<std::string, std::vector<std::string>> itsAttributes;
    bool itsMembersKnown = false;
    std::vector<std::string> itsMembers;
    std::unordered_set<std::string> itsMemberKeys;

    void setMembers(std::vector<std::string> inMembers)
    {
        itsMembers = std::move(inMembers);
        itsMemberKeys.clear();
        for (const std::string& curMember : itsMembers)
            itsMemberKeys.insert(dnKey(curMember));
        itsMembersKnown = true;
    }
    void setClasses(const std::vector<std::string>& inClasses)
    {
        itsClassKnown = true;
        itsIsGroup = false;
        itsIsUser = false;
        for (const std::string& curClass : inClasses)
        {
            const std::string theClass = lower(curClass);
            itsIsGroup = itsIsGroup || theClass == "group";
            itsIsUser = itsIsUser || theClass == "user";
        }
    }
};

using EntryPtr = std::shared_ptr<Entry>;

// One search result: DN and attributes by name as returned (ranged names kept).
struct Found
{
    std::string itsDN;
    std::vector<std::pair<std::string, std::vector<std::string>>> itsAttributes;
};

class LdapService;

class Connection
{
public:
    Connection(LdapService& inService, Target inTarget) : itsService(inService), itsTarget(std::move(inTarget)) {}
    ~Connection()
    {
        if (itsLd != nullptr)
            ldap_unbind_ext_s(itsLd, nullptr, nullptr);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Status open(const Credentials* inCredentials);

    // A search, with paging unless !inPaged; references (referrals) are not
    // chased. Without paging, a server's size limit fails the search: a
    // part of the answer is never taken for all of it.
    // inTimeLimit: seconds the server may spend (0: the operation time-out).
    Status search(const std::string& inBase, int inScope, const std::string& inFilter,
                  const std::vector<std::string>& inAttributes, std::vector<Found>& outFound,
                  int inTimeLimit = 0, bool inPaged = true);

    // The cache entry for inDN (created empty when new).
    EntryPtr entry(const std::string& inDN)
    {
        EntryPtr& theEntry = itsEntries[dnKey(inDN)];
        if (!theEntry)
        {
            theEntry = std::make_shared<Entry>();
            theEntry->itsDN = inDN;
        }
        return theEntry;
    }
    EntryPtr cached(const std::string& inDN)
    {
        const auto theAt = itsEntries.find(dnKey(inDN));
        return theAt == itsEntries.end() ? nullptr : theAt->second;
    }

    // Merges one search result into the cache, completing ranged member
    // values; returns the entry.
    Status absorb(const Found& inFound, EntryPtr& outEntry);
    // Reads the named attributes of one entry into the cache.
    Status read(const std::string& inDN, const std::vector<std::string>& inAttributes,
                EntryPtr& outEntry);
    // Classifies and caches the entries of inDNs (with a group's member
    // values), one base read each, kReadsInFlight of them at once.
    Status fetchMany(const std::vector<std::string>& inDNs);
    // The SID text of the primary group of the object inDN, read once per
    // session (a walk asks about the same user at every group); empty when
    // it has none or this server cannot read it (an object of another
    // domain, which cannot have its primary group here anyway).
    Status primaryGroupSid(const std::string& inDN, std::string& outSid);
    // The values of a ranged attribute from inFirst on.
    Status readRange(const std::string& inDN, const std::string& inAttribute, std::uint32_t inFirst,
                     std::vector<std::string>& ioValues);

    const Target& target() const { return itsTarget; }
    LdapService& service() { return itsService; }

private:
    Status fail(int inResult);
    Found toFound(LDAPMessage* inEntry);
    // Sends a base read of inDN without waiting; outId is its message id.
    Status sendRead(const std::string& inDN, int& outId);
    // Waits for the whole answer to the read outId; outFound is null when
    // the object cannot be read (absent, elsewhere, or hidden from us).
    Status takeRead(int inId, std::unique_ptr<Found>& outFound);

    LdapService& itsService;
    Target itsTarget;
    LDAP* itsLd = nullptr;
    bool itsDead = false;
    std::unordered_map<std::string, EntryPtr> itsEntries;
};

class LdapService : public DirectoryService, public std::enable_shared_from_this<LdapService>
{
public:
    explicit LdapService(std::vector<Target> inTargets) : itsTargets(std::move(inTargets)) {}
    ~LdapService() override
    {
        if (std::getenv("CORVEL_LDAP_STATS") != nullptr)
            platform::reportLog(platform::Report_debug, "ldap: %lu operations in this session",
                    static_cast<unsigned long>(itsOperations));
    }

    Status createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator) override;
    Status openObject(const std::string& inPath, const Credentials* inCredentials, ObjectKind inKind,
                      std::unique_ptr<DirObject>& outObject) override;

    // The connection to inTarget with these credentials, opened on first use.
    Status connection(const Target& inTarget, const Credentials* inCredentials,
                      Connection*& outConnection);
    // The connection to the configured directory (its global catalog when
    // inGc), or to inServer when one is named. Configured servers are tried
    // in turn until one answers; the one that did serves the rest of the
    // session.
    Status configuredConnection(bool inGc, const std::string& inServer,
                                const Credentials* inCredentials, Connection*& outConnection);
    // The directory's own server for objects (389, or 636 with TLS).
    Target objectTarget(const std::string& inServer) const;
    Target gcTarget() const;
    bool hasTargets() const { return !itsTargets.empty(); }

    void countOperation() { ++itsOperations; }

    // Ensures that the members of inEntry are classified (cached with their
    // object classes), as cheaply as the directory allows.
    Status classifyMembers(Connection& inConnection, const EntryPtr& inEntry);
    // One search for the groups among inEntry's members; removes from
    // ioUnknown every member the answer decides.
    void searchMemberGroups(Connection& inConnection, const EntryPtr& inEntry,
                            std::vector<std::string>& ioUnknown);
    // The in-chain search for a top group.
    void fetchNested(Connection& inConnection, const EntryPtr& inEntry);

private:
    std::vector<Target> itsTargets;
    std::size_t itsActive = 0; // the configured server that answered
    std::unordered_set<std::string> itsPrefetched; // top groups asked for in-chain
    std::map<std::string, std::unique_ptr<Connection>> itsConnections;
    unsigned long itsOperations = 0;
};

// ---------------------------------------------------------------------------
// Connection

int saslInteract(LDAP* /*inLd*/, unsigned /*inFlags*/, void* /*inDefaults*/, void* inInteract)
{
    // GSSAPI needs no answers; a prompt for an authorisation id gets the
    // default (the ticket's principal).
    for (auto* curItem = static_cast<sasl_interact_t*>(inInteract); curItem->id != SASL_CB_LIST_END;
         ++curItem)
    {
        curItem->result = curItem->defresult != nullptr ? curItem->defresult : "";
        curItem->len = static_cast<unsigned>(std::strlen(static_cast<const char*>(curItem->result)));
    }
    return LDAP_SUCCESS;
}

Status Connection::fail(int inResult)
{
    if (inResult == LDAP_SERVER_DOWN || inResult == LDAP_CONNECT_ERROR || inResult == LDAP_TIMEOUT)
        itsDead = true; // no reconnecting mid-walk: every later call fails at once
    return mapLdapError(inResult);
}

// After a failed TLS handshake: say why in words, if the certificate is the
// reason. A server that took the whole time-out to fail is not asked again.
void explainTls(const Target& inTarget, bool inStartTls,
                std::chrono::steady_clock::time_point inStart)
{
    const auto theElapsed = std::chrono::steady_clock::now() - inStart;
    if (theElapsed < std::chrono::seconds(timeoutSeconds()) / 2)
        explainTlsFailure(inTarget.itsHost, inTarget.itsPort, inStartTls,
                          std::max(1, timeoutSeconds() / 2));
}

Status Connection::open(const Credentials* inCredentials)
{
    const auto theStart = std::chrono::steady_clock::now();
    const std::string theUri = std::string(itsTarget.itsTls ? "ldaps://" : "ldap://") +
                               itsTarget.itsHost + ":" + std::to_string(itsTarget.itsPort);
    int theResult = ldap_initialize(&itsLd, theUri.c_str());
    if (theResult != LDAP_SUCCESS)
        return mapLdapError(theResult);

    const int theVersion = LDAP_VERSION3;
    ldap_set_option(itsLd, LDAP_OPT_PROTOCOL_VERSION, &theVersion);
    ldap_set_option(itsLd, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    timeval theTimeout{timeoutSeconds(), 0};
    ldap_set_option(itsLd, LDAP_OPT_NETWORK_TIMEOUT, &theTimeout);
    ldap_set_option(itsLd, LDAP_OPT_TIMEOUT, &theTimeout);
    // The service principal is ldap/<the name we were given>: no reverse
    // lookup of the address (which names "localhost" on a test DC).
    ldap_set_option(itsLd, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);

    const bool theHasCredentials = inCredentials != nullptr && !inCredentials->isEmpty();
    if (!theHasCredentials)
    {
        // The caller's Kerberos ticket. Over TLS the channel already protects
        // the traffic (and AD refuses SASL layers inside TLS); in clear, ask
        // for sealing.
        const char* theProps = itsTarget.itsTls ? "maxssf=0" : "minssf=56";
        ldap_set_option(itsLd, LDAP_OPT_X_SASL_SECPROPS, theProps);
        itsService.countOperation();
        theResult = ldap_sasl_interactive_bind_s(itsLd, nullptr, "GSSAPI", nullptr, nullptr,
                                                 LDAP_SASL_QUIET, saslInteract, nullptr);
        if (theResult != LDAP_SUCCESS)
        {
            // SASL's own words say which part of Kerberos failed (no
            // ticket, no such service principal, clock skew).
            char* theDetail = nullptr;
            ldap_get_option(itsLd, LDAP_OPT_DIAGNOSTIC_MESSAGE, &theDetail);
            osTrace(1, "ldap: GSSAPI bind to %s failed: %s%s%s%s", theUri.c_str(),
                    ldap_err2string(theResult), theDetail ? " (" : "", theDetail ? theDetail : "",
                    theDetail ? ")" : "");
            ldap_memfree(theDetail);
        }
        if (itsTarget.itsTls && (theResult == LDAP_SERVER_DOWN || theResult == LDAP_CONNECT_ERROR))
            explainTls(itsTarget, false, theStart);
        return theResult == LDAP_SUCCESS ? S_ok : fail(theResult);
    }

    // A password never travels in clear: TLS first (certificate verified as
    // the OpenLDAP client configuration says), then the simple bind.
    if (!itsTarget.itsTls)
    {
        itsService.countOperation();
        theResult = ldap_start_tls_s(itsLd, nullptr, nullptr);
        if (theResult != LDAP_SUCCESS)
        {
            osTrace(1, "ldap: StartTLS with %s failed: %s", theUri.c_str(),
                    ldap_err2string(theResult));
            if (theResult == LDAP_CONNECT_ERROR)
                explainTls(itsTarget, true, theStart);
            return theResult == LDAP_CONNECT_ERROR ? E_serverDown : fail(theResult);
        }
    }
    berval thePassword;
    thePassword.bv_val = const_cast<char*>(inCredentials->itsPassword.c_str());
    thePassword.bv_len = inCredentials->itsPassword.size();
    itsService.countOperation();
    theResult = ldap_sasl_bind_s(itsLd, inCredentials->itsUser.c_str(), LDAP_SASL_SIMPLE,
                                 &thePassword, nullptr, nullptr, nullptr);
    if (theResult != LDAP_SUCCESS)
        osTrace(1, "ldap: bind of \"%s\" to %s failed: %s", inCredentials->itsUser.c_str(),
                theUri.c_str(), ldap_err2string(theResult));
    if (itsTarget.itsTls && (theResult == LDAP_SERVER_DOWN || theResult == LDAP_CONNECT_ERROR))
        explainTls(itsTarget, false, theStart);
    return theResult == LDAP_SUCCESS ? S_ok : fail(theResult);
}

Found Connection::toFound(LDAPMessage* inEntry)
{
    Found theFound;
    if (char* theDN = ldap_get_dn(itsLd, inEntry))
    {
        theFound.itsDN = theDN;
        ldap_memfree(theDN);
    }
    BerElement* theBer = nullptr;
    for (char* curName = ldap_first_attribute(itsLd, inEntry, &theBer); curName != nullptr;
         curName = ldap_next_attribute(itsLd, inEntry, theBer))
    {
        std::vector<std::string> theValues;
        if (berval** theBerValues = ldap_get_values_len(itsLd, inEntry, curName))
        {
            for (berval** curValue = theBerValues; *curValue != nullptr; ++curValue)
                theValues.emplace_back((*curValue)->bv_val, (*curValue)->bv_len);
            ldap_value_free_len(theBerValues);
        }
        theFound.itsAttributes.emplace_back(curName, std::move(theValues));
        ldap_memfree(curName);
    }
    if (theBer != nullptr)
        ber_free(theBer, 0);
    return theFound;
}

Status Connection::search(const std::string& inBase, int inScope, const std::string& inFilter,
                          const std::vector<std::string>& inAttributes, std::vector<Found>& outFound,
                          int inTimeLimit, bool inPaged)
{
    if (itsDead || itsLd == nullptr)
        return E_serverDown;
    std::vector<char*> theAttributes;
    for (const std::string& curName : inAttributes)
        theAttributes.push_back(const_cast<char*>(curName.c_str()));
    theAttributes.push_back(nullptr);

    berval* theCookie = nullptr;
    Status theStatus = S_ok;
    // Pages end when the server returns an empty cookie; the bound guards
    // against a server that never does.
    for (int curPage = 0; curPage < 100000; ++curPage)
    {
        LDAPControl* thePageControl = nullptr;
        int theResult = LDAP_SUCCESS;
        if (inPaged)
            theResult = ldap_create_page_control(itsLd, kPageSize, theCookie, 0, &thePageControl);
        ber_bvfree(theCookie);
        theCookie = nullptr;
        if (theResult != LDAP_SUCCESS)
            return mapLdapError(theResult);
        LDAPControl* thePaged[] = {thePageControl, nullptr};
        LDAPControl** theControls = inPaged ? thePaged : nullptr;
        timeval theTimeout{timeoutSeconds(), 0};
        if (inTimeLimit > 0 && inTimeLimit < theTimeout.tv_sec)
            theTimeout.tv_sec = inTimeLimit + 1; // the server's own limit answers first
        LDAPMessage* theMessage = nullptr;
        itsService.countOperation();
        theResult = ldap_search_ext_s(itsLd, inBase.c_str(), inScope, inFilter.c_str(),
                                      theAttributes.data(), 0, theControls, nullptr, &theTimeout,
                                      inTimeLimit, &theMessage);
        if (thePageControl != nullptr)
            ldap_control_free(thePageControl);
        if (theMessage == nullptr)
            return fail(theResult);

        for (LDAPMessage* curEntry = ldap_first_entry(itsLd, theMessage); curEntry != nullptr;
             curEntry = ldap_next_entry(itsLd, curEntry))
            outFound.push_back(toFound(curEntry));

        int theCode = LDAP_SUCCESS;
        LDAPControl** theReturned = nullptr;
        theResult = ldap_parse_result(itsLd, theMessage, &theCode, nullptr, nullptr, nullptr,
                                      &theReturned, 1);
        if (theResult != LDAP_SUCCESS)
            return fail(theResult);
        if (theCode != LDAP_SUCCESS)
        {
            ldap_controls_free(theReturned);
            return fail(theCode);
        }
        LDAPControl* theResponse = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, theReturned, nullptr);
        ber_int_t theCount = 0;
        berval theNext{0, nullptr};
        if (theResponse != nullptr &&
            ldap_parse_pageresponse_control(itsLd, theResponse, &theCount, &theNext) == LDAP_SUCCESS &&
            theNext.bv_len > 0)
        {
            theCookie = ber_bvdup(&theNext);
            ber_memfree(theNext.bv_val);
        }
        else if (theNext.bv_val != nullptr)
            ber_memfree(theNext.bv_val);
        ldap_controls_free(theReturned);
        if (theCookie == nullptr)
            return theStatus;
    }
    ber_bvfree(theCookie);
    return E_fail;
}

Status Connection::readRange(const std::string& inDN, const std::string& inAttribute,
                             std::uint32_t inFirst, std::vector<std::string>& ioValues)
{
    std::uint32_t theNext = inFirst;
    for (int curStep = 0; curStep < kMaxRangeSteps; ++curStep)
    {
        std::vector<Found> theFound;
        const std::string theName = inAttribute + ";range=" + std::to_string(theNext) + "-*";
        const Status theStatus =
            search(inDN, LDAP_SCOPE_BASE, "(objectClass=*)", {theName}, theFound);
        if (failed(theStatus))
            return theStatus;
        if (theFound.empty())
            return E_noSuchObject;
        bool theProgress = false;
        for (const auto& [curName, curValues] : theFound.front().itsAttributes)
        {
            std::uint32_t theFirst = 0;
            std::uint32_t theLast = 0;
            bool theIsEnd = false;
            if (!parseRangedName(curName, inAttribute, theFirst, theLast, theIsEnd) ||
                theFirst != theNext)
                continue;
            ioValues.insert(ioValues.end(), curValues.begin(), curValues.end());
            if (theIsEnd)
                return S_ok;
            theNext = theLast + 1;
            theProgress = theNext > theFirst;
        }
        if (!theProgress)
            return E_fail; // a server that does not advance must not loop us
    }
    return E_fail;
}

Status Connection::absorb(const Found& inFound, EntryPtr& outEntry)
{
    EntryPtr theEntry = entry(inFound.itsDN);
    theEntry->itsDN = inFound.itsDN;
    for (const auto& [curName, curValues] : inFound.itsAttributes)
    {
        std::uint32_t theFirst = 0;
        std::uint32_t theLast = 0;
        bool theIsEnd = false;
        if (parseRangedName(curName, "member", theFirst, theLast, theIsEnd))
        {
            std::vector<std::string> theMembers = curValues;
            if (!theIsEnd)
            {
                const Status theStatus = readRange(inFound.itsDN, "member", theLast + 1, theMembers);
                if (failed(theStatus))
                    return theStatus;
            }
            theEntry->setMembers(std::move(theMembers));
            continue;
        }
        const std::string theName = lower(curName);
        if (theName == "member")
            theEntry->setMembers(curValues);
        else
        {
            if (theName == "objectclass")
                theEntry->setClasses(curValues);
            theEntry->itsAttributes[theName] = curValues;
        }
    }
    outEntry = theEntry;
    return S_ok;
}

Status Connection::read(const std::string& inDN, const std::vector<std::string>& inAttributes,
                        EntryPtr& outEntry)
{
    std::vector<Found> theFound;
    const Status theStatus = search(inDN, LDAP_SCOPE_BASE, "(objectClass=*)", inAttributes, theFound);
    if (failed(theStatus))
        return theStatus;
    if (theFound.empty())
        return E_noSuchObject;
    EntryPtr theEntry;
    const Status theAbsorbed = absorb(theFound.front(), theEntry);
    if (failed(theAbsorbed))
        return theAbsorbed;
    // Attributes asked for and not returned are absent.
    for (const std::string& curName : inAttributes)
    {
        const std::string theName = lower(curName);
        if (theName == "member")
        {
            if (!theEntry->itsMembersKnown)
                theEntry->setMembers({});
        }
        else
            theEntry->itsAttributes.try_emplace(theName);
    }
    outEntry = theEntry;
    return S_ok;
}

Status Connection::primaryGroupSid(const std::string& inDN, std::string& outSid)
{
    outSid.clear();
    EntryPtr theEntry = entry(inDN);
    if (theEntry->itsAttributes.count("objectsid") == 0 ||
        theEntry->itsAttributes.count("primarygroupid") == 0)
    {
        const Status theStatus = read(inDN, {"objectSid", "primaryGroupID"}, theEntry);
        if (theStatus == E_noSuchObject || theStatus == E_referral ||
            theStatus == E_invalidDNSyntax || theStatus == E_accessDenied)
        {
            // Not readable here: remembered as having no primary group.
            theEntry->itsAttributes.try_emplace("objectsid");
            theEntry->itsAttributes.try_emplace("primarygroupid");
            return S_ok;
        }
        if (failed(theStatus))
            return theStatus;
    }
    const auto& theSids = theEntry->itsAttributes["objectsid"];
    const auto& theRids = theEntry->itsAttributes["primarygroupid"];
    if (theSids.empty() || theRids.empty() ||
        !names::primaryGroupSid(theSids.front(), false, theRids.front(), outSid))
        outSid.clear();
    return S_ok;
}

const std::vector<std::string>& groupAttributes()
{
    // objectSid with the member values: both halves of is-member, the member
    // attribute and the primary group rule, come back in the one read.
    static const std::vector<std::string> kAttributes = {"objectClass", "distinguishedName", "name",
                                                         "member", "objectSid"};
    return kAttributes;
}

Status Connection::sendRead(const std::string& inDN, int& outId)
{
    if (itsDead || itsLd == nullptr)
        return E_serverDown;
    static const std::vector<std::string>& theNames = groupAttributes();
    std::vector<char*> theAttributes;
    for (const std::string& curName : theNames)
        theAttributes.push_back(const_cast<char*>(curName.c_str()));
    theAttributes.push_back(nullptr);
    timeval theTimeout{timeoutSeconds(), 0};
    itsService.countOperation();
    // No paging control: a base read answers one entry, and Samba answers a
    // plain base read several times faster than a paged one.
    const int theResult = ldap_search_ext(itsLd, inDN.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                          theAttributes.data(), 0, nullptr, nullptr, &theTimeout,
                                          0, &outId);
    return theResult == LDAP_SUCCESS ? S_ok : fail(theResult);
}

Status Connection::takeRead(int inId, std::unique_ptr<Found>& outFound)
{
    outFound.reset();
    if (itsDead || itsLd == nullptr)
        return E_serverDown;
    timeval theTimeout{timeoutSeconds(), 0};
    LDAPMessage* theMessage = nullptr;
    const int theWait = ldap_result(itsLd, inId, LDAP_MSG_ALL, &theTimeout, &theMessage);
    if (theWait <= 0 || theMessage == nullptr)
    {
        if (theMessage != nullptr)
            ldap_msgfree(theMessage);
        // Nothing in time (0) or a broken connection (-1): either way the
        // connection can no longer be trusted to pair answers with requests.
        return fail(theWait == 0 ? LDAP_TIMEOUT : LDAP_SERVER_DOWN);
    }
    for (LDAPMessage* curEntry = ldap_first_entry(itsLd, theMessage); curEntry != nullptr;
         curEntry = ldap_next_entry(itsLd, curEntry))
        if (!outFound)
            outFound = std::make_unique<Found>(toFound(curEntry));
    int theCode = LDAP_SUCCESS;
    const int theParsed =
        ldap_parse_result(itsLd, theMessage, &theCode, nullptr, nullptr, nullptr, nullptr, 1);
    if (theParsed != LDAP_SUCCESS)
        return fail(theParsed);
    switch (theCode)
    {
    case LDAP_SUCCESS:
        return S_ok;
    case LDAP_NO_SUCH_OBJECT:
    case LDAP_REFERRAL:
    case LDAP_INSUFFICIENT_ACCESS:
    case LDAP_INVALID_DN_SYNTAX:
        // An object that cannot be bound is skipped by the walk, as before.
        outFound.reset();
        return S_ok;
    default:
        // Anything else (busy, limits, server errors) leaves the class
        // unknown: the walk must fail rather than take a group for none.
        return fail(theCode);
    }
}

Status Connection::fetchMany(const std::vector<std::string>& inDNs)
{
    // A sliding window of base reads: the round trip, not the server's work,
    // is the cost of a member list, and one search ORing many DNs is far
    // slower on Samba than the same reads one by one.
    std::vector<std::string> theDNs;
    std::unordered_set<std::string> theSeen;
    for (const std::string& curDN : inDNs)
        if (theSeen.insert(dnKey(curDN)).second)
            theDNs.push_back(curDN);

    std::vector<std::pair<int, std::size_t>> theInFlight; // message id, index in theDNs
    std::size_t theNextToSend = 0;
    std::size_t theNextToTake = 0;
    Status theStatus = S_ok;
    while (theNextToTake < theDNs.size() && succeeded(theStatus))
    {
        while (theNextToSend < theDNs.size() && theNextToSend - theNextToTake < kReadsInFlight)
        {
            int theId = 0;
            theStatus = sendRead(theDNs[theNextToSend], theId);
            if (failed(theStatus))
                break;
            theInFlight.emplace_back(theId, theNextToSend);
            ++theNextToSend;
        }
        if (failed(theStatus))
            break;
        const auto [theId, theIndex] = theInFlight[theNextToTake];
        ++theNextToTake;
        std::unique_ptr<Found> theFound;
        theStatus = takeRead(theId, theFound);
        if (failed(theStatus))
            break;
        EntryPtr theEntry = entry(theDNs[theIndex]);
        if (theFound)
        {
            theStatus = absorb(*theFound, theEntry);
            if (failed(theStatus))
                break;
        }
        if (theFound && !theEntry->itsClassKnown)
            theEntry->setClasses({}); // read, but no class visible to us
        if (!theFound)
        {
            theEntry->itsClassKnown = true;
            theEntry->itsIsGroup = false;
            theEntry->itsIsUser = false;
        }
        if (theEntry->itsIsGroup && !theEntry->itsMembersKnown)
            theEntry->setMembers({});
    }
    if (failed(theStatus))
    {
        // Answers still owed must not be taken for later requests' answers.
        for (std::size_t curIndex = theNextToTake; curIndex < theInFlight.size(); ++curIndex)
            if (itsLd != nullptr && !itsDead)
                ldap_abandon_ext(itsLd, theInFlight[curIndex].first, nullptr, nullptr);
        return theStatus;
    }
    return S_ok;
}

// ---------------------------------------------------------------------------
// Objects

class LdapEnumerator;

class LdapObject : public DirGroup, public DirUser
{
public:
    LdapObject(std::shared_ptr<LdapService> inService, Connection& inConnection, EntryPtr inEntry)
        : itsService(std::move(inService)), itsConnection(inConnection), itsEntry(std::move(inEntry))
    {
    }

    Status getName(std::string& outName) override
    {
        std::vector<dn::Rdn> theRdns;
        if (!dn::parseDN(itsEntry->itsDN, theRdns) || theRdns.empty())
            return E_invalidDNSyntax;
        outName = theRdns.front().itsText;
        return S_ok;
    }

    Status get(const std::string& inAttribute, std::string& outValue) override
    {
        std::vector<std::string> theValues;
        const Status theStatus = getEx(inAttribute, theValues);
        if (failed(theStatus))
            return theStatus;
        outValue = theValues.front();
        return S_ok;
    }

    Status getEx(const std::string& inAttribute, std::vector<std::string>& outValues) override
    {
        const std::string theName = lower(inAttribute);
        if (theName == "distinguishedname" && !itsEntry->itsDN.empty())
        {
            outValues = {itsEntry->itsDN};
            return S_ok;
        }
        if (theName == "member")
        {
            const Status theStatus = ensureMembers();
            if (failed(theStatus))
                return theStatus;
            if (itsEntry->itsMembers.empty())
                return E_propertyNotFound;
            outValues = itsEntry->itsMembers;
            return S_ok;
        }
        auto theAt = itsEntry->itsAttributes.find(theName);
        if (theAt == itsEntry->itsAttributes.end())
        {
            EntryPtr theEntry;
            const Status theStatus = itsConnection.read(itsEntry->itsDN, {inAttribute}, theEntry);
            if (failed(theStatus))
                return theStatus;
            theAt = itsEntry->itsAttributes.find(theName);
            if (theAt == itsEntry->itsAttributes.end())
                return E_propertyNotFound;
            // memberOf can be ranged too on very large memberships.
        }
        if (theAt->second.empty())
            return E_propertyNotFound;
        outValues = theAt->second;
        return S_ok;
    }

    DirGroup* asGroup() override { return itsEntry->itsIsGroup ? this : nullptr; }
    DirUser* asUser() override { return itsEntry->itsIsUser ? this : nullptr; }

    Status isMember(const std::string& inPath, bool& outIsMember) override
    {
        std::string theServer;
        std::string theDN;
        if (!dn::parseLdapPath(inPath, theServer, theDN))
            return E_badPathname;
        Status theStatus = ensureMembers();
        if (failed(theStatus))
            return theStatus;
        outIsMember = itsEntry->itsMemberKeys.count(dnKey(theDN)) != 0;
        if (outIsMember)
            return S_ok;
        std::string thePrimary;
        theStatus = itsConnection.primaryGroupSid(theDN, thePrimary);
        if (failed(theStatus) || thePrimary.empty())
            return theStatus;
        std::string theOwnSid;
        theStatus = ownSid(theOwnSid);
        if (failed(theStatus))
            return theStatus;
        outIsMember = names::sameSid(theOwnSid, thePrimary);
        return S_ok;
    }

    Status primaryGroup(std::string& outGroupDN) override
    {
        outGroupDN.clear();
        std::string theSid;
        Status theStatus = itsConnection.primaryGroupSid(itsEntry->itsDN, theSid);
        std::string theBytes;
        if (failed(theStatus) || theSid.empty() || !names::sidFromText(theSid, theBytes))
            return failed(theStatus) ? theStatus : S_false;
        // A primary group is a group of the object's own domain.
        std::vector<Found> theFound;
        theStatus = itsConnection.search(domainOf(itsEntry->itsDN), LDAP_SCOPE_SUBTREE,
                                         "(&(objectClass=group)(objectSid=" +
                                             escapeFilterBytes(theBytes) + "))",
                                         groupAttributes(), theFound);
        if (theStatus == E_noSuchObject || theStatus == E_referral)
            return S_false;
        if (failed(theStatus))
            return theStatus;
        if (theFound.size() != 1)
            return S_false;
        EntryPtr theGroup;
        theStatus = itsConnection.absorb(theFound.front(), theGroup);
        if (failed(theStatus))
            return theStatus;
        outGroupDN = theFound.front().itsDN;
        return S_ok;
    }

    Status members(std::unique_ptr<DirEnumerator>& outMembers) override;
    Status groups(std::unique_ptr<DirEnumerator>& outGroups) override;

private:
    // This object's objectSid as text; empty when it has none.
    Status ownSid(std::string& outSid)
    {
        outSid.clear();
        if (itsEntry->itsAttributes.count("objectsid") == 0)
        {
            EntryPtr theEntry;
            const Status theStatus = itsConnection.read(itsEntry->itsDN, {"objectSid"}, theEntry);
            if (failed(theStatus))
                return theStatus;
        }
        const auto& theSids = itsEntry->itsAttributes["objectsid"];
        if (!theSids.empty() && !names::sidToText(theSids.front(), outSid))
            outSid.clear();
        return S_ok;
    }

    Status ensureMembers()
    {
        if (itsEntry->itsMembersKnown)
            return S_ok;
        EntryPtr theEntry;
        return itsConnection.read(itsEntry->itsDN, {"member"}, theEntry);
    }

    std::shared_ptr<LdapService> itsService;
    Connection& itsConnection;
    EntryPtr itsEntry;
};

class LdapEnumerator : public DirEnumerator
{
public:
    LdapEnumerator(std::shared_ptr<LdapService> inService, Connection& inConnection,
                   std::vector<EntryPtr> inEntries)
        : itsService(std::move(inService)), itsConnection(inConnection), itsEntries(std::move(inEntries))
    {
    }

    Status next(std::unique_ptr<DirObject>& outObject) override
    {
        if (itsNext >= itsEntries.size())
            return S_false;
        outObject = std::make_unique<LdapObject>(itsService, itsConnection, itsEntries[itsNext++]);
        return S_ok;
    }

private:
    std::shared_ptr<LdapService> itsService;
    Connection& itsConnection;
    std::vector<EntryPtr> itsEntries;
    std::size_t itsNext = 0;
};

Status LdapObject::members(std::unique_ptr<DirEnumerator>& outMembers)
{
    Status theStatus = ensureMembers();
    if (failed(theStatus))
        return theStatus;
    theStatus = itsService->classifyMembers(itsConnection, itsEntry);
    if (failed(theStatus))
        return theStatus;
    std::vector<EntryPtr> theEntries;
    for (const std::string& curDN : itsEntry->itsMembers)
        theEntries.push_back(itsConnection.entry(curDN));
    outMembers = std::make_unique<LdapEnumerator>(itsService, itsConnection, std::move(theEntries));
    return S_ok;
}

Status LdapObject::groups(std::unique_ptr<DirEnumerator>& outGroups)
{
    std::vector<std::string> theGroups;
    const Status theStatus = getEx("memberOf", theGroups);
    if (failed(theStatus) && theStatus != E_propertyNotFound)
        return theStatus;
    std::vector<EntryPtr> theEntries;
    for (const std::string& curDN : theGroups)
    {
        // memberOf names groups only.
        EntryPtr theEntry = itsConnection.entry(curDN);
        if (!theEntry->itsClassKnown)
        {
            theEntry->itsClassKnown = true;
            theEntry->itsIsGroup = true;
        }
        theEntries.push_back(theEntry);
    }
    outGroups = std::make_unique<LdapEnumerator>(itsService, itsConnection, std::move(theEntries));
    return S_ok;
}

// ---------------------------------------------------------------------------
// Service

Target LdapService::objectTarget(const std::string& inServer) const
{
    Target theTarget = itsTargets.empty() ? Target{} : itsTargets[itsActive];
    if (theTarget.itsPort == kGcPort || theTarget.itsPort == kGcsPort)
        theTarget.itsPort = theTarget.itsTls ? kLdapsPort : kLdapPort;
    if (!inServer.empty() &&
        !parseHostPort(inServer, theTarget.itsTls ? kLdapsPort : kLdapPort, theTarget.itsHost,
                       theTarget.itsPort))
        theTarget.itsHost.clear(); // no server at all rather than a wrong one
    return theTarget;
}

Target LdapService::gcTarget() const
{
    Target theTarget = itsTargets.empty() ? Target{} : itsTargets[itsActive];
    theTarget.itsPort = theTarget.itsTls ? kGcsPort : kGcPort;
    return theTarget;
}

Status LdapService::connection(const Target& inTarget, const Credentials* inCredentials,
                               Connection*& outConnection)
{
    if (inTarget.itsHost.empty())
        return E_noSuchDomain;
    const bool theHasCredentials = inCredentials != nullptr && !inCredentials->isEmpty();
    // The key holds the password itself: a cached bind must never stand in
    // for a different password. It stays in memory, in this session only.
    std::string theKey = lower(inTarget.itsHost) + '\n' + std::to_string(inTarget.itsPort) + '\n' +
                         (inTarget.itsTls ? "s" : "") + '\n';
    if (theHasCredentials)
        theKey += inCredentials->itsUser + '\n' + inCredentials->itsPassword;
    auto& theSlot = itsConnections[theKey];
    if (!theSlot)
    {
        auto theConnection = std::make_unique<Connection>(*this, inTarget);
        const Status theStatus = theConnection->open(theHasCredentials ? inCredentials : nullptr);
        if (failed(theStatus))
        {
            itsConnections.erase(theKey);
            return theStatus;
        }
        theSlot = std::move(theConnection);
    }
    outConnection = theSlot.get();
    return S_ok;
}

Status LdapService::configuredConnection(bool inGc, const std::string& inServer,
                                         const Credentials* inCredentials,
                                         Connection*& outConnection)
{
    if (!inServer.empty())
        return connection(objectTarget(inServer), inCredentials, outConnection);
    Status theStatus = E_noSuchDomain;
    for (std::size_t curTry = 0; curTry < itsTargets.size(); ++curTry)
    {
        theStatus = connection(inGc ? gcTarget() : objectTarget(""), inCredentials, outConnection);
        // Only a server that cannot be reached sends us to the next one: a
        // refused logon would be refused by each, and every try counts
        // against the account's lockout.
        if ((theStatus != E_serverDown && theStatus != E_timeout) ||
            itsActive + 1 >= itsTargets.size())
            return theStatus;
        osTrace(1, "ldap: %s:%d does not answer, trying the next directory server",
                itsTargets[itsActive].itsHost.c_str(), itsTargets[itsActive].itsPort);
        ++itsActive;
    }
    return theStatus;
}

void LdapService::fetchNested(Connection& inConnection, const EntryPtr& inEntry)
{
    // Off unless asked for: Samba evaluates the in-chain rule entry by entry,
    // takes seconds on deep trees and, when its time limit strikes, has been
    // seen to answer success with part of the set. So its answer is only a
    // prefetch: the groups it returns, with their member values, are true
    // facts whatever else it missed, and every member it did not return is
    // still classified by reading it. Nothing is ever concluded from an
    // entry's absence in the answer.
    int theLimit = 0;
    if (const char* theText = std::getenv("CORVEL_LDAP_INCHAIN_LIMIT"))
        theLimit = std::max(0, std::atoi(theText));
    if (theLimit == 0)
        return;
    const std::string theBase = domainOf(inEntry->itsDN);
    if (theBase.empty())
        return;
    const std::string theFilter = std::string("(&(objectClass=group)(memberOf:") + kInChainRule +
                                  ":=" + dn::escapeFilterValue(inEntry->itsDN) + "))";
    std::vector<Found> theFound;
    if (failed(inConnection.search(theBase, LDAP_SCOPE_SUBTREE, theFilter, groupAttributes(),
                                   theFound, theLimit)))
        return; // no such rule here, or too slow: the walk reads level by level
    for (const Found& curFound : theFound)
    {
        EntryPtr theEntry;
        if (failed(inConnection.absorb(curFound, theEntry)))
            return;
        if (theEntry->itsIsGroup && !theEntry->itsMembersKnown)
            theEntry->setMembers({});
    }
}

void LdapService::searchMemberGroups(Connection& inConnection, const EntryPtr& inEntry,
                                     std::vector<std::string>& ioUnknown)
{
    // memberOf is the directory's own back-link of member: the groups of the
    // domain that hold inEntry's DN in memberOf are exactly its member groups
    // in that domain. Members elsewhere (another domain, an application
    // partition, the configuration) are not covered and are still read.
    const std::string theBase = domainOf(inEntry->itsDN);
    if (theBase.empty())
        return;
    const std::string theFilter =
        "(&(objectClass=group)(memberOf=" + dn::escapeFilterValue(inEntry->itsDN) + "))";
    std::vector<Found> theFound;
    // The server gets a time limit below our own time-out, so that a slow
    // directory (Samba does not index memberOf) answers "time limit" and the
    // connection lives on for the reads. Samba has been seen to answer
    // success with part of a set when its limit strikes: an answer is taken
    // as whole only when it came back before the limit could strike.
    const int theLimit = std::max(1, timeoutSeconds() / 2);
    const auto theStart = std::chrono::steady_clock::now();
    // Unpaged first: Samba pages at several times the cost. A directory
    // with a size limit below the answer refuses it, and then pages.
    Status theStatus = inConnection.search(theBase, LDAP_SCOPE_SUBTREE, theFilter,
                                           groupAttributes(), theFound, theLimit, false);
    if (failed(theStatus) && theStatus != E_timeout)
    {
        theFound.clear();
        theStatus = inConnection.search(theBase, LDAP_SCOPE_SUBTREE, theFilter, groupAttributes(),
                                        theFound, theLimit);
    }
    if (failed(theStatus) ||
        std::chrono::steady_clock::now() - theStart >= std::chrono::seconds(theLimit))
        return;
    // An answer that names a non-member is not the back-link of this member
    // list (an inconsistent or changing directory): conclude nothing from it.
    for (const Found& curFound : theFound)
        if (inEntry->itsMemberKeys.count(dnKey(curFound.itsDN)) == 0)
            return;
    std::unordered_set<std::string> theGroups;
    for (const Found& curFound : theFound)
    {
        EntryPtr theEntry;
        if (failed(inConnection.absorb(curFound, theEntry)) || !theEntry->itsIsGroup)
            return; // no conclusion without the group's class and members
        if (!theEntry->itsMembersKnown)
            theEntry->setMembers({});
        theGroups.insert(dnKey(curFound.itsDN));
    }
    const std::string theBaseKey = dnKey(theBase);
    const std::string theConfigurationKey = dnKey("CN=Configuration," + theBase);
    const auto theIsUnder = [](const std::string& inKey, const std::string& inSuffix) {
        return inKey.size() > inSuffix.size() &&
               inKey.compare(inKey.size() - inSuffix.size(), inSuffix.size(), inSuffix) == 0 &&
               inKey[inKey.size() - inSuffix.size() - 1] == ',';
    };
    std::vector<std::string> theLeft;
    for (const std::string& curDN : ioUnknown)
    {
        const std::string theKey = dnKey(curDN);
        if (theGroups.count(theKey) != 0)
            continue;
        const EntryPtr theCached = inConnection.cached(curDN);
        const bool theCovered = dnKey(domainOf(curDN)) == theBaseKey &&
                                !theIsUnder(theKey, theConfigurationKey) &&
                                theKey != theConfigurationKey;
        // A member already known as a group that the answer left out
        // contradicts it: read that one rather than trust either.
        if (!theCovered || (theCached && theCached->itsClassKnown && theCached->itsIsGroup))
        {
            theLeft.push_back(curDN);
            continue;
        }
        const EntryPtr theEntry = inConnection.entry(curDN);
        theEntry->itsClassKnown = true;
        theEntry->itsIsGroup = false;
    }
    ioUnknown = std::move(theLeft);
}

Status LdapService::classifyMembers(Connection& inConnection, const EntryPtr& inEntry)
{
    std::vector<std::string> theUnknown;
    for (const std::string& curDN : inEntry->itsMembers)
    {
        const EntryPtr theMember = inConnection.cached(curDN);
        if (theMember && theMember->itsClassKnown && (!theMember->itsIsGroup || theMember->itsMembersKnown))
            continue;
        theUnknown.push_back(curDN);
    }
    if (theUnknown.size() > kSearchAbove)
        searchMemberGroups(inConnection, inEntry, theUnknown);
    if (theUnknown.empty())
        return S_ok;
    return inConnection.fetchMany(theUnknown);
}

Status LdapService::openObject(const std::string& inPath, const Credentials* inCredentials,
                               ObjectKind inKind, std::unique_ptr<DirObject>& outObject)
{
    std::string theServer;
    std::string theDN;
    if (!dn::parseLdapPath(inPath, theServer, theDN))
        return E_badPathname;
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(theDN, theRdns))
        return E_invalidDNSyntax;
    Connection* theConnection = nullptr;
    Status theStatus = configuredConnection(false, theServer, inCredentials, theConnection);
    if (failed(theStatus))
        return theStatus;

    EntryPtr theEntry = theConnection->cached(theDN);
    if (!theEntry || !theEntry->itsClassKnown || (theEntry->itsIsGroup && !theEntry->itsMembersKnown) ||
        theEntry->itsAttributes.count("objectclass") == 0)
    {
        theStatus = theConnection->read(theDN, groupAttributes(), theEntry);
        if (failed(theStatus))
            return theStatus;
    }
    if (inKind == ObjectKind::Group && !theEntry->itsIsGroup)
        return E_noInterface;
    if (inKind == ObjectKind::User && !theEntry->itsIsUser)
        return E_noInterface;
    if (theEntry->itsIsGroup && !theEntry->itsMembers.empty() && itsPrefetched.insert(dnKey(theDN)).second)
        fetchNested(*theConnection, theEntry);
    outObject = std::make_unique<LdapObject>(shared_from_this(), *theConnection, theEntry);
    return S_ok;
}

// ---------------------------------------------------------------------------
// Name translator

const std::vector<std::string>& nameAttributes()
{
    static const std::vector<std::string> kAttributes = {
        "distinguishedName", "sAMAccountName", "userPrincipalName", "objectSid",
        "objectGUID",        "displayName",    "canonicalName"};
    return kAttributes;
}

std::string firstValue(const Found& inFound, const char* inName)
{
    for (const auto& [curName, curValues] : inFound.itsAttributes)
        if (lower(curName) == lower(inName) && !curValues.empty())
            return curValues.front();
    return {};
}

class LdapTranslator : public NameTranslator
{
public:
    explicit LdapTranslator(std::shared_ptr<LdapService> inService) : itsService(std::move(inService)) {}

    Status init(InitType inKind, const std::string& inPath) override
    {
        return initWith(inKind, inPath, nullptr);
    }

    Status initEx(InitType inKind, const std::string& inPath, const std::string& inUser,
                  const std::string& inDomain, const std::string& inPassword) override
    {
        Credentials theCredentials;
        // AD takes user@dns.domain or DOMAIN\user as the simple bind name.
        if (inUser.find('@') != std::string::npos || inUser.find('\\') != std::string::npos ||
            inDomain.empty())
            theCredentials.itsUser = inUser;
        else if (inDomain.find('.') != std::string::npos)
            theCredentials.itsUser = inUser + "@" + inDomain;
        else
            theCredentials.itsUser = inDomain + "\\" + inUser;
        theCredentials.itsPassword = inPassword;
        return initWith(inKind, inPath, &theCredentials);
    }

    Status set(NameType inType, const std::string& inName) override;
    Status get(NameType inType, std::string& outName) override;

private:
    Status initWith(InitType inKind, const std::string& inPath, const Credentials* inCredentials);
    // nCName, dnsRoot and nETBIOSName of the domain named x (either name).
    Status findDomain(const std::string& inFilter, Found& outCrossRef);
    Status configurationDN(std::string& outDN);
    Status searchOne(const std::string& inBase, const std::string& inFilter, Found& outFound);
    Status byCanonicalName(const std::string& inName, Found& outFound);

    std::shared_ptr<LdapService> itsService;
    Connection* itsConnection = nullptr;
    std::string itsBase; // "" on the global catalog
    std::string itsConfiguration;
    bool itsHasResult = false;
    Found itsResult;
};

Status LdapTranslator::configurationDN(std::string& outDN)
{
    if (itsConfiguration.empty())
    {
        std::vector<Found> theFound;
        const Status theStatus = itsConnection->search("", LDAP_SCOPE_BASE, "(objectClass=*)",
                                                       {"configurationNamingContext"}, theFound);
        if (failed(theStatus))
            return theStatus;
        if (theFound.empty())
            return E_noSuchDomain;
        itsConfiguration = firstValue(theFound.front(), "configurationNamingContext");
        if (itsConfiguration.empty())
            return E_noSuchDomain;
    }
    outDN = itsConfiguration;
    return S_ok;
}

Status LdapTranslator::findDomain(const std::string& inFilter, Found& outCrossRef)
{
    std::string theConfiguration;
    Status theStatus = configurationDN(theConfiguration);
    if (failed(theStatus))
        return theStatus;
    std::vector<Found> theFound;
    theStatus = itsConnection->search("CN=Partitions," + theConfiguration, LDAP_SCOPE_ONELEVEL,
                                      // Only a domain's crossRef has a NetBIOS name;
                                      // the configuration and schema share its dnsRoot.
                                      "(&(objectClass=crossRef)(nETBIOSName=*)" + inFilter + ")",
                                      {"nCName", "dnsRoot", "nETBIOSName"}, theFound);
    if (failed(theStatus))
        return theStatus;
    if (theFound.size() != 1)
        return E_noSuchDomain;
    outCrossRef = theFound.front();
    return S_ok;
}

Status LdapTranslator::initWith(InitType inKind, const std::string& inPath,
                                const Credentials* inCredentials)
{
    itsConnection = nullptr;
    itsHasResult = false;
    if (!itsService->hasTargets())
        return E_noSuchDomain;
    if (inKind == InitType_GC)
    {
        itsBase.clear();
        return itsService->configuredConnection(true, "", inCredentials, itsConnection);
    }
    if (inKind == InitType_Server)
    {
        itsBase.clear();
        Status theStatus =
            itsService->configuredConnection(false, inPath, inCredentials, itsConnection);
        if (failed(theStatus))
            return theStatus;
        std::vector<Found> theFound;
        theStatus = itsConnection->search("", LDAP_SCOPE_BASE, "(objectClass=*)",
                                          {"defaultNamingContext"}, theFound);
        if (succeeded(theStatus) && !theFound.empty())
            itsBase = firstValue(theFound.front(), "defaultNamingContext");
        return theStatus;
    }
    if (inKind != InitType_Domain || inPath.empty())
        return E_invalidArg;
    // The configured DC, when it serves the named domain.
    Status theStatus = itsService->configuredConnection(false, "", inCredentials, itsConnection);
    if (failed(theStatus))
        return theStatus;
    const std::string theValue = dn::escapeFilterValue(inPath);
    Found theCrossRef;
    theStatus = findDomain("(|(nETBIOSName=" + theValue + ")(dnsRoot=" + theValue + "))", theCrossRef);
    if (failed(theStatus))
    {
        itsConnection = nullptr;
        return theStatus;
    }
    itsBase = firstValue(theCrossRef, "nCName");
    return S_ok;
}

Status LdapTranslator::searchOne(const std::string& inBase, const std::string& inFilter, Found& outFound)
{
    std::vector<Found> theFound;
    const Status theStatus =
        itsConnection->search(inBase, LDAP_SCOPE_SUBTREE, inFilter, nameAttributes(), theFound);
    if (theStatus == E_noSuchObject)
        return E_nameNotFound;
    if (failed(theStatus))
        return theStatus;
    if (theFound.empty())
        return E_nameNotFound;
    if (theFound.size() > 1)
        return E_nameNotUnique;
    outFound = std::move(theFound.front());
    return S_ok;
}

Status LdapTranslator::byCanonicalName(const std::string& inName, Found& outFound)
{
    std::vector<std::string> theParts;
    if (!splitCanonicalName(inName, theParts))
        return E_nameNotFound;
    Found theCrossRef;
    Status theStatus =
        findDomain("(dnsRoot=" + dn::escapeFilterValue(theParts.front()) + ")", theCrossRef);
    if (theStatus == E_noSuchDomain)
        return E_nameNotFound;
    if (failed(theStatus))
        return theStatus;
    // One level a step: a canonical name does not say whether a component
    // is an OU or a CN, the name attribute holds either.
    std::string theBase = firstValue(theCrossRef, "nCName");
    for (std::size_t curIndex = 1; curIndex < theParts.size(); ++curIndex)
    {
        std::vector<Found> theFound;
        theStatus = itsConnection->search(theBase, LDAP_SCOPE_ONELEVEL,
                                          "(name=" + dn::escapeFilterValue(theParts[curIndex]) + ")",
                                          nameAttributes(), theFound);
        if (failed(theStatus))
            return theStatus == E_noSuchObject ? E_nameNotFound : theStatus;
        if (theFound.size() != 1)
            return theFound.empty() ? E_nameNotFound : E_nameNotUnique;
        theBase = theFound.front().itsDN;
        outFound = std::move(theFound.front());
    }
    return S_ok;
}

Status LdapTranslator::set(NameType inType, const std::string& inName)
{
    itsHasResult = false;
    if (itsConnection == nullptr)
        return E_fail;
    if (inName.empty())
        return E_nameNotFound;
    Found theFound;
    Status theStatus = E_nameNotFound;
    const bool theUnknown = inType == NameType_Unknown;
    std::string theBytes;
    std::vector<dn::Rdn> theRdns;

    if ((theUnknown || inType == NameType_GUID) && inName.front() == '{' &&
        names::guidFromText(inName, theBytes))
        theStatus = searchOne(itsBase, "(objectGUID=" + escapeFilterBytes(theBytes) + ")", theFound);
    else if ((theUnknown || inType == NameType_SIDOrSIDHistory) && inName.size() > 4 &&
             (inName.compare(0, 4, "S-1-") == 0) && names::sidFromText(inName, theBytes))
        theStatus = searchOne(itsBase, "(objectSid=" + escapeFilterBytes(theBytes) + ")", theFound);
    else if ((theUnknown || inType == NameType_1779) && inName.find('=') != std::string::npos &&
             dn::parseDN(inName, theRdns))
    {
        std::vector<Found> theResults;
        theStatus = itsConnection->search(inName, LDAP_SCOPE_BASE, "(objectClass=*)", nameAttributes(),
                                          theResults);
        if (succeeded(theStatus) && theResults.size() == 1)
            theFound = std::move(theResults.front());
        else if (succeeded(theStatus) || theStatus == E_noSuchObject ||
                 theStatus == E_invalidDNSyntax || theStatus == E_referral)
            theStatus = E_nameNotFound;
    }
    else if ((theUnknown || inType == NameType_NT4) && inName.find('\\') != std::string::npos)
    {
        const std::size_t theSlash = inName.find('\\');
        const std::string theDomain = dn::escapeFilterValue(inName.substr(0, theSlash));
        Found theCrossRef;
        theStatus = findDomain("(|(nETBIOSName=" + theDomain + ")(dnsRoot=" + theDomain + "))",
                               theCrossRef);
        if (theStatus == E_noSuchDomain)
            theStatus = E_nameNotFound;
        else if (succeeded(theStatus))
            theStatus = searchOne(firstValue(theCrossRef, "nCName"),
                                  "(sAMAccountName=" +
                                      dn::escapeFilterValue(inName.substr(theSlash + 1)) + ")",
                                  theFound);
    }
    else if ((theUnknown || inType == NameType_UserPrincipalName) &&
             inName.find('@') != std::string::npos)
    {
        theStatus = searchOne(itsBase, "(userPrincipalName=" + dn::escapeFilterValue(inName) + ")",
                              theFound);
        if (theStatus == E_nameNotFound)
        {
            // The implicit UPN: sAMAccountName@dnsRoot.
            const std::size_t theAt = inName.rfind('@');
            Found theCrossRef;
            const Status theDomainStatus = findDomain(
                "(dnsRoot=" + dn::escapeFilterValue(inName.substr(theAt + 1)) + ")", theCrossRef);
            if (succeeded(theDomainStatus))
                theStatus = searchOne(firstValue(theCrossRef, "nCName"),
                                      "(sAMAccountName=" +
                                          dn::escapeFilterValue(inName.substr(0, theAt)) + ")",
                                      theFound);
            else if (theDomainStatus != E_noSuchDomain)
                theStatus = theDomainStatus;
        }
    }
    else if (inName.find('/') != std::string::npos &&
             (theUnknown || inType == NameType_Canonical || inType == NameType_ServicePrincipalName))
    {
        theStatus = inType == NameType_ServicePrincipalName ? E_nameNotFound
                                                            : byCanonicalName(inName, theFound);
        if (theStatus == E_nameNotFound && inType != NameType_Canonical)
            theStatus = searchOne(itsBase,
                                  "(servicePrincipalName=" + dn::escapeFilterValue(inName) + ")",
                                  theFound);
    }
    else if (theUnknown || inType == NameType_Display)
        theStatus = searchOne(itsBase, "(displayName=" + dn::escapeFilterValue(inName) + ")", theFound);

    if (failed(theStatus))
        return theStatus;
    itsResult = std::move(theFound);
    itsHasResult = true;
    return S_ok;
}

Status LdapTranslator::get(NameType inType, std::string& outName)
{
    if (!itsHasResult)
        return E_fail;
    switch (inType)
    {
    case NameType_1779:
        outName = itsResult.itsDN;
        return S_ok;
    case NameType_NT4:
    case NameType_UserPrincipalName:
    {
        const std::string theAccount = firstValue(itsResult, "sAMAccountName");
        if (inType == NameType_UserPrincipalName)
        {
            const std::string theUpn = firstValue(itsResult, "userPrincipalName");
            if (!theUpn.empty())
            {
                outName = theUpn;
                return S_ok;
            }
        }
        if (theAccount.empty())
            return E_nameNotFound;
        Found theCrossRef;
        const Status theStatus = findDomain(
            "(nCName=" + dn::escapeFilterValue(domainOf(itsResult.itsDN)) + ")", theCrossRef);
        if (failed(theStatus))
            return theStatus == E_noSuchDomain ? E_nameNotFound : theStatus;
        outName = inType == NameType_NT4
                      ? firstValue(theCrossRef, "nETBIOSName") + "\\" + theAccount
                      : theAccount + "@" + firstValue(theCrossRef, "dnsRoot");
        return S_ok;
    }
    case NameType_Canonical:
        outName = firstValue(itsResult, "canonicalName");
        return outName.empty() ? E_nameNotFound : S_ok;
    case NameType_GUID:
        return names::guidToText(firstValue(itsResult, "objectGUID"), outName) ? S_ok
                                                                               : E_nameNotFound;
    case NameType_SIDOrSIDHistory:
        return names::sidToText(firstValue(itsResult, "objectSid"), outName) ? S_ok
                                                                             : E_nameNotFound;
    case NameType_Display:
        outName = firstValue(itsResult, "displayName");
        return outName.empty() ? E_nameNotFound : S_ok;
    default:
        return E_invalidArg;
    }
}

Status LdapService::createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator)
{
    outTranslator = std::make_unique<LdapTranslator>(shared_from_this());
    return S_ok;
}

} // namespace

std::shared_ptr<DirectoryService> makeLdapService(const std::string& inUri)
{
    std::vector<Target> theTargets = parseLdapUriList(inUri);
    if (theTargets.empty())
        return nullptr;
    return std::make_shared<LdapService>(std::move(theTargets));
}

} // namespace corvel::directory::ldap
