// Status codes of the directory service.
//
// Every directory operation returns a 32-bit status in the HRESULT form the
// log lines print: 0 for success, 0x8007xxxx for a Win32 error xxxx, and the
// ADSI codes 0x80005xxx. Each backend maps its own failures onto these, so
// the log reads the same on every platform and the translator's not-found
// test (low 16 bits == 8470) works unchanged.
#pragma once

#include <cstdint>

namespace corvel::directory
{

using Status = std::uint32_t;

inline constexpr Status S_ok = 0x00000000;
inline constexpr Status S_false = 0x00000001; // success, nothing (more) to return

inline constexpr Status E_accessDenied = 0x80070005; // insufficient access
inline constexpr Status E_outOfMemory = 0x8007000E;
inline constexpr Status E_invalidArg = 0x80070057;
inline constexpr Status E_fail = 0x80004005; // unspecified failure
inline constexpr Status E_notImpl = 0x80004001;
inline constexpr Status E_noInterface = 0x80004002; // object is not of the kind asked for
inline constexpr Status E_classNotRegistered = 0x80040154;
inline constexpr Status E_logonFailure = 0x8007052E; // invalid credentials
inline constexpr Status E_noSuchDomain = 0x8007054B;
inline constexpr Status E_timeout = 0x800705B4;
inline constexpr Status E_nameNotFound = 0x80072116;  // name translation: not found
inline constexpr Status E_nameNotUnique = 0x80072117; // name translation: several matches
inline constexpr Status E_nameNoMapping = 0x80072118; // name translation: no name in that form
inline constexpr Status E_noSuchObject = 0x80072030;
inline constexpr Status E_invalidDNSyntax = 0x80072032;
inline constexpr Status E_operationsError = 0x80072020;
inline constexpr Status E_noSuchAttributeValue = 0x8007200A;
inline constexpr Status E_referral = 0x8007202B;
inline constexpr Status E_serverDown = 0x8007203A;
inline constexpr Status E_localError = 0x8007203B;
inline constexpr Status E_propertyNotFound = 0x8000500D; // no value for the attribute
inline constexpr Status E_badPathname = 0x80005000;

inline bool succeeded(Status inStatus) { return (inStatus & 0x80000000u) == 0; }
inline bool failed(Status inStatus) { return !succeeded(inStatus); }

// The low 16 bits of a translator failure equal ERROR_DS_NAME_ERROR_NOT_FOUND.
inline bool isNameNotFound(Status inStatus) { return (inStatus & 0xFFFFu) == 8470u; }

// The translator's answers that say the directory holds no such name: not
// found, several objects, no name in that form (8470 to 8472 in the low 16
// bits), as opposed to a directory that could not be asked.
inline bool isNameAnswer(Status inStatus)
{
    const Status theCode = inStatus & 0xFFFFu;
    return theCode >= (E_nameNotFound & 0xFFFFu) && theCode <= (E_nameNoMapping & 0xFFFFu);
}

// A short text of this layer for a status it produces; null for any other.
const char* statusText(Status inStatus);

} // namespace corvel::directory
