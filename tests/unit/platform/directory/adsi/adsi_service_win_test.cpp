// The service against the real runtime of a machine in no domain: failures
// come back as the runtime's codes, with nothing handed out and the runtime
// initialisation bracketed by the service and what it handed out.
#include "corvel/platform/directory/adsi/adsi_com.h"

#include <gtest/gtest.h>

#include "corvel/platform/directory/adsi/adsi_backend.h"
#include "corvel/platform/directory/adsi/adsi_objects.h"
#include "tests/unit/platform/directory/adsi/adsi_fakes_win.h"

namespace
{

using namespace corvel::directory;

// Whether the calling thread has the runtime initialised: a further
// CoInitialize then only counts up.
bool threadInitialised()
{
    HRESULT theResult = CoInitialize(nullptr);
    if (SUCCEEDED(theResult))
        CoUninitialize();
    return theResult == S_FALSE;
}

TEST(AdsiService, TheServiceBracketsTheRuntimeOnItsThread)
{
    ASSERT_FALSE(threadInitialised());
    {
        auto theService = adsi::makeAdsiService();
        EXPECT_TRUE(threadInitialised());
        {
            // A second service on the same thread nests inside the first.
            auto theInner = adsi::makeAdsiService();
            EXPECT_TRUE(threadInitialised());
        }
        EXPECT_TRUE(threadInitialised()) << "the inner service must not undo the outer one";
    }
    EXPECT_FALSE(threadInitialised());
}

TEST(AdsiService, AnObjectKeptPastItsServiceKeepsTheRuntime)
{
    adsitest::FakeObject theFake(L"CN=Sales", true);
    std::unique_ptr<DirObject> theObject;
    {
        auto theApartment = std::make_shared<adsi::Apartment>();
        theObject = adsi::wrapObject(theApartment, &theFake);
    }
    EXPECT_TRUE(threadInitialised());
    theObject.reset();
    EXPECT_FALSE(threadInitialised());
    EXPECT_EQ(theFake.refs(), 1);
}

TEST(AdsiService, TranslatorCreationFailureIsTheRuntimeCode)
{
    auto theService = adsi::makeAdsiService();
    std::unique_ptr<NameTranslator> theTranslator;
    Status theStatus = theService->createNameTranslator(theTranslator);
    if (failed(theStatus))
    {
        // No directory client registered here: the code as the runtime gave it.
        EXPECT_EQ(theStatus, E_classNotRegistered);
        EXPECT_FALSE(theTranslator);
        return;
    }
    // A runtime that has the class: a machine in no domain cannot init it
    // on the global catalog.
    ASSERT_TRUE(theTranslator);
    EXPECT_TRUE(failed(theTranslator->init(InitType_GC, "")));
}

TEST(AdsiService, OpeningFailsCleanlyWithAndWithoutCredentials)
{
    adsitest::FakeObject theStale(L"CN=Stale", true);
    auto theService = adsi::makeAdsiService();
    std::unique_ptr<DirObject> theObject;
    Credentials theCredentials{"CORP\\ann", "s3cret!"};
    Credentials theHalf{"CORP\\ann", ""};
    const Credentials* theChoices[] = {nullptr, &theHalf, &theCredentials};
    for (const Credentials* curCredentials : theChoices)
    {
        for (ObjectKind curKind : {ObjectKind::Object, ObjectKind::Group, ObjectKind::User})
        {
            theObject = adsi::wrapObject(nullptr, &theStale); // what the call must drop
            Status theStatus =
                theService->openObject("LDAP://dc.corp.invalid/CN=Sales,DC=corp,DC=invalid",
                                       curCredentials, curKind, theObject);
            EXPECT_TRUE(failed(theStatus)) << std::hex << theStatus;
            EXPECT_FALSE(theObject);
        }
    }
    // A path the directory would read shorter is refused before it is asked.
    EXPECT_EQ(theService->openObject(std::string("LDAP://CN=a\0,DC=b", 17), nullptr,
                                     ObjectKind::Group, theObject),
              E_invalidArg);
    EXPECT_FALSE(theObject);
    EXPECT_EQ(theStale.refs(), 1);
}

} // namespace
