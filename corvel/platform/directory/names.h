// Names and identifiers as every directory backend reads and writes them:
// the classification of a name of unknown format, the text forms of
// security identifiers (SIDs) and GUIDs, canonical names, and the primary
// group rule of Active Directory membership.
//
// One home for each, so that an LDIF export and the live directory read,
// print and compare the same name the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvel::directory::names
{

// --- names of unknown format ---
//
// A name as a person types it may read as several forms at once: a display
// name may hold '@', '\\', '/' or '='. The translator tries, in this order,
// every form the name can be read as; the first form under which the
// directory holds an object decides (several objects under it: not unique).
// A display name is tried last for every name, so a name that looks like a
// principal name but is none is still found by its display name, as Active
// Directory's own translator does it.
enum class NameForm
{
    DistinguishedName,    // "CN=Alice,OU=People,DC=corp,DC=example,DC=com"
    Nt4,                  // "CORP\\alice"; "CORP\\" alone names the domain
    UserPrincipalName,    // "alice@corp.example.com" (explicit or implicit)
    Canonical,            // "corp.example.com/People/Alice"; "corp.example.com/"
    Sid,                  // "S-1-5-21-..."
    Guid,                 // "{6B29FC40-CA47-1067-B31D-00DD010662DA}"
    ServicePrincipalName, // "HTTP/web.corp.example.com"
    DisplayName,
};

std::vector<NameForm> candidateForms(const std::string& inName);

// The logon name rule: DOMAIN\\user at the first backslash, else
// user@domain at the first '@'. False for a distinguished name (any '=')
// and for a name with neither. The out-strings are assigned only on
// success. It differs from splitPrincipalName on purpose: a logon name
// "a@b@corp" names user a of domain "b@corp", while the principal name of
// the same text is a@b in corp.
bool splitUserName(const std::string& inName, std::string& outUser, std::string& outDomain);

// DOMAIN\\account at the first backslash; false without one. The domain may
// be a NetBIOS or a DNS name; an empty account names the domain itself.
bool splitNt4Name(const std::string& inName, std::string& outDomain, std::string& outAccount);
// account@domain at the last '@'; false unless both parts are non-empty.
bool splitPrincipalName(const std::string& inName, std::string& outAccount, std::string& outDomain);
// The components of a canonical name, the domain's DNS name first. In a
// component "\\/" is a '/' and "\\\\" a backslash; any other backslash is
// itself. False when there are fewer than two components or one is empty,
// except "domain/" (the domain itself: two components, the second empty).
bool splitCanonicalName(const std::string& inName, std::vector<std::string>& outParts);
// One component escaped for a canonical name: '/' and '\\' get a backslash.
std::string escapeCanonicalPart(const std::string& inPart);

// --- SIDs ---
//
// The binary form is: revision (1 byte), sub-authority count (1 byte, at most
// 15), identifier authority (6 bytes, big-endian), then the sub-authorities
// (4 bytes each, little-endian). The text form is "S-" revision "-"
// authority ("-" sub-authority)*, the authority in decimal below 2^32 and
// otherwise as "0x" and 12 upper-case hex digits, as Windows writes it.

// False (outText unchanged) when the bytes are no SID: too short, or a size
// that disagrees with the count.
bool sidToText(const std::string& inBytes, std::string& outText);
// False (outBytes unchanged) for text that is no SID. "s-" and lower-case
// hex are read too.
bool sidFromText(const std::string& inText, std::string& outBytes);
// The text form written one way (upper-case "S-", authority as above), or
// empty when inText is no SID.
std::string canonicalSid(const std::string& inText);
// A SID attribute's value as a backend gives it, binary (a live directory)
// or already text (an LDIF directory), as canonical text; false when it is
// neither.
bool sidOfValue(const std::string& inValue, std::string& outText);

// --- GUIDs ---
//
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in upper case; the first three
// fields are little-endian in the 16 bytes, as Active Directory stores
// objectGUID.
bool guidToText(const std::string& inBytes, std::string& outText);
// Read with or without braces, in either case.
bool guidFromText(const std::string& inText, std::string& outBytes);

// --- primary groups ---
//
// Besides the groups whose member attribute names it, an account belongs to
// its primary group: the group whose objectSid is the account's own domain
// SID (its objectSid without the last sub-authority) followed by the
// account's primaryGroupID (Domain Users, 513, for most users; Domain
// Computers for computers). Active Directory keeps that membership out of
// the group's member attribute.

// The SID text of the primary group of the object with SID inObjectSid (text
// or binary, as inSidIsText says) and primaryGroupID inPrimaryGroupId
// (decimal text). False when either is missing or malformed.
bool primaryGroupSid(const std::string& inObjectSid, bool inSidIsText,
                     const std::string& inPrimaryGroupId, std::string& outGroupSid);

// Whether two SIDs in text form name the same SID (any spelling).
bool sameSid(const std::string& inLeft, const std::string& inRight);

} // namespace corvel::directory::names
