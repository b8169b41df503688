#include "corvel/platform/directory/ldap/ldap_tuning.h"

#include <cstdlib>

namespace corvel::directory::ldap
{

namespace
{

// A whole number in [inLow, inHigh] from the environment, else inDefault.
long fromEnvironment(const char* inName, long inLow, long inHigh, long inDefault)
{
    const char* theText = std::getenv(inName);
    if (theText == nullptr || *theText == '\0')
        return inDefault;
    char* theEnd = nullptr;
    const long theValue = std::strtol(theText, &theEnd, 10);
    if (*theEnd != '\0' || theValue < inLow || theValue > inHigh)
        return inDefault;
    return theValue;
}

Tuning readTuning()
{
    Tuning theTuning;
    theTuning.itsTimeoutSeconds = static_cast<int>(
        fromEnvironment("CORVEL_LDAP_TIMEOUT", 1, 3600, theTuning.itsTimeoutSeconds));
    theTuning.itsInChainLimit =
        static_cast<int>(fromEnvironment("CORVEL_LDAP_INCHAIN_LIMIT", 0, 3600, 0));
    theTuning.itsPrefetchCap = static_cast<std::size_t>(fromEnvironment(
        "CORVEL_LDAP_PREFETCH_CAP", 0, 10000000, static_cast<long>(theTuning.itsPrefetchCap)));
    return theTuning;
}

} // namespace

const Tuning& tuning()
{
    // A function-local static: initialised once, thread-safe.
    static const Tuning theTuning = readTuning();
    return theTuning;
}

} // namespace corvel::directory::ldap
