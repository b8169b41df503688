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
