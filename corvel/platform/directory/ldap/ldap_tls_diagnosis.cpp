#include "corvel/platform/directory/ldap/ldap_tls_diagnosis.h"

#include <gnutls/x509.h>
#include <ldap.h>

#include <sys/time.h>

#include "corvel/platform/directory/ldap/ldap_handles.h"
#include "corvel/platform/os_report.h"

namespace corvel::directory::ldap
{

namespace
{

// Owns one certificate of the TLS library.
class Certificate
{
public:
    Certificate() { itsReady = gnutls_x509_crt_init(&itsCert) == GNUTLS_E_SUCCESS; }
    ~Certificate()
    {
        if (itsReady)
            gnutls_x509_crt_deinit(itsCert);
    }
    Certificate(const Certificate&) = delete;
    Certificate& operator=(const Certificate&) = delete;

    bool import(const std::string& inDer)
    {
        gnutls_datum_t theData{reinterpret_cast<unsigned char*>(const_cast<char*>(inDer.data())),
                               static_cast<unsigned>(inDer.size())};
        return itsReady &&
               gnutls_x509_crt_import(itsCert, &theData, GNUTLS_X509_FMT_DER) == GNUTLS_E_SUCCESS;
    }
    gnutls_x509_crt_t get() const { return itsCert; }

private:
    gnutls_x509_crt_t itsCert{};
    bool itsReady = false;
};

void appendName(std::string& ioNames, const char* inName, std::size_t inSize)
{
    if (!ioNames.empty())
        ioNames += ", ";
    ioNames.append(inName, inSize);
}

} // namespace

bool certificateNames(const std::string& inDer, const std::string& inHost, std::string& outNames,
                      bool& outMatches)
{
    Certificate theCert;
    if (!theCert.import(inDer))
        return false;
    std::string theNames;
    for (unsigned curIndex = 0;; ++curIndex)
    {
        char theName[512];
        std::size_t theSize = sizeof theName;
        unsigned theCritical = 0;
        const int theType = gnutls_x509_crt_get_subject_alt_name(theCert.get(), curIndex, theName,
                                                                 &theSize, &theCritical);
        if (theType < 0 && theType != GNUTLS_E_SHORT_MEMORY_BUFFER)
            break;
        if (theType == GNUTLS_SAN_DNSNAME)
            appendName(theNames, theName, theSize);
    }
    if (theNames.empty())
    {
        char theName[512];
        std::size_t theSize = sizeof theName;
        if (gnutls_x509_crt_get_dn_by_oid(theCert.get(), GNUTLS_OID_X520_COMMON_NAME, 0, 0, theName,
                                          &theSize) == GNUTLS_E_SUCCESS)
            appendName(theNames, theName, theSize);
    }
    outNames = theNames;
    outMatches = gnutls_x509_crt_check_hostname(theCert.get(), inHost.c_str()) != 0;
    return true;
}

void explainTlsFailure(const std::string& inHost, int inPort, bool inStartTls, int inTimeoutSeconds)
{
    const std::string theUri =
        std::string(inStartTls ? "ldap://" : "ldaps://") + inHost + ":" + std::to_string(inPort);
    LdapHandle theLd;
    if (ldap_initialize(out(theLd), theUri.c_str()) != LDAP_SUCCESS)
        return;
    const int theVersion = LDAP_VERSION3;
    ldap_set_option(theLd.get(), LDAP_OPT_PROTOCOL_VERSION, &theVersion);
    timeval theTimeout{inTimeoutSeconds, 0};
    ldap_set_option(theLd.get(), LDAP_OPT_NETWORK_TIMEOUT, &theTimeout);
    ldap_set_option(theLd.get(), LDAP_OPT_TIMEOUT, &theTimeout);
    // Only to read the certificate: nothing is sent over this connection.
    const int theAllow = LDAP_OPT_X_TLS_ALLOW;
    const int theNewContext = 0;
    if (ldap_set_option(theLd.get(), LDAP_OPT_X_TLS_REQUIRE_CERT, &theAllow) != LDAP_OPT_SUCCESS ||
        ldap_set_option(theLd.get(), LDAP_OPT_X_TLS_NEWCTX, &theNewContext) != LDAP_OPT_SUCCESS)
        return;
    const int theResult =
        inStartTls ? ldap_start_tls_s(theLd.get(), nullptr, nullptr) : ldap_connect(theLd.get());
    if (theResult != LDAP_SUCCESS)
        return;
    berval theDer{0, nullptr};
    if (ldap_get_option(theLd.get(), LDAP_OPT_X_TLS_PEERCERT, &theDer) != LDAP_OPT_SUCCESS ||
        theDer.bv_val == nullptr)
        return;
    const BerBuffer theOwned(theDer.bv_val);
    const std::string theBytes(theDer.bv_val, theDer.bv_len);

    std::string theNames;
    bool theMatches = false;
    if (!certificateNames(theBytes, inHost, theNames, theMatches))
        return;
    if (!theMatches)
        platform::reportLog(
            platform::Report_error,
            "ldap: the TLS certificate of %s:%d is for \"%s\", not for \"%s\": name the "
            "server as its certificate does (a domain controller's full DNS name)",
            inHost.c_str(), inPort, theNames.c_str(), inHost.c_str());
    else
        platform::reportLog(
            platform::Report_error,
            "ldap: the TLS certificate of %s:%d (\"%s\") is not trusted here: its issuer is "
            "unknown (TLS_CACERT in ldap.conf, or LDAPTLS_CACERT) or it is not valid now",
            inHost.c_str(), inPort, theNames.c_str());
}

} // namespace corvel::directory::ldap
