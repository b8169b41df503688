// The in-memory directory loaded from an LDIF file, in the form Active
// Directory exports it (ldapsearch or ldifde output).
#pragma once

#include <memory>
#include <string>

#include "corvel/platform/directory/dir_service.h"

namespace corvel::directory::ldif
{

std::shared_ptr<DirectoryService> makeLdifService(const std::string& inPath);

// The same over LDIF text held in memory (a program's own, or a test's);
// inName names it in error lines.
std::shared_ptr<DirectoryService> makeLdifServiceFromText(const std::string& inText,
                                                          const std::string& inName = "(text)");

} // namespace corvel::directory::ldif
