// Finding the directory as Active Directory's own clients do on a host that
// knows nothing but a realm and DNS (the Linux form of the DC locator):
//
//   the domain   the realm of the caller's Kerberos ticket (the default
//                credentials cache's principal), else krb5.conf's default
//                realm, as a DNS name in lower case;
//   its DCs      the DNS SRV records _ldap._tcp.dc._msdcs.<domain>;
//   the forest's global catalogs  _gc._tcp.<forest>, the forest named by the
//                first DC's rootDSE (rootDomainNamingContext) when the domain
//                is a child.
//
// SRV records are put in RFC 2782 order: by priority, and within a priority
// by a weighted random choice. Looking up records goes through a function the
// service is given, so that the order and the choice of servers can be tried
// against answers of a test's own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "corvel/platform/directory/ldap/ldap_text.h"

namespace corvel::directory::ldap
{

struct SrvRecord
{
    std::string itsHost; // without the trailing dot
    int itsPort = 0;
    int itsPriority = 0;
    int itsWeight = 0;
};

// The records of inName; false when the name has none or DNS gave no answer.
using SrvLookup =
    std::function<bool(const std::string& inName, std::vector<SrvRecord>& outRecords)>;

// The system's resolver (libresolv), bounded: a few seconds at most.
bool systemSrvLookup(const std::string& inName, std::vector<SrvRecord>& outRecords);

// inRecords in RFC 2782 order. inRandom(n) gives a number in [0, n].
std::vector<SrvRecord> orderSrvRecords(std::vector<SrvRecord> inRecords,
                                       const std::function<std::uint32_t(std::uint32_t)>& inRandom);

// The DNS name of the caller's domain (see above); empty when neither the
// ticket nor krb5.conf names a realm.
std::string defaultDomainName();

// "corp.example.com" from "DC=corp,DC=example,DC=com"; empty when the DN is
// no DC= path.
std::string dnsNameOfDN(const std::string& inDN);

// The servers of inService for inDomain, in the order to try them: the
// domain's DCs (ldap.conf's ldaps asks for port 636) or the forest's global
// catalogs (3268, or 3269 with TLS). Logs, at the debug level, the records
// asked and what they gave.
std::vector<LdapUri> domainControllers(const std::string& inDomain, bool inTls,
                                       const SrvLookup& inLookup);
std::vector<LdapUri> globalCatalogs(const std::string& inForest, bool inTls,
                                    const SrvLookup& inLookup);

} // namespace corvel::directory::ldap
