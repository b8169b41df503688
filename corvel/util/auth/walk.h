// The membership walk's pieces that the walk memory shares: how a group is
// named and keyed, the first failure a walk meets, and how a walk's answer
// is decided. Internal to the authenticator.
#pragma once

#include <string>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/util/qzauthenticator.h"

namespace corvel::auth
{

// The first failure a walk meets: kept for the answer while the walk goes
// on, since a path found later still decides.
struct WalkFailure
{
    corvel::directory::Status itsStatus = corvel::directory::S_ok;
    qzAuthenticator::WalkStep itsStep = qzAuthenticator::stepNone;
    std::string itsGroup;

    void note(corvel::directory::Status inStatus, qzAuthenticator::WalkStep inStep,
              const std::string& inGroup);
};

std::string relativeName(corvel::directory::DirGroup& inGroup);

// A group's DN as the directory gives it, for the path and the record of
// groups entered. A group whose DN cannot be read is known by its relative
// name: in the path as it is, in the record under a key no DN can have, so
// that a loop through it still ends.
void groupIdentity(corvel::directory::DirGroup& inGroup, const std::string& inRelativeName,
                   std::string& outDN, std::string& outKey);

qzAuthenticator::MembershipVerdict decide(bool inFound, const WalkFailure& inFailure,
                                          qzAuthenticator::MembershipAnswer& outAnswer);

} // namespace corvel::auth
