// Files as the operating system sees them.
#pragma once

#include <cstddef>
#include <string>

namespace corvel::platform
{

// Opens inPath for appending (created when missing, shared with other
// processes), writes inSize bytes and closes it. False when the file cannot
// be opened or written.
bool appendToFile(const std::string& inPath, const char* inData, std::size_t inSize);

// Writes inSize bytes to standard error in one call and flushes it.
void writeStdErr(const char* inData, std::size_t inSize);

} // namespace corvel::platform
