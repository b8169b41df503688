#include "corvel/platform/directory/ldap/ldap_service.h"

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldap/ldap_backend.h"
#include "corvel/platform/directory/ldap/ldap_objects.h"
#include "corvel/platform/directory/ldap/ldap_translator.h"
#include "corvel/platform/directory/ldap/ldap_tuning.h"
#include "corvel/platform/os_report.h"

namespace corvel::directory::ldap
{

namespace
{

// inTargets on the port of the given kind: a DC's own (389/636) or the
// global catalog's (3268/3269).
std::vector<Target> onPorts(std::vector<Target> inTargets, bool inGc)
{
    for (Target& curTarget : inTargets)
    {
        const bool theIsGcPort = curTarget.itsPort == kGcPort || curTarget.itsPort == kGcsPort;
        if (inGc)
            curTarget.itsPort = curTarget.itsTls ? kGcsPort : kGcPort;
        else if (theIsGcPort)
            curTarget.itsPort = curTarget.itsTls ? kLdapsPort : kLdapPort;
    }
    return inTargets;
}

std::string firstOf(const Found& inFound, const char* inName)
{
    for (const auto& [curName, curValues] : inFound.itsAttributes)
        if (lower(curName) == lower(inName) && !curValues.empty())
            return curValues.front();
    return {};
}

// A value of the rootDSE of inConnection's server.
Status rootValue(Connection& inConnection, const char* inName, std::string& outValue)
{
    SearchSpec theSpec;
    theSpec.itsBase = "";
    theSpec.itsAttributes = {inName};
    theSpec.itsPaged = false;
    std::vector<Found> theFound;
    const Status theStatus = inConnection.search(theSpec, theFound);
    if (failed(theStatus))
        return theStatus;
    outValue = theFound.empty() ? std::string() : firstOf(theFound.front(), inName);
    return outValue.empty() ? E_noSuchDomain : S_ok;
}

} // namespace

const DomainRef* domainOfDN(const std::string& inDN, const std::vector<DomainRef>& inDomains)
{
    const std::string theKey = dnKey(inDN);
    const DomainRef* theBest = nullptr;
    std::size_t theBestSize = 0;
    for (const DomainRef& curDomain : inDomains)
    {
        const std::string theSuffix = dnKey(curDomain.itsNcDN);
        const bool theIsSuffix =
            theKey == theSuffix ||
            (theKey.size() > theSuffix.size() &&
             theKey.compare(theKey.size() - theSuffix.size(), theSuffix.size(), theSuffix) == 0 &&
             theKey[theKey.size() - theSuffix.size() - 1] == ',');
        if (theIsSuffix && theSuffix.size() > theBestSize)
        {
            theBest = &curDomain;
            theBestSize = theSuffix.size();
        }
    }
    return theBest;
}

LdapService::~LdapService()
{
    // A connection still being opened ahead is waited for, then closed.
    if (itsHomeAhead.valid())
        itsHomeAhead.wait();
    if (itsStats.itsRequests > 0 || itsStats.itsBinds > 0)
        platform::reportLog(platform::Report_debug,
                            "ldap: %lu requests in %lu round trips, %lu connections (%lu binds "
                            "in %lu round trips), %lu failovers, in this session",
                            itsStats.itsRequests, itsStats.itsRoundTrips, itsStats.itsBinds,
                            itsStats.itsBinds, itsStats.itsBindRoundTrips, itsStats.itsFailovers);
}

bool LdapService::hasDirectory()
{
    if (!itsOptions.itsConfigured.empty())
        return true;
    return failed(locate()) ? false : !itsHome.itsTargets.empty();
}

std::string LdapService::connectionKey(const ServerList& inServers,
                                       const Credentials* inCredentials) const
{
    // The key holds the password itself: a cached bind must never stand in
    // for a different password. It stays in memory, in this session only.
    std::string theKey = std::to_string(reinterpret_cast<std::uintptr_t>(&inServers)) + '\n';
    if (inCredentials != nullptr && !inCredentials->isEmpty())
        theKey += inCredentials->itsUser + '\n' + inCredentials->itsPassword;
    return theKey;
}

void LdapService::openHomeAhead()
{
    if (itsHomeAhead.valid() || failed(locate()) || itsHome.itsTargets.empty() ||
        itsConnections.count(connectionKey(itsHome, nullptr)) != 0)
        return;
    // Its own copies: the thread touches nothing the session uses meanwhile.
    itsHomeAheadList = itsHome;
    itsHomeAheadStats = Stats();
    itsHomeAhead = std::async(std::launch::async,
                              [this]()
                              {
                                  auto theConnection = std::make_unique<Connection>(
                                      itsHomeAheadList, itsHomeAheadStats, nullptr);
                                  if (failed(theConnection->open()))
                                      theConnection.reset();
                                  return theConnection;
                              });
}

Status LdapService::connectTo(ServerList& ioServers, const Credentials* inCredentials,
                              Connection*& outConnection)
{
    if (ioServers.itsTargets.empty())
        return E_noSuchDomain;
    const bool theHasCredentials = inCredentials != nullptr && !inCredentials->isEmpty();
    const std::string theKey =
        connectionKey(ioServers, theHasCredentials ? inCredentials : nullptr);
    auto& theSlot = itsConnections[theKey];
    if (!theSlot && &ioServers == &itsHome && !theHasCredentials && itsHomeAhead.valid())
    {
        // The home DC's connection opened ahead, while the lookups went on.
        theSlot = itsHomeAhead.get();
        if (theSlot)
            theSlot->adopt(itsHome, itsStats);
    }
    if (!theSlot)
    {
        auto theConnection = std::make_unique<Connection>(
            ioServers, itsStats, theHasCredentials ? inCredentials : nullptr);
        const Status theStatus = theConnection->open();
        if (failed(theStatus))
        {
            itsConnections.erase(theKey);
            return theStatus;
        }
        theSlot = std::move(theConnection);
    }
    if (!theSlot->announced())
        platform::reportLog(platform::Report_debug, "ldap: connected to %s:%d",
                            theSlot->target().itsHost.c_str(), theSlot->target().itsPort);
    outConnection = theSlot.get();
    return S_ok;
}

Status LdapService::locate()
{
    if (itsLocated)
        return itsLocateStatus;
    itsLocated = true;
    if (!itsOptions.itsConfigured.empty())
    {
        itsHome.itsTargets = onPorts(itsOptions.itsConfigured, false);
        itsGc.itsTargets = onPorts(itsOptions.itsConfigured, true);
        return itsLocateStatus = S_ok;
    }
    // Nothing configured: the domain of the caller's ticket, its DCs and
    // the forest's global catalogs from the DNS.
    const std::string theDomain = itsOptions.itsDefaultDomain ? itsOptions.itsDefaultDomain() : "";
    if (theDomain.empty())
    {
        platform::reportLog(platform::Report_debug,
                            "ldap: no directory configured and no Kerberos realm known");
        return itsLocateStatus = E_noSuchDomain;
    }
    platform::reportLog(platform::Report_debug,
                        "ldap: no directory configured; the domain is %s (Kerberos)",
                        theDomain.c_str());
    const Location theLocation = locateDCs(theDomain);
    itsHome.itsTargets = theLocation.itsTargets;
    if (itsHome.itsTargets.empty())
        return itsLocateStatus = E_noSuchDomain;
    itsDomainName = theDomain;
    // The DCs found are the domain's: its naming context needs no read.
    itsHomeNc = dnsNameToDN(theDomain);
    itsClientSite = theLocation.itsClientSite;
    itsForestName = theLocation.itsForest;
    return itsLocateStatus = S_ok;
}

Location LdapService::locateDCs(const std::string& inDomain)
{
    const std::string theKey = "dc\n" + lower(inDomain);
    Location theLocation;
    if (itsOptions.itsCache != nullptr && itsOptions.itsCache->find(theKey, theLocation))
        return theLocation;
    theLocation =
        locateDomainControllers(inDomain, false, itsOptions.itsLookup, itsOptions.itsPing);
    if (itsOptions.itsCache != nullptr && !theLocation.itsTargets.empty())
        itsOptions.itsCache->store(theKey, theLocation);
    return theLocation;
}

Location LdapService::locateGCs(const std::string& inForest)
{
    const std::string theKey = "gc\n" + lower(inForest) + "\n" + lower(itsClientSite);
    Location theLocation;
    if (itsOptions.itsCache != nullptr && itsOptions.itsCache->find(theKey, theLocation))
        return theLocation;
    theLocation = locateGlobalCatalogs(inForest, itsClientSite, false, itsOptions.itsLookup,
                                       itsOptions.itsPing);
    if (itsOptions.itsCache != nullptr && !theLocation.itsTargets.empty())
        itsOptions.itsCache->store(theKey, theLocation);
    return theLocation;
}

Status LdapService::locateGc(const Credentials* inCredentials)
{
    const Status theStatus = locate();
    if (failed(theStatus) || !itsGc.itsTargets.empty())
        return theStatus;
    // Asked only when a global catalog is wanted: a walk needs none. The
    // forest is the one the DCs' answers named, else the domain itself.
    itsGc.itsTargets = locateGCs(itsForestName.empty() ? itsDomainName : itsForestName).itsTargets;
    if (itsGc.itsTargets.empty())
    {
        // A child domain: the global catalogs are the forest's, named by a DC.
        Connection* theDc = nullptr;
        std::string theRoot;
        if (succeeded(connectTo(itsHome, inCredentials, theDc)) &&
            succeeded(rootValue(*theDc, "rootDomainNamingContext", theRoot)))
            itsGc.itsTargets = locateGCs(dnsNameOfDN(theRoot)).itsTargets;
    }
    if (itsGc.itsTargets.empty())
        itsGc.itsTargets = onPorts(itsHome.itsTargets, true); // DCs are global catalogs as a rule
    return S_ok;
}

Status LdapService::gcConnection(const Credentials* inCredentials, Connection*& outConnection)
{
    const Status theStatus = locateGc(inCredentials);
    if (failed(theStatus))
        return theStatus;
    return connectTo(itsGc, inCredentials, outConnection);
}

Status LdapService::homeConnection(const Credentials* inCredentials, Connection*& outConnection)
{
    const Status theStatus = locate();
    if (failed(theStatus))
        return theStatus;
    return connectTo(itsHome, inCredentials, outConnection);
}

Status LdapService::homeNamingContext(const Credentials* inCredentials, std::string& outDN)
{
    if (itsHomeNc.empty())
    {
        Connection* theHome = nullptr;
        Status theStatus = homeConnection(inCredentials, theHome);
        if (succeeded(theStatus))
            theStatus = rootValue(*theHome, "defaultNamingContext", itsHomeNc);
        if (failed(theStatus))
            return theStatus;
    }
    outDN = itsHomeNc;
    return S_ok;
}

void LdapService::noteNamingContext(const Connection& inServer, const std::string& inNc)
{
    // A server's own domain is the home domain when it is the home DC.
    if (!itsHomeNc.empty() || inNc.empty() || itsHome.itsTargets.empty())
        return;
    if (lower(inServer.target().itsHost) == lower(itsHome.itsTargets[itsHome.itsActive].itsHost))
        itsHomeNc = inNc;
}

SearchSpec LdapService::globalDomainsSpec()
{
    // On a global catalog the root with a subtree scope is the whole forest,
    // its configuration included: the crossRefs in one request.
    SearchSpec theSpec;
    theSpec.itsBase = "";
    theSpec.itsScope = LDAP_SCOPE_SUBTREE;
    // Only a domain's crossRef has a NetBIOS name; the configuration and
    // schema share its dnsRoot.
    theSpec.itsFilter = "(&(objectClass=crossRef)(nETBIOSName=*))";
    theSpec.itsAttributes = {"nCName", "dnsRoot", "nETBIOSName"};
    theSpec.itsPaged = false;
    return theSpec;
}

void LdapService::takeDomains(const std::vector<Found>& inCrossRefs)
{
    itsDomains.clear();
    for (const Found& curFound : inCrossRefs)
    {
        DomainRef theDomain;
        theDomain.itsNcDN = firstOf(curFound, "nCName");
        theDomain.itsDnsRoot = firstOf(curFound, "dnsRoot");
        theDomain.itsNetbios = firstOf(curFound, "nETBIOSName");
        itsDomains.push_back(std::move(theDomain));
    }
    itsDomainsRead = true;
}

Status LdapService::domains(Connection& inVia, const std::vector<DomainRef>*& outDomains)
{
    if (!itsDomainsRead)
    {
        std::vector<Found> theFound;
        Status theStatus = S_ok;
        if (inVia.isGlobalCatalog())
            theStatus = inVia.search(globalDomainsSpec(), theFound);
        else
        {
            std::string theConfiguration;
            theStatus = rootValue(inVia, "configurationNamingContext", theConfiguration);
            if (succeeded(theStatus))
            {
                SearchSpec theSpec = globalDomainsSpec();
                theSpec.itsBase = "CN=Partitions," + theConfiguration;
                theSpec.itsScope = LDAP_SCOPE_ONELEVEL;
                theStatus = inVia.search(theSpec, theFound);
            }
        }
        if (failed(theStatus))
            return theStatus;
        takeDomains(theFound);
    }
    outDomains = &itsDomains;
    return S_ok;
}

Status LdapService::domainConnection(const DomainRef& inDomain, const Credentials* inCredentials,
                                     Connection*& outConnection)
{
    std::string theHomeNc;
    if (succeeded(homeNamingContext(inCredentials, theHomeNc)) &&
        dnKey(theHomeNc) == dnKey(inDomain.itsNcDN))
        return homeConnection(inCredentials, outConnection);
    ServerList& theServers = itsDomainServers[dnKey(inDomain.itsNcDN)];
    if (theServers.itsTargets.empty())
    {
        theServers.itsTargets = locateDCs(inDomain.itsDnsRoot).itsTargets;
        theServers.itsWhat = "a domain controller of " + inDomain.itsDnsRoot;
    }
    if (theServers.itsTargets.empty())
        // No DC of that domain in the DNS: its objects are asked of the
        // home DC, which refers elsewhere if it cannot answer.
        return homeConnection(inCredentials, outConnection);
    return connectTo(theServers, inCredentials, outConnection);
}

bool LdapService::elsewhere(const std::string& inDN, Connection& inTried,
                            const Credentials* inCredentials, Connection*& outOther)
{
    const std::vector<DomainRef>* theDomains = nullptr;
    if (!itsDomainsRead && failed(domains(inTried, theDomains)))
        return false;
    const DomainRef* theDomain = domainRefOf(inDN);
    return theDomain != nullptr &&
           succeeded(domainConnection(*theDomain, inCredentials, outOther)) && outOther != &inTried;
}

Status LdapService::connectionFor(const std::string& inDN, const std::string& inServer,
                                  const Credentials* inCredentials, Connection*& outConnection)
{
    if (!inServer.empty())
    {
        const Status theStatus = locate();
        if (failed(theStatus))
            return theStatus;
        Target theTarget =
            itsHome.itsTargets.empty() ? Target{} : itsHome.itsTargets[itsHome.itsActive];
        if (!parseHostPort(inServer, theTarget.itsTls ? kLdapsPort : kLdapPort, theTarget.itsHost,
                           theTarget.itsPort))
            return E_noSuchDomain; // no server at all rather than a wrong one
        // A server named outright is that server alone: nothing to fail over to.
        ServerList& theNamed =
            itsNamedServers[lower(theTarget.itsHost) + ":" + std::to_string(theTarget.itsPort)];
        if (theNamed.itsTargets.empty())
        {
            theNamed.itsTargets = {theTarget};
            theNamed.itsWhat = "the server named in the path";
        }
        return connectTo(theNamed, inCredentials, outConnection);
    }
    // A domain learnt in this session that is not the home one, of our
    // forest or of a trusted one.
    if (itsDomainsRead)
        if (const DomainRef* theDomain = domainOfDN(inDN, itsDomains))
            return domainConnection(*theDomain, inCredentials, outConnection);
    if (itsTrustsRead)
        if (const DomainRef* theDomain = domainOfDN(inDN, itsTrusted))
            return domainConnection(*theDomain, inCredentials, outConnection);
    return homeConnection(inCredentials, outConnection);
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
    Status theStatus = connectionFor(theDN, theServer, inCredentials, theConnection);
    if (failed(theStatus))
        return theStatus;

    EntryPtr theEntry = theConnection->entries().cached(theDN);
    if (!theEntry || !theEntry->isClassified() || theEntry->itsAttributes.count("objectclass") == 0)
    {
        theStatus = theConnection->read(theDN, groupAttributes(), theEntry);
        // An object of another domain of the forest, or of a forest ours
        // trusts: asked again of a DC of its own domain, found through the
        // forest's crossRefs or the trusts.
        Connection* theOther = nullptr;
        if ((theStatus == E_referral || theStatus == E_noSuchObject) && theServer.empty() &&
            elsewhere(theDN, *theConnection, inCredentials, theOther))
        {
            theConnection = theOther;
            theStatus = theConnection->read(theDN, groupAttributes(), theEntry);
        }
        if (failed(theStatus))
            return theStatus;
    }
    if (inKind == ObjectKind::Group && !theEntry->itsIsGroup)
        return E_noInterface;
    if (inKind == ObjectKind::User && !theEntry->itsIsUser)
        return E_noInterface;
    if (theEntry->itsIsGroup && !theEntry->itsMembers.empty() &&
        itsInChainAsked.insert(dnKey(theDN)).second)
        fetchNested(*theConnection, theEntry);
    outObject = std::make_unique<LdapObject>(shared_from_this(), *theConnection, theEntry);
    return S_ok;
}

Status LdapService::createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator)
{
    outTranslator = std::make_unique<LdapTranslator>(shared_from_this());
    return S_ok;
}

std::shared_ptr<DirectoryService> makeLdapService(const std::string& inUri)
{
    ServiceOptions theOptions;
    theOptions.itsConfigured = parseLdapUriList(inUri);
    if (theOptions.itsConfigured.empty() && !inUri.empty())
        return nullptr;
    return std::make_shared<LdapService>(std::move(theOptions));
}

std::shared_ptr<DirectoryService> makeLdapService(ServiceOptions inOptions)
{
    return std::make_shared<LdapService>(std::move(inOptions));
}

} // namespace corvel::directory::ldap
