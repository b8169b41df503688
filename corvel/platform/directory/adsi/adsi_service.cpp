// The directory service over the Active Directory Service Interfaces: the
// name translator, objects opened by LDAP path, and the member and group
// enumerations. Every status is the runtime's own HRESULT.
// adsi_com.h brings <windows.h>, which the directory headers need first;
// activeds.h includes those in the order they need each other.
#include "corvel/platform/directory/adsi/adsi_com.h"

#include <activeds.h>

#include <utility>

#include "corvel/platform/directory/adsi/adsi_backend.h"
#include "corvel/platform/directory/adsi/adsi_objects.h"

namespace corvel::directory::adsi
{

namespace
{

static_assert(BindFlags == (ADS_SECURE_AUTHENTICATION | ADS_USE_DELEGATION));

Status status(HRESULT inResult) { return static_cast<Status>(inResult); }

// ------------------------------------------------------------- enumerator

// Members of a group or groups of a user, one at a time, in the order the
// directory gives them.
//
// The collection's enumeration is taken straight from get__NewEnum and read
// with IEnumVARIANT::Next(1), which is all the ADsBuildEnumerator /
// ADsEnumerateNext / ADsFreeEnumerator helpers do: the builder takes a
// container, and a member collection is no container (passing one means
// reinterpreting its vtable), and some runtimes ship the helpers as stubs.
class AdsiEnumerator final : public DirEnumerator
{
public:
    AdsiEnumerator(std::shared_ptr<Apartment> inApartment, ComPtr<IADsMembers> inCollection)
        : itsApartment(std::move(inApartment)), itsCollection(std::move(inCollection))
    {
        ComPtr<IUnknown> theUnknown;
        HRESULT theResult = itsCollection->get__NewEnum(theUnknown.put());
        if (SUCCEEDED(theResult))
            theResult = theUnknown ? theUnknown.query(IID_IEnumVARIANT, itsEnum) : E_FAIL;
        if (SUCCEEDED(theResult) && !itsEnum)
            theResult = E_FAIL;
        // The failure is reported by the first next(), so that a caller who
        // got the collection tells "no members obtainable" from "none".
        itsStatus = FAILED(theResult) ? status(theResult) : S_ok;
    }

    Status next(std::unique_ptr<DirObject>& outObject) override
    {
        outObject.reset();
        // Once ended, ended: an enumeration that starts over would make the
        // caller's walk endless.
        while (itsStatus == S_ok)
        {
            Variant theElement;
            ULONG theFetched = 0;
            HRESULT theResult = itsEnum->Next(1, theElement.put(), &theFetched);
            if (theResult != S_OK || theFetched != 1)
            {
                itsStatus = FAILED(theResult) ? status(theResult) : S_false;
                break;
            }
            IUnknown* theUnknown = nullptr;
            if (theElement.type() == VT_DISPATCH)
                theUnknown = theElement.get()->pdispVal;
            else if (theElement.type() == VT_UNKNOWN)
                theUnknown = theElement.get()->punkVal;
            if (!theUnknown)
                continue; // not an object: nothing a caller could open
            ComPtr<IADs> theObject;
            if (FAILED(theUnknown->QueryInterface(IID_IADs, theObject.putVoid())) || !theObject)
                continue;
            outObject = wrapObject(itsApartment, theObject.get());
            return S_ok;
        }
        return itsStatus;
    }

private:
    // Declared first so that the runtime outlives the interfaces below.
    std::shared_ptr<Apartment> itsApartment;
    ComPtr<IADsMembers> itsCollection;
    ComPtr<IEnumVARIANT> itsEnum;
    Status itsStatus = S_false;
};

// ----------------------------------------------------------------- object

class AdsiObject final : public DirGroup, public DirUser
{
public:
    AdsiObject(std::shared_ptr<Apartment> inApartment, ComPtr<IADs> inObject)
        : itsApartment(std::move(inApartment)), itsObject(std::move(inObject))
    {
    }

    Status getName(std::string& outName) override
    {
        outName.clear();
        Bstr theName;
        HRESULT theResult = itsObject->get_Name(theName.put());
        if (FAILED(theResult))
            return status(theResult);
        return theName.toNarrow(outName);
    }

    Status get(const std::string& inAttribute, std::string& outValue) override
    {
        outValue.clear();
        Bstr theAttribute;
        Status theStatus = Bstr::fromNarrow(inAttribute, theAttribute);
        if (theStatus != S_ok)
            return theStatus;
        Variant theValue;
        HRESULT theResult = itsObject->Get(theAttribute.get(), theValue.put());
        if (FAILED(theResult))
            return status(theResult);
        if (!(theValue.type() & VT_ARRAY))
            return variantString(*theValue.get(), outValue);
        // A multi-valued attribute read as one value: its first value.
        std::vector<std::string> theValues;
        theStatus = variantStrings(*theValue.get(), theValues);
        if (theStatus != S_ok)
            return theStatus;
        if (theValues.empty())
            return E_propertyNotFound;
        outValue = std::move(theValues.front());
        return S_ok;
    }

    Status getEx(const std::string& inAttribute, std::vector<std::string>& outValues) override
    {
        outValues.clear();
        Bstr theAttribute;
        Status theStatus = Bstr::fromNarrow(inAttribute, theAttribute);
        if (theStatus != S_ok)
            return theStatus;
        Variant theValue;
        HRESULT theResult = itsObject->GetEx(theAttribute.get(), theValue.put());
        if (FAILED(theResult))
            return status(theResult);
        return variantStrings(*theValue.get(), outValues);
    }

    DirGroup* asGroup() override
    {
        if (!itsGroupAsked)
        {
            itsGroupAsked = true;
            itsObject.query(IID_IADsGroup, itsGroup);
        }
        return itsGroup ? this : nullptr;
    }

    DirUser* asUser() override
    {
        if (!itsUserAsked)
        {
            itsUserAsked = true;
            itsObject.query(IID_IADsUser, itsUser);
        }
        return itsUser ? this : nullptr;
    }

    Status isMember(const std::string& inPath, bool& outIsMember) override
    {
        outIsMember = false;
        if (!asGroup())
            return E_noInterface;
        Bstr thePath;
        Status theStatus = Bstr::fromNarrow(inPath, thePath);
        if (theStatus != S_ok)
            return theStatus;
        VARIANT_BOOL theAnswer = VARIANT_FALSE;
        HRESULT theResult = itsGroup->IsMember(thePath.get(), &theAnswer);
        if (FAILED(theResult))
            return status(theResult);
        outIsMember = theAnswer != VARIANT_FALSE;
        return status(theResult);
    }

    Status members(std::unique_ptr<DirEnumerator>& outMembers) override
    {
        outMembers.reset();
        if (!asGroup())
            return E_noInterface;
        ComPtr<IADsMembers> theMembers;
        HRESULT theResult = itsGroup->Members(theMembers.put());
        return enumerate(theResult, std::move(theMembers), outMembers);
    }

    Status groups(std::unique_ptr<DirEnumerator>& outGroups) override
    {
        outGroups.reset();
        if (!asUser())
            return E_noInterface;
        ComPtr<IADsMembers> theGroups;
        HRESULT theResult = itsUser->Groups(theGroups.put());
        return enumerate(theResult, std::move(theGroups), outGroups);
    }

    // Set when the object was opened as a group or a user, so asGroup and
    // asUser need not ask again.
    void knownGroup(ComPtr<IADsGroup> inGroup)
    {
        itsGroup = std::move(inGroup);
        itsGroupAsked = true;
    }
    void knownUser(ComPtr<IADsUser> inUser)
    {
        itsUser = std::move(inUser);
        itsUserAsked = true;
    }

private:
    Status enumerate(HRESULT inResult, ComPtr<IADsMembers> inCollection,
                     std::unique_ptr<DirEnumerator>& outEnumerator)
    {
        if (FAILED(inResult))
            return status(inResult);
        if (!inCollection)
            return E_fail; // success without a collection: nothing to enumerate over
        outEnumerator = std::make_unique<AdsiEnumerator>(itsApartment, std::move(inCollection));
        return S_ok;
    }

    // Declared first so that the runtime outlives the interfaces below.
    std::shared_ptr<Apartment> itsApartment;
    ComPtr<IADs> itsObject;
    ComPtr<IADsGroup> itsGroup;
    ComPtr<IADsUser> itsUser;
    bool itsGroupAsked = false;
    bool itsUserAsked = false;
};

// ------------------------------------------------------------- translator

class AdsiTranslator final : public NameTranslator
{
public:
    AdsiTranslator(std::shared_ptr<Apartment> inApartment, ComPtr<IADsNameTranslate> inTranslator)
        : itsApartment(std::move(inApartment)), itsTranslator(std::move(inTranslator))
    {
    }

    Status init(InitType inKind, const std::string& inPath) override
    {
        Bstr thePath;
        Status theStatus = Bstr::fromNarrow(inPath, thePath);
        if (theStatus != S_ok)
            return theStatus;
        return status(itsTranslator->Init(inKind, thePath.get()));
    }

    Status initEx(InitType inKind, const std::string& inPath, const std::string& inUser,
                  const std::string& inDomain, const std::string& inPassword) override
    {
        Bstr thePath;
        Bstr theUser;
        Bstr theDomain;
        Bstr thePassword; // wiped when freed
        Status theStatus = Bstr::fromNarrow(inPath, thePath);
        if (theStatus == S_ok)
            theStatus = Bstr::fromNarrow(inUser, theUser);
        if (theStatus == S_ok)
            theStatus = Bstr::fromNarrow(inDomain, theDomain);
        if (theStatus == S_ok)
            theStatus = Bstr::fromNarrow(inPassword, thePassword, true);
        if (theStatus != S_ok)
            return theStatus;
        return status(itsTranslator->InitEx(inKind, thePath.get(), theUser.get(), theDomain.get(),
                                            thePassword.get()));
    }

    Status set(NameType inType, const std::string& inName) override
    {
        Bstr theName;
        Status theStatus = Bstr::fromNarrow(inName, theName);
        if (theStatus != S_ok)
            return theStatus;
        return status(itsTranslator->Set(inType, theName.get()));
    }

    Status get(NameType inType, std::string& outName) override
    {
        outName.clear();
        Bstr theName;
        HRESULT theResult = itsTranslator->Get(inType, theName.put());
        if (FAILED(theResult))
            return status(theResult);
        return theName.toNarrow(outName);
    }

private:
    // Declared first so that the runtime outlives the interface below.
    std::shared_ptr<Apartment> itsApartment;
    ComPtr<IADsNameTranslate> itsTranslator;
};

// ---------------------------------------------------------------- service

class AdsiService final : public DirectoryService
{
public:
    AdsiService() : itsApartment(std::make_shared<Apartment>()) {}

    Status createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator) override
    {
        outTranslator.reset();
        ComPtr<IADsNameTranslate> theTranslator;
        HRESULT theResult = CoCreateInstance(CLSID_NameTranslate, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IADsNameTranslate, theTranslator.putVoid());
        if (FAILED(theResult))
            return status(theResult);
        if (!theTranslator)
            return E_fail;
        outTranslator = std::make_unique<AdsiTranslator>(itsApartment, std::move(theTranslator));
        return S_ok;
    }

    Status openObject(const std::string& inPath, const Credentials* inCredentials, ObjectKind inKind,
                      std::unique_ptr<DirObject>& outObject) override
    {
        outObject.reset();
        std::wstring thePath;
        Status theStatus = narrowToWide(inPath, thePath);
        if (theStatus != S_ok)
            return theStatus;
        // Null or empty credentials: the calling thread's own security
        // context, which takes no user name and no password at all.
        std::wstring theUser;
        std::wstring thePassword;
        bool theExplicit = inCredentials && !inCredentials->isEmpty();
        if (theExplicit)
        {
            theStatus = narrowToWide(inCredentials->itsUser, theUser);
            if (theStatus == S_ok)
                theStatus = narrowToWide(inCredentials->itsPassword, thePassword);
            if (theStatus != S_ok)
            {
                wipe(thePassword);
                return theStatus;
            }
        }
        const IID& theIid = inKind == ObjectKind::Group  ? IID_IADsGroup
                            : inKind == ObjectKind::User ? IID_IADsUser
                                                         : IID_IADs;
        void* theRaw = nullptr;
        HRESULT theResult = ADsOpenObject(thePath.c_str(), theExplicit ? theUser.c_str() : nullptr,
                                          theExplicit ? thePassword.c_str() : nullptr, BindFlags, theIid,
                                          &theRaw);
        wipe(thePassword);
        if (FAILED(theResult))
            return status(theResult);
        if (!theRaw)
            return E_fail;

        // Each interface asked for derives from IADs: the pointer is one.
        std::unique_ptr<AdsiObject> theObject;
        if (inKind == ObjectKind::Group)
        {
            auto theGroup = ComPtr<IADsGroup>::adopt(static_cast<IADsGroup*>(theRaw));
            theObject = std::make_unique<AdsiObject>(itsApartment, ComPtr<IADs>::share(theGroup.get()));
            theObject->knownGroup(std::move(theGroup));
        }
        else if (inKind == ObjectKind::User)
        {
            auto theUserObject = ComPtr<IADsUser>::adopt(static_cast<IADsUser*>(theRaw));
            theObject = std::make_unique<AdsiObject>(itsApartment, ComPtr<IADs>::share(theUserObject.get()));
            theObject->knownUser(std::move(theUserObject));
        }
        else
        {
            theObject = std::make_unique<AdsiObject>(itsApartment, ComPtr<IADs>::adopt(static_cast<IADs*>(theRaw)));
        }
        outObject = std::move(theObject);
        return S_ok;
    }

private:
    std::shared_ptr<Apartment> itsApartment;
};

} // namespace

std::unique_ptr<DirObject> wrapObject(std::shared_ptr<Apartment> inApartment, IADs* inObject)
{
    if (!inObject)
        return nullptr;
    return std::make_unique<AdsiObject>(std::move(inApartment), ComPtr<IADs>::share(inObject));
}

std::unique_ptr<NameTranslator> wrapTranslator(std::shared_ptr<Apartment> inApartment,
                                               IADsNameTranslate* inTranslator)
{
    if (!inTranslator)
        return nullptr;
    return std::make_unique<AdsiTranslator>(std::move(inApartment),
                                            ComPtr<IADsNameTranslate>::share(inTranslator));
}

std::shared_ptr<DirectoryService> makeAdsiService() { return std::make_shared<AdsiService>(); }

} // namespace corvel::directory::adsi
