#include "corvel/platform/directory/ldap/ldap_locator.h"

#include <arpa/nameser.h>
#include <krb5.h>
#include <netinet/in.h>
#include <resolv.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <random>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/os_report.h"

namespace corvel::directory::ldap
{

namespace
{

std::string lowerText(std::string inText)
{
    for (char& curChar : inText)
        if (curChar >= 'A' && curChar <= 'Z')
            curChar = static_cast<char>(curChar - 'A' + 'a');
    return inText;
}

// The resolver's per-call state, closed on every path.
class Resolver
{
public:
    Resolver()
    {
        itsReady = res_ninit(&itsState) == 0;
        // A silent name server must not hold the program for long.
        itsState.retrans = 2;
        itsState.retry = 2;
    }
    ~Resolver()
    {
        if (itsReady)
            res_nclose(&itsState);
    }
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;
    bool ready() const { return itsReady; }
    res_state get() { return &itsState; }

private:
    struct __res_state itsState
    {
    };
    bool itsReady = false;
};

std::uint32_t randomUpTo(std::uint32_t inLimit)
{
    static std::mutex theMutex;
    static std::mt19937 theGenerator{std::random_device{}()};
    std::lock_guard<std::mutex> theLock(theMutex);
    return std::uniform_int_distribution<std::uint32_t>(0, inLimit)(theGenerator);
}

std::string describe(const std::vector<LdapUri>& inTargets)
{
    std::string theText;
    for (const LdapUri& curTarget : inTargets)
        theText += (theText.empty() ? "" : ", ") + curTarget.itsHost + ":" +
                   std::to_string(curTarget.itsPort);
    return theText;
}

std::vector<LdapUri> targetsOf(const std::string& inName, int inTlsPort, bool inTls,
                               const SrvLookup& inLookup)
{
    std::vector<SrvRecord> theRecords;
    if (!inLookup || !inLookup(inName, theRecords) || theRecords.empty())
    {
        platform::reportLog(platform::Report_debug, "ldap: DNS SRV %s: no records", inName.c_str());
        return {};
    }
    std::vector<LdapUri> theTargets;
    for (const SrvRecord& curRecord : orderSrvRecords(std::move(theRecords), randomUpTo))
    {
        LdapUri theTarget;
        theTarget.itsHost = curRecord.itsHost;
        theTarget.itsPort = inTls ? inTlsPort : curRecord.itsPort;
        theTarget.itsTls = inTls;
        theTargets.push_back(theTarget);
    }
    platform::reportLog(platform::Report_debug, "ldap: DNS SRV %s: %s", inName.c_str(),
                        describe(theTargets).c_str());
    return theTargets;
}

} // namespace

bool systemSrvLookup(const std::string& inName, std::vector<SrvRecord>& outRecords)
{
    outRecords.clear();
    Resolver theResolver;
    if (!theResolver.ready())
        return false;
    std::vector<unsigned char> theAnswer(65536);
    const int theLength = res_nquery(theResolver.get(), inName.c_str(), ns_c_in, ns_t_srv,
                                     theAnswer.data(), static_cast<int>(theAnswer.size()));
    if (theLength <= 0)
        return false;
    ns_msg theMessage;
    if (ns_initparse(theAnswer.data(), theLength, &theMessage) != 0)
        return false;
    for (int curIndex = 0; curIndex < ns_msg_count(theMessage, ns_s_an); ++curIndex)
    {
        ns_rr theRecord;
        if (ns_parserr(&theMessage, ns_s_an, curIndex, &theRecord) != 0 ||
            ns_rr_type(theRecord) != ns_t_srv || ns_rr_rdlen(theRecord) < 7)
            continue;
        const unsigned char* theData = ns_rr_rdata(theRecord);
        SrvRecord theSrv;
        theSrv.itsPriority = (theData[0] << 8) | theData[1];
        theSrv.itsWeight = (theData[2] << 8) | theData[3];
        theSrv.itsPort = (theData[4] << 8) | theData[5];
        char theHost[NS_MAXDNAME];
        if (dn_expand(ns_msg_base(theMessage), ns_msg_end(theMessage), theData + 6, theHost,
                      sizeof theHost) < 0)
            continue;
        theSrv.itsHost = theHost;
        while (!theSrv.itsHost.empty() && theSrv.itsHost.back() == '.')
            theSrv.itsHost.pop_back();
        // "." as the target: the service is decidedly not offered there.
        if (theSrv.itsHost.empty() || theSrv.itsPort == 0)
            continue;
        outRecords.push_back(std::move(theSrv));
    }
    return !outRecords.empty();
}

std::vector<SrvRecord> orderSrvRecords(std::vector<SrvRecord> inRecords,
                                       const std::function<std::uint32_t(std::uint32_t)>& inRandom)
{
    std::stable_sort(inRecords.begin(), inRecords.end(),
                     [](const SrvRecord& inLeft, const SrvRecord& inRight)
                     { return inLeft.itsPriority < inRight.itsPriority; });
    std::vector<SrvRecord> theOrdered;
    theOrdered.reserve(inRecords.size());
    for (std::size_t curStart = 0; curStart < inRecords.size();)
    {
        std::size_t theEnd = curStart;
        while (theEnd < inRecords.size() &&
               inRecords[theEnd].itsPriority == inRecords[curStart].itsPriority)
            ++theEnd;
        // Within a priority: those of weight 0 first, then repeatedly the
        // record whose running sum of weights first reaches a random number
        // between 0 and the sum of the weights left.
        std::vector<SrvRecord> theGroup(inRecords.begin() + static_cast<std::ptrdiff_t>(curStart),
                                        inRecords.begin() + static_cast<std::ptrdiff_t>(theEnd));
        std::stable_partition(theGroup.begin(), theGroup.end(),
                              [](const SrvRecord& inRecord) { return inRecord.itsWeight == 0; });
        while (!theGroup.empty())
        {
            std::uint32_t theSum = 0;
            for (const SrvRecord& curRecord : theGroup)
                theSum += static_cast<std::uint32_t>(std::max(0, curRecord.itsWeight));
            const std::uint32_t theChoice = inRandom ? std::min(inRandom(theSum), theSum) : 0;
            std::uint32_t theRunning = 0;
            std::size_t thePick = theGroup.size() - 1;
            for (std::size_t curIndex = 0; curIndex < theGroup.size(); ++curIndex)
            {
                theRunning += static_cast<std::uint32_t>(std::max(0, theGroup[curIndex].itsWeight));
                if (theRunning >= theChoice)
                {
                    thePick = curIndex;
                    break;
                }
            }
            theOrdered.push_back(std::move(theGroup[thePick]));
            theGroup.erase(theGroup.begin() + static_cast<std::ptrdiff_t>(thePick));
        }
        curStart = theEnd;
    }
    return theOrdered;
}

std::string defaultDomainName()
{
    krb5_context theContext = nullptr;
    if (krb5_init_context(&theContext) != 0)
        return {};
    const std::unique_ptr<std::remove_pointer_t<krb5_context>, void (*)(krb5_context)> theOwner(
        theContext, krb5_free_context);
    std::string theRealm;
    krb5_ccache theCache = nullptr;
    if (krb5_cc_default(theContext, &theCache) == 0)
    {
        krb5_principal thePrincipal = nullptr;
        if (krb5_cc_get_principal(theContext, theCache, &thePrincipal) == 0)
        {
            theRealm.assign(thePrincipal->realm.data, thePrincipal->realm.length);
            krb5_free_principal(theContext, thePrincipal);
        }
        krb5_cc_close(theContext, theCache);
    }
    if (theRealm.empty())
    {
        char* theDefault = nullptr;
        if (krb5_get_default_realm(theContext, &theDefault) == 0 && theDefault != nullptr)
        {
            theRealm = theDefault;
            krb5_free_default_realm(theContext, theDefault);
        }
    }
    return lowerText(theRealm);
}

std::string dnsNameOfDN(const std::string& inDN)
{
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(inDN, theRdns))
        return {};
    std::string theName;
    for (const dn::Rdn& curRdn : theRdns)
    {
        if (curRdn.itsAvas.size() != 1 || lowerText(curRdn.itsAvas[0].itsType) != "dc" ||
            curRdn.itsAvas[0].itsValue.empty())
            return {};
        theName += (theName.empty() ? "" : ".") + lowerText(curRdn.itsAvas[0].itsValue);
    }
    return theName;
}

std::vector<LdapUri> domainControllers(const std::string& inDomain, bool inTls,
                                       const SrvLookup& inLookup)
{
    if (inDomain.empty())
        return {};
    return targetsOf("_ldap._tcp.dc._msdcs." + lowerText(inDomain), kLdapsPort, inTls, inLookup);
}

std::vector<LdapUri> globalCatalogs(const std::string& inForest, bool inTls,
                                    const SrvLookup& inLookup)
{
    if (inForest.empty())
        return {};
    return targetsOf("_gc._tcp." + lowerText(inForest), 3269, inTls, inLookup);
}

} // namespace corvel::directory::ldap

namespace corvel::directory::ldap
{

namespace
{

// How long the locator waits for the first answer to its pings. DCs answer
// in a round trip; a DC behind a slow link is still waited for, a network
// that drops the pings is not waited on for long, and only once a process.
constexpr std::chrono::milliseconds thePingTimeout{1000};

std::vector<std::string> hostsOf(const std::vector<LdapUri>& inTargets)
{
    std::vector<std::string> theHosts;
    for (const LdapUri& curTarget : inTargets)
        theHosts.push_back(curTarget.itsHost);
    return theHosts;
}

bool sameHost(const std::string& inLeft, const std::string& inRight)
{
    return lowerText(inLeft) == lowerText(inRight);
}

// inFirst's host first, then inPreferred's, then inRest's, each once.
std::vector<LdapUri> ordered(const std::string& inFirst, const std::vector<LdapUri>& inPreferred,
                             const std::vector<LdapUri>& inRest)
{
    std::vector<LdapUri> theTargets;
    const auto theAdd = [&theTargets](const LdapUri& inTarget)
    {
        for (const LdapUri& curTarget : theTargets)
            if (sameHost(curTarget.itsHost, inTarget.itsHost))
                return;
        theTargets.push_back(inTarget);
    };
    for (const std::vector<LdapUri>* curList : {&inPreferred, &inRest})
        for (const LdapUri& curTarget : *curList)
            if (sameHost(curTarget.itsHost, inFirst))
                theAdd(curTarget);
    for (const std::vector<LdapUri>* curList : {&inPreferred, &inRest})
        for (const LdapUri& curTarget : *curList)
            theAdd(curTarget);
    return theTargets;
}

// The DCs (or global catalogs) of a domain and of one of its sites: pinged,
// the site's first, and put in the order to use them.
Location choose(const std::string& inDomain, const std::vector<LdapUri>& inAll,
                const std::string& inSiteName, const std::vector<LdapUri>& inSite, bool inWantGc,
                const Pinger& inPing)
{
    Location theLocation;
    theLocation.itsClientSite = inSiteName;
    std::optional<PingResult> theFirst;
    if (!inSite.empty() && inPing)
        theFirst = inPing(hostsOf(inSite), inDomain, inWantGc);
    if (!theFirst && inPing)
        theFirst = inPing(hostsOf(inAll), inDomain, inWantGc);
    if (!theFirst)
    {
        platform::reportLog(platform::Report_debug,
                            "ldap: no server of %s answered the LDAP ping: trying them in the "
                            "DNS's order",
                            inDomain.c_str());
        theLocation.itsTargets = ordered("", inSite, inAll);
        theLocation.itsWhy = "none answered the LDAP ping: the DNS's order";
        return theLocation;
    }
    theLocation.itsForest = lowerText(theFirst->itsResponse.itsDnsForestName);
    if (theLocation.itsClientSite.empty())
        theLocation.itsClientSite = theFirst->itsResponse.itsClientSiteName;
    theLocation.itsTargets = ordered(theFirst->itsHost, inSite, inAll);
    bool theOfSite = false;
    for (const LdapUri& curTarget : inSite)
        theOfSite = theOfSite || sameHost(curTarget.itsHost, theFirst->itsHost);
    theLocation.itsWhy =
        theOfSite ? "the first of the client's site to answer the LDAP ping"
        : theLocation.itsClientSite.empty() ? "the first to answer the LDAP ping; the client is in "
                                              "no site"
        : inSite.empty() ? "the first to answer the LDAP ping; the client's site has none"
                         : "the first to answer the LDAP ping; none of the client's site did";
    return theLocation;
}

std::string describeChoice(const Location& inLocation)
{
    if (inLocation.itsTargets.empty())
        return "none";
    return inLocation.itsTargets.front().itsHost + ":" +
           std::to_string(inLocation.itsTargets.front().itsPort);
}

} // namespace

std::optional<PingResult> systemPing(const std::vector<std::string>& inHosts,
                                     const std::string& inDomain, bool inWantGc)
{
    // A DC that answered this process before answers at once: its answer
    // is kept, so that the global catalog it also is costs no second ping.
    const auto theTaken = [inWantGc](const PingResult& inAnswer)
    { return !inWantGc || (inAnswer.itsResponse.itsFlags & kDsGcFlag) != 0; };
    for (const std::string& curHost : inHosts)
    {
        PingResult theKnown;
        if (LocationCache::process().findAnswer(curHost, inDomain, theKnown) && theTaken(theKnown))
            return theKnown;
    }
    // DCs that said nothing to this process before are not waited for
    // again: with the pings dropped on the way, the DNS's order serves.
    std::vector<std::string> theHosts;
    for (const std::string& curHost : inHosts)
        if (!LocationCache::process().wasSilent(curHost))
            theHosts.push_back(curHost);
    if (theHosts.empty())
        return std::nullopt;
    PingOptions theOptions;
    theOptions.itsAccept = theTaken;
    // A site's few DCs are all asked at once: the near one answers first
    // whatever its place in the DNS's random order.
    if (inHosts.size() <= 8)
        theOptions.itsInterval = std::chrono::milliseconds(0);
    std::optional<PingResult> theAnswer =
        pingDomainControllers(theHosts, inDomain, thePingTimeout, theOptions);
    if (theAnswer)
        LocationCache::process().storeAnswer(inDomain, *theAnswer);
    else
        for (const std::string& curHost : theHosts)
            LocationCache::process().markSilent(curHost);
    return theAnswer;
}

Location locateDomainControllers(const std::string& inDomain, bool inTls, const SrvLookup& inLookup,
                                 const Pinger& inPing)
{
    Location theLocation;
    if (inDomain.empty())
        return theLocation;
    const std::string theDomain = lowerText(inDomain);
    const std::vector<LdapUri> theAll =
        targetsOf("_ldap._tcp.dc._msdcs." + theDomain, kLdapsPort, inTls, inLookup);
    if (theAll.empty())
        return theLocation;
    // The first answer tells the client's site; when the DC that gave it
    // is in another one, the site's own DCs are asked.
    std::optional<PingResult> theFirst =
        inPing ? inPing(hostsOf(theAll), theDomain, false) : std::nullopt;
    const std::string theSite = theFirst ? theFirst->itsResponse.itsClientSiteName : "";
    const bool theInSite = theFirst && !theSite.empty() &&
                           ((theFirst->itsResponse.itsFlags & kDsClosestFlag) != 0 ||
                            lowerText(theFirst->itsResponse.itsDcSiteName) == lowerText(theSite));
    if (!theFirst || theSite.empty() || theInSite)
    {
        theLocation.itsTargets = ordered(theFirst ? theFirst->itsHost : "", {}, theAll);
        theLocation.itsClientSite = theSite;
        theLocation.itsWhy = !theFirst   ? "none answered the LDAP ping: the DNS's order"
                             : theInSite ? "the first to answer the LDAP ping, of the client's site"
                                         : "the first to answer the LDAP ping; the client is in no "
                                           "site";
        if (theFirst)
            theLocation.itsForest = lowerText(theFirst->itsResponse.itsDnsForestName);
        else
            platform::reportLog(platform::Report_debug,
                                "ldap: no domain controller of %s answered the LDAP ping: trying "
                                "them in the DNS's order",
                                theDomain.c_str());
    }
    else
    {
        const std::vector<LdapUri> theSiteDcs =
            targetsOf("_ldap._tcp." + theSite + "._sites.dc._msdcs." + theDomain, kLdapsPort, inTls,
                      inLookup);
        theLocation = choose(theDomain, theAll, theSite, theSiteDcs, false, inPing);
        if (theLocation.itsForest.empty())
            theLocation.itsForest = lowerText(theFirst->itsResponse.itsDnsForestName);
    }
    platform::reportLog(platform::Report_debug,
                        "ldap: domain controllers of %s: client site \"%s\"; using %s first (%s)",
                        theDomain.c_str(), theLocation.itsClientSite.c_str(),
                        describeChoice(theLocation).c_str(), theLocation.itsWhy.c_str());
    return theLocation;
}

Location locateGlobalCatalogs(const std::string& inForest, const std::string& inClientSite,
                              bool inTls, const SrvLookup& inLookup, const Pinger& inPing)
{
    Location theLocation;
    if (inForest.empty())
        return theLocation;
    const std::string theForest = lowerText(inForest);
    std::vector<LdapUri> theSite;
    if (!inClientSite.empty())
        theSite =
            targetsOf("_gc._tcp." + inClientSite + "._sites." + theForest, 3269, inTls, inLookup);
    const std::vector<LdapUri> theAll = targetsOf("_gc._tcp." + theForest, 3269, inTls, inLookup);
    if (theSite.empty() && theAll.empty())
        return theLocation;
    theLocation = choose(theForest, theAll, inClientSite, theSite, true, inPing);
    platform::reportLog(platform::Report_debug,
                        "ldap: global catalogs of %s: client site \"%s\"; using %s first (%s)",
                        theForest.c_str(), theLocation.itsClientSite.c_str(),
                        describeChoice(theLocation).c_str(), theLocation.itsWhy.c_str());
    return theLocation;
}

bool LocationCache::find(const std::string& inKey, Location& outLocation) const
{
    std::lock_guard<std::mutex> theLock(itsMutex);
    const auto theAt = itsLocations.find(inKey);
    if (theAt == itsLocations.end())
        return false;
    outLocation = theAt->second;
    return true;
}

void LocationCache::store(const std::string& inKey, const Location& inLocation)
{
    std::lock_guard<std::mutex> theLock(itsMutex);
    itsLocations[inKey] = inLocation;
}

bool LocationCache::findAnswer(const std::string& inHost, const std::string& inDomain,
                               PingResult& outAnswer) const
{
    std::lock_guard<std::mutex> theLock(itsMutex);
    const auto theAt = itsAnswers.find(lowerText(inHost) + "\n" + lowerText(inDomain));
    if (theAt == itsAnswers.end())
        return false;
    outAnswer = theAt->second;
    return true;
}

void LocationCache::storeAnswer(const std::string& inDomain, const PingResult& inAnswer)
{
    std::lock_guard<std::mutex> theLock(itsMutex);
    itsAnswers[lowerText(inAnswer.itsHost) + "\n" + lowerText(inDomain)] = inAnswer;
}

bool LocationCache::wasSilent(const std::string& inHost) const
{
    std::lock_guard<std::mutex> theLock(itsMutex);
    return itsSilent.count(lowerText(inHost)) != 0;
}

void LocationCache::markSilent(const std::string& inHost)
{
    std::lock_guard<std::mutex> theLock(itsMutex);
    itsSilent.insert(lowerText(inHost));
}

LocationCache& LocationCache::process()
{
    static LocationCache theCache;
    return theCache;
}

} // namespace corvel::directory::ldap
