// The three ways qzMembershipRun decides (down from the group, up from the
// user, the user's token) give the same verdict to every question over a
// generated directory: security and distribution groups of every scope
// nested at random (loops too), primary groups set by hand, a group of
// thousands of members, names holding '/', quotes and UTF-8. A member's
// path is a real chain: each group holds the next, or is its primary group.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "auth_support.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/names.h"
#include "corvel/util/auth/question.h"

namespace
{

const std::string theBase = "DC=corp,DC=example,DC=test";
const std::string theDomainSid = "S-1-5-21-1-2-3";

std::string base64(const std::string& inBytes)
{
    static const char theDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string theText;
    std::size_t curAt = 0;
    for (; curAt + 3 <= inBytes.size(); curAt += 3)
    {
        const std::uint32_t theChunk = static_cast<unsigned char>(inBytes[curAt]) << 16 |
                                       static_cast<unsigned char>(inBytes[curAt + 1]) << 8 |
                                       static_cast<unsigned char>(inBytes[curAt + 2]);
        for (int curShift = 18; curShift >= 0; curShift -= 6)
            theText += theDigits[(theChunk >> curShift) & 0x3F];
    }
    const std::size_t theLeft = inBytes.size() - curAt;
    if (theLeft > 0)
    {
        std::uint32_t theChunk = static_cast<unsigned char>(inBytes[curAt]) << 16;
        if (theLeft == 2)
            theChunk |= static_cast<unsigned char>(inBytes[curAt + 1]) << 8;
        theText += theDigits[(theChunk >> 18) & 0x3F];
        theText += theDigits[(theChunk >> 12) & 0x3F];
        theText += theLeft == 2 ? theDigits[(theChunk >> 6) & 0x3F] : '=';
        theText += '=';
    }
    return theText;
}

std::string sidLine(int inRid)
{
    std::string theBytes;
    corvel::directory::names::sidFromText(theDomainSid + "-" + std::to_string(inRid), theBytes);
    return "objectSid:: " + base64(theBytes) + "\n";
}

struct Generated
{
    std::string itsLdif;
    std::vector<std::string> itsUsers;  // DNs
    std::vector<std::string> itsGroups; // DNs
};

// Names that need escaping in a DN, in an LDIF value (base64 for UTF-8) and
// in JSON, mixed into the plain ones.
std::string groupName(int inIndex)
{
    static const char* const theOdd[] = {"Sales/Marketing", "Q\"uoted\"",
                                         "Caf\xC3\xA9 \xE2\x82\xAC", "Plus+Comma,", "Back\\slash"};
    return inIndex < 5 ? theOdd[inIndex] : "G" + std::to_string(inIndex);
}

Generated generate(std::mt19937& ioRandom)
{
    constexpr int theGroups = 40;
    constexpr int theUsers = 30;
    constexpr int theCrowd = 3000; // members of the big group that are asked nothing
    Generated theOut;
    theOut.itsLdif = "dn: " + theBase +
                     "\nobjectClass: domainDNS\ndc: corp\n\n"
                     "dn: CN=Partitions,CN=Configuration," +
                     theBase +
                     "\nobjectClass: crossRefContainer\n\n"
                     "dn: CN=CORP,CN=Partitions,CN=Configuration," +
                     theBase + "\nobjectClass: crossRef\nnCName: " + theBase +
                     "\ndnsRoot: corp.example.test\nnETBIOSName: CORP\n\n";
    const auto theRdn = [](const std::string& inName)
    { return "CN=" + corvel::directory::dn::escapeDNValue(inName); };
    for (int curGroup = 0; curGroup < theGroups; ++curGroup)
        theOut.itsGroups.push_back(theRdn(groupName(curGroup)) + ",OU=Groups," + theBase);
    for (int curUser = 0; curUser < theUsers; ++curUser)
        theOut.itsUsers.push_back(
            theRdn("U" + std::to_string(curUser) + (curUser % 7 == 0 ? "/x" : "")) + ",OU=People," +
            theBase);
    std::uniform_int_distribution<int> theGroupPick(0, theGroups - 1);
    std::uniform_int_distribution<int> thePercent(0, 99);
    // Group types: global, universal, domain-local security groups, and
    // distribution groups (no security bit).
    const long long theTypes[] = {-2147483646, -2147483640, -2147483644, 2, 8};
    for (int curUser = 0; curUser < theUsers; ++curUser)
    {
        const bool theOwnPrimary = thePercent(ioRandom) < 20;
        theOut.itsLdif +=
            "dn:: " + base64(theOut.itsUsers[curUser]) + "\nobjectClass: user\nsAMAccountName: u" +
            std::to_string(curUser) + "\n" + sidLine(2000 + curUser) + "primaryGroupID: " +
            std::to_string(theOwnPrimary ? 1000 + theGroupPick(ioRandom) : 513) + "\n\n";
    }
    for (int curCrowd = 0; curCrowd < theCrowd; ++curCrowd)
        theOut.itsLdif += "dn: CN=C" + std::to_string(curCrowd) + ",OU=Crowd," + theBase +
                          "\nobjectClass: user\n" + sidLine(10000 + curCrowd) +
                          "primaryGroupID: 513\n\n";
    theOut.itsLdif += "dn: CN=Domain Users,CN=Users," + theBase + "\nobjectClass: group\n" +
                      sidLine(513) + "groupType: -2147483646\n\n";
    for (int curGroup = 0; curGroup < theGroups; ++curGroup)
    {
        theOut.itsLdif += "dn:: " + base64(theOut.itsGroups[curGroup]) + "\nobjectClass: group\n" +
                          sidLine(1000 + curGroup) +
                          "groupType: " + std::to_string(theTypes[thePercent(ioRandom) % 5]) + "\n";
        // A few groups of groups (loops possible), users here and there.
        for (int curMember = 0; curMember < 2; ++curMember)
            if (thePercent(ioRandom) < 60)
                theOut.itsLdif +=
                    "member:: " + base64(theOut.itsGroups[theGroupPick(ioRandom)]) + "\n";
        for (const std::string& curUser : theOut.itsUsers)
            if (thePercent(ioRandom) < 4)
                theOut.itsLdif += "member:: " + base64(curUser) + "\n";
        if (curGroup == 7)
            for (int curCrowd = 0; curCrowd < theCrowd; ++curCrowd)
                theOut.itsLdif +=
                    "member: CN=C" + std::to_string(curCrowd) + ",OU=Crowd," + theBase + "\n";
        theOut.itsLdif += "\n";
    }
    return theOut;
}

// Each step of the path is a member link: the group names the next one as
// a member, or (last) is the user's primary group.
void expectChain(corvel::directory::DirectoryService& inDirectory,
                 const std::vector<std::string>& inPath, const std::string& inWhat)
{
    ASSERT_GE(inPath.size(), 2u) << inWhat;
    for (std::size_t curStep = 0; curStep + 1 < inPath.size(); ++curStep)
    {
        std::unique_ptr<corvel::directory::DirObject> theGroup;
        ASSERT_EQ(corvel::directory::openByDN(inDirectory, inPath[curStep], nullptr,
                                              corvel::directory::ObjectKind::Group, theGroup),
                  corvel::directory::S_ok)
            << inWhat;
        bool theIsMember = false;
        EXPECT_EQ(theGroup->asGroup()->isMember(
                      corvel::directory::dn::ldapPath(inPath[curStep + 1]), theIsMember),
                  corvel::directory::S_ok);
        EXPECT_TRUE(theIsMember) << inWhat << ": " << inPath[curStep + 1] << " is no member of "
                                 << inPath[curStep];
    }
}

TEST(MembershipMethods, SameVerdictEveryWayAndRealPaths)
{
    for (unsigned curSeed : {1u, 2u, 3u})
    {
        std::mt19937 theRandom(curSeed);
        const Generated theDirectory = generate(theRandom);
        authtest::LdifDirectory theService(theDirectory.itsLdif);
        std::vector<std::pair<std::string, std::string>> theQuestions;
        for (const std::string& curUser : theDirectory.itsUsers)
            for (const std::string& curGroup : theDirectory.itsGroups)
                theQuestions.emplace_back(curUser, curGroup);

        std::vector<std::vector<qzMembershipQuestion::Answer>> theAnswers;
        for (qzMembershipRun::Method curMethod :
             {qzMembershipRun::methodDown, qzMembershipRun::methodUp, qzMembershipRun::methodToken})
        {
            qzMembershipRun::Options theOptions;
            theOptions.itsMethod = curMethod;
            qzMembershipRun theRun(*theService.service(), theOptions);
            theAnswers.push_back(theRun.askMany(theQuestions));
        }
        // The token alone, without the path: its yes is taken as it is.
        qzMembershipRun::Options theBare;
        theBare.itsWantPath = false;
        theAnswers.push_back(qzMembershipRun(*theService.service(), theBare).askMany(theQuestions));

        std::size_t theMembers = 0;
        for (std::size_t curQuestion = 0; curQuestion < theQuestions.size(); ++curQuestion)
        {
            const std::string theWhat = "seed " + std::to_string(curSeed) + ": " +
                                        theQuestions[curQuestion].first + " in " +
                                        theQuestions[curQuestion].second;
            const qzMembershipQuestion::Outcome theDown = theAnswers[0][curQuestion].outcome();
            ASSERT_TRUE(theDown == qzMembershipQuestion::outcomeMember ||
                        theDown == qzMembershipQuestion::outcomeNotMember)
                << theWhat << ": " << theAnswers[0][curQuestion].problem();
            for (std::size_t curWay = 1; curWay < theAnswers.size(); ++curWay)
                EXPECT_EQ(theAnswers[curWay][curQuestion].outcome(), theDown)
                    << theWhat << ", way " << curWay;
            if (theDown != qzMembershipQuestion::outcomeMember)
                continue;
            ++theMembers;
            for (std::size_t curWay = 0; curWay < 3; ++curWay)
                expectChain(*theService.service(), theAnswers[curWay][curQuestion].itsWalk.itsPath,
                            theWhat + ", way " + std::to_string(curWay));
        }
        // Enough of both answers to mean something.
        EXPECT_GT(theMembers, theQuestions.size() / 20) << "seed " << curSeed;
        EXPECT_LT(theMembers, theQuestions.size() * 19 / 20) << "seed " << curSeed;
    }
}

} // namespace
