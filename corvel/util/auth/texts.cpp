// Texts of the authenticator.
#include "corvel/util/qzauthenticator.h"

#include <cstdio>

#include "corvel/debug/qzerrors.h"

std::string qzAuthenticator::formatErrorText(std::uint32_t inCode)
{
    char theHex[16];
    std::snprintf(theHex, sizeof theHex, "%x", static_cast<unsigned int>(inCode));
    return std::string("[0x") + theHex + "] " + getOSErrorText(inCode);
}
