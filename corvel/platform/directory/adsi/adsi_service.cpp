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
#include "corvel/platform/directory/names.h"

namespace corvel::directory::adsi
{

namespace
{

static_assert(BindFlags == (ADS_SECURE_AUTHENTICATION | ADS_USE_DELEGATION));

Status status(HRESULT inResult) { return static_cast<Status>(inResult); }

// What the objects of one opening share: the runtime, how other objects are
// opened, and the primary group of the member last asked about (a walk asks
// about the same user at every group, so it is read once).
struct Context
{
    // Declared first so that the runtime outlives the interfaces below.
    std::shared_ptr<Apartment> itsApartment;
    Opener itsOpener;
    std::wstring itsLastPath;
    bool itsHasLast = false;
    std::string itsLastPrimarySid; // empty: that member has no primary group we can see
};

using ContextPtr = std::shared_ptr<Context>;

// IADs::Get of one attribute; the name goes as a real automation string.
HRESULT getValue(IADs& inObject, const char* inName, Variant& outValue)
{
    Bstr theName;
    const Status theStatus = Bstr::fromNarrow(inName, theName);
    if (theStatus != S_ok)
        return static_cast<HRESULT>(theStatus);
    return inObject.Get(theName.get(), outValue.put());
}

// An object's objectSid as text; empty when it has none.
Status objectSidText(IADs& inObject, std::string& outSid)
{
    outSid.clear();
    Variant theValue;
    HRESULT theResult = getValue(inObject, "objectSid", theValue);
    if (theResult == E_ADS_PROPERTY_NOT_FOUND)
        return S_ok;
    if (FAILED(theResult))
        return status(theResult);
    std::string theBytes;
    if (variantBytes(*theValue.get(), theBytes) != S_ok || !names::sidToText(theBytes, outSid))
        outSid.clear();
    return S_ok;
}

// The SID text of inObject's primary group; empty when it has none.
Status primaryGroupSidOf(IADs& inObject, std::string& outSid)
{
    outSid.clear();
    std::string theOwnSid;
    Status theStatus = objectSidText(inObject, theOwnSid);
    if (theStatus != S_ok || theOwnSid.empty())
        return theStatus;
    Variant theValue;
    HRESULT theResult = getValue(inObject, "primaryGroupID", theValue);
    if (theResult == E_ADS_PROPERTY_NOT_FOUND)
        return S_ok;
    if (FAILED(theResult))
        return status(theResult);
    std::string theRid;
    if (variantString(*theValue.get(), theRid) != S_ok ||
        !names::primaryGroupSid(theOwnSid, true, theRid, outSid))
        outSid.clear();
    return S_ok;
}

// Codes of an object that is not there to be read: it has no primary group
// we could see, which is no failure of the question.
bool isAbsent(HRESULT inResult)
{
    return inResult == static_cast<HRESULT>(E_noSuchObject) ||
           inResult == static_cast<HRESULT>(E_referral) ||
           inResult == static_cast<HRESULT>(E_badPathname) ||
           inResult == static_cast<HRESULT>(E_invalidDNSyntax);
}

// ------------------------------------------------------------- enumerator

// Members of a group or groups of a user, one at a time, in the order the
// directory gives them.
//
// The collection's enumeration is taken straight from get__NewEnum and read
// with IEnumVARIANT::Next(1), which is all the ADsBuildEnumerator /
// ADsEnumerateNext / ADsFreeEnumerator helpers do: the builder takes a
// container, and a member collection is no container (passing one means
// reinterpreting its vtable), and some runtimes ship the helpers as stubs.
std::unique_ptr<DirObject> wrapInContext(ContextPtr inContext, IADs* inObject);

class AdsiEnumerator final : public DirEnumerator
{
public:
    AdsiEnumerator(ContextPtr inContext, ComPtr<IADsMembers> inCollection)
        : itsContext(std::move(inContext)), itsCollection(std::move(inCollection))
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
            outObject = wrapInContext(itsContext, theObject.get());
            return S_ok;
        }
        return itsStatus;
    }

private:
    // Declared first so that the runtime outlives the interfaces below.
    ContextPtr itsContext;
    ComPtr<IADsMembers> itsCollection;
    ComPtr<IEnumVARIANT> itsEnum;
    Status itsStatus = S_false;
};

// ----------------------------------------------------------------- object

class AdsiObject final : public DirGroup, public DirUser
{
public:
    AdsiObject(ContextPtr inContext, ComPtr<IADs> inObject)
        : itsContext(std::move(inContext)), itsObject(std::move(inObject))
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
        if (outIsMember)
            return status(theResult);
        // IsMember answers from the member attribute only: the primary
        // group, which the directory keeps out of it, is asked here.
        std::string thePrimarySid;
        theStatus = memberPrimarySid(inPath, thePrimarySid);
        if (theStatus != S_ok || thePrimarySid.empty())
            return theStatus;
        std::string theOwnSid;
        theStatus = objectSidText(*itsObject.get(), theOwnSid);
        if (theStatus != S_ok)
            return theStatus;
        outIsMember = names::sameSid(theOwnSid, thePrimarySid);
        return status(theResult);
    }

    Status primaryGroup(std::string& outGroupDN) override
    {
        outGroupDN.clear();
        // Users and computers (a computer is a user in the directory) have
        // one; any other object answers that it has none.
        std::string theSid;
        Status theStatus = primaryGroupSidOf(*itsObject.get(), theSid);
        if (theStatus != S_ok || theSid.empty() || !itsContext->itsOpener)
            return theStatus != S_ok ? theStatus : S_false;
        // The directory binds to an object by its SID as well as by its DN.
        std::wstring thePath;
        theStatus = narrowToWide("LDAP://<SID=" + theSid + ">", thePath);
        if (theStatus != S_ok)
            return theStatus;
        ComPtr<IADs> theGroup;
        HRESULT theResult = itsContext->itsOpener(thePath, theGroup);
        if (isAbsent(theResult))
            return S_false;
        if (FAILED(theResult))
            return status(theResult);
        if (!theGroup)
            return S_false;
        Variant theValue;
        theResult = getValue(*theGroup.get(), "distinguishedName", theValue);
        if (FAILED(theResult))
            return status(theResult);
        return variantString(*theValue.get(), outGroupDN);
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
        outEnumerator = std::make_unique<AdsiEnumerator>(itsContext, std::move(inCollection));
        return S_ok;
    }

    // The primary group SID of the member at inPath, read once per member.
    Status memberPrimarySid(const std::string& inPath, std::string& outSid)
    {
        outSid.clear();
        std::wstring thePath;
        Status theStatus = narrowToWide(inPath, thePath);
        if (theStatus != S_ok)
            return theStatus;
        Context& theContext = *itsContext;
        if (theContext.itsHasLast && theContext.itsLastPath == thePath)
        {
            outSid = theContext.itsLastPrimarySid;
            return S_ok;
        }
        if (!theContext.itsOpener)
            return S_ok;
        ComPtr<IADs> theMember;
        HRESULT theResult = theContext.itsOpener(thePath, theMember);
        if (FAILED(theResult) && !isAbsent(theResult))
            return status(theResult);
        if (SUCCEEDED(theResult) && theMember)
        {
            theStatus = primaryGroupSidOf(*theMember.get(), outSid);
            if (theStatus != S_ok)
                return theStatus;
        }
        theContext.itsLastPath = thePath;
        theContext.itsLastPrimarySid = outSid;
        theContext.itsHasLast = true;
        return S_ok;
    }

    // Declared first so that the runtime outlives the interfaces below.
    ContextPtr itsContext;
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

    Status openObject(const std::string& inPath, const Credentials* inCredentials,
                      ObjectKind inKind, std::unique_ptr<DirObject>& outObject) override
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
        HRESULT theResult =
            ADsOpenObject(thePath.c_str(), theExplicit ? theUser.c_str() : nullptr,
                          theExplicit ? thePassword.c_str() : nullptr, BindFlags, theIid, &theRaw);
        wipe(thePassword);
        if (FAILED(theResult))
            return status(theResult);
        if (!theRaw)
            return E_fail;

        // Objects reached from this one are read with the same credentials.
        auto theContext = std::make_shared<Context>();
        theContext->itsApartment = itsApartment;
        theContext->itsOpener = makeOpener(theExplicit ? inCredentials : nullptr);

        // Each interface asked for derives from IADs: the pointer is one.
        std::unique_ptr<AdsiObject> theObject;
        if (inKind == ObjectKind::Group)
        {
            auto theGroup = ComPtr<IADsGroup>::adopt(static_cast<IADsGroup*>(theRaw));
            theObject =
                std::make_unique<AdsiObject>(theContext, ComPtr<IADs>::share(theGroup.get()));
            theObject->knownGroup(std::move(theGroup));
        }
        else if (inKind == ObjectKind::User)
        {
            auto theUserObject = ComPtr<IADsUser>::adopt(static_cast<IADsUser*>(theRaw));
            theObject =
                std::make_unique<AdsiObject>(theContext, ComPtr<IADs>::share(theUserObject.get()));
            theObject->knownUser(std::move(theUserObject));
        }
        else
        {
            theObject = std::make_unique<AdsiObject>(
                theContext, ComPtr<IADs>::adopt(static_cast<IADs*>(theRaw)));
        }
        outObject = std::move(theObject);
        return S_ok;
    }

private:
    // ADsOpenObject as IADs, with the given credentials or the caller's own
    // security context. The credentials are copied; the copy is wiped when
    // the last object that may use it goes.
    static Opener makeOpener(const Credentials* inCredentials)
    {
        struct Secret
        {
            std::wstring itsUser;
            std::wstring itsPassword;
            ~Secret() { wipe(itsPassword); }
        };
        auto theSecret = std::make_shared<Secret>();
        if (inCredentials &&
            (narrowToWide(inCredentials->itsUser, theSecret->itsUser) != S_ok ||
             narrowToWide(inCredentials->itsPassword, theSecret->itsPassword) != S_ok))
            return {}; // unreadable credentials: read nothing rather than as someone else
        const bool theExplicit = inCredentials != nullptr;
        return [theSecret, theExplicit](const std::wstring& inPath, ComPtr<IADs>& outObject)
        {
            return ADsOpenObject(inPath.c_str(), theExplicit ? theSecret->itsUser.c_str() : nullptr,
                                 theExplicit ? theSecret->itsPassword.c_str() : nullptr, BindFlags,
                                 IID_IADs, outObject.putVoid());
        };
    }

    std::shared_ptr<Apartment> itsApartment;
};

std::unique_ptr<DirObject> wrapInContext(ContextPtr inContext, IADs* inObject)
{
    if (!inObject)
        return nullptr;
    return std::make_unique<AdsiObject>(std::move(inContext), ComPtr<IADs>::share(inObject));
}

} // namespace

std::unique_ptr<DirObject> wrapObject(std::shared_ptr<Apartment> inApartment, IADs* inObject,
                                      Opener inOpener)
{
    auto theContext = std::make_shared<Context>();
    theContext->itsApartment = std::move(inApartment);
    theContext->itsOpener = std::move(inOpener);
    return wrapInContext(std::move(theContext), inObject);
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
