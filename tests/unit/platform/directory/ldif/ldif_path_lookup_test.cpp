// The DN id a path names: every answer the same whether or not it came from
// the kept last answer, also when paths alternate or fail.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "corvel/platform/directory/ldif/ldif_directory.h"
#include "corvel/platform/directory/ldif/ldif_loader.h"
#include "tests/unit/platform/directory/dir_test_util.h"

using namespace corvel::directory::ldif;

TEST(LdifPathLookup, AnswersStayRightAcrossPathsAndFailures)
{
    dirtest::LogCapture theLog;
    auto theDir = loadDirectory(dirtest::writeFile(
        "paths.ldif", "dn: CN=A/B,DC=y\nobjectClass: group\nmember: CN=U,DC=y\n\n"
                      "dn: CN=U,DC=y\nobjectClass: user\n"));
    const std::uint32_t theGroup = theDir->findDn("CN=A/B,DC=y");
    const std::uint32_t theUser = theDir->findDn("CN=U,DC=y");
    ASSERT_NE(theGroup, NoIndex);
    ASSERT_NE(theUser, NoIndex);

    struct Case
    {
        std::string itsPath;
        bool itsOk;
        std::uint32_t itsDn;
        bool itsBadPath;
    };
    const std::vector<Case> theCases = {
        {"LDAP://CN=U,DC=y", true, theUser, false},
        {"LDAP://CN=U,DC=y", true, theUser, false},
        {"LDAP://cn=u,dc=Y", true, theUser, false},
        {"LDAP://CN=A\\2fB,DC=y", true, theGroup, false},
        {"LDAP://CN=Nobody,DC=y", true, NoIndex, false},
        {"GC://CN=U,DC=y", false, NoIndex, true},
        {"LDAP://not a dn", false, NoIndex, false},
        {"LDAP://not a dn", false, NoIndex, false},
        {"LDAP://CN=U,DC=y", true, theUser, false},
    };
    for (int curRound = 0; curRound < 2; ++curRound)
        for (const Case& curCase : theCases)
        {
            std::uint32_t theDn = 12345;
            bool theBadPath = !curCase.itsBadPath;
            EXPECT_EQ(theDir->findPathDn(curCase.itsPath, theDn, theBadPath), curCase.itsOk)
                << curCase.itsPath;
            EXPECT_EQ(theDn, curCase.itsDn) << curCase.itsPath;
            EXPECT_EQ(theBadPath, curCase.itsBadPath) << curCase.itsPath;
        }
}

TEST(LdifPathLookup, ThreadsAskingDifferentPathsGetTheirOwnAnswers)
{
    dirtest::LogCapture theLog;
    std::string theText;
    for (int curIndex = 0; curIndex < 4; ++curIndex)
        theText += "dn: CN=U" + std::to_string(curIndex) + ",DC=y\nobjectClass: user\n\n";
    auto theDir = loadDirectory(dirtest::writeFile("threads.ldif", theText));
    std::vector<std::uint32_t> theIds;
    for (int curIndex = 0; curIndex < 4; ++curIndex)
        theIds.push_back(theDir->findDn("CN=U" + std::to_string(curIndex) + ",DC=y"));
    std::vector<int> theWrong(4, 0);
    std::vector<std::thread> theThreads;
    for (int curThread = 0; curThread < 4; ++curThread)
        theThreads.emplace_back(
            [&, curThread]
            {
                const std::string thePath = "LDAP://CN=U" + std::to_string(curThread) + ",DC=y";
                for (int curRound = 0; curRound < 2000; ++curRound)
                {
                    std::uint32_t theDn = NoIndex;
                    bool theBadPath = true;
                    if (!theDir->findPathDn(thePath, theDn, theBadPath) ||
                        theDn != theIds[curThread] || theBadPath)
                        ++theWrong[curThread];
                }
            });
    for (std::thread& curThread : theThreads)
        curThread.join();
    EXPECT_EQ(theWrong, std::vector<int>(4, 0));
}
