// Names and identifiers as every directory backend reads and writes them:
// the text forms of security identifiers (SIDs) and GUIDs, and the primary
// group rule of Active Directory membership.
//
// One codec for all backends, so that an LDIF export and the live directory
// print and compare the same identifier the same way.
#pragma once

#include <cstdint>
#include <string>

namespace corvel::directory::names
{

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
