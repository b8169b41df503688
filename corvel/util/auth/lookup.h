// Several names looked up together, each as lookupObjectDN looks it up (the
// same retry of a bare group name, the same outcomes), on one translator of
// the global catalog: a live directory answers their first searches in one
// round trip. Internal to the authenticator.
#pragma once

#include <string>
#include <vector>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/util/qzauthenticator.h"

namespace corvel::auth
{

struct NameLookup
{
    std::string itsName;
    bool itsIsGroup = false;
    qzAuthenticator::LookupResult itsResult = qzAuthenticator::lookupFailed;
    std::string itsDN;
    corvel::directory::Status itsStatus = corvel::directory::E_fail;
};

void lookUpObjectDNs(corvel::directory::DirectoryService& inDirectory,
                     std::vector<NameLookup>& ioNames);

} // namespace corvel::auth
