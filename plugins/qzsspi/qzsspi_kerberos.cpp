// The Kerberos package: an initial ticket for user@REALM, asked of the
// realm's KDC with the password, kept in memory only and thrown away:
// nothing is written to the user's credentials cache.
//
// The realm is the domain's DNS name upper-cased. A NetBIOS domain name
// (CORP) is mapped through the LDIF directory's crossRef when one is
// configured, else the Kerberos configuration's default realm is taken.
// The status word is the Kerberos library's error code.
#include <cstring>
#include <string>

#include <krb5.h>

#include "qzsspi_internal.h"

namespace qzsspi
{

namespace
{

std::string upperOf(std::string inText)
{
    for (char& curChar : inText)
        if (curChar >= 'a' && curChar <= 'z')
            curChar = static_cast<char>(curChar - 'a' + 'A');
    return inText;
}

std::string realmOf(krb5_context inContext, const std::string& inDomain)
{
    if (inDomain.find('.') != std::string::npos)
        return upperOf(inDomain);
    const std::string theDnsRoot = ldifDnsRoot(inDomain);
    if (!theDnsRoot.empty())
        return upperOf(theDnsRoot);
    char* theDefault = nullptr;
    if (krb5_get_default_realm(inContext, &theDefault) != 0 || theDefault == nullptr)
        return std::string();
    std::string theRealm = theDefault;
    krb5_free_default_realm(inContext, theDefault);
    return theRealm;
}

int resultOf(krb5_error_code inCode)
{
    switch (inCode)
    {
    case 0:
        return resultAccepted;
    case KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN:
    case KRB5KDC_ERR_PREAUTH_FAILED:
    case KRB5KRB_AP_ERR_BAD_INTEGRITY:
        return resultBadUserOrPassword;
    case KRB5KDC_ERR_CLIENT_REVOKED: // disabled or locked out
    case KRB5KDC_ERR_KEY_EXP:        // password expired
    case KRB5KDC_ERR_NAME_EXP:       // account expired
    case KRB5KDC_ERR_POLICY:
        return resultNotAllowed;
    default:
        return resultServiceFailure;
    }
}

} // namespace

int verifyKerberos(const std::string& inDomain, const std::string& inUser, const char* inPassword,
                   unsigned int& outStatus)
{
    krb5_context theContext = nullptr;
    // The ordinary context: KRB5_CONFIG names the realm's configuration
    // where the platform sets one.
    krb5_error_code theCode = krb5_init_context(&theContext);
    if (theCode != 0)
    {
        outStatus = static_cast<unsigned int>(theCode);
        return resultServiceFailure;
    }
    const std::string theRealm = realmOf(theContext, inDomain);
    if (theRealm.empty())
    {
        krb5_free_context(theContext);
        outStatus = static_cast<unsigned int>(KRB5_REALM_UNKNOWN);
        return resultServiceFailure;
    }

    // The user name is one component as it is: a '/' or '@' in it cannot
    // name another principal.
    krb5_principal thePrincipal = nullptr;
    theCode = krb5_build_principal_ext(theContext, &thePrincipal,
                                       static_cast<unsigned int>(theRealm.size()), theRealm.c_str(),
                                       static_cast<unsigned int>(inUser.size()), inUser.c_str(), 0);
    if (theCode != 0)
    {
        krb5_free_context(theContext);
        outStatus = static_cast<unsigned int>(theCode);
        return resultServiceFailure;
    }

    krb5_get_init_creds_opt* theOptions = nullptr;
    theCode = krb5_get_init_creds_opt_alloc(theContext, &theOptions);
    if (theCode == 0)
    {
        krb5_get_init_creds_opt_set_forwardable(theOptions, 0);
        krb5_get_init_creds_opt_set_proxiable(theOptions, 0);
        krb5_creds theCreds;
        std::memset(&theCreds, 0, sizeof theCreds);
        // No prompter: an expired password is reported, not changed.
        theCode = krb5_get_init_creds_password(theContext, &theCreds, thePrincipal, inPassword,
                                               nullptr, nullptr, 0, nullptr, theOptions);
        if (theCode == 0)
            krb5_free_cred_contents(theContext, &theCreds);
        krb5_get_init_creds_opt_free(theContext, theOptions);
    }
    krb5_free_principal(theContext, thePrincipal);
    krb5_free_context(theContext);
    outStatus = static_cast<unsigned int>(theCode);
    return resultOf(theCode);
}

} // namespace qzsspi
