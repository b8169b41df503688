// The live directory over libldap (SASL GSSAPI with the caller's Kerberos
// ticket, or TLS-protected binds with explicit credentials).
#pragma once

#include <memory>
#include <string>

#include "corvel/platform/directory/dir_service.h"

namespace corvel::directory::ldap
{

// A service for "ldap://host[:port]" or "ldaps://host[:port]" (several URIs
// separated by blanks are tried in turn), or with "" for the directory of
// the caller's domain, found through Kerberos and the DNS (ldap_locator.h).
// Null for text that names no server.
std::shared_ptr<DirectoryService> makeLdapService(const std::string& inUri);

} // namespace corvel::directory::ldap
