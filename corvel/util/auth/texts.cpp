// Texts of the authenticator: the one home of a status turned into words.
#include "corvel/util/auth/texts.h"

#include <cstdio>
#include <new>

#include "corvel/debug/qzerrors.h"
#include "corvel/util/qzauthenticator.h"

namespace corvel::auth
{

corvel::directory::Status exceptionStatus()
{
    try
    {
        throw;
    }
    catch (const std::bad_alloc&)
    {
        return corvel::directory::E_outOfMemory;
    }
    catch (...)
    {
        return corvel::directory::E_fail;
    }
}

} // namespace corvel::auth

std::string qzAuthenticator::formatErrorText(std::uint32_t inCode)
{
    char theHex[16];
    std::snprintf(theHex, sizeof theHex, "%x", static_cast<unsigned int>(inCode));
    return std::string("[0x") + theHex + "] " + getOSErrorText(inCode);
}

std::string qzAuthenticator::describeStatus(corvel::directory::Status inStatus)
{
    char theCode[32];
    std::snprintf(theCode, sizeof theCode, "error 0x%lX", corvel::auth::hexOf(inStatus));
    std::string theText = theCode;
    if (const char* theWords = corvel::directory::statusText(inStatus))
        theText += std::string(" (") + theWords + ")";
    return theText;
}
