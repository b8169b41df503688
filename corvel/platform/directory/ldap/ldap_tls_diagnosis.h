// Saying in words why a TLS connection to a directory server failed.
//
// libldap reports a certificate it refuses only as "Can't contact LDAP
// server" or "Connect error", whatever the reason. The commonest reason is a
// name: the server is reached by address or short name while its
// certificate names its full DNS name. After such a failure this looks at
// the certificate once more (a handshake that accepts any certificate and
// sends nothing else) and logs what is wrong with it.
#pragma once

#include <string>

namespace corvel::directory::ldap
{

// Logs, at the error level, why the server at inHost:inPort refused TLS:
// the names its certificate holds when none is inHost, or that the
// certificate itself is not trusted. inStartTls: the server is reached in
// clear and TLS is started by the StartTLS operation. Logs nothing when no
// certificate can be had (the server is down or speaks no TLS).
void explainTlsFailure(const std::string& inHost, int inPort, bool inStartTls,
                       int inTimeoutSeconds);

// The DNS names a certificate (DER) holds: its subjectAltName dNSNames, or
// its subject's common name when it has none. False when the bytes are no
// certificate. outMatches: whether inHost is one of them (wildcards as TLS
// clients match them).
bool certificateNames(const std::string& inDer, const std::string& inHost, std::string& outNames,
                      bool& outMatches);

} // namespace corvel::directory::ldap
