// The in-memory directory loaded from an LDIF file, in the form Active
// Directory exports it (ldapsearch or ldifde output).
#pragma once

#include <memory>
#include <string>

#include "corvel/platform/directory/dir_service.h"

namespace corvel::directory::ldif
{

std::shared_ptr<DirectoryService> makeLdifService(const std::string& inPath);

} // namespace corvel::directory::ldif
