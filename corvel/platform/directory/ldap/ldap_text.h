// Text forms the live directory backend converts between: AD's ranged
// attribute names, libldap result codes as directory status
// codes, and the URIs that name a directory. No server is needed for any of
// them. (SIDs and GUIDs: names.h, shared by every backend.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "corvel/platform/directory/dir_status.h"

namespace corvel::directory::ldap
{

// The status for a libldap result code (LDAP_SUCCESS gives S_ok).
Status mapLdapError(int inLdapResult);

// The result codes of an object that cannot be read here: absent,
// elsewhere, or hidden from us. Such an object is no group for the walk.
bool isAbsentCode(int inLdapResult);

// Every byte as a "\xx" pair, for binary values (objectSid, objectGUID) in a
// search filter.
std::string escapeFilterBytes(const std::string& inBytes);

// A ranged attribute name as AD returns it for large values sets:
// "member;range=0-1499" (outLast = 1499) or "member;range=1500-*" (outIsEnd).
// False when inName is not a ranged form of inAttribute.
bool parseRangedName(const std::string& inName, const std::string& inAttribute,
                     std::uint32_t& outFirst, std::uint32_t& outLast, bool& outIsEnd);

// "DC=corp,DC=example,DC=test" from "corp.example.test" (labels escaped);
// empty for an empty name or an empty label.
std::string dnsNameToDN(const std::string& inDnsName);

inline constexpr int kLdapPort = 389;
inline constexpr int kLdapsPort = 636;

// One directory server as a URI names it.
struct LdapUri
{
    std::string itsHost; // a name, an IPv4 address or a bracketed IPv6 one
    int itsPort = kLdapPort;
    bool itsTls = false; // ldaps
};

// "host", "host:port", "[v6]" or "[v6]:port"; the port is inDefaultPort when
// not given. False for an empty host, a port that is not 1..65535, or text
// after a bracketed address that is no port.
bool parseHostPort(const std::string& inText, int inDefaultPort, std::string& outHost,
                   int& outPort);

// "ldap://host[:port]" or "ldaps://host[:port]" (scheme in any case, a
// trailing "/..." ignored); false for anything else.
bool parseLdapUri(const std::string& inUri, LdapUri& outUri);

// The URIs of a list separated by blanks or commas (as ldap.conf writes
// them), in their order; malformed ones are left out.
std::vector<LdapUri> parseLdapUriList(const std::string& inList);

} // namespace corvel::directory::ldap
