// Directory objects, enumerations and the translator over stand-in COM
// objects: what reaches the directory, what comes back, statuses passed
// through unchanged, and every reference given back.
#include "tests/unit/platform/directory/adsi/adsi_fakes_win.h"

#include <gtest/gtest.h>

#include "corvel/platform/directory/adsi/adsi_objects.h"
#include "corvel/platform/directory/names.h"

namespace
{

using namespace corvel::directory;
using namespace corvel::directory::adsi;
using adsitest::FakeObject;
using adsitest::FakeTranslator;
using adsitest::liveObjects;

class AdsiObjects : public ::testing::Test
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(liveObjects(), 0) << "collections or enumerations leaked";
    }
};

TEST_F(AdsiObjects, AttributesAndNameAreReadAsText)
{
    FakeObject theUser(L"CN=Ann Lee", false);
    theUser.itsValues[L"name"] = {L"Ann Lee"};
    theUser.itsValues[L"memberOf"] = {L"CN=Sales,DC=corp", L"CN=Staff,DC=corp"};
    theUser.itsLowerBound = 1;
    {
        auto theObject = wrapObject(nullptr, &theUser);
        ASSERT_TRUE(theObject);
        std::string theText;
        EXPECT_EQ(theObject->getName(theText), S_ok);
        EXPECT_EQ(theText, "CN=Ann Lee");
        EXPECT_EQ(theObject->get("name", theText), S_ok);
        EXPECT_EQ(theText, "Ann Lee");

        std::vector<std::string> theValues;
        EXPECT_EQ(theObject->getEx("memberOf", theValues), S_ok);
        EXPECT_EQ(theValues, (std::vector<std::string>{"CN=Sales,DC=corp", "CN=Staff,DC=corp"}));

        // The directory's own code, unchanged, so the caller can tell
        // "belongs to no group" from a failure.
        EXPECT_EQ(theObject->getEx("otherAttribute", theValues), E_propertyNotFound);
        EXPECT_TRUE(theValues.empty());
        EXPECT_EQ(theObject->get("description", theText), E_propertyNotFound);
        EXPECT_TRUE(theText.empty());
        EXPECT_EQ(theObject->getEx(std::string("member\0Of", 9), theValues), E_invalidArg);

        EXPECT_EQ(theObject->asGroup(), nullptr);
        EXPECT_EQ(theObject->asUser(), nullptr);
    }
    EXPECT_EQ(theUser.refs(), 1);
    EXPECT_FALSE(theUser.overReleased());
}

TEST_F(AdsiObjects, IsMemberAsksWithThePathAsGivenAndPassesFailuresOn)
{
    FakeObject theGroup(L"CN=Sales", true);
    theGroup.itsMemberPaths = {L"LDAP://CN=Ann,OU=A\\2fB,DC=corp"};
    {
        auto theObject = wrapObject(nullptr, &theGroup);
        DirGroup* theAsGroup = theObject->asGroup();
        ASSERT_NE(theAsGroup, nullptr);
        bool theAnswer = false;
        EXPECT_EQ(theAsGroup->isMember("LDAP://CN=Ann,OU=A\\2fB,DC=corp", theAnswer), S_ok);
        EXPECT_TRUE(theAnswer);
        EXPECT_EQ(theGroup.itsAskedPath, L"LDAP://CN=Ann,OU=A\\2fB,DC=corp");
        EXPECT_EQ(theAsGroup->isMember("LDAP://CN=Bob,DC=corp", theAnswer), S_ok);
        EXPECT_FALSE(theAnswer);

        theGroup.itsIsMemberResult = static_cast<HRESULT>(E_accessDenied);
        theAnswer = true;
        EXPECT_EQ(theAsGroup->isMember("LDAP://CN=Ann,OU=A\\2fB,DC=corp", theAnswer),
                  E_accessDenied);
        EXPECT_FALSE(theAnswer) << "a failed question is no";
    }
    EXPECT_EQ(theGroup.refs(), 1);

    FakeObject theUser(L"CN=Ann", false);
    {
        auto theObject = wrapObject(nullptr, &theUser);
        std::unique_ptr<DirEnumerator> theMembers;
        // The same object reached as a plain object that is not a group.
        auto* theBoth = dynamic_cast<DirGroup*>(theObject.get());
        ASSERT_NE(theBoth, nullptr);
        bool theAnswer = true;
        EXPECT_EQ(theBoth->isMember("LDAP://CN=x", theAnswer), E_noInterface);
        EXPECT_FALSE(theAnswer);
        EXPECT_EQ(theBoth->members(theMembers), E_noInterface);
        EXPECT_FALSE(theMembers);
    }
    EXPECT_EQ(theUser.refs(), 1);
}

TEST_F(AdsiObjects, MembersComeInDirectoryOrderAndTheEndStaysTheEnd)
{
    FakeObject theTop(L"CN=Top", true);
    FakeObject theNested(L"CN=Nested", true);
    FakeObject theUser(L"CN=Ann", false);
    // A member that is no object at all (null: a text element) is skipped.
    theTop.itsMembers.itsElements = {&theUser, nullptr, &theNested};
    {
        auto theObject = wrapObject(nullptr, &theTop);
        std::unique_ptr<DirEnumerator> theMembers;
        ASSERT_EQ(theObject->asGroup()->members(theMembers), S_ok);
        ASSERT_TRUE(theMembers);

        std::vector<std::string> theNames;
        std::vector<bool> theGroups;
        std::unique_ptr<DirObject> theMember;
        Status theStatus = S_ok;
        for (int curGuard = 0; curGuard < 10 && (theStatus = theMembers->next(theMember)) == S_ok;
             ++curGuard)
        {
            ASSERT_TRUE(theMember);
            std::string theName;
            EXPECT_EQ(theMember->getName(theName), S_ok);
            theNames.push_back(theName);
            theGroups.push_back(theMember->asGroup() != nullptr);
        }
        EXPECT_EQ(theStatus, S_false);
        EXPECT_FALSE(theMember);
        EXPECT_EQ(theNames, (std::vector<std::string>{"CN=Ann", "CN=Nested"}));
        EXPECT_EQ(theGroups, (std::vector<bool>{false, true}));

        int theCalls = theTop.itsMembers.itsNextCalls;
        EXPECT_EQ(theMembers->next(theMember), S_false);
        EXPECT_EQ(theTop.itsMembers.itsNextCalls, theCalls)
            << "an ended enumeration is not asked again";
    }
    EXPECT_EQ(theTop.refs(), 1);
    EXPECT_EQ(theNested.refs(), 1);
    EXPECT_EQ(theUser.refs(), 1);
}

TEST_F(AdsiObjects, EnumerationFailuresArePassedOn)
{
    FakeObject theTop(L"CN=Top", true);
    FakeObject theFirst(L"CN=First", true);
    FakeObject theSecond(L"CN=Second", true);
    theTop.itsMembers.itsElements = {&theFirst, &theSecond};
    theTop.itsMembers.itsFailAt = 1;
    theTop.itsMembers.itsFailure = static_cast<HRESULT>(E_serverDown);
    {
        auto theObject = wrapObject(nullptr, &theTop);
        std::unique_ptr<DirEnumerator> theMembers;
        ASSERT_EQ(theObject->asGroup()->members(theMembers), S_ok);
        std::unique_ptr<DirObject> theMember;
        EXPECT_EQ(theMembers->next(theMember), S_ok);
        EXPECT_TRUE(theMember);
        EXPECT_EQ(theMembers->next(theMember), E_serverDown);
        EXPECT_FALSE(theMember);
        EXPECT_EQ(theMembers->next(theMember), E_serverDown) << "stays failed";

        theTop.itsMembersResult = static_cast<HRESULT>(E_accessDenied);
        std::unique_ptr<DirEnumerator> theRefused;
        EXPECT_EQ(theObject->asGroup()->members(theRefused), E_accessDenied);
        EXPECT_FALSE(theRefused);
    }
    EXPECT_EQ(theTop.refs(), 1);
    EXPECT_EQ(theFirst.refs(), 1);
    EXPECT_EQ(theSecond.refs(), 1);
}

TEST_F(AdsiObjects, AnEnumerationOutlivingItsGroupKeepsWhatItNeeds)
{
    FakeObject theTop(L"CN=Top", true);
    FakeObject theMemberGroup(L"CN=Member", true);
    theTop.itsMembers.itsElements = {&theMemberGroup};
    std::unique_ptr<DirEnumerator> theMembers;
    {
        auto theObject = wrapObject(nullptr, &theTop);
        ASSERT_EQ(theObject->asGroup()->members(theMembers), S_ok);
    }
    std::unique_ptr<DirObject> theMember;
    EXPECT_EQ(theMembers->next(theMember), S_ok);
    ASSERT_TRUE(theMember);
    theMembers.reset();
    std::string theName;
    EXPECT_EQ(theMember->getName(theName), S_ok);
    EXPECT_EQ(theName, "CN=Member");
    theMember.reset();
    EXPECT_EQ(theTop.refs(), 1);
    EXPECT_EQ(theMemberGroup.refs(), 1);
}

TEST_F(AdsiObjects, TranslatorPassesNamesCredentialsAndCodesThrough)
{
    FakeTranslator theFake;
    {
        auto theTranslator = wrapTranslator(nullptr, &theFake);
        ASSERT_TRUE(theTranslator);
        EXPECT_EQ(theTranslator->init(InitType_GC, ""), S_ok);
        EXPECT_EQ(theTranslator->initEx(InitType_Domain, "CORP", "ann", "CORP", "s3cret!"), S_ok);
        EXPECT_EQ(theFake.itsPassword, L"s3cret!");
        EXPECT_EQ(theTranslator->set(NameType_Unknown, "ann@corp.example"), S_ok);
        theFake.itsReturnedName = L"CN=Ann Lee,OU=Staff,DC=corp,DC=example";
        std::string theName;
        EXPECT_EQ(theTranslator->get(NameType_1779, theName), S_ok);
        EXPECT_EQ(theName, "CN=Ann Lee,OU=Staff,DC=corp,DC=example");
        EXPECT_EQ(theFake.itsCalls,
                  (std::vector<std::wstring>{L"Init 3 ", L"InitEx 1 CORP ann CORP",
                                             L"Set 8 ann@corp.example", L"Get 1"}));

        // The not-found code comes back whole, so its low 16 bits still
        // read 8470.
        theFake.itsResult = static_cast<HRESULT>(E_nameNotFound);
        EXPECT_EQ(theTranslator->set(NameType_Unknown, "Nobody"), E_nameNotFound);
        EXPECT_TRUE(isNameNotFound(theTranslator->set(NameType_Unknown, "Nobody")));
        theName = "stale";
        EXPECT_EQ(theTranslator->get(NameType_1779, theName), E_nameNotFound);
        EXPECT_TRUE(theName.empty());

        // A name the directory would read shorter never reaches it.
        theFake.itsResult = S_OK;
        std::size_t theCallCount = theFake.itsCalls.size();
        EXPECT_EQ(theTranslator->set(NameType_Unknown, std::string("CORP\\ann\0x", 10)),
                  E_invalidArg);
        EXPECT_EQ(theFake.itsCalls.size(), theCallCount);
    }
    EXPECT_EQ(theFake.refs(), 1);
    EXPECT_FALSE(theFake.overReleased());
}

TEST_F(AdsiObjects, NullInterfacesWrapToNothing)
{
    EXPECT_EQ(wrapObject(nullptr, nullptr), nullptr);
    EXPECT_EQ(wrapTranslator(nullptr, nullptr), nullptr);
}

} // namespace

namespace
{

std::string sidBytes(const char* inText)
{
    std::string theBytes;
    EXPECT_TRUE(corvel::directory::names::sidFromText(inText, theBytes)) << inText;
    return theBytes;
}

} // namespace

TEST_F(AdsiObjects, PrimaryGroupMembershipIsReadFromTheMembersAttributes)
{
    // IsMember answers from the member values only; dan's primary group
    // (RID 1200) lists no member, as in the directory.
    FakeObject theGroup(L"CN=PosixStaff", true);
    theGroup.itsBytes[L"objectSid"] = sidBytes("S-1-5-21-1-2-3-1200");
    theGroup.itsValues[L"distinguishedName"] = {L"CN=PosixStaff,DC=corp"};
    FakeObject theDan(L"CN=Dan", false);
    theDan.itsBytes[L"objectSid"] = sidBytes("S-1-5-21-1-2-3-1105");
    theDan.itsNumbers[L"primaryGroupID"] = 1200;
    FakeObject theErin(L"CN=Erin", false);
    theErin.itsBytes[L"objectSid"] = sidBytes("S-1-5-21-1-2-3-1106");
    theErin.itsNumbers[L"primaryGroupID"] = 513;
    std::vector<std::wstring> theOpened;
    HRESULT theFailure = S_OK;
    Opener theOpener = [&](const std::wstring& inPath, ComPtr<IADs>& outObject) -> HRESULT
    {
        theOpened.push_back(inPath);
        if (FAILED(theFailure))
            return theFailure;
        FakeObject* theObject = inPath == L"LDAP://CN=Dan,DC=corp"              ? &theDan
                                : inPath == L"LDAP://CN=Erin,DC=corp"           ? &theErin
                                : inPath == L"LDAP://<SID=S-1-5-21-1-2-3-1200>" ? &theGroup
                                                                                : nullptr;
        if (!theObject)
            return static_cast<HRESULT>(E_noSuchObject);
        outObject = ComPtr<IADs>::share(theObject);
        return S_OK;
    };
    {
        auto theObject = wrapObject(nullptr, &theGroup, theOpener);
        DirGroup* theAsGroup = theObject->asGroup();
        ASSERT_NE(theAsGroup, nullptr);
        struct Case
        {
            const char* itsPath;
            bool itsMember;
        };
        for (const Case& curCase :
             {Case{"LDAP://CN=Dan,DC=corp", true}, Case{"LDAP://CN=Dan,DC=corp", true},
              Case{"LDAP://CN=Erin,DC=corp", false}, Case{"LDAP://CN=Gone,DC=corp", false}})
        {
            bool theAnswer = !curCase.itsMember;
            EXPECT_EQ(theAsGroup->isMember(curCase.itsPath, theAnswer), S_ok) << curCase.itsPath;
            EXPECT_EQ(theAnswer, curCase.itsMember) << curCase.itsPath;
        }
        // The member asked twice in a row is read once.
        EXPECT_EQ(theOpened.size(), 3u);

        // A member that cannot be read for another reason is a failure, not no.
        theFailure = static_cast<HRESULT>(E_accessDenied);
        bool theAnswer = true;
        EXPECT_EQ(theAsGroup->isMember("LDAP://CN=Other,DC=corp", theAnswer), E_accessDenied);
        EXPECT_FALSE(theAnswer);
        theFailure = S_OK;

        // The user's own primary group, bound by its SID.
        auto theUser = wrapObject(nullptr, &theDan, theOpener);
        std::string theDN;
        EXPECT_EQ(theUser->asGroup(), nullptr);
        auto theAsUser = dynamic_cast<DirUser*>(theUser.get());
        ASSERT_NE(theAsUser, nullptr);
        EXPECT_EQ(theAsUser->primaryGroup(theDN), S_ok);
        EXPECT_EQ(theDN, "CN=PosixStaff,DC=corp");
        auto theOther = wrapObject(nullptr, &theErin, theOpener);
        EXPECT_EQ(dynamic_cast<DirUser*>(theOther.get())->primaryGroup(theDN), S_false);
        EXPECT_TRUE(theDN.empty());
    }
    EXPECT_EQ(theGroup.refs(), 1);
    EXPECT_EQ(theDan.refs(), 1);
    EXPECT_EQ(theErin.refs(), 1);
}
