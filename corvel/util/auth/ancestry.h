// Membership answered from the user's side of the graph: the user's token
// and an upward walk over the groups above it, each level of every question
// of a batch read in one round trip. The cost follows the user's ancestry,
// never the size of the group asked about. Internal to the authenticator;
// qzMembershipRun (question.h) asks through it.
//
// The verdict is the downward walk's: a user is a member when a chain of
// member links (and its primary group) leads from the group down to it.
// The token (tokenGroups) holds exactly the security groups reached through
// security groups, so a group found in it is a member; it holds no
// distribution group, nor anything reached only through one, so its "no" is
// never taken alone. Where the upward data cannot be complete (a group
// hidden from us, an object of another domain) the question is left
// undecided, for the downward walk.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/util/qzauthenticator.h"

namespace corvel::auth
{

// What the answers of a run learnt of the directory: each object's groups
// (memberOf), its SID and its kind. The directory is taken as unchanged for
// the run.
class Ancestry
{
public:
    struct Node
    {
        std::string itsDN;
        bool itsRead = false;
        corvel::directory::Status itsStatus = corvel::directory::S_ok; // of its read
        bool itsIsGroup = false;
        std::string itsSid;                // canonical text; empty when none
        long long itsGroupType = 0;        // 0 when unknown
        std::vector<std::string> itsUp;    // its memberOf, as keys of nodes
        std::string itsPrimarySid;         // an account's primary group's SID
        std::vector<std::string> itsToken; // an account's tokenGroups, canonical SIDs
        bool itsTokenRead = false;
    };

    // A name to read: a DN or "<SID=...>", with the token or without.
    struct Wanted
    {
        std::string itsName;
        bool itsWithToken = false;
    };

    // inDN's node, made when new; null for text that is no DN.
    Node* node(const std::string& inDN);
    // By the DN's normal form; null when unknown.
    Node* nodeOfKey(const std::string& inKey);
    Node* nodeOfSid(const std::string& inSid);
    std::size_t size() const { return itsNodes.size(); }

    // Reads, in one call of the service, what is not known yet of inWanted.
    // A failure only when the directory could not be asked at all; each
    // node says how its own read went.
    corvel::directory::Status read(corvel::directory::DirectoryService& inService,
                                   const std::vector<Wanted>& inWanted);

private:
    void take(const corvel::directory::ObjectRead& inRead, bool inWithToken);

    std::unordered_map<std::string, Node> itsNodes;           // by the DN's normal form
    std::unordered_map<std::string, std::string> itsKeyBySid; // SID -> key
    std::unordered_set<std::string> itsTriedSids;             // "<SID=...>" asked already
};

// One question for the upward answer.
struct UpwardQuestion
{
    std::string itsUserDN;
    std::string itsGroupDN;
    bool itsWantPath = true; // a member's path is asked too

    // Whether it was decided here; when not, itsWhyDown says why the
    // downward walk must decide it.
    bool itsDecided = false;
    std::string itsWhyDown;
    qzAuthenticator::MembershipAnswer itsAnswer;
};

enum class UpwardMethod
{
    Walk,  // the upward walk alone
    Token, // the token first; the walk only where it cannot decide
};

// Answers ioQuestions together.
void answerUpward(corvel::directory::DirectoryService& inService, Ancestry& ioAncestry,
                  std::vector<UpwardQuestion>& ioQuestions, UpwardMethod inMethod);

} // namespace corvel::auth
