// The directory backend's wrappers around interfaces obtained elsewhere, so
// that they can be driven with objects of the caller's choosing (tests use
// in-process stand-ins for a directory).
#pragma once

#include <iads.h>

#include <functional>
#include <memory>
#include <string>

#include "corvel/platform/directory/adsi/adsi_com.h"
#include "corvel/platform/directory/dir_service.h"

namespace corvel::directory::adsi
{

// Opens an object by LDAP path (with the credentials of the object that
// asks, if any): how the primary group rule reads the member a group is
// asked about, and how a user's primary group is found. The service's own
// calls ADsOpenObject; tests give stand-ins.
using Opener = std::function<HRESULT(const std::wstring& inPath, ComPtr<IADs>& outObject)>;

// Each takes a reference of its own on the interface (the caller keeps its
// own) and a share of the apartment, which may be null when the caller
// keeps the runtime initialised itself. A null interface gives null.
// Without an opener no other object can be read: no primary group is seen.
std::unique_ptr<DirObject> wrapObject(std::shared_ptr<Apartment> inApartment, IADs* inObject,
                                      Opener inOpener = {});
std::unique_ptr<NameTranslator> wrapTranslator(std::shared_ptr<Apartment> inApartment,
                                               IADsNameTranslate* inTranslator);

// The bind flags every object is opened with: Kerberos or NTLM with the
// ticket delegable to the server (ADS_SECURE_AUTHENTICATION |
// ADS_USE_DELEGATION).
inline constexpr DWORD BindFlags = 0x101;

} // namespace corvel::directory::adsi
