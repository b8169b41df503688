// Distinguished names and LDAP paths, as every directory backend needs them.
//
// A DN is parsed as RFC 4514 text (with the usual tolerance of blanks around
// ',', '+' and '=' that Active Directory accepts). Two DNs name the same
// object when their normal forms (normalizeDN) are equal: attribute types and
// values compare without regard to ASCII case, and a value written with hex
// escapes ("Sales\2fMarketing", "Smith\2C John") equals the same value written
// plainly or with a backslash escape ("Sales/Marketing", "Smith\, John").
//
// Paths are "LDAP://" [server "/"] DN, where every '/' of the DN is written
// "\2f" so that the first '/' can only end a server name.
#pragma once

#include <string>
#include <vector>

namespace corvel::directory::dn
{

// One attribute type and value of an RDN; the value is unescaped.
struct Ava
{
    std::string itsType;
    std::string itsValue;
};

// One RDN: its text exactly as written (without surrounding blanks), and its
// attribute values (more than one for a multi-valued RDN such as "CN=a+UID=b").
struct Rdn
{
    std::string itsText;
    std::vector<Ava> itsAvas;
};

// Splits inDN into its RDNs, most specific first. False (outRdns unchanged)
// when the text is not a DN: an empty DN, a missing '=', an empty type, a bad
// escape or a dangling backslash.
bool parseDN(const std::string& inDN, std::vector<Rdn>& outRdns);

// The comparison key of a DN: types and values ASCII lower-case, values
// re-escaped one canonical way, RDNs joined by ','. False when inDN is no DN.
bool normalizeDN(const std::string& inDN, std::string& outKey);

// The same from parsed RDNs, for callers that need both.
std::string normalizeRdns(const std::vector<Rdn>& inRdns);

// An attribute value escaped for use in a DN (RFC 4514): '"', '+', ',', ';',
// '<', '>', '\\' and '=' get a backslash, a leading '#' or blank and a
// trailing blank too, and control characters become "\XX" hex pairs.
std::string escapeDNValue(const std::string& inValue);

// A value escaped for use in a search filter (RFC 4515): '*', '(', ')', '\\'
// and NUL become "\2a", "\28", "\29", "\5c" and "\00".
std::string escapeFilterValue(const std::string& inValue);

// inDN with every '/' written as the three characters "\2f", ready to follow
// "LDAP://" in a path; an escaped '/' (backslash and '/') becomes "\2f" too,
// both characters replaced. Nothing else changes.
std::string escapePathDN(const std::string& inDN);

// "LDAP://" + escapePathDN(inDN): the path every object is opened by. The
// only place that builds one; parseLdapPath is the only one that reads one.
std::string ldapPath(const std::string& inDN);

// Takes "LDAP://[server/]DN" apart. The prefix is compared without regard to
// case; the DN part is returned with each "\2f" (either case) turned back
// into '/'. False when the prefix is missing or the DN part is empty.
bool parseLdapPath(const std::string& inPath, std::string& outServer, std::string& outDN);

// ASCII lower-case copy.
std::string toLowerAscii(const std::string& inText);

} // namespace corvel::directory::dn
