// The LDAP package: a simple bind as the user, only over TLS (ldaps://, or
// StartTLS on ldap://), with the server's certificate verified. The
// directory is the framework's (CORVEL_DIRECTORY, LDAPURI or ldap.conf).
//
// The status word is the code Active Directory gives in the bind's
// diagnostic ("data 52e"), or the LDAP result code when there is none.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <ldap.h>

#include "corvel/platform/directory/ldap/ldap_handles.h"
#include "qzsspi_internal.h"

namespace qzsspi
{

using corvel::directory::ldap::LdapHandle;
using corvel::directory::ldap::LdapString;
using corvel::directory::ldap::out;

namespace
{

// The "data XXX" code of an Active Directory bind diagnostic, or 0.
unsigned int diagnosticCode(LDAP* inLdap)
{
    LdapString theText;
    const int theResult = ldap_get_option(inLdap, LDAP_OPT_DIAGNOSTIC_MESSAGE, out(theText));
    if (theResult != LDAP_OPT_SUCCESS || !theText)
        return 0;
    unsigned int theCode = 0;
    if (const char* theData = std::strstr(theText.get(), "data "))
        theCode = static_cast<unsigned int>(std::strtoul(theData + 5, nullptr, 16));
    return theCode;
}

int resultOfBind(int inRc, unsigned int inData)
{
    if (inRc == LDAP_SUCCESS)
        return resultAccepted;
    if (inRc != LDAP_INVALID_CREDENTIALS)
        return resultServiceFailure;
    switch (inData)
    {
    case 0x530: // not permitted at this time
    case 0x531: // not permitted at this workstation
    case 0x532: // password expired
    case 0x533: // disabled
    case 0x701: // account expired
    case 0x773: // must change password
    case 0x775: // locked out
        return resultNotAllowed;
    default:
        return resultBadUserOrPassword;
    }
}

} // namespace

int verifyLdap(const std::string& inDomain, const std::string& inUser, const char* inPassword,
               unsigned int& outStatus)
{
    std::string theUri = configuredDirectory();
    if (theUri.rfind("ldif:", 0) == 0)
    {
        outStatus = static_cast<unsigned int>(LDAP_PARAM_ERROR);
        return resultServiceFailure;
    }
    // The handle is unbound on every path.
    LdapHandle theHandle;
    int theRc = ldap_initialize(out(theHandle), theUri.empty() ? nullptr : theUri.c_str());
    LDAP* theLdap = theHandle.get();
    if (theRc != LDAP_SUCCESS || theLdap == nullptr)
    {
        outStatus = static_cast<unsigned int>(theRc);
        return resultServiceFailure;
    }
    const int theVersion = LDAP_VERSION3;
    ldap_set_option(theLdap, LDAP_OPT_PROTOCOL_VERSION, &theVersion);
    ldap_set_option(theLdap, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    struct timeval theTimeout = {10, 0};
    ldap_set_option(theLdap, LDAP_OPT_NETWORK_TIMEOUT, &theTimeout);
    ldap_set_option(theLdap, LDAP_OPT_TIMEOUT, &theTimeout);
    // The password goes only to a server whose certificate checks out,
    // whatever the client configuration says: a TLS context of this handle's
    // own, with the configured trust anchors and verification demanded.
    for (const int curOption : {LDAP_OPT_X_TLS_CACERTFILE, LDAP_OPT_X_TLS_CACERTDIR})
    {
        LdapString theValue;
        const int theResult = ldap_get_option(nullptr, curOption, out(theValue));
        if (theResult == LDAP_OPT_SUCCESS && theValue)
            ldap_set_option(theLdap, curOption, theValue.get());
    }
    const int theDemand = LDAP_OPT_X_TLS_DEMAND;
    ldap_set_option(theLdap, LDAP_OPT_X_TLS_REQUIRE_CERT, &theDemand);
    const int theNewContext = 0;
    if (ldap_set_option(theLdap, LDAP_OPT_X_TLS_NEWCTX, &theNewContext) != LDAP_OPT_SUCCESS)
    {
        outStatus = static_cast<unsigned int>(LDAP_CONNECT_ERROR);
        return resultServiceFailure;
    }

    LdapString theConnected;
    ldap_get_option(theLdap, LDAP_OPT_URI, out(theConnected));
    const bool theIsLdaps = theConnected && std::strncmp(theConnected.get(), "ldaps://", 8) == 0;
    if (!theIsLdaps)
    {
        theRc = ldap_start_tls_s(theLdap, nullptr, nullptr);
        if (theRc != LDAP_SUCCESS)
        {
            outStatus = static_cast<unsigned int>(theRc);
            return resultServiceFailure;
        }
    }

    const std::string theBindName = inDomain.empty() ? inUser : inDomain + "\\" + inUser;
    std::string theSecret = inPassword;
    struct berval theCredentials;
    theCredentials.bv_val = theSecret.data();
    theCredentials.bv_len = theSecret.size();
    theRc = ldap_sasl_bind_s(theLdap, theBindName.c_str(), LDAP_SASL_SIMPLE, &theCredentials,
                             nullptr, nullptr, nullptr);
    clearSecret(theSecret);
    const unsigned int theData = theRc == LDAP_INVALID_CREDENTIALS ? diagnosticCode(theLdap) : 0;
    outStatus = theData != 0 ? theData : static_cast<unsigned int>(theRc);
    return resultOfBind(theRc, theData);
}

} // namespace qzsspi
