// The LDAP ping: how the DC locator asks domain controllers, over UDP, which
// of them is alive, what it offers, and in which site the client is.
//
// The ping is a search sent in one datagram to port 389: base "", scope
// base, filter (&(DnsDomain=<domain>)(NtVer=<4 bytes, little-endian>)),
// attribute Netlogon. A DC of that domain answers, in one datagram, with a
// searchResEntry whose netlogon attribute holds a binary logon response and
// a searchResDone; a DC of another domain answers with the searchResDone
// alone. Debian's libldap has no connectionless LDAP, so the datagram is
// encoded, sent and read here; its BER is small and fixed, and is written
// and read by hand, so that a hostile datagram meets one bounded reader of
// ours and nothing else.
//
// The logon response asked for is NETLOGON_SAM_LOGON_RESPONSE_EX (opcode
// 23; 25 when the server reports an unknown user, with the same layout). Its
// names are DNS names with RFC 1035 compression, the pointers counting from
// the start of the value. Every reader here stays inside the bytes it is
// given and ends on any input.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "corvel/platform/directory/ldap/ldap_text.h"

namespace corvel::directory::ldap
{

// --- What the ping asks for (NtVer) ---

inline constexpr std::uint32_t kNtVersion5 = 0x2;                // NETLOGON_NT_VERSION_5
inline constexpr std::uint32_t kNtVersion5Ex = 0x4;              // NETLOGON_NT_VERSION_5EX
inline constexpr std::uint32_t kNtVersion5ExWithIp = 0x8;        // the DC's address too
inline constexpr std::uint32_t kNtVersionWithClosestSite = 0x10; // the next closest site too

// What our ping asks: V5 | V5EX, the least that gets the EX response. The
// site names are all the locator needs; the DC's address is the one it
// answered from, and Samba never sends the next closest site.
inline constexpr std::uint32_t kPingNtVersion = kNtVersion5 | kNtVersion5Ex;

// --- What the DC says it is (Flags) ---

inline constexpr std::uint32_t kDsPdcFlag = 0x1;
inline constexpr std::uint32_t kDsGcFlag = 0x4;
inline constexpr std::uint32_t kDsLdapFlag = 0x8;
inline constexpr std::uint32_t kDsDsFlag = 0x10;
inline constexpr std::uint32_t kDsKdcFlag = 0x20;
inline constexpr std::uint32_t kDsTimeservFlag = 0x40;
inline constexpr std::uint32_t kDsClosestFlag = 0x80; // in the client's site
inline constexpr std::uint32_t kDsWritableFlag = 0x100;
inline constexpr std::uint32_t kDsGoodTimeservFlag = 0x200;
inline constexpr std::uint32_t kDsNdncFlag = 0x400;
inline constexpr std::uint32_t kDsSelectSecretDomain6Flag = 0x800;
inline constexpr std::uint32_t kDsFullSecretDomain6Flag = 0x1000;
inline constexpr std::uint32_t kDsWsFlag = 0x2000;
inline constexpr std::uint32_t kDsDs8Flag = 0x4000;
inline constexpr std::uint32_t kDsDs9Flag = 0x8000;
inline constexpr std::uint32_t kDsDs10Flag = 0x10000;
inline constexpr std::uint32_t kDsDnsControllerFlag = 0x20000000;
inline constexpr std::uint32_t kDsDnsDomainFlag = 0x40000000;
inline constexpr std::uint32_t kDsDnsForestFlag = 0x80000000;

// "GC LDAP DS ..." for the log: the flags' names in the order above, blank
// separated; bits without a name as one "0x..." at the end.
std::string describeDsFlags(std::uint32_t inFlags);

// --- The request ---

// The ping for inDomain with message id inMessageId, asking inNtVersion.
// Empty when inMessageId is negative (LDAP message ids are 0..2^31-1).
std::vector<std::uint8_t> encodePingRequest(std::int32_t inMessageId, const std::string& inDomain,
                                            std::uint32_t inNtVersion = kPingNtVersion);

// --- The answer ---

enum class PingAnswer
{
    Netlogon,       // an entry with the netlogon value, and the search's end
    NoEntry,        // the search's end alone: not a DC of that domain
    WrongMessageId, // a message of another id: not the answer to this ping
    Malformed,      // anything else, cut datagrams included
};

// Reads one answer datagram: every LDAPMessage in it must be whole and carry
// inMessageId. outNetlogon gets the value of the entry's netlogon attribute
// (named in any case; exactly one value) and is left empty unless the answer
// is Netlogon.
PingAnswer decodePingAnswer(std::span<const std::uint8_t> inDatagram, std::int32_t inMessageId,
                            std::vector<std::uint8_t>& outNetlogon);

// --- The logon response in the netlogon value ---

inline constexpr std::uint16_t kLogonSamLogonResponseEx = 23;
inline constexpr std::uint16_t kLogonSamUserUnknownEx = 25;

struct NetlogonResponse
{
    std::uint16_t itsOpcode = 0;
    std::uint32_t itsFlags = 0;                   // kDs...Flag bits
    std::array<std::uint8_t, 16> itsDomainGuid{}; // as objectGUID stores it
    std::string itsDnsForestName;
    std::string itsDnsDomainName;
    std::string itsDnsHostName;
    std::string itsNetbiosDomainName;
    std::string itsNetbiosComputerName;
    std::string itsUserName;
    std::string itsDcSiteName;
    std::string itsClientSiteName; // empty when the client's address is in no site's subnet
    // With kNtVersion5ExWithIp asked: the DC's IPv4 address ("192.0.2.1"),
    // else empty.
    std::string itsDcAddress;
    // With kNtVersionWithClosestSite asked, when the server sends it.
    std::string itsNextClosestSiteName;
    std::uint32_t itsNtVersion = 0;
    std::uint16_t itsLmNtToken = 0;
    std::uint16_t itsLm20Token = 0;
};

// Parses the netlogon value of a ping that asked inNtVersionAsked: the DC's
// address is there when it was asked for, the next closest site when it was
// asked for and the server had one. False on a cut or overlong value, an opcode
// other than 23 or 25, a name that is malformed (a label over 63 bytes, a
// name over 255, a pointer that does not point back before itself), or a DC
// address that is no sockaddr_in; outResponse then holds nothing of use.
bool parseNetlogonResponse(std::span<const std::uint8_t> inValue, std::uint32_t inNtVersionAsked,
                           NetlogonResponse& outResponse);

// --- Pinging the DCs ---

// The numeric addresses ("192.0.2.1", "2001:db8::1") of a DC's host name;
// empty when it has none.
using AddressLookup = std::function<std::vector<std::string>(const std::string& inHost)>;

// getaddrinfo, IPv4 and IPv6, in its order, without repeats.
std::vector<std::string> systemAddressLookup(const std::string& inHost);

// The DC that answered first.
struct PingResult
{
    std::string itsHost;    // the candidate, as the caller named it
    std::string itsAddress; // the address it answered from, numeric
    NetlogonResponse itsResponse;
    // From the ping sent to that address to its answer.
    std::chrono::steady_clock::duration itsRoundTrip{};
};

struct PingOptions
{
    // Where DCs answer the ping, whatever port their SRV records name; a
    // candidate written "host:port" or "[v6]:port" names its own.
    int itsPort = kLdapPort;
    // The pings go out one address at a time, this long apart, and earlier
    // ones stay in flight (DsGetDcName's way): a near DC early in the list
    // answers before the rest are even asked, and a list of hundreds is not
    // flooded at once. Zero sends them all at once.
    std::chrono::milliseconds itsInterval{10};
    std::uint32_t itsNtVersion = kPingNtVersion;
    // Whether to take a valid answer (say, only global catalogs, or only DCs
    // not already found dead); empty takes any. A DC whose answer is not
    // taken is not waited for again.
    std::function<bool(const PingResult& inAnswer)> itsAccept;
    // Empty: systemAddressLookup. It runs on threads of its own, several at
    // once, and may still be running when the call has returned: it must
    // hold what it uses, never refer to the caller's locals.
    AddressLookup itsLookup;
};

// Pings inHosts (DC host names, in the order to ask them) for inDomain and
// returns the first valid answer taken; nothing when none came within
// inTimeout (an hour at most) or every DC pinged said no. Host names are
// looked up in the background, a few at a time, so that a slow name server
// does not hold the call beyond inTimeout. Answers that do not decode, carry
// another message id or come from an address not pinged are ignored. Logs
// at the debug level the DCs pinged, the one that answered first, its site
// and the client's.
std::optional<PingResult> pingDomainControllers(const std::vector<std::string>& inHosts,
                                                const std::string& inDomain,
                                                std::chrono::milliseconds inTimeout,
                                                const PingOptions& inOptions = {});

} // namespace corvel::directory::ldap
