// Internal to the identity files: the test override of the current account,
// kept once for every platform (os_identity.cpp).
#pragma once

#include <optional>
#include <string>

namespace corvel::platform::identity_detail
{

struct Identity
{
    std::string itsName;
    std::string itsDomain;
    std::string itsSid;
};

// The identity set by setIdentityOverride, if any.
std::optional<Identity> currentOverride();

// Equality with ASCII letters folded, as account and domain names compare.
bool equalsNoCase(const std::string& inLeft, const std::string& inRight);

} // namespace corvel::platform::identity_detail
