#include "corvel/platform/os_text.h"

#include <cwchar>

#include <windows.h>

namespace corvel::platform
{

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide text");

std::string wideToNarrow(const char16_t* inWide)
{
    if (inWide == nullptr)
        return std::string();
    const wchar_t* theWide = reinterpret_cast<const wchar_t*>(inWide);
    if (*theWide == L'\0')
        return std::string();
    // WC_NO_BEST_FIT_CHARS with the used-default flag: a character the code
    // page cannot hold fails instead of turning into a look-alike or '?'.
    BOOL theUsedDefault = FALSE;
    const int theSize = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, theWide, -1, nullptr, 0,
                                            nullptr, &theUsedDefault);
    if (theSize <= 1 || theUsedDefault)
        return std::string();
    std::string theResult(static_cast<std::size_t>(theSize), '\0');
    theUsedDefault = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, theWide, -1, theResult.data(), theSize,
                            nullptr, &theUsedDefault) != theSize ||
        theUsedDefault)
        return std::string();
    theResult.resize(static_cast<std::size_t>(theSize - 1));
    // An unpaired surrogate converts to the default character on some
    // systems without setting the flag: check the source itself.
    for (const wchar_t* cur = theWide; *cur != L'\0'; ++cur)
    {
        const unsigned theUnit = static_cast<unsigned>(*cur);
        if (theUnit >= 0xD800 && theUnit <= 0xDBFF)
        {
            const unsigned theNext = static_cast<unsigned>(cur[1]);
            if (theNext < 0xDC00 || theNext > 0xDFFF)
                return std::string();
            ++cur;
        }
        else if (theUnit >= 0xDC00 && theUnit <= 0xDFFF)
            return std::string();
    }
    return theResult;
}

std::string wideToNarrow(const std::wstring& inWide)
{
    return wideToNarrow(reinterpret_cast<const char16_t*>(inWide.c_str()));
}

std::wstring narrowToWide(const std::string& inNarrow)
{
    if (inNarrow.empty())
        return std::wstring();
    const int theSize = MultiByteToWideChar(CP_ACP, 0, inNarrow.data(),
                                            static_cast<int>(inNarrow.size()), nullptr, 0);
    if (theSize <= 0)
    {
        // No conversion at all: each byte stands for itself.
        std::wstring theWide;
        for (char curChar : inNarrow)
            theWide += static_cast<wchar_t>(static_cast<unsigned char>(curChar));
        return theWide;
    }
    std::wstring theWide(static_cast<std::size_t>(theSize), L'\0');
    MultiByteToWideChar(CP_ACP, 0, inNarrow.data(), static_cast<int>(inNarrow.size()),
                        theWide.data(), theSize);
    return theWide;
}

} // namespace corvel::platform
