// Status codes as the authenticator's lines give them. Internal to the
// authenticator; the texts the programs print are qzAuthenticator's
// formatErrorText and describeStatus (texts.cpp), the directory's own words
// corvel::directory::statusText.
#pragma once

#include "corvel/platform/directory/dir_status.h"

namespace corvel::auth
{

// For "0x%lX".
inline unsigned long hexOf(corvel::directory::Status inStatus)
{
    return static_cast<unsigned long>(inStatus);
}

// The status of the exception being handled: E_outOfMemory for an
// allocation failure, E_fail for any other. Call only inside a handler.
corvel::directory::Status exceptionStatus();

} // namespace corvel::auth
