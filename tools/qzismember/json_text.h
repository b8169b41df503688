// JSON text for qzIsMember's answers: strings that are valid JSON whatever
// bytes a name or a DN holds.
#pragma once

#include <string>
#include <vector>

// The text as a JSON string, quotes included. Quotes, backslashes and
// control characters are escaped; well-formed UTF-8 is kept as it is; each
// ill-formed sequence (its longest start that could still have been valid,
// at least one byte) becomes U+FFFD, so that the output is always UTF-8.
std::string jsonString(const std::string& inText);

// A JSON array of strings.
std::string jsonStrings(const std::vector<std::string>& inTexts);
