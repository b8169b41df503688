// In-process stand-ins for directory objects, so the backend's wrappers can
// be driven without a domain. Objects the test makes on its stack start with
// one reference (the test's) and are never deleted by Release: a test checks
// that every reference the backend took was given back (refs() == 1).
// Collections and enumerations are made on the heap by the fakes, deleted on
// their last Release and counted, so a leak shows as liveObjects() != 0.
#pragma once

#include "corvel/platform/directory/adsi/adsi_com.h"

#include <activeds.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace adsitest
{

inline int& liveObjects()
{
    static int theCount = 0;
    return theCount;
}

template <typename Iface>
class FakeDispatch : public Iface
{
public:
    explicit FakeDispatch(bool inHeap = false) : itsHeap(inHeap)
    {
        if (itsHeap)
            ++liveObjects();
    }
    virtual ~FakeDispatch()
    {
        if (itsHeap)
            --liveObjects();
    }

    HRESULT WINAPI QueryInterface(REFIID inIid, void** outObject) override
    {
        if (!outObject)
            return E_POINTER;
        *outObject = nullptr;
        if (inIid == IID_IUnknown || inIid == IID_IDispatch || answers(inIid))
        {
            *outObject = static_cast<Iface*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return static_cast<ULONG>(++itsRefs); }
    ULONG WINAPI Release() override
    {
        LONG theRefs = --itsRefs;
        if (theRefs < 0)
            itsOverReleased = true;
        if (theRefs == 0 && itsHeap)
            delete this;
        return static_cast<ULONG>(theRefs < 0 ? 0 : theRefs);
    }

    HRESULT WINAPI GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                          UINT*) override
    {
        return E_NOTIMPL;
    }

    LONG refs() const { return itsRefs; }
    bool overReleased() const { return itsOverReleased; }

protected:
    virtual bool answers(REFIID inIid) = 0;

private:
    LONG itsRefs = 1;
    bool itsHeap;
    bool itsOverReleased = false;
};

// Hands out its elements as VT_DISPATCH variants (a null element as a text
// variant, which is no object), optionally failing at one position.
class FakeEnum final : public IEnumVARIANT
{
public:
    FakeEnum(std::vector<IDispatch*> inElements, std::size_t inFailAt, HRESULT inFailure,
             int* ioNextCalls)
        : itsElements(std::move(inElements)), itsFailAt(inFailAt), itsFailure(inFailure),
          itsNextCalls(ioNextCalls)
    {
        ++liveObjects();
    }
    ~FakeEnum() { --liveObjects(); }

    HRESULT WINAPI QueryInterface(REFIID inIid, void** outObject) override
    {
        *outObject = nullptr;
        if (inIid == IID_IUnknown || inIid == IID_IEnumVARIANT)
        {
            *outObject = static_cast<IEnumVARIANT*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return static_cast<ULONG>(++itsRefs); }
    ULONG WINAPI Release() override
    {
        LONG theRefs = --itsRefs;
        if (theRefs == 0)
            delete this;
        return static_cast<ULONG>(theRefs);
    }
    HRESULT WINAPI Next(ULONG inCount, VARIANT* outElements, ULONG* outFetched) override
    {
        if (itsNextCalls)
            ++*itsNextCalls;
        ULONG theFetched = 0;
        while (theFetched < inCount && itsPosition < itsElements.size())
        {
            if (itsPosition == itsFailAt)
                break;
            VARIANT& theSlot = outElements[theFetched];
            VariantInit(&theSlot);
            IDispatch* theElement = itsElements[itsPosition++];
            if (theElement)
            {
                theElement->AddRef();
                theSlot.vt = VT_DISPATCH;
                theSlot.pdispVal = theElement;
            }
            else
            {
                theSlot.vt = VT_BSTR;
                theSlot.bstrVal = SysAllocString(L"not an object");
            }
            ++theFetched;
        }
        if (outFetched)
            *outFetched = theFetched;
        if (theFetched == 0 && itsPosition == itsFailAt)
            return itsFailure;
        return theFetched == inCount ? S_OK : S_FALSE;
    }
    HRESULT WINAPI Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT WINAPI Reset() override
    {
        itsPosition = 0;
        return S_OK;
    }
    HRESULT WINAPI Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

private:
    LONG itsRefs = 1;
    std::vector<IDispatch*> itsElements;
    std::size_t itsPosition = 0;
    std::size_t itsFailAt;
    HRESULT itsFailure;
    int* itsNextCalls;
};

struct EnumPlan
{
    std::vector<IDispatch*> itsElements;
    std::size_t itsFailAt = static_cast<std::size_t>(-1);
    HRESULT itsFailure = S_OK;
    int itsNextCalls = 0;
};

class FakeMembers final : public FakeDispatch<IADsMembers>
{
public:
    explicit FakeMembers(EnumPlan& inPlan) : FakeDispatch(true), itsPlan(inPlan) {}

    HRESULT WINAPI get_Count(__LONG32*) override { return E_NOTIMPL; }
    HRESULT WINAPI get__NewEnum(IUnknown** outEnum) override
    {
        *outEnum = new FakeEnum(itsPlan.itsElements, itsPlan.itsFailAt, itsPlan.itsFailure,
                                &itsPlan.itsNextCalls);
        return S_OK;
    }
    HRESULT WINAPI get_Filter(VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI put_Filter(VARIANT) override { return E_NOTIMPL; }

protected:
    bool answers(REFIID inIid) override { return inIid == IID_IADsMembers; }

private:
    EnumPlan& itsPlan;
};

// A directory object; a group when itsIsGroup (then it answers IADsGroup).
class FakeObject final : public FakeDispatch<IADsGroup>
{
public:
    FakeObject(const wchar_t* inName, bool inIsGroup) : itsName(inName), itsIsGroup(inIsGroup) {}

    // Attribute values; GetEx returns them in a SAFEARRAY of VARIANT with
    // itsLowerBound as its first index.
    std::map<std::wstring, std::vector<std::wstring>> itsValues;
    // Octet-string values (Get gives VT_ARRAY | VT_UI1) and numbers (VT_I4).
    std::map<std::wstring, std::string> itsBytes;
    std::map<std::wstring, LONG> itsNumbers;
    LONG itsLowerBound = 0;
    HRESULT itsMembersResult = S_OK;
    HRESULT itsIsMemberResult = S_OK;
    std::vector<std::wstring> itsMemberPaths;
    std::wstring itsAskedPath;
    EnumPlan itsMembers;

    HRESULT WINAPI get_Name(BSTR* outName) override
    {
        *outName = SysAllocString(itsName.c_str());
        return S_OK;
    }
    HRESULT WINAPI get_Class(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_GUID(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_ADsPath(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_Parent(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_Schema(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetInfo() override { return E_NOTIMPL; }
    HRESULT WINAPI SetInfo() override { return E_NOTIMPL; }
    HRESULT WINAPI Get(BSTR inName, VARIANT* outValue) override
    {
        VariantInit(outValue);
        if (auto theBytes = itsBytes.find(inName); theBytes != itsBytes.end())
        {
            SAFEARRAYBOUND theBound{static_cast<ULONG>(theBytes->second.size()), 0};
            SAFEARRAY* theArray = SafeArrayCreate(VT_UI1, 1, &theBound);
            void* theData = nullptr;
            SafeArrayAccessData(theArray, &theData);
            std::memcpy(theData, theBytes->second.data(), theBytes->second.size());
            SafeArrayUnaccessData(theArray);
            outValue->vt = VT_ARRAY | VT_UI1;
            outValue->parray = theArray;
            return S_OK;
        }
        if (auto theNumber = itsNumbers.find(inName); theNumber != itsNumbers.end())
        {
            outValue->vt = VT_I4;
            outValue->lVal = theNumber->second;
            return S_OK;
        }
        auto theFound = itsValues.find(inName);
        if (theFound == itsValues.end() || theFound->second.empty())
            return E_ADS_PROPERTY_NOT_FOUND;
        outValue->vt = VT_BSTR;
        outValue->bstrVal = SysAllocString(theFound->second.front().c_str());
        return S_OK;
    }
    HRESULT WINAPI Put(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI GetEx(BSTR inName, VARIANT* outValue) override
    {
        VariantInit(outValue);
        auto theFound = itsValues.find(inName);
        if (theFound == itsValues.end())
            return E_ADS_PROPERTY_NOT_FOUND;
        SAFEARRAYBOUND theBound{static_cast<ULONG>(theFound->second.size()), itsLowerBound};
        SAFEARRAY* theArray = SafeArrayCreate(VT_VARIANT, 1, &theBound);
        for (std::size_t curIndex = 0; curIndex < theFound->second.size(); ++curIndex)
        {
            LONG theIndex = itsLowerBound + static_cast<LONG>(curIndex);
            VARIANT theElement;
            VariantInit(&theElement);
            theElement.vt = VT_BSTR;
            theElement.bstrVal = SysAllocString(theFound->second[curIndex].c_str());
            SafeArrayPutElement(theArray, &theIndex, &theElement); // copies
            VariantClear(&theElement);
        }
        outValue->vt = VT_ARRAY | VT_VARIANT;
        outValue->parray = theArray;
        return S_OK;
    }
    HRESULT WINAPI PutEx(__LONG32, BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI GetInfoEx(VARIANT, __LONG32) override { return E_NOTIMPL; }

    HRESULT WINAPI get_Description(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI put_Description(BSTR) override { return E_NOTIMPL; }
    HRESULT WINAPI Members(IADsMembers** outMembers) override
    {
        *outMembers = nullptr;
        if (FAILED(itsMembersResult))
            return itsMembersResult;
        *outMembers = new FakeMembers(itsMembers);
        return S_OK;
    }
    HRESULT WINAPI IsMember(BSTR inPath, VARIANT_BOOL* outAnswer) override
    {
        itsAskedPath.assign(inPath, SysStringLen(inPath));
        if (FAILED(itsIsMemberResult))
            return itsIsMemberResult;
        bool theFound = false;
        for (const std::wstring& curPath : itsMemberPaths)
            theFound = theFound || curPath == itsAskedPath;
        *outAnswer = theFound ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT WINAPI Add(BSTR) override { return E_NOTIMPL; }
    HRESULT WINAPI Remove(BSTR) override { return E_NOTIMPL; }

protected:
    bool answers(REFIID inIid) override
    {
        return inIid == IID_IADs || (itsIsGroup && inIid == IID_IADsGroup);
    }

private:
    std::wstring itsName;
    bool itsIsGroup;
};

// Records what it was given and answers as told.
class FakeTranslator final : public FakeDispatch<IADsNameTranslate>
{
public:
    HRESULT itsResult = S_OK;
    std::wstring itsReturnedName;
    std::vector<std::wstring> itsCalls; // "Init 3 <path>", "Set 8 <name>", ...
    std::wstring itsPassword;

    HRESULT WINAPI put_ChaseReferral(__LONG32) override { return E_NOTIMPL; }
    HRESULT WINAPI Init(__LONG32 inKind, BSTR inPath) override
    {
        itsCalls.push_back(L"Init " + std::to_wstring(inKind) + L" " + text(inPath));
        return itsResult;
    }
    HRESULT WINAPI InitEx(__LONG32 inKind, BSTR inPath, BSTR inUser, BSTR inDomain,
                          BSTR inPassword) override
    {
        itsCalls.push_back(L"InitEx " + std::to_wstring(inKind) + L" " + text(inPath) + L" " +
                           text(inUser) + L" " + text(inDomain));
        itsPassword = text(inPassword);
        return itsResult;
    }
    HRESULT WINAPI Set(__LONG32 inType, BSTR inName) override
    {
        itsCalls.push_back(L"Set " + std::to_wstring(inType) + L" " + text(inName));
        return itsResult;
    }
    HRESULT WINAPI Get(__LONG32 inType, BSTR* outName) override
    {
        itsCalls.push_back(L"Get " + std::to_wstring(inType));
        *outName = nullptr;
        if (FAILED(itsResult))
            return itsResult;
        *outName =
            SysAllocStringLen(itsReturnedName.data(), static_cast<UINT>(itsReturnedName.size()));
        return S_OK;
    }
    HRESULT WINAPI SetEx(__LONG32, VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI GetEx(__LONG32, VARIANT*) override { return E_NOTIMPL; }

protected:
    bool answers(REFIID inIid) override { return inIid == IID_IADsNameTranslate; }

private:
    static std::wstring text(BSTR inText)
    {
        return inText ? std::wstring(inText, SysStringLen(inText)) : L"<null>";
    }
};

} // namespace adsitest
