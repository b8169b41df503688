// Loading an LDIF file into the in-memory directory.
//
// The file is read whole, checked (ldif_input.h), cut at blank lines into
// parts read on threads of their own (ldif_part.h), merged in file order,
// and then given what needs every entry: domains, memberOf (derived from
// member, as the directory does) and the lookup indexes. Error lines go to
// the information log in file order, the same whatever the number of
// threads.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "corvel/platform/directory/ldif/ldif_directory.h"

namespace corvel::directory::ldif
{

// The directory of inPath. A file already loaded in this process and not
// changed since (same modification time, size and inode) is not read again.
// Never null: a file that cannot be read gives a directory with itsLoaded
// false, after an error line in the information log.
std::shared_ptr<const Directory> loadDirectory(const std::string& inPath);

// inPath read afresh, past the cache, cut into at most inThreads parts (0:
// as many as pays on this machine).
std::shared_ptr<const Directory> loadDirectoryUncached(const std::string& inPath,
                                                       unsigned inThreads);

// The directory of LDIF text held in memory; inName stands for the file in
// error lines.
std::shared_ptr<const Directory> loadDirectoryText(std::string_view inText,
                                                   const std::string& inName);

} // namespace corvel::directory::ldif
