// Text conversion, variant reading and the apartment of the directory
// backend's runtime owners.
#include "corvel/platform/directory/adsi/adsi_com.h"

#include <adserr.h>
#include <climits>

namespace corvel::directory::adsi
{

Status narrowToWide(const std::string& inText, std::wstring& outText)
{
    outText.clear();
    if (inText.empty())
        return S_ok;
    // A NUL would end the name early on the other side of the runtime.
    if (inText.find('\0') != std::string::npos || inText.size() > static_cast<std::size_t>(INT_MAX))
        return E_invalidArg;
    int theSize = static_cast<int>(inText.size());
    int theWide =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, inText.data(), theSize, nullptr, 0);
    if (theWide <= 0)
        return E_invalidArg;
    outText.resize(static_cast<std::size_t>(theWide));
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, inText.data(), theSize, outText.data(),
                            theWide) != theWide)
    {
        wipe(outText); // it may hold part of a password
        return E_invalidArg;
    }
    return S_ok;
}

Status wideToNarrow(const wchar_t* inText, std::size_t inLength, std::string& outText)
{
    outText.clear();
    if (!inText || inLength == 0)
        return S_ok;
    if (inLength > static_cast<std::size_t>(INT_MAX))
        return E_invalidArg;
    int theSize = static_cast<int>(inLength);
    BOOL theLossy = FALSE;
    int theNarrow = WideCharToMultiByte(CP_ACP, 0, inText, theSize, nullptr, 0, nullptr, &theLossy);
    // A DN with a character the code page lacks would come back as "?" and
    // name another object, or none: refuse it rather than pass it on.
    if (theNarrow <= 0 || theLossy)
        return E_invalidArg;
    outText.resize(static_cast<std::size_t>(theNarrow));
    if (WideCharToMultiByte(CP_ACP, 0, inText, theSize, outText.data(), theNarrow, nullptr,
                            nullptr) != theNarrow)
    {
        outText.clear();
        return E_invalidArg;
    }
    return S_ok;
}

void wipe(std::wstring& ioText)
{
    if (!ioText.empty())
        SecureZeroMemory(ioText.data(), ioText.size() * sizeof(wchar_t));
    ioText.clear();
}

Status Bstr::fromNarrow(const std::string& inText, Bstr& outText, bool inSecret)
{
    outText.reset();
    std::wstring theWide;
    Status theStatus = narrowToWide(inText, theWide);
    if (theStatus != S_ok)
    {
        if (inSecret)
            wipe(theWide);
        return theStatus;
    }
    BSTR theText = SysAllocStringLen(theWide.data(), static_cast<UINT>(theWide.size()));
    if (inSecret)
        wipe(theWide);
    if (!theText)
        return E_outOfMemory;
    *outText.put() = theText;
    outText.itsSecret = inSecret;
    return S_ok;
}

void Bstr::reset()
{
    BSTR theText = std::exchange(itsText, nullptr);
    if (!theText)
        return;
    if (itsSecret)
        SecureZeroMemory(theText, SysStringByteLen(theText));
    SysFreeString(theText);
    itsSecret = false;
}

Status Bstr::toNarrow(std::string& outText) const
{
    return wideToNarrow(itsText, length(), outText);
}

Status variantString(const VARIANT& inValue, std::string& outValue)
{
    outValue.clear();
    if (inValue.vt == VT_BSTR)
        return wideToNarrow(inValue.bstrVal, inValue.bstrVal ? SysStringLen(inValue.bstrVal) : 0,
                            outValue);
    // No value is not an empty text; arrays and references are not one text.
    if (inValue.vt == VT_EMPTY || inValue.vt == VT_NULL || (inValue.vt & (VT_ARRAY | VT_BYREF)))
        return E_ADS_CANT_CONVERT_DATATYPE;
    Variant theText;
    // The source is only read; some headers declare it non-const.
    HRESULT theResult =
        VariantChangeType(theText.get(), const_cast<VARIANT*>(&inValue), 0, VT_BSTR);
    if (FAILED(theResult))
        return static_cast<Status>(theResult);
    if (theText.type() != VT_BSTR)
        return E_ADS_CANT_CONVERT_DATATYPE;
    BSTR theBstr = theText.get()->bstrVal;
    return wideToNarrow(theBstr, theBstr ? SysStringLen(theBstr) : 0, outValue);
}

Status variantStrings(const VARIANT& inValue, std::vector<std::string>& outValues)
{
    outValues.clear();
    if (!(inValue.vt & VT_ARRAY))
    {
        std::string theValue;
        Status theStatus = variantString(inValue, theValue);
        if (theStatus != S_ok)
            return theStatus;
        outValues.push_back(std::move(theValue));
        return S_ok;
    }
    // Each element is fetched into storage of exactly the array's element
    // type: a VARIANT-sized copy into a BSTR slot (or the reverse) would
    // write past it.
    VARTYPE theElementType = static_cast<VARTYPE>(inValue.vt & ~VT_ARRAY);
    if (theElementType != VT_VARIANT && theElementType != VT_BSTR)
        return E_ADS_CANT_CONVERT_DATATYPE;
    SAFEARRAY* theArray = inValue.parray;
    if (!theArray)
        return S_ok;
    if (SafeArrayGetDim(theArray) != 1)
        return E_ADS_CANT_CONVERT_DATATYPE;
    VARTYPE theStored = VT_EMPTY;
    if (SUCCEEDED(SafeArrayGetVartype(theArray, &theStored)) && theStored != theElementType)
        return E_ADS_CANT_CONVERT_DATATYPE;
    UINT theExpectedSize = theElementType == VT_VARIANT ? sizeof(VARIANT) : sizeof(BSTR);
    if (SafeArrayGetElemsize(theArray) != theExpectedSize)
        return E_ADS_CANT_CONVERT_DATATYPE;
    LONG theLower = 0;
    LONG theUpper = -1;
    HRESULT theResult = SafeArrayGetLBound(theArray, 1, &theLower);
    if (SUCCEEDED(theResult))
        theResult = SafeArrayGetUBound(theArray, 1, &theUpper);
    if (FAILED(theResult))
        return static_cast<Status>(theResult);
    // Counted in 64 bits: an upper bound of LONG_MAX must not wrap the loop.
    for (long long curIndex = theLower; curIndex <= theUpper; ++curIndex)
    {
        LONG theIndex = static_cast<LONG>(curIndex);
        std::string theValue;
        if (theElementType == VT_VARIANT)
        {
            Variant theElement;
            if (FAILED(SafeArrayGetElement(theArray, &theIndex, theElement.put())))
                continue;
            if (variantString(*theElement.get(), theValue) != S_ok)
                continue;
        }
        else
        {
            Bstr theElement;
            if (FAILED(SafeArrayGetElement(theArray, &theIndex, theElement.put())))
                continue;
            if (theElement.toNarrow(theValue) != S_ok)
                continue;
        }
        outValues.push_back(std::move(theValue));
    }
    return S_ok;
}

Status variantBytes(const VARIANT& inValue, std::string& outBytes)
{
    outBytes.clear();
    if (inValue.vt == (VT_ARRAY | VT_VARIANT) && inValue.parray &&
        SafeArrayGetDim(inValue.parray) == 1)
    {
        LONG theLower = 0;
        LONG theUpper = -1;
        if (FAILED(SafeArrayGetLBound(inValue.parray, 1, &theLower)) ||
            FAILED(SafeArrayGetUBound(inValue.parray, 1, &theUpper)) || theUpper != theLower)
            return E_ADS_CANT_CONVERT_DATATYPE;
        Variant theElement;
        if (FAILED(SafeArrayGetElement(inValue.parray, &theLower, theElement.put())))
            return E_ADS_CANT_CONVERT_DATATYPE;
        return variantBytes(*theElement.get(), outBytes);
    }
    if (inValue.vt != (VT_ARRAY | VT_UI1) || !inValue.parray ||
        SafeArrayGetDim(inValue.parray) != 1 || SafeArrayGetElemsize(inValue.parray) != 1)
        return E_ADS_CANT_CONVERT_DATATYPE;
    LONG theLower = 0;
    LONG theUpper = -1;
    HRESULT theResult = SafeArrayGetLBound(inValue.parray, 1, &theLower);
    if (SUCCEEDED(theResult))
        theResult = SafeArrayGetUBound(inValue.parray, 1, &theUpper);
    if (FAILED(theResult))
        return static_cast<Status>(theResult);
    void* theData = nullptr;
    theResult = SafeArrayAccessData(inValue.parray, &theData);
    if (FAILED(theResult))
        return static_cast<Status>(theResult);
    const long long theSize = static_cast<long long>(theUpper) - theLower + 1;
    if (theSize > 0 && theData)
        outBytes.assign(static_cast<const char*>(theData), static_cast<std::size_t>(theSize));
    SafeArrayUnaccessData(inValue.parray);
    return S_ok;
}

Apartment::Apartment() : itsInitResult(CoInitialize(nullptr)), itsThreadId(GetCurrentThreadId()) {}

Apartment::~Apartment()
{
    if (SUCCEEDED(itsInitResult) && GetCurrentThreadId() == itsThreadId)
        CoUninitialize();
}

} // namespace corvel::directory::adsi
