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

// The plans of a walk memory.
qzWalkMemory::Plans& walkMemoryPlans(qzWalkMemory& ioMemory);

namespace corvel::auth
{

// What one question asks of a run's walk memory (none: every step says
// "walk live").
class MemoryUse
{
public:
    MemoryUse(qzWalkMemory* ioMemory, corvel::directory::DirectoryService& inService,
              const std::string& inGroupDN, const std::string& inUserDN);

    // Before the group is opened: the answer from an earlier walk under the
    // same group; false when there is none or it cannot be given exactly.
    bool replay(qzAuthenticator::MembershipAnswer& outAnswer);
    // The first question under the group, once it is open: records the walk
    // below it whole and answers from that; false when the walk must be
    // made live (it met a failure, or the question cannot be answered
    // exactly).
    bool recordAndReplay(corvel::directory::DirGroup& inGroup,
                         qzAuthenticator::MembershipAnswer& outAnswer);

private:
    qzWalkMemory::Plans* itsPlans = nullptr;
    corvel::directory::DirectoryService& itsService;
    const std::string& itsGroupDN;
    const std::string& itsUserDN;
    std::string itsGroupKey;
    bool itsKnown = false; // a plan (usable or not) exists for the group
};

} // namespace corvel::auth
