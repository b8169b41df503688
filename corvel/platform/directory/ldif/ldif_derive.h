// What a loaded directory derives from all its entries at once, after the
// records are in: the domains (from crossRef and domainDNS entries) and
// each entry's domain, memberOf from the groups' member values (as the
// directory maintains it), and the lookup indexes.
#pragma once

#include "corvel/platform/directory/ldif/ldif_directory.h"

namespace corvel::directory::ldif
{

// Error lines (an nCName that is no DN, a domain with no name, a member
// that names no entry) go to the information log in entry order.
void deriveDirectory(Directory& ioDir);

} // namespace corvel::directory::ldif
