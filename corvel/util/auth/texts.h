// Status codes as the authenticator's log lines print them. Internal to
// the authenticator.
#pragma once

#include "corvel/platform/directory/dir_status.h"

namespace corvel::auth
{

// For "0x%lX".
inline unsigned long hexOf(corvel::directory::Status inStatus)
{
    return static_cast<unsigned long>(inStatus);
}

} // namespace corvel::auth
