// The walk memory's plans, recorded by one walk and replayed for later
// questions under the same group. Internal to the authenticator.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/util/qzauthenticator.h"

struct qzWalkMemory::Plans
{
    // One remembered walk below one group.
    struct Plan
    {
        bool itsUsable = false;                // false: the walk met a failure, walk live
        std::vector<std::string> itsDNs;       // the groups in the order the walk enters them
        std::vector<std::uint32_t> itsParents; // the group each was entered from (0 for the top)
        // Member value (normal form) -> the first group in walk order naming it.
        std::unordered_map<std::string, std::uint32_t> itsFirstHolder;
        // Group (normal form) -> its place in walk order.
        std::unordered_map<std::string, std::uint32_t> itsPlace;
    };
    std::unordered_map<std::string, Plan> itsPlans; // by the top group's normal form
    // Domain and primaryGroupID -> the primary group's normal form ("" for none).
    std::unordered_map<std::string, std::string> itsPrimaryGroups;
    std::size_t itsReplayed = 0;
    std::size_t itsRecorded = 0;
};

namespace corvel::auth
{

using Plan = qzWalkMemory::Plans::Plan;

// The walk's order of entering groups, taken whole: every group below the
// top, entered once, depth-first in directory order, each with all its
// member values. False at the first failure: such a tree is walked live.
bool recordPlan(corvel::directory::DirGroup& inTop, const std::string& inTopDN, Plan& outPlan);

// The answer from a remembered walk; false when it cannot be given exactly.
bool replayPlan(const Plan& inPlan, corvel::directory::DirectoryService& inService,
                qzWalkMemory::Plans& ioPlans, const std::string& inGroupDN,
                const std::string& inUserDN, qzAuthenticator::MembershipAnswer& outAnswer);

} // namespace corvel::auth
