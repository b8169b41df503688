#include "corvel/platform/directory/ldap/ldap_connection.h"

#include <sasl/sasl.h>

#include <algorithm>
#include <deque>
#include <cstring>

#include "corvel/platform/directory/ldap/ldap_tls_diagnosis.h"
#include "corvel/platform/directory/ldap/ldap_tuning.h"
#include "corvel/platform/directory/libldap_log.h"
#include "corvel/platform/os_report.h"
#include "corvel/platform/os_text.h"

namespace corvel::directory::ldap
{

namespace
{

int saslInteract(LDAP* /*inLd*/, unsigned /*inFlags*/, void* /*inDefaults*/, void* inInteract)
{
    // GSSAPI needs no answers; a prompt for an authorisation id gets the
    // default (the ticket's principal).
    for (auto* curItem = static_cast<sasl_interact_t*>(inInteract); curItem->id != SASL_CB_LIST_END;
         ++curItem)
    {
        curItem->result = curItem->defresult != nullptr ? curItem->defresult : "";
        curItem->len =
            static_cast<unsigned>(std::strlen(static_cast<const char*>(curItem->result)));
    }
    return LDAP_SUCCESS;
}

timeval operationTimeout() { return timeval{tuning().itsTimeoutSeconds, 0}; }

// After a failed TLS handshake: say why in words, if the certificate is the
// reason. A server that took the whole time-out to fail is not asked again.
void explainTls(const Target& inTarget, bool inStartTls,
                std::chrono::steady_clock::time_point inStart)
{
    const int theTimeout = tuning().itsTimeoutSeconds;
    if (std::chrono::steady_clock::now() - inStart < std::chrono::seconds(theTimeout) / 2)
        explainTlsFailure(inTarget.itsHost, inTarget.itsPort, inStartTls,
                          std::max(1, theTimeout / 2));
}

bool isUnreachableCode(int inResult)
{
    return inResult == LDAP_SERVER_DOWN || inResult == LDAP_CONNECT_ERROR ||
           inResult == LDAP_TIMEOUT;
}

std::string uriOf(const Target& inTarget)
{
    return std::string(inTarget.itsTls ? "ldaps://" : "ldap://") + inTarget.itsHost + ":" +
           std::to_string(inTarget.itsPort);
}

} // namespace

Connection::Connection(ServerList& ioServers, Stats& ioStats, const Credentials* inCredentials)
    : itsServers(&ioServers), itsStats(&ioStats)
{
    if (inCredentials != nullptr && !inCredentials->isEmpty())
        itsCredentials = *inCredentials;
}

Connection::~Connection() { platform::wipeText(itsCredentials.itsPassword); }

void Connection::adopt(ServerList& ioServers, Stats& ioStats)
{
    ioServers.itsActive = itsServers->itsActive;
    ioStats.itsRequests += itsStats->itsRequests;
    ioStats.itsRoundTrips += itsStats->itsRoundTrips;
    ioStats.itsBinds += itsStats->itsBinds;
    ioStats.itsBindRoundTrips += itsStats->itsBindRoundTrips;
    ioStats.itsFailovers += itsStats->itsFailovers;
    itsServers = &ioServers;
    itsStats = &ioStats;
}

Status Connection::fail(int inResult)
{
    if (isUnreachableCode(inResult))
        itsDead = true; // every later call fails at once
    return mapLdapError(inResult);
}

Status Connection::open()
{
    const SigPipeGuard theGuard;
    routeLibldapDiagnostics();
    int theResult = LDAP_SERVER_DOWN;
    while (itsServers->itsActive < itsServers->itsTargets.size())
    {
        const Target& theTarget = target();
        theResult = openTarget(theTarget);
        if (theResult == LDAP_SUCCESS)
        {
            itsDead = false;
            return S_ok;
        }
        if (!isUnreachableCode(theResult) ||
            itsServers->itsActive + 1 >= itsServers->itsTargets.size())
            break;
        osTrace(1, "ldap: %s:%d does not answer, trying the next directory server (%s)",
                theTarget.itsHost.c_str(), theTarget.itsPort, itsServers->itsWhat.c_str());
        ++itsServers->itsActive;
    }
    itsLd.reset();
    return fail(theResult);
}

int Connection::openTarget(const Target& inTarget)
{
    itsLd.reset();
    const std::string theUri = uriOf(inTarget);
    int theResult = ldap_initialize(out(itsLd), theUri.c_str());
    if (theResult != LDAP_SUCCESS)
        return theResult;
    LDAP* theLd = itsLd.get();
    const int theVersion = LDAP_VERSION3;
    ldap_set_option(theLd, LDAP_OPT_PROTOCOL_VERSION, &theVersion);
    ldap_set_option(theLd, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    const timeval theTimeout = operationTimeout();
    ldap_set_option(theLd, LDAP_OPT_NETWORK_TIMEOUT, &theTimeout);
    ldap_set_option(theLd, LDAP_OPT_TIMEOUT, &theTimeout);
    // The service principal is ldap/<the name we were given>: no reverse
    // lookup of the address (which names "localhost" on a test DC).
    ldap_set_option(theLd, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
    // The TCP connect is a round trip of its own, made by the first send.
    ++itsStats->itsBindRoundTrips;
    theResult = itsCredentials.isEmpty() ? bindAsCaller(inTarget) : bindWithPassword(inTarget);
    if (theResult != LDAP_SUCCESS)
    {
        itsLd.reset();
        return theResult;
    }
    ++itsStats->itsBinds;
    platform::reportLog(platform::Report_debug, "ldap: bound to %s:%d with %s",
                        inTarget.itsHost.c_str(), inTarget.itsPort, itsMechanism.c_str());
    return LDAP_SUCCESS;
}

int Connection::saslBind(const char* inMechanism)
{
    // ldap_sasl_interactive_bind_s, step by step: every step that waits for
    // the server is a round trip, and none waits past the time-out.
    LDAPMessage* theAnswer = nullptr;
    const char* theMechanism = nullptr;
    int theId = -1;
    for (;;)
    {
        const int theResult = ldap_sasl_interactive_bind(itsLd.get(), nullptr, inMechanism, nullptr,
                                                         nullptr, LDAP_SASL_QUIET, saslInteract,
                                                         nullptr, theAnswer, &theMechanism, &theId);
        ldap_msgfree(theAnswer);
        theAnswer = nullptr;
        if (theResult != LDAP_SASL_BIND_IN_PROGRESS)
            return theResult;
        ++itsStats->itsBindRoundTrips;
        timeval theTimeout = operationTimeout();
        const int theWait = ldap_result(itsLd.get(), theId, LDAP_MSG_ALL, &theTimeout, &theAnswer);
        if (theWait <= 0 || theAnswer == nullptr)
        {
            ldap_msgfree(theAnswer);
            return theWait == 0 ? LDAP_TIMEOUT : LDAP_SERVER_DOWN;
        }
    }
}

int Connection::bindAsCaller(const Target& inTarget)
{
    const auto theStart = std::chrono::steady_clock::now();
    // The caller's Kerberos ticket. Over TLS the channel already protects
    // the traffic (and AD refuses SASL layers inside TLS); in clear, ask for
    // sealing.
    ldap_set_option(itsLd.get(), LDAP_OPT_X_SASL_SECPROPS,
                    inTarget.itsTls ? "maxssf=0" : "minssf=56");
    // GSS-SPNEGO, as the platform's own directory interfaces negotiate it,
    // binds in one round trip; GSSAPI takes three. A server (or a SASL
    // library) without it gets GSSAPI.
    int theResult = LDAP_NOT_SUPPORTED;
    for (const char* curMechanism : {"GSS-SPNEGO", "GSSAPI"})
    {
        theResult = saslBind(curMechanism);
        if (theResult == LDAP_SUCCESS)
        {
            itsMechanism = curMechanism;
            return LDAP_SUCCESS;
        }
        // SASL's own words say which part of Kerberos failed (no ticket, no
        // such service principal, clock skew).
        LdapString theDetail;
        ldap_get_option(itsLd.get(), LDAP_OPT_DIAGNOSTIC_MESSAGE, out(theDetail));
        osTrace(1, "ldap: %s bind to %s failed: %s%s%s%s", curMechanism, uriOf(inTarget).c_str(),
                ldap_err2string(theResult), theDetail ? " (" : "", theDetail ? theDetail.get() : "",
                theDetail ? ")" : "");
        if (isUnreachableCode(theResult))
            break;
    }
    if (inTarget.itsTls && (theResult == LDAP_SERVER_DOWN || theResult == LDAP_CONNECT_ERROR))
        explainTls(inTarget, false, theStart);
    return theResult;
}

int Connection::bindWithPassword(const Target& inTarget)
{
    const auto theStart = std::chrono::steady_clock::now();
    LDAP* theLd = itsLd.get();
    // A password never travels in clear: TLS first (certificate verified as
    // the OpenLDAP client configuration says), then the simple bind.
    if (!inTarget.itsTls)
    {
        ++itsStats->itsBindRoundTrips;
        const int theStarted = ldap_start_tls_s(theLd, nullptr, nullptr);
        if (theStarted != LDAP_SUCCESS)
        {
            osTrace(1, "ldap: StartTLS with %s failed: %s", uriOf(inTarget).c_str(),
                    ldap_err2string(theStarted));
            if (theStarted == LDAP_CONNECT_ERROR)
                explainTls(inTarget, true, theStart);
            return theStarted == LDAP_CONNECT_ERROR ? LDAP_SERVER_DOWN : theStarted;
        }
    }
    berval thePassword;
    thePassword.bv_val = const_cast<char*>(itsCredentials.itsPassword.c_str());
    thePassword.bv_len = itsCredentials.itsPassword.size();
    ++itsStats->itsBindRoundTrips;
    const int theResult = ldap_sasl_bind_s(theLd, itsCredentials.itsUser.c_str(), LDAP_SASL_SIMPLE,
                                           &thePassword, nullptr, nullptr, nullptr);
    if (theResult != LDAP_SUCCESS)
        osTrace(1, "ldap: bind of \"%s\" to %s failed: %s", itsCredentials.itsUser.c_str(),
                uriOf(inTarget).c_str(), ldap_err2string(theResult));
    if (inTarget.itsTls && (theResult == LDAP_SERVER_DOWN || theResult == LDAP_CONNECT_ERROR))
        explainTls(inTarget, false, theStart);
    if (theResult == LDAP_SUCCESS)
        itsMechanism = "simple";
    return theResult;
}

bool Connection::failOver(int inResult)
{
    itsLd.reset();
    const Target theLost = target();
    while (itsServers->itsActive + 1 < itsServers->itsTargets.size())
    {
        ++itsServers->itsActive;
        const Target& theNext = target();
        platform::reportLog(platform::Report_debug,
                            "ldap: %s:%d broke off (%s); repeating the reads on %s:%d (%s)",
                            theLost.itsHost.c_str(), theLost.itsPort, ldap_err2string(inResult),
                            theNext.itsHost.c_str(), theNext.itsPort, itsServers->itsWhat.c_str());
        const int theResult = openTarget(theNext);
        if (theResult == LDAP_SUCCESS)
        {
            ++itsStats->itsFailovers;
            itsSentSinceWait = false;
            return true;
        }
        // A refused bind ends it: the next server would refuse it too.
        if (!isUnreachableCode(theResult))
            break;
    }
    itsDead = true;
    return false;
}

Found Connection::toFound(LDAPMessage* inEntry)
{
    Found theFound;
    LdapString theDN(ldap_get_dn(itsLd.get(), inEntry));
    if (theDN)
        theFound.itsDN = theDN.get();
    BerOwner theBer;
    for (LdapString curName(ldap_first_attribute(itsLd.get(), inEntry, out(theBer))); curName;
         curName.reset(ldap_next_attribute(itsLd.get(), inEntry, theBer.get())))
    {
        std::vector<std::string> theValues;
        BerValues theBerValues(ldap_get_values_len(itsLd.get(), inEntry, curName.get()));
        for (berval** curValue = theBerValues.get(); curValue && *curValue != nullptr; ++curValue)
            theValues.emplace_back((*curValue)->bv_val, (*curValue)->bv_len);
        theFound.itsAttributes.emplace_back(curName.get(), std::move(theValues));
    }
    return theFound;
}

int Connection::sendPage(const SearchSpec& inSpec, const berval* inCookie, int& outId)
{
    if (isDead())
        return LDAP_SERVER_DOWN;
    std::vector<char*> theAttributes;
    for (const std::string& curName : inSpec.itsAttributes)
        theAttributes.push_back(const_cast<char*>(curName.c_str()));
    theAttributes.push_back(nullptr);
    LdapControl thePageControl;
    if (inSpec.itsPaged)
    {
        const int theResult =
            ldap_create_page_control(itsLd.get(), tuning().itsPageSize,
                                     const_cast<berval*>(inCookie), 0, out(thePageControl));
        if (theResult != LDAP_SUCCESS)
            return theResult;
    }
    LDAPControl* theControls[] = {thePageControl.get(), nullptr};
    timeval theTimeout = operationTimeout();
    if (inSpec.itsTimeLimit > 0 && inSpec.itsTimeLimit < theTimeout.tv_sec)
        theTimeout.tv_sec = inSpec.itsTimeLimit + 1; // the server's own limit answers first
    ++itsStats->itsRequests;
    itsSentSinceWait = true;
    // A base read answers one entry, and Samba answers a plain base read
    // several times faster than a paged one: no control there.
    return ldap_search_ext(itsLd.get(), inSpec.itsBase.c_str(), inSpec.itsScope,
                           inSpec.itsFilter.c_str(), theAttributes.data(), 0,
                           inSpec.itsPaged ? theControls : nullptr, nullptr, &theTimeout,
                           inSpec.itsSizeLimit, &outId);
}

int Connection::wait(int inId, LdapMessage& outMessage)
{
    if (isDead())
        return LDAP_SERVER_DOWN;
    if (itsSentSinceWait)
    {
        ++itsStats->itsRoundTrips;
        itsSentSinceWait = false;
    }
    timeval theTimeout = operationTimeout();
    const int theWait = ldap_result(itsLd.get(), inId, LDAP_MSG_ALL, &theTimeout, out(outMessage));
    if (theWait <= 0 || !outMessage)
        // Nothing in time (0) or a broken connection (-1): either way the
        // connection can no longer be trusted to pair answers with requests.
        return theWait == 0 ? LDAP_TIMEOUT : LDAP_SERVER_DOWN;
    return LDAP_SUCCESS;
}

int Connection::takeAnswer(const SearchSpec& inSpec, LdapMessage& inMessage, int inPages,
                           SearchResult& ioResult, berval& outNext)
{
    outNext = berval{0, nullptr};
    for (LDAPMessage* curEntry = ldap_first_entry(itsLd.get(), inMessage.get()); curEntry;
         curEntry = ldap_next_entry(itsLd.get(), curEntry))
        ioResult.itsFound.push_back(toFound(curEntry));
    int theServerCode = LDAP_SUCCESS;
    LdapControls theReturned;
    const int theCode = ldap_parse_result(itsLd.get(), inMessage.get(), &theServerCode, nullptr,
                                          nullptr, nullptr, out(theReturned), 0);
    if (theCode != LDAP_SUCCESS)
        return theCode;
    ioResult.itsCode = theServerCode;
    LDAPControl* theResponse =
        theServerCode == LDAP_SUCCESS && inSpec.itsPaged
            ? ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, theReturned.get(), nullptr)
            : nullptr;
    ber_int_t theCount = 0;
    if (theResponse == nullptr ||
        ldap_parse_pageresponse_control(itsLd.get(), theResponse, &theCount, &outNext) !=
            LDAP_SUCCESS)
        outNext = berval{0, nullptr};
    else if (outNext.bv_len != 0 && inPages >= tuning().itsMaxPages)
    {
        BerBuffer theCookie(outNext.bv_val);
        outNext = berval{0, nullptr};
        ioResult.itsCode = LDAP_SIZELIMIT_EXCEEDED; // never taken for a whole answer
    }
    return LDAP_SUCCESS;
}

int Connection::searchOnce(const std::vector<SearchSpec>& inSpecs, std::size_t inWindow,
                           std::vector<SearchResult>& ioResults, std::vector<bool>& ioDone)
{
    struct InFlight
    {
        std::size_t itsIndex;
        int itsId;
        int itsPages;
        std::chrono::steady_clock::time_point itsStart;
    };
    std::deque<InFlight> theInFlight; // in the order sent
    std::size_t theNextToSend = 0;
    const auto theBreak = [&](int inCode)
    {
        // Answers still owed must never be taken for later requests' answers;
        // what they brought so far is asked again whole.
        for (const InFlight& curFlight : theInFlight)
        {
            if (!isDead() && itsLd)
                ldap_abandon_ext(itsLd.get(), curFlight.itsId, nullptr, nullptr);
            ioResults[curFlight.itsIndex] = SearchResult{};
        }
        return inCode;
    };
    const std::size_t theWindow = std::max<std::size_t>(1, inWindow);
    for (;;)
    {
        while (theNextToSend < inSpecs.size() && theInFlight.size() < theWindow)
        {
            if (ioDone[theNextToSend])
            {
                ++theNextToSend;
                continue;
            }
            int theId = 0;
            const int theSent = sendPage(inSpecs[theNextToSend], nullptr, theId);
            if (theSent != LDAP_SUCCESS)
                return theBreak(theSent);
            theInFlight.push_back({theNextToSend, theId, 1, std::chrono::steady_clock::now()});
            ++theNextToSend;
        }
        if (theInFlight.empty())
            return LDAP_SUCCESS;
        const InFlight theFlight = theInFlight.front();
        theInFlight.pop_front();
        const SearchSpec& theSpec = inSpecs[theFlight.itsIndex];
        SearchResult& theResult = ioResults[theFlight.itsIndex];

        LdapMessage theMessage;
        int theCode = wait(theFlight.itsId, theMessage);
        berval theNext{0, nullptr};
        if (theCode == LDAP_SUCCESS)
            theCode = takeAnswer(theSpec, theMessage, theFlight.itsPages, theResult, theNext);
        if (theCode != LDAP_SUCCESS)
        {
            theInFlight.push_front(theFlight);
            return theBreak(theCode);
        }
        BerBuffer theCookie(theNext.bv_val);
        theResult.itsElapsed = std::chrono::steady_clock::now() - theFlight.itsStart;
        if (theNext.bv_len == 0)
        {
            ioDone[theFlight.itsIndex] = true;
            continue;
        }
        // The next page, asked at once: the other searches stay in flight.
        int theId = 0;
        const int theSent = sendPage(theSpec, &theNext, theId);
        if (theSent != LDAP_SUCCESS)
        {
            theInFlight.push_front(theFlight);
            return theBreak(theSent);
        }
        theInFlight.push_back(
            {theFlight.itsIndex, theId, theFlight.itsPages + 1, theFlight.itsStart});
    }
}

Status Connection::searchMany(const std::vector<SearchSpec>& inSpecs, std::size_t inWindow,
                              std::vector<SearchResult>& outResults)
{
    const SigPipeGuard theGuard;
    outResults.assign(inSpecs.size(), SearchResult{});
    std::vector<bool> theDone(inSpecs.size(), false);
    for (;;)
    {
        const int theCode = searchOnce(inSpecs, inWindow, outResults, theDone);
        if (theCode == LDAP_SUCCESS)
            return S_ok;
        // A server that broke off or fell silent: its answers owed are asked
        // again of the next server of the list; whole answers are kept.
        if (!isUnreachableCode(theCode) || isDead() || !failOver(theCode))
            return fail(theCode);
    }
}

Status Connection::search(const SearchSpec& inSpec, std::vector<Found>& outFound)
{
    std::vector<SearchResult> theResults;
    const Status theStatus = searchMany({inSpec}, 1, theResults);
    if (failed(theStatus))
        return theStatus;
    if (theResults.front().itsCode != LDAP_SUCCESS)
        return fail(theResults.front().itsCode);
    outFound.insert(outFound.end(), std::make_move_iterator(theResults.front().itsFound.begin()),
                    std::make_move_iterator(theResults.front().itsFound.end()));
    return S_ok;
}

Status Connection::readRange(const std::string& inDN, const std::string& inAttribute,
                             std::uint32_t inFirst, std::vector<std::string>& ioValues)
{
    std::uint32_t theNext = inFirst;
    for (int curStep = 0; curStep < tuning().itsMaxRangeSteps; ++curStep)
    {
        std::vector<Found> theFound;
        SearchSpec theSpec;
        theSpec.itsBase = inDN;
        theSpec.itsAttributes = {inAttribute + ";range=" + std::to_string(theNext) + "-*"};
        const Status theStatus = search(theSpec, theFound);
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
    EntryPtr theEntry = itsEntries.entry(inFound.itsDN);
    theEntry->itsDN = inFound.itsDN;
    for (const auto& [curName, curValues] : inFound.itsAttributes)
    {
        // AD gives a long value list (member, and memberOf of an account in
        // many groups) a part at a time: the rest is read before the values
        // count as known.
        const std::size_t theRange = lower(curName).find(";range=");
        std::uint32_t theFirst = 0;
        std::uint32_t theLast = 0;
        bool theIsEnd = false;
        const std::string theBase = curName.substr(0, theRange);
        if (theRange != std::string::npos &&
            parseRangedName(curName, theBase, theFirst, theLast, theIsEnd))
        {
            std::vector<std::string> theValues = curValues;
            if (!theIsEnd)
            {
                const Status theStatus = readRange(inFound.itsDN, theBase, theLast + 1, theValues);
                if (failed(theStatus))
                    return theStatus;
            }
            if (lower(theBase) == "member")
                theEntry->setMembers(std::move(theValues));
            else
                theEntry->itsAttributes[lower(theBase)] = std::move(theValues);
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
    SearchSpec theSpec;
    theSpec.itsBase = inDN;
    theSpec.itsAttributes = inAttributes;
    const Status theStatus = search(theSpec, theFound);
    if (failed(theStatus))
        return theStatus;
    if (theFound.empty())
        return E_noSuchObject;
    EntryPtr theEntry;
    const Status theAbsorbed = absorb(theFound.front(), theEntry);
    if (failed(theAbsorbed))
        return theAbsorbed;
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

} // namespace corvel::directory::ldap
