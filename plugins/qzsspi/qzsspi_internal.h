// The logon plug-in's verifiers, one per security package. Each answers
// with the plug-in's result (0 accepted, 9 unknown user or wrong password,
// 10 the account may not log on now, 11 the service failed) and the
// underlying library's code in outStatus. None of them logs or keeps the
// password, and buffers that held it are cleared before they are freed.
#pragma once

#include <string>

namespace qzsspi
{

inline constexpr int resultAccepted = 0;
inline constexpr int resultBadUserOrPassword = 9;
inline constexpr int resultNotAllowed = 10;
inline constexpr int resultServiceFailure = 11;

// The directory this process is configured for, as the framework finds it:
// CORVEL_DIRECTORY ("ldif:PATH", "ldap://..", "ldaps://.."), else LDAPURI,
// else empty (the OpenLDAP client configuration decides).
std::string configuredDirectory();

// Kerberos: an initial ticket for user@REALM from the realm's KDC, kept in
// memory only and thrown away.
int verifyKerberos(const std::string& inDomain, const std::string& inUser, const char* inPassword,
                   unsigned int& outStatus);
// A simple bind as the user over TLS (ldaps, or StartTLS on ldap), with the
// server's certificate verified.
int verifyLdap(const std::string& inDomain, const std::string& inUser, const char* inPassword,
               unsigned int& outStatus);
// The userPassword of the LDIF directory's entry.
int verifyLdif(const std::string& inDomain, const std::string& inUser, const char* inPassword,
               unsigned int& outStatus);

// The DNS name of a domain known to the LDIF directory by NetBIOS or DNS
// name (its crossRef's dnsRoot); empty when there is none.
std::string ldifDnsRoot(const std::string& inDomain);

// Whether inPassword matches a userPassword value ({SSHA}, {SHA}, {SSHA256},
// {SHA256}, {SSHA512}, {SHA512}, {CLEARTEXT} or no scheme: the value itself).
bool passwordMatches(const std::string& inStored, const char* inPassword);

// Overwrites memory that held a password.
void clearSecret(std::string& ioText);

} // namespace qzsspi
