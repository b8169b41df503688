// Owners for the component runtime's resources, so that no path through the
// directory backend can leak an interface, a wide string or a variant:
//
//   ComPtr<T>  one reference to an interface, released when it goes;
//   Bstr       one automation string, freed when it goes (optionally wiped
//              first, for passwords);
//   Variant    one variant, cleared when it goes (which releases the
//              interface or frees the string or array it holds);
//   Apartment  one CoInitialize on the creating thread, undone by the last
//              owner.
//
// And the text rules at this boundary: narrow text is the ANSI code page,
// converted with the system's own functions; a conversion that cannot be
// made is a failure, never a silently emptied or shortened name.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "corvel/platform/directory/dir_status.h"

namespace corvel::directory::adsi
{

template <typename T>
class ComPtr
{
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ~ComPtr() { reset(); }

    // Shares inOther's reference (AddRef).
    ComPtr(const ComPtr& inOther) : itsPtr(inOther.itsPtr)
    {
        if (itsPtr)
            itsPtr->AddRef();
    }
    ComPtr(ComPtr&& inOther) noexcept : itsPtr(std::exchange(inOther.itsPtr, nullptr)) {}
    ComPtr& operator=(ComPtr inOther) noexcept
    {
        std::swap(itsPtr, inOther.itsPtr);
        return *this;
    }

    // Takes over a reference the caller already owns (an out-parameter of
    // the runtime): no AddRef.
    static ComPtr adopt(T* inPtr)
    {
        ComPtr theResult;
        theResult.itsPtr = inPtr;
        return theResult;
    }
    // Takes a new reference of its own on a borrowed pointer.
    static ComPtr share(T* inPtr)
    {
        if (inPtr)
            inPtr->AddRef();
        return adopt(inPtr);
    }

    void reset()
    {
        if (T* thePtr = std::exchange(itsPtr, nullptr))
            thePtr->Release();
    }
    // For out-parameters: drops what is held and returns the slot to fill.
    T** put()
    {
        reset();
        return &itsPtr;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    T* get() const { return itsPtr; }
    T* operator->() const { return itsPtr; }
    explicit operator bool() const { return itsPtr != nullptr; }

    // Another interface of the same object; null with the failure code when
    // the object does not have it.
    template <typename U>
    HRESULT query(REFIID inIid, ComPtr<U>& outOther) const
    {
        if (!itsPtr)
            return E_POINTER;
        return itsPtr->QueryInterface(inIid, outOther.putVoid());
    }

private:
    T* itsPtr = nullptr;
};

class Bstr
{
public:
    Bstr() = default;
    ~Bstr() { reset(); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& inOther) noexcept
        : itsText(std::exchange(inOther.itsText, nullptr)), itsSecret(inOther.itsSecret)
    {
    }
    Bstr& operator=(Bstr&& inOther) noexcept
    {
        if (this != &inOther)
        {
            reset();
            itsText = std::exchange(inOther.itsText, nullptr);
            itsSecret = inOther.itsSecret;
        }
        return *this;
    }

    // A wide copy of narrow text. E_invalidArg when the text holds a NUL
    // (the directory would read a shorter name) or does not convert;
    // E_outOfMemory when no string can be allocated. A secret string is
    // wiped before it is freed.
    static Status fromNarrow(const std::string& inText, Bstr& outText, bool inSecret = false);

    void reset();
    // Out-parameter slot; what was held is freed first.
    BSTR* put()
    {
        reset();
        return &itsText;
    }
    BSTR get() const { return itsText; }
    // Length in characters, from the string's own length prefix (a returned
    // string may hold NULs and need not end at the first one).
    UINT length() const { return itsText ? SysStringLen(itsText) : 0; }

    // The narrow text; E_invalidArg when a character has no equivalent in
    // the code page.
    Status toNarrow(std::string& outText) const;

private:
    BSTR itsText = nullptr;
    bool itsSecret = false;
};

class Variant
{
public:
    Variant() { VariantInit(&itsValue); }
    ~Variant() { clear(); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    void clear() { VariantClear(&itsValue); }
    // Out-parameter slot; what was held is cleared first.
    VARIANT* put()
    {
        clear();
        return &itsValue;
    }
    VARIANT* get() { return &itsValue; }
    const VARIANT* get() const { return &itsValue; }
    VARTYPE type() const { return itsValue.vt; }

private:
    VARIANT itsValue;
};

// Narrow <-> wide text with the ANSI code page. E_invalidArg when the text
// cannot be converted exactly (a character with no equivalent; a NUL inside
// narrow text bound for the directory).
Status narrowToWide(const std::string& inText, std::wstring& outText);
Status wideToNarrow(const wchar_t* inText, std::size_t inLength, std::string& outText);

// Overwrites a buffer that held a password before it is given back.
void wipe(std::wstring& ioText);

// The text values of a variant as the directory returns attributes: an
// array (VT_ARRAY of VARIANT or of BSTR, one dimension, any lower bound) in
// index order, or a single value. Elements that cannot be fetched or read as
// text are skipped; a null array is no values. A variant that is neither an
// array nor convertible to text, or an array of another element type or
// shape, gives E_ADS_CANT_CONVERT_DATATYPE (or the conversion's own code).
Status variantStrings(const VARIANT& inValue, std::vector<std::string>& outValues);

// The text of a single variant (VT_BSTR, or anything the automation runtime
// converts to text).
Status variantString(const VARIANT& inValue, std::string& outValue);

// The bytes of an octet-string value (objectSid, objectGUID): a
// one-dimensional VT_ARRAY | VT_UI1, or such an array inside a VT_VARIANT
// array of one element (how a multi-valued read returns it).
// E_ADS_CANT_CONVERT_DATATYPE for any other shape.
Status variantBytes(const VARIANT& inValue, std::string& outBytes);

// One CoInitialize (single-threaded apartment) on the thread that made it,
// undone (CoUninitialize) when the last owner lets it go. Directory objects
// keep a share, so the runtime outlives every interface obtained through it
// even when a caller releases an object after its session. It is undone only
// on the thread that made it, and only if it succeeded: CoInitialize failing
// (the thread is already in another apartment kind) must not be balanced.
class Apartment
{
public:
    Apartment();
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

    HRESULT initResult() const { return itsInitResult; }

private:
    HRESULT itsInitResult;
    DWORD itsThreadId;
};

} // namespace corvel::directory::adsi
