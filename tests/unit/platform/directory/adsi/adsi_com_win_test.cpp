// The runtime owners: references, strings and variants given back on every
// path; text converted exactly or refused; attribute variants read without
// writing past an element.
#include "tests/unit/platform/directory/adsi/adsi_fakes_win.h"

#include <gtest/gtest.h>

namespace
{

using namespace corvel::directory;
using namespace corvel::directory::adsi;
using adsitest::FakeObject;

constexpr Status CantConvert = static_cast<Status>(E_ADS_CANT_CONVERT_DATATYPE);

TEST(AdsiOwners, ComPtrGivesBackEveryReferenceItTakes)
{
    FakeObject theObject(L"CN=Sales", true);
    {
        auto theFirst = ComPtr<IADs>::share(&theObject);
        EXPECT_EQ(theObject.refs(), 2);
        ComPtr<IADs> theCopy = theFirst;
        EXPECT_EQ(theObject.refs(), 3);
        ComPtr<IADs> theMoved = std::move(theCopy);
        EXPECT_EQ(theObject.refs(), 3) << "a move takes no reference";
        EXPECT_FALSE(theCopy);
        theMoved = theFirst; // assigning over a held reference gives the old one back
        EXPECT_EQ(theObject.refs(), 3);
        theMoved.reset();
        EXPECT_EQ(theObject.refs(), 2);

        ComPtr<IADsGroup> theGroup;
        EXPECT_EQ(theFirst.query(IID_IADsGroup, theGroup), S_OK);
        EXPECT_EQ(theObject.refs(), 3);
        ComPtr<IADsUser> theUser;
        EXPECT_EQ(theFirst.query(IID_IADsUser, theUser), E_NOINTERFACE);
        EXPECT_FALSE(theUser);
        EXPECT_EQ(theObject.refs(), 3);

        theObject.AddRef(); // as a runtime out-parameter hands one over
        auto theAdopted = ComPtr<IADs>::adopt(&theObject);
        EXPECT_EQ(theObject.refs(), 4);
    }
    EXPECT_EQ(theObject.refs(), 1);
    EXPECT_FALSE(theObject.overReleased());
}

TEST(AdsiOwners, VariantReleasesTheObjectItHolds)
{
    FakeObject theObject(L"CN=Sales", true);
    {
        Variant theValue;
        theObject.AddRef();
        theValue.get()->vt = VT_DISPATCH;
        theValue.get()->pdispVal = &theObject;
        EXPECT_EQ(theObject.refs(), 2);
        // Reusing it as an out-parameter clears what it held first.
        VARIANT* theSlot = theValue.put();
        EXPECT_EQ(theObject.refs(), 1);
        EXPECT_EQ(theSlot->vt, VT_EMPTY);
        theObject.AddRef();
        theSlot->vt = VT_DISPATCH;
        theSlot->pdispVal = &theObject;
    }
    EXPECT_EQ(theObject.refs(), 1);
}

TEST(AdsiText, NarrowTextConvertsExactlyOrIsRefused)
{
    Bstr theText;
    ASSERT_EQ(Bstr::fromNarrow("CN=Sales,DC=corp,DC=example", theText), S_ok);
    EXPECT_EQ(std::wstring(theText.get(), theText.length()), L"CN=Sales,DC=corp,DC=example");
    std::string theBack;
    EXPECT_EQ(theText.toNarrow(theBack), S_ok);
    EXPECT_EQ(theBack, "CN=Sales,DC=corp,DC=example");

    // Empty text is an empty string, not a missing one.
    ASSERT_EQ(Bstr::fromNarrow("", theText), S_ok);
    ASSERT_NE(theText.get(), nullptr);
    EXPECT_EQ(theText.length(), 0u);

    // A NUL inside would make the directory read a shorter name.
    EXPECT_EQ(Bstr::fromNarrow(std::string("CN=Sales\0,DC=other", 18), theText), E_invalidArg);
    EXPECT_EQ(theText.get(), nullptr);
    std::wstring theWide = L"left over";
    EXPECT_EQ(narrowToWide(std::string("a\0b", 3), theWide), E_invalidArg);
    EXPECT_TRUE(theWide.empty());
}

TEST(AdsiText, WideTextKeepsItsLengthAndRefusesWhatTheCodePageLacks)
{
    // A returned string's length comes from its prefix, not its first NUL.
    Bstr theText;
    *theText.put() = SysAllocStringLen(L"a\0b", 3);
    std::string theNarrow;
    EXPECT_EQ(theText.toNarrow(theNarrow), S_ok);
    EXPECT_EQ(theNarrow, std::string("a\0b", 3));

    // A character with no equivalent would come back as '?' and name
    // another object.
    const wchar_t theForeign[] = L"CN=\x4E2D\x6587,DC=corp";
    if (GetACP() != CP_UTF8)
    {
        theNarrow = "left over";
        EXPECT_EQ(wideToNarrow(theForeign, wcslen(theForeign), theNarrow), E_invalidArg);
        EXPECT_TRUE(theNarrow.empty());
    }
    EXPECT_EQ(wideToNarrow(nullptr, 5, theNarrow), S_ok);
    EXPECT_TRUE(theNarrow.empty());
}

// A one-dimensional array of the given element type and lower bound.
SAFEARRAY* makeArray(VARTYPE inType, LONG inLower, const std::vector<const wchar_t*>& inValues)
{
    SAFEARRAYBOUND theBound{static_cast<ULONG>(inValues.size()), inLower};
    SAFEARRAY* theArray = SafeArrayCreate(inType, 1, &theBound);
    for (std::size_t curIndex = 0; curIndex < inValues.size(); ++curIndex)
    {
        LONG theIndex = inLower + static_cast<LONG>(curIndex);
        if (inType == VT_VARIANT)
        {
            Variant theElement;
            theElement.get()->vt = VT_BSTR;
            theElement.get()->bstrVal = SysAllocString(inValues[curIndex]);
            SafeArrayPutElement(theArray, &theIndex, theElement.get());
        }
        else
        {
            Bstr theElement;
            *theElement.put() = SysAllocString(inValues[curIndex]);
            SafeArrayPutElement(theArray, &theIndex, theElement.get());
        }
    }
    return theArray;
}

TEST(AdsiVariants, ArraysAreReadInIndexOrderFromAnyLowerBound)
{
    std::vector<std::string> theValues;
    for (VARTYPE curType : {VARTYPE(VT_VARIANT), VARTYPE(VT_BSTR)})
    {
        Variant theValue;
        theValue.get()->vt = VT_ARRAY | curType;
        theValue.get()->parray = makeArray(curType, 5, {L"CN=A,DC=x", L"CN=B,DC=x", L"CN=C,DC=x"});
        ASSERT_EQ(variantStrings(*theValue.get(), theValues), S_ok);
        EXPECT_EQ(theValues, (std::vector<std::string>{"CN=A,DC=x", "CN=B,DC=x", "CN=C,DC=x"}));
    }

    // Elements that are no text are skipped, the rest kept in order.
    FakeObject theObject(L"CN=x", false);
    {
        Variant theValue;
        theValue.get()->vt = VT_ARRAY | VT_VARIANT;
        theValue.get()->parray = makeArray(VT_VARIANT, 0, {L"first", L"", L"third"});
        LONG theIndex = 1;
        Variant theObjectElement;
        theObject.AddRef();
        theObjectElement.get()->vt = VT_DISPATCH;
        theObjectElement.get()->pdispVal = &theObject;
        ASSERT_EQ(SafeArrayPutElement(theValue.get()->parray, &theIndex, theObjectElement.get()),
                  S_OK);
        ASSERT_EQ(variantStrings(*theValue.get(), theValues), S_ok);
        EXPECT_EQ(theValues, (std::vector<std::string>{"first", "third"}));
    }
    EXPECT_EQ(theObject.refs(), 1) << "the array copy of the object is released with the array";
}

TEST(AdsiVariants, ShapesThatAreNoListOfTextAreRefusedWithoutReadingPastAnElement)
{
    std::vector<std::string> theValues{"stale"};

    Variant theNull;
    theNull.get()->vt = VT_ARRAY | VT_VARIANT;
    theNull.get()->parray = nullptr;
    EXPECT_EQ(variantStrings(*theNull.get(), theValues), S_ok);
    EXPECT_TRUE(theValues.empty()) << "a null array is no values";

    // The variant claims VARIANT elements but the array holds BSTRs (8 bytes
    // each, not 24): fetching into a VARIANT would read past each element.
    Variant theMismatch;
    theMismatch.get()->vt = VT_ARRAY | VT_VARIANT;
    theMismatch.get()->parray = makeArray(VT_BSTR, 0, {L"a", L"b"});
    EXPECT_EQ(variantStrings(*theMismatch.get(), theValues), CantConvert);
    EXPECT_TRUE(theValues.empty());

    SAFEARRAYBOUND theBounds[2] = {{2, 0}, {2, 0}};
    Variant theTwoDimensional;
    theTwoDimensional.get()->vt = VT_ARRAY | VT_VARIANT;
    theTwoDimensional.get()->parray = SafeArrayCreate(VT_VARIANT, 2, theBounds);
    EXPECT_EQ(variantStrings(*theTwoDimensional.get(), theValues), CantConvert);

    SAFEARRAYBOUND theBound{2, 0};
    Variant theNumbers;
    theNumbers.get()->vt = VT_ARRAY | VT_I4;
    theNumbers.get()->parray = SafeArrayCreate(VT_I4, 1, &theBound);
    EXPECT_EQ(variantStrings(*theNumbers.get(), theValues), CantConvert);

    Variant theEmpty;
    EXPECT_EQ(variantStrings(*theEmpty.get(), theValues), CantConvert)
        << "no value is not one empty value";
}

TEST(AdsiVariants, SingleValuesAreOneText)
{
    std::vector<std::string> theValues;
    Variant theText;
    theText.get()->vt = VT_BSTR;
    theText.get()->bstrVal = SysAllocString(L"Sales");
    ASSERT_EQ(variantStrings(*theText.get(), theValues), S_ok);
    EXPECT_EQ(theValues, std::vector<std::string>{"Sales"});

    Variant theNumber;
    theNumber.get()->vt = VT_I4;
    theNumber.get()->lVal = 513;
    std::string theValue;
    EXPECT_EQ(variantString(*theNumber.get(), theValue), S_ok);
    EXPECT_EQ(theValue, "513");
}

TEST(AdsiApartment, InitialisesTheThreadUntilTheLastOwnerGoes)
{
    {
        auto theApartment = std::make_shared<Apartment>();
        ASSERT_TRUE(SUCCEEDED(theApartment->initResult()));
        // While it lives the thread is initialised: another CoInitialize
        // only counts up (S_FALSE).
        HRESULT theNested = CoInitialize(nullptr);
        EXPECT_EQ(theNested, S_FALSE);
        CoUninitialize();
    }
    // Gone: the thread is back to uninitialised, so this is a first one.
    HRESULT theFresh = CoInitialize(nullptr);
    EXPECT_EQ(theFresh, S_OK);
    if (SUCCEEDED(theFresh))
        CoUninitialize();
}

TEST(AdsiApartment, AFailedInitialisationIsNotUndone)
{
    // The thread is already in the multithreaded apartment.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
        Apartment theApartment;
        EXPECT_EQ(theApartment.initResult(), RPC_E_CHANGED_MODE);
    }
    // Had the apartment balanced the failed call, the thread's own
    // initialisation would be gone and this would be a first one (S_OK).
    HRESULT theAgain = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(theAgain, S_FALSE);
    if (SUCCEEDED(theAgain))
        CoUninitialize();
    CoUninitialize();
}

} // namespace
