#include "corvel/platform/directory/ldap/ldap_connection.h"

#include <sasl/sasl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldap/ldap_service.h"
#include "corvel/platform/directory/ldap/ldap_tls_diagnosis.h"
#include "corvel/platform/directory/names.h"
#include "corvel/platform/os_report.h"

namespace corvel::directory::ldap
{

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

} // namespace corvel::directory::ldap
