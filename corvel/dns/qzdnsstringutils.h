// Text of DNS zone data: SOA serial numbers, reverse-zone names, the SOA
// mailbox ("hostmaster") field, absolute names. The label operations and the
// duration text live with the name recogniser in qzdnsstatemachine.h, which
// this header includes. Case folding is ASCII only.
#pragma once

#include <cstdint>
#include <string>

#include "corvel/dns/qzdnsstatemachine.h"

class qzDate;

// The next SOA serial after curSerial, for today's local date. Date-based
// serials (YYYYMMDD, YYYYMMDDn, YYYYMMDDnn) move to today's date with
// counter 01, or count up within today; any other serial is incremented.
// 0 starts at today's YYYYMMDD01. The largest serial wraps to 0, which is
// reported by assertion ("returnValue > curSerial").
std::uint32_t nextSerial(std::uint32_t curSerial);
// The same with today's date given, so that the rule can be tested.
std::uint32_t nextSerial(std::uint32_t curSerial, const qzDate& inToday);

// Ends with ".in-addr.arpa." or ".ip6.arpa.", ASCII case ignored.
bool isReverseZoneName(const std::string& inName);

// Non-empty, every character printable (32..126, space included), no "@"
// and no "\\".
bool isValidLocalPart(const std::string& inText);

// A mail address local@domain, or (when allowed) the hostmaster form: the
// local part with its dots escaped as "\\.", a ".", then the domain.
// requireHostmasterFormat without allowHostmasterFormat is reported by
// assertion.
bool isValidMailName(const std::string& inText, bool allowHostmasterFormat,
                     bool requireHostmasterFormat);

// isValidDNSName of the string's characters. A string holding a NUL byte is
// not a valid name.
bool isValidDNSName(const std::string& inName, bool inAllowRoot);

// local@domain becomes local.domain. with the dots of the local part (from
// its second character on) escaped: a.b@c.d gives a\.b.c.d. Text without "@"
// comes back unchanged.
std::string mailToHostmaster(const std::string& inText);

// "" stays "", a name ending in "." is unchanged, any other gets "." added.
std::string makeAbsolute(const std::string& inName);
