// Placeholder until the live backend lands: no live directory can be reached.
#include "corvel/platform/directory/ldap/ldap_backend.h"

namespace corvel::directory::ldap
{

std::shared_ptr<DirectoryService> makeLdapService(const std::string& /*inUri*/) { return nullptr; }

} // namespace corvel::directory::ldap
