// The LDAP ping: the request byte for byte as a Samba DC received it, its
// answer decoded to what that DC said, the optional fields of the logon
// response, malformed datagrams and values of every kind (each must fail
// cleanly, never read past its end), and the ping itself against DCs of
// the test's own on loopback: the first valid answer taken wins, the rest
// is ignored, and the time-out bounds the call.
#include "corvel/platform/directory/ldap/ldap_ping.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/names.h"

using namespace corvel::directory;
using namespace corvel::directory::ldap;

namespace
{

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes hex(const std::string& inText)
{
    Bytes theBytes;
    for (std::size_t curPos = 0; curPos + 1 < inText.size(); curPos += 2)
        theBytes.push_back(
            static_cast<std::uint8_t>(std::stoul(inText.substr(curPos, 2), nullptr, 16)));
    return theBytes;
}

Bytes text(const std::string& inText) { return Bytes(inText.begin(), inText.end()); }

Bytes operator+(Bytes inLeft, const Bytes& inRight)
{
    inLeft.insert(inLeft.end(), inRight.begin(), inRight.end());
    return inLeft;
}

// The Samba DC of SiteB, asked by a client of SiteB (see the forest notes).
const std::string kSambaRequest =
    "304f020101634a04000a01000a0100020100020100010100a02ba31a0409446e73446f6d61696e040d61636d65"
    "2e6c61622e74657374a30d04054e74566572040406000000300a04084e65746c6f676f6e";
const std::string kSambaNetlogon =
    "17000000fc1300001607535f96f42148a455d62568b971f60461636d65036c6162047465737400c01803646332"
    "c0180441434d450003444332000005536974654200c03b05000000ffffffff";
const std::string kSambaAnswer = "306502010164600400305c305a04086e65746c6f676f6e314e044c" +
                                 kSambaNetlogon + "300c02010165070a010004000400";
const std::string kSambaDone = "300c02010165070a010004000400";
// The same DC's value as it is with NtVer 0x8 asked: the DC's address
// (127.0.0.3) after the client's site, and NtVersion 0xd.
const std::string kWithIpNetlogon =
    "17000000fc1300001607535f96f42148a455d62568b971f60461636d65036c6162047465737400c01803646332"
    "c0180441434d450003444332000005536974654200c03b10020000007f0000030000000000000000"
    "0d000000ffffffff";
// Where the client's site starts in both: the fields before it are alike.
constexpr std::size_t kClientSiteAt = 66;

// BER of the test's own, to build answers the way other servers write them.
Bytes element(std::uint8_t inTag, const Bytes& inContent, bool inLongForm = false)
{
    Bytes theOut{inTag};
    const std::size_t theSize = inContent.size();
    if (inLongForm) // as Windows writes every length
        theOut = theOut + Bytes{0x84, static_cast<std::uint8_t>(theSize >> 24),
                                static_cast<std::uint8_t>(theSize >> 16),
                                static_cast<std::uint8_t>(theSize >> 8),
                                static_cast<std::uint8_t>(theSize)};
    else if (theSize < 0x80)
        theOut.push_back(static_cast<std::uint8_t>(theSize));
    else
        theOut = theOut + Bytes{0x82, static_cast<std::uint8_t>(theSize >> 8),
                                static_cast<std::uint8_t>(theSize)};
    return theOut + inContent;
}

Bytes messageId(std::int32_t inId)
{
    return element(
        0x02, Bytes{static_cast<std::uint8_t>(inId >> 24), static_cast<std::uint8_t>(inId >> 16),
                    static_cast<std::uint8_t>(inId >> 8), static_cast<std::uint8_t>(inId)});
}

struct Attribute
{
    std::string itsType;
    std::vector<Bytes> itsValues;
};

// A searchResEntry of DN "" with inAttributes.
Bytes entryMessage(std::int32_t inId, const std::vector<Attribute>& inAttributes,
                   bool inLongForm = false)
{
    Bytes theList;
    for (const Attribute& curAttribute : inAttributes)
    {
        Bytes theValues;
        for (const Bytes& curValue : curAttribute.itsValues)
            theValues = theValues + element(0x04, curValue, inLongForm);
        theList = theList + element(0x30,
                                    element(0x04, text(curAttribute.itsType), inLongForm) +
                                        element(0x31, theValues, inLongForm),
                                    inLongForm);
    }
    const Bytes theEntry = element(0x04, {}, inLongForm) + element(0x30, theList, inLongForm);
    return element(0x30, messageId(inId) + element(0x64, theEntry, inLongForm), inLongForm);
}

Bytes doneMessage(std::int32_t inId)
{
    return element(0x30,
                   messageId(inId) + element(0x65, hex("0a0100") + hex("0400") + hex("0400")));
}

Bytes answerDatagram(std::int32_t inId, const Bytes& inValue)
{
    return entryMessage(inId, {{"netlogon", {inValue}}}) + doneMessage(inId);
}

// A name written out without compression.
Bytes dnsName(const std::string& inName)
{
    Bytes theOut;
    std::size_t theStart = 0;
    while (theStart < inName.size())
    {
        std::size_t theDot = inName.find('.', theStart);
        if (theDot == std::string::npos)
            theDot = inName.size();
        theOut.push_back(static_cast<std::uint8_t>(theDot - theStart));
        theOut = theOut + text(inName.substr(theStart, theDot - theStart));
        theStart = theDot + 1;
    }
    theOut.push_back(0);
    return theOut;
}

Bytes littleEndian(std::uint32_t inValue)
{
    return Bytes{static_cast<std::uint8_t>(inValue), static_cast<std::uint8_t>(inValue >> 8),
                 static_cast<std::uint8_t>(inValue >> 16),
                 static_cast<std::uint8_t>(inValue >> 24)};
}

// A logon response with the fixed fields before the names, and what follows.
Bytes responseHead(std::uint16_t inOpcode = 23, std::uint32_t inFlags = 0x13fc)
{
    return Bytes{static_cast<std::uint8_t>(inOpcode), static_cast<std::uint8_t>(inOpcode >> 8), 0,
                 0} +
           littleEndian(inFlags) + Bytes(16, 0xab);
}
const Bytes kTail = hex("05000000ffffffff");

Bytes netlogonValue(std::uint32_t inFlags, const std::string& inHost, const std::string& inDcSite,
                    const std::string& inClientSite)
{
    return responseHead(23, inFlags) + dnsName("acme.lab.test") + dnsName("acme.lab.test") +
           dnsName(inHost) + dnsName("ACME") + dnsName("DC") + dnsName("") + dnsName(inDcSite) +
           dnsName(inClientSite) + kTail;
}

std::string guidText(const std::array<std::uint8_t, 16>& inGuid)
{
    std::string theText;
    names::guidToText(std::string(inGuid.begin(), inGuid.end()), theText);
    return theText;
}

} // namespace

TEST(LdapPing, RequestsByteForByte)
{
    struct Case
    {
        std::int32_t itsId;
        std::string itsDomain;
        std::uint32_t itsNtVersion;
        std::string itsHex; // "{domain}" stands for the domain's bytes
    };
    const Case theCases[] = {
        // What the Samba DC received.
        {1, "acme.lab.test", 6, kSambaRequest},
        // Ids of every width, a high bit kept positive by a zero byte.
        {300, "x", 0x16,
         "30440202012c633e04000a01000a0100020100020100010100a01fa30e0409446e73446f6d61696e04"
         "0178a30d04054e74566572040416000000300a04084e65746c6f676f6e"},
        {128, "corp.example.com", 0xe,
         "305302020080634d04000a01000a0100020100020100010100a02ea31d0409446e73446f6d61696e04"
         "10{domain}a30d04054e7456657204040e000000300a04084e65746c6f676f6e"},
        {0x7fffffff, "", 6,
         "304502047fffffff633d04000a01000a0100020100020100010100a01ea30d0409446e73446f6d6169"
         "6e0400a30d04054e74566572040406000000300a04084e65746c6f676f6e"},
        // NtVer little-endian, its top byte too.
        {0, "a", 0x80000006,
         "3043020100633e04000a01000a0100020100020100010100a01fa30e0409446e73446f6d61696e0401"
         "61a30d04054e74566572040406000080300a04084e65746c6f676f6e"},
        // A long domain: the lengths around it take their long form.
        {5, std::string(120, 'A'), 6,
         "3081bd0201056381b704000a01000a0100020100020100010100a08197a381850409446e73446f6d61"
         "696e0478{domain}a30d04054e74566572040406000000300a04084e65746c6f676f6e"},
    };
    for (const Case& curCase : theCases)
    {
        SCOPED_TRACE(curCase.itsId);
        const std::size_t theAt = curCase.itsHex.find("{domain}");
        const Bytes theExpected = theAt == std::string::npos
                                      ? hex(curCase.itsHex)
                                      : hex(curCase.itsHex.substr(0, theAt)) +
                                            text(curCase.itsDomain) +
                                            hex(curCase.itsHex.substr(theAt + 8));
        EXPECT_EQ(encodePingRequest(curCase.itsId, curCase.itsDomain, curCase.itsNtVersion),
                  theExpected);
    }
    EXPECT_EQ(encodePingRequest(1, "acme.lab.test"), hex(kSambaRequest)); // NtVer 6 unless asked
    EXPECT_TRUE(encodePingRequest(-1, "acme.lab.test").empty());
}

TEST(LdapPing, SambaAnswerDecodesToWhatTheDcSaid)
{
    std::vector<std::uint8_t> theValue;
    ASSERT_EQ(decodePingAnswer(hex(kSambaAnswer), 1, theValue), PingAnswer::Netlogon);
    EXPECT_EQ(theValue, hex(kSambaNetlogon));
    NetlogonResponse theResponse;
    ASSERT_TRUE(parseNetlogonResponse(theValue, kPingNtVersion, theResponse));
    EXPECT_EQ(theResponse.itsOpcode, kLogonSamLogonResponseEx);
    EXPECT_EQ(theResponse.itsFlags, 0x13fcu);
    EXPECT_EQ(describeDsFlags(theResponse.itsFlags),
              "GC LDAP DS KDC TIMESERV CLOSEST WRITABLE GOOD_TIMESERV FULL_SECRET_DOMAIN_6");
    EXPECT_EQ(guidText(theResponse.itsDomainGuid), "{5F530716-F496-4821-A455-D62568B971F6}");
    EXPECT_EQ(theResponse.itsDnsForestName, "acme.lab.test");
    EXPECT_EQ(theResponse.itsDnsDomainName, "acme.lab.test");
    EXPECT_EQ(theResponse.itsDnsHostName, "dc2.acme.lab.test");
    EXPECT_EQ(theResponse.itsNetbiosDomainName, "ACME");
    EXPECT_EQ(theResponse.itsNetbiosComputerName, "DC2");
    EXPECT_EQ(theResponse.itsUserName, "");
    EXPECT_EQ(theResponse.itsDcSiteName, "SiteB");
    EXPECT_EQ(theResponse.itsClientSiteName, "SiteB"); // through the pointer c0 3b
    EXPECT_EQ(theResponse.itsDcAddress, "");
    EXPECT_EQ(theResponse.itsNextClosestSiteName, "");
    EXPECT_EQ(theResponse.itsNtVersion, 5u);
    EXPECT_EQ(theResponse.itsLmNtToken, 0xffffu);
    EXPECT_EQ(theResponse.itsLm20Token, 0xffffu);

    EXPECT_EQ(describeDsFlags(kDsPdcFlag | kDsDnsForestFlag | 0x2), "PDC DNS_FOREST 0x2");
    EXPECT_EQ(describeDsFlags(0), "");
}

TEST(LdapPing, AnswerDatagrams)
{
    const Bytes theValue = hex(kSambaNetlogon);
    struct Case
    {
        const char* itsName;
        Bytes itsDatagram;
        PingAnswer itsAnswer;
    };
    const Case theCases[] = {
        {"Samba's", hex(kSambaAnswer), PingAnswer::Netlogon},
        {"built like Samba's", answerDatagram(1, theValue), PingAnswer::Netlogon},
        {"every length in long form",
         entryMessage(1, {{"Netlogon", {theValue}}}, true) + doneMessage(1), PingAnswer::Netlogon},
        {"the attribute named in capitals",
         entryMessage(1, {{"NETLOGON", {theValue}}}) + doneMessage(1), PingAnswer::Netlogon},
        {"other attributes besides",
         entryMessage(1, {{"cn", {}}, {"netlogon", {theValue}}, {"x", {text("y")}}}) +
             doneMessage(1),
         PingAnswer::Netlogon},
        {"another domain: the end alone", hex(kSambaDone), PingAnswer::NoEntry},
        {"an entry without the attribute",
         entryMessage(1, {{"dnsHostName", {text("dc2")}}}) + doneMessage(1), PingAnswer::NoEntry},
        {"another message id", answerDatagram(2, theValue), PingAnswer::WrongMessageId},
        {"another id on the end", entryMessage(1, {{"netlogon", {theValue}}}) + doneMessage(2),
         PingAnswer::WrongMessageId},
        {"nothing", {}, PingAnswer::Malformed},
        {"the entry without the end", entryMessage(1, {{"netlogon", {theValue}}}),
         PingAnswer::Malformed},
        {"the end before the entry", doneMessage(1) + answerDatagram(1, theValue),
         PingAnswer::Malformed},
        {"two entries", entryMessage(1, {{"netlogon", {theValue}}}) + answerDatagram(1, theValue),
         PingAnswer::Malformed},
        {"two values", entryMessage(1, {{"netlogon", {theValue, theValue}}}) + doneMessage(1),
         PingAnswer::Malformed},
        {"no value", entryMessage(1, {{"netlogon", {}}}) + doneMessage(1), PingAnswer::Malformed},
        {"the attribute twice",
         entryMessage(1, {{"netlogon", {theValue}}, {"Netlogon", {theValue}}}) + doneMessage(1),
         PingAnswer::Malformed},
        {"bytes after the end", hex(kSambaAnswer) + Bytes{0, 0}, PingAnswer::Malformed},
        {"a search reference",
         element(0x30, messageId(1) + element(0x73, element(0x04, text("ldap://x")))) +
             doneMessage(1),
         PingAnswer::Malformed},
        {"an indefinite length", hex("3080020101650a0a010004000400000000"), PingAnswer::Malformed},
        {"five length bytes", hex("30850000000009020101650a0a0100040004"), PingAnswer::Malformed},
        {"a length past the end", hex("300d02010165070a010004000400"), PingAnswer::Malformed},
        {"a long-form tag", hex("3f0c02010165070a010004000400"), PingAnswer::Malformed},
        {"an id of nine bytes", hex("3014020900000000000000000165070a010004000400"),
         PingAnswer::Malformed},
        {"an empty id", hex("300b020065070a010004000400"), PingAnswer::Malformed},
        {"an end without its result", hex("300702010165020a00"), PingAnswer::Malformed},
    };
    for (const Case& curCase : theCases)
    {
        SCOPED_TRACE(curCase.itsName);
        std::vector<std::uint8_t> theOut{0x55};
        EXPECT_EQ(decodePingAnswer(curCase.itsDatagram, 1, theOut), curCase.itsAnswer);
        EXPECT_EQ(theOut, curCase.itsAnswer == PingAnswer::Netlogon ? theValue : Bytes{});
    }
    // A datagram cut anywhere is no answer.
    const Bytes theWhole = hex(kSambaAnswer);
    for (std::size_t curSize = 0; curSize < theWhole.size(); ++curSize)
    {
        SCOPED_TRACE(curSize);
        std::vector<std::uint8_t> theOut;
        EXPECT_EQ(decodePingAnswer(std::span(theWhole.data(), curSize), 1, theOut),
                  PingAnswer::Malformed);
    }
}

TEST(LdapPing, LogonResponsesAndWhatWasAskedFor)
{
    const Bytes theSamba = hex(kSambaNetlogon);
    const Bytes theWithIp = hex(kWithIpNetlogon);
    const Bytes theBeforeClientSite(theSamba.begin(), theSamba.begin() + kClientSiteAt);
    // 63 + 63 + 63 + 61 bytes of labels: 255 bytes written out, the most.
    const std::string theLongest = std::string(63, 'a') + "." + std::string(63, 'b') + "." +
                                   std::string(63, 'c') + "." + std::string(61, 'd');
    struct Case
    {
        const char* itsName;
        Bytes itsValue;
        std::uint32_t itsAsked;
        std::uint16_t itsOpcode;
        std::string itsClientSite;
        std::string itsDcAddress;
        std::string itsNextClosest;
        std::uint32_t itsNtVersion;
    };
    const Case theCases[] = {
        {"Samba's", theSamba, 0x6, 23, "SiteB", "", "", 5},
        {"the next closest site asked, not sent (Samba)", theSamba, 0x16, 23, "SiteB", "", "", 5},
        {"with the DC's address", theWithIp, 0xe, 23, "SiteB", "127.0.0.3", "", 0xd},
        {"the address and the next closest site", theWithIp, 0x1e, 23, "SiteB", "127.0.0.3", "",
         0xd},
        {"the next closest site sent",
         Bytes(theWithIp.begin(), theWithIp.end() - 8) + dnsName("SiteA") + hex("0d000000ffffffff"),
         0x1e, 23, "SiteB", "127.0.0.3", "SiteA", 0xd},
        {"a client in no subnet", theBeforeClientSite + Bytes{0} + kTail, 0x6, 23, "", "", "", 5},
        {"an unknown user", Bytes{25, 0} + Bytes(theSamba.begin() + 2, theSamba.end()), 0x6, 25,
         "SiteB", "", "", 5},
        {"a site name of 255 bytes", theBeforeClientSite + dnsName(theLongest) + kTail, 0x6, 23,
         theLongest, "", "", 5},
        {"a pointer onto an empty name", theBeforeClientSite + hex("c039") + kTail, 0x6, 23, "", "",
         "", 5},
    };
    for (const Case& curCase : theCases)
    {
        SCOPED_TRACE(curCase.itsName);
        NetlogonResponse theResponse;
        ASSERT_TRUE(parseNetlogonResponse(curCase.itsValue, curCase.itsAsked, theResponse));
        EXPECT_EQ(theResponse.itsOpcode, curCase.itsOpcode);
        EXPECT_EQ(theResponse.itsDnsHostName, "dc2.acme.lab.test");
        EXPECT_EQ(theResponse.itsDcSiteName, "SiteB");
        EXPECT_EQ(theResponse.itsClientSiteName, curCase.itsClientSite);
        EXPECT_EQ(theResponse.itsDcAddress, curCase.itsDcAddress);
        EXPECT_EQ(theResponse.itsNextClosestSiteName, curCase.itsNextClosest);
        EXPECT_EQ(theResponse.itsNtVersion, curCase.itsNtVersion);
        EXPECT_EQ(theResponse.itsLmNtToken, 0xffffu);
    }
}

TEST(LdapPing, MalformedLogonResponsesFailCleanly)
{
    const Bytes theSamba = hex(kSambaNetlogon);
    const Bytes theWithIp = hex(kWithIpNetlogon);
    const Bytes theHead = responseHead();
    // A value whose forest name is inName, the rest empty names.
    const auto theForest = [&](const Bytes& inName)
    { return theHead + inName + Bytes(7, 0) + kTail; };
    const Bytes theBeforeClientSite(theSamba.begin(), theSamba.begin() + kClientSiteAt);
    Bytes theCoveringLoop = theHead;
    // At 24 a label of 7 bytes covers the pointer at 30 back to 24; the one at
    // 32 leads back to 30: round and round, a label longer each time.
    theCoveringLoop = theCoveringLoop + hex("07") + text("abcde") + hex("c018") + hex("c01e");
    theCoveringLoop = theCoveringLoop + Bytes(7, 0) + kTail;
    struct Case
    {
        const char* itsName;
        Bytes itsValue;
        std::uint32_t itsAsked;
    };
    const Case theCases[] = {
        {"an opcode of another response (19)",
         Bytes{19, 0} + Bytes(theSamba.begin() + 2, theSamba.end()), 0x6},
        {"a pointer to itself", theForest(hex("c018")), 0x6},
        {"a pointer forward", theForest(hex("c01a") + hex("00")), 0x6},
        {"a pointer past the end", theForest(hex("c0ff")), 0x6},
        {"a pointer past the end, far", theForest(hex("ffff")), 0x6},
        {"a pointer cut in two", theHead + hex("c0"), 0x6},
        {"a loop through a label covering a pointer", theCoveringLoop, 0x6},
        {"a label of 64 bytes", theForest(Bytes{64} + Bytes(64, 'x') + Bytes{0}), 0x6},
        {"a label of the 0x80 kind", theForest(Bytes{0x81, 'x', 0}), 0x6},
        {"a name of 256 bytes",
         theForest(dnsName(std::string(63, 'a') + "." + std::string(63, 'b') + "." +
                           std::string(63, 'c') + "." + std::string(62, 'd'))),
         0x6},
        // The forest name is 128 bytes written out; the domain's two labels
        // and a pointer to it make 257.
        {"a name grown past 255 through a pointer",
         theHead + Bytes{63} + Bytes(63, 'a') + Bytes{63} + Bytes(63, 'b') + Bytes{0} + Bytes{63} +
             Bytes(63, 'c') + Bytes{63} + Bytes(63, 'd') + hex("c018") + Bytes(6, 0) + kTail,
         0x6},
        {"a name without its end", theHead + Bytes{4} + text("acme"), 0x6},
        {"a byte too many", theSamba + Bytes{0}, 0x6},
        {"the address asked, a byte too many", theSamba + Bytes{0}, 0xe},
        {"an address of another size",
         theBeforeClientSite + hex("c03b") + hex("08020000007f000003") + hex("0d000000ffffffff"),
         0xe},
        {"an address of another family",
         theBeforeClientSite + hex("c03b") + hex("10170000007f0000030000000000000000") +
             hex("0d000000ffffffff"),
         0xe},
        {"the address sent, not asked", theWithIp, 0x6},
        {"the address asked, not sent", theSamba, 0xe},
        {"the next closest site cut", theWithIp + Bytes{5, 'S'}, 0x1e},
    };
    for (const Case& curCase : theCases)
    {
        SCOPED_TRACE(curCase.itsName);
        NetlogonResponse theResponse;
        EXPECT_FALSE(parseNetlogonResponse(curCase.itsValue, curCase.itsAsked, theResponse));
    }
    // Both values cut anywhere, with what they answer (and the next closest
    // site asked besides).
    const std::pair<Bytes, std::uint32_t> theWholes[] = {
        {theSamba, 0x6}, {theSamba, 0x16}, {theWithIp, 0xe}, {theWithIp, 0x1e}};
    for (const auto& [curWhole, curAsked] : theWholes)
        for (std::size_t curSize = 0; curSize < curWhole.size(); ++curSize)
        {
            SCOPED_TRACE(::testing::Message() << curAsked << " " << curSize);
            NetlogonResponse theResponse;
            EXPECT_FALSE(
                parseNetlogonResponse(std::span(curWhole.data(), curSize), curAsked, theResponse));
        }
}

// ------------------------------------------------------------- on loopback

namespace
{

constexpr std::uint32_t kSambaFlags = 0x13fc;

enum class Reply
{
    Valid,
    Garbage,
    WrongId,
    NoEntry,
    FromStranger, // a valid answer, from a socket that was not pinged
};

struct Step
{
    int itsDelayMs;
    Reply itsReply;
    const char* itsSite = "SiteB";
    std::uint32_t itsFlags = kSambaFlags;
};

// DCs on loopback ports, one thread answering for all of them by the steps
// each was given (none: a silent DC).
class LoopbackDcs
{
public:
    explicit LoopbackDcs(std::vector<std::vector<Step>> inSteps)
        : itsSteps(std::move(inSteps)), itsRequests(itsSteps.size())
    {
        for (std::size_t curDc = 0; curDc <= itsSteps.size(); ++curDc)
        {
            const int theSocket = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in theAddress{};
            theAddress.sin_family = AF_INET;
            theAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t theSize = sizeof theAddress;
            if (theSocket < 0 ||
                ::bind(theSocket, reinterpret_cast<sockaddr*>(&theAddress), theSize) != 0 ||
                ::getsockname(theSocket, reinterpret_cast<sockaddr*>(&theAddress), &theSize) != 0)
                return;
            itsSockets.push_back(theSocket);
            itsPorts.push_back(ntohs(theAddress.sin_port));
        }
        itsThread = std::thread([this] { run(); });
    }
    ~LoopbackDcs()
    {
        itsStop = true;
        if (itsThread.joinable())
            itsThread.join();
        for (const int curSocket : itsSockets)
            ::close(curSocket);
    }
    LoopbackDcs(const LoopbackDcs&) = delete;
    LoopbackDcs& operator=(const LoopbackDcs&) = delete;

    bool ready() const { return itsThread.joinable(); }
    std::string candidate(std::size_t inDc) const
    {
        return "dc" + std::to_string(inDc) + ".acme.lab.test:" + std::to_string(itsPorts[inDc]);
    }
    int requests(std::size_t inDc) const { return itsRequests[inDc]; }
    int foreignRequests() const { return itsForeign; }

private:
    struct Due
    {
        Clock::time_point itsAt;
        int itsSocket;
        sockaddr_in itsTo;
        Bytes itsBytes;
    };

    Bytes replyOf(const Step& inStep, std::int32_t inId, std::size_t inDc) const
    {
        const Bytes theValue =
            netlogonValue(inStep.itsFlags, "dc" + std::to_string(inDc) + ".acme.lab.test",
                          inStep.itsSite, "SiteB");
        switch (inStep.itsReply)
        {
        case Reply::Garbage:
            return theValue; // not even BER
        case Reply::WrongId:
            return answerDatagram(inId + 1000, theValue);
        case Reply::NoEntry:
            return doneMessage(inId);
        case Reply::Valid:
        case Reply::FromStranger:
            break;
        }
        return answerDatagram(inId, theValue);
    }

    void received(std::size_t inDc, const Bytes& inRequest, const sockaddr_in& inFrom,
                  std::vector<Due>& ioDue)
    {
        // The id of a short request: 30 len 02 n id...
        std::int32_t theId = -1;
        if (inRequest.size() > 4 && inRequest[0] == 0x30 && inRequest[2] == 0x02 &&
            inRequest[3] <= 4)
        {
            theId = 0;
            for (std::size_t curByte = 0; curByte < inRequest[3]; ++curByte)
                theId = (theId << 8) | inRequest[4 + curByte];
        }
        if (theId < 0 || inRequest != encodePingRequest(theId, "acme.lab.test"))
        {
            ++itsForeign;
            return;
        }
        ++itsRequests[inDc];
        for (const Step& curStep : itsSteps[inDc])
        {
            const int theFrom =
                curStep.itsReply == Reply::FromStranger ? itsSockets.back() : itsSockets[inDc];
            ioDue.push_back(Due{Clock::now() + std::chrono::milliseconds(curStep.itsDelayMs),
                                theFrom, inFrom, replyOf(curStep, theId, inDc)});
        }
    }

    void run()
    {
        std::vector<Due> theDue;
        while (!itsStop)
        {
            std::vector<pollfd> theFds;
            for (std::size_t curDc = 0; curDc < itsSteps.size(); ++curDc)
                theFds.push_back(pollfd{itsSockets[curDc], POLLIN, 0});
            ::poll(theFds.data(), theFds.size(), 2);
            for (std::size_t curDc = 0; curDc < theFds.size(); ++curDc)
            {
                if (!(theFds[curDc].revents & POLLIN))
                    continue;
                Bytes theRequest(2048);
                sockaddr_in theFrom{};
                socklen_t theSize = sizeof theFrom;
                const ssize_t theRead =
                    ::recvfrom(itsSockets[curDc], theRequest.data(), theRequest.size(), 0,
                               reinterpret_cast<sockaddr*>(&theFrom), &theSize);
                if (theRead <= 0)
                    continue;
                theRequest.resize(static_cast<std::size_t>(theRead));
                received(curDc, theRequest, theFrom, theDue);
            }
            // In the order they fall due; those due together in the order given.
            const Clock::time_point theNow = Clock::now();
            for (auto curDue = theDue.begin(); curDue != theDue.end();)
            {
                if (curDue->itsAt > theNow)
                {
                    ++curDue;
                    continue;
                }
                ::sendto(curDue->itsSocket, curDue->itsBytes.data(), curDue->itsBytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&curDue->itsTo), sizeof curDue->itsTo);
                curDue = theDue.erase(curDue);
            }
        }
    }

    std::vector<std::vector<Step>> itsSteps;
    std::vector<int> itsSockets; // one per DC, then the stranger's
    std::vector<int> itsPorts;
    std::vector<std::atomic<int>> itsRequests;
    std::atomic<int> itsForeign{0};
    std::atomic<bool> itsStop{false};
    std::thread itsThread;
};

// The debug lines of the ping, caught instead of going to the log.
std::mutex gLogLock;
std::vector<std::string> gLogLines;
bool catchLine(qzInfoLogLevel, const char* inText)
{
    std::lock_guard<std::mutex> theLock(gLogLock);
    gLogLines.emplace_back(inText);
    return true;
}

bool logged(const std::string& inPart)
{
    return std::any_of(gLogLines.begin(), gLogLines.end(),
                       [&](const std::string& inLine)
                       { return inLine.find(inPart) != std::string::npos; });
}

// Every DC of the test is on 127.0.0.1; "missing" has no address, and
// "slow" is behind a name server that takes a second.
std::vector<std::string> testLookup(const std::string& inHost)
{
    if (inHost == "missing.acme.lab.test")
        return {};
    if (inHost == "slow.acme.lab.test")
        std::this_thread::sleep_for(std::chrono::seconds(1));
    return {"127.0.0.1"};
}

} // namespace

TEST(LdapPing, FirstValidAnswerOnLoopback)
{
    struct Scenario
    {
        const char* itsName;
        std::vector<std::vector<Step>> itsDcs;
        std::vector<std::string> itsFirstHosts; // pinged before the DCs
        int itsTimeoutMs = 1500;
        int itsIntervalMs = 0;
        bool itsNeedGc = false;
        int itsWinner = -1; // the DC whose answer is taken; -1: none
        const char* itsWinnerSite = "";
        std::vector<std::size_t> itsUnasked; // DCs never pinged
        bool itsEndsEarly = false;           // before half the time-out
    };
    const Scenario theScenarios[] = {
        {"one silent, one slow, one garbage then valid",
         {{},
          {{400, Reply::Valid, "SlowSite"}},
          {{0, Reply::Garbage}, {20, Reply::Valid, "FastSite"}}},
         {},
         1500,
         0,
         false,
         2,
         "FastSite",
         {},
         true},
        {"another id and another sender are ignored",
         {{{0, Reply::WrongId, "Wrong"},
           {0, Reply::FromStranger, "Stranger"},
           {30, Reply::Valid, "Right"}}},
         {},
         1500,
         0,
         false,
         0,
         "Right",
         {},
         true},
        {"an answer not taken",
         {{{0, Reply::Valid, "NoGc", kSambaFlags & ~kDsGcFlag}}, {{30, Reply::Valid, "Gc"}}},
         {},
         1500,
         0,
         true,
         1,
         "Gc",
         {},
         true},
        {"no DC of the domain",
         {{{0, Reply::NoEntry}}, {{0, Reply::NoEntry}}},
         {},
         1500,
         0,
         false,
         -1,
         "",
         {},
         true},
        {"none taken",
         {{{0, Reply::Valid, "NoGc", kDsLdapFlag}}},
         {},
         1500,
         0,
         true,
         -1,
         "",
         {},
         true},
        {"nobody answers", {{}}, {}, 150, 0, false, -1, "", {}, false},
        {"the first answers before the second is pinged",
         {{{0, Reply::Valid, "First"}}, {{0, Reply::Valid, "Second"}}},
         {},
         1500,
         300,
         false,
         0,
         "First",
         {1},
         true},
        {"a host without address",
         {{{0, Reply::Valid, "Found"}}},
         {"missing.acme.lab.test"},
         1500,
         0,
         false,
         0,
         "Found",
         {},
         true},
        {"a slow name server", {}, {"slow.acme.lab.test"}, 150, 0, false, -1, "", {}, false},
    };
    for (const Scenario& curScenario : theScenarios)
    {
        SCOPED_TRACE(curScenario.itsName);
        LoopbackDcs theDcs(curScenario.itsDcs);
        ASSERT_TRUE(theDcs.ready());
        std::vector<std::string> theHosts = curScenario.itsFirstHosts;
        for (std::size_t curDc = 0; curDc < curScenario.itsDcs.size(); ++curDc)
            theHosts.push_back(theDcs.candidate(curDc));
        PingOptions theOptions;
        theOptions.itsInterval = std::chrono::milliseconds(curScenario.itsIntervalMs);
        theOptions.itsLookup = testLookup;
        if (curScenario.itsNeedGc)
            theOptions.itsAccept = [](const PingResult& inAnswer)
            { return (inAnswer.itsResponse.itsFlags & kDsGcFlag) != 0; };
        const std::chrono::milliseconds theTimeout(curScenario.itsTimeoutMs);

        gLogLines.clear();
        setInfoLog("", 0);
        addInfoLogCallback(catchLine, qzLogDebug);
        const Clock::time_point theStart = Clock::now();
        const std::optional<PingResult> theResult =
            pingDomainControllers(theHosts, "acme.lab.test", theTimeout, theOptions);
        const Clock::duration theElapsed = Clock::now() - theStart;
        removeInfoLogCallback(catchLine);
        std::lock_guard<std::mutex> theLock(gLogLock);

        if (curScenario.itsWinner < 0)
            EXPECT_FALSE(theResult.has_value());
        else
        {
            ASSERT_TRUE(theResult.has_value());
            EXPECT_EQ(theResult->itsHost,
                      theDcs.candidate(static_cast<std::size_t>(curScenario.itsWinner)));
            EXPECT_EQ(theResult->itsAddress, "127.0.0.1");
            EXPECT_EQ(theResult->itsResponse.itsDcSiteName, curScenario.itsWinnerSite);
            EXPECT_EQ(theResult->itsResponse.itsClientSiteName, "SiteB");
            EXPECT_LE(theResult->itsRoundTrip, theElapsed);
            // The log says who answered first, its site and the client's.
            EXPECT_TRUE(logged(theResult->itsHost + " (127.0.0.1) answered first"));
            EXPECT_TRUE(
                logged(std::string("site ") + curScenario.itsWinnerSite + ", client site SiteB"));
        }
        // And which DCs were pinged.
        for (std::size_t curDc = 0; curDc < curScenario.itsDcs.size(); ++curDc)
        {
            if (theDcs.requests(curDc) > 0)
            {
                EXPECT_TRUE(logged(theDcs.candidate(curDc) + " (127.0.0.1)"));
            }
        }
        if (curScenario.itsEndsEarly)
            EXPECT_LT(theElapsed, theTimeout / 2);
        else
        {
            EXPECT_GE(theElapsed, theTimeout);
            EXPECT_LT(theElapsed, theTimeout + std::chrono::milliseconds(500));
        }
        // One ping to each DC at most, and none to those never reached.
        for (std::size_t curDc = 0; curDc < curScenario.itsDcs.size(); ++curDc)
            EXPECT_LE(theDcs.requests(curDc), 1);
        for (const std::size_t curDc : curScenario.itsUnasked)
            EXPECT_EQ(theDcs.requests(curDc), 0);
        EXPECT_EQ(theDcs.foreignRequests(), 0);
    }
}
