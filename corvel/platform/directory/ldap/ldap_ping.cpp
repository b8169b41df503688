#include "corvel/platform/directory/ldap/ldap_ping.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace corvel::directory::ldap
{

namespace
{

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;
// The BER tags of the few LDAP elements a ping is made of.
constexpr std::uint8_t kTagBoolean = 0x01;
constexpr std::uint8_t kTagInteger = 0x02;
constexpr std::uint8_t kTagOctetString = 0x04;
constexpr std::uint8_t kTagEnumerated = 0x0a;
constexpr std::uint8_t kTagSequence = 0x30;
constexpr std::uint8_t kTagSet = 0x31;
constexpr std::uint8_t kTagSearchRequest = 0x63;  // [APPLICATION 3]
constexpr std::uint8_t kTagSearchResEntry = 0x64; // [APPLICATION 4]
constexpr std::uint8_t kTagSearchResDone = 0x65;  // [APPLICATION 5]
constexpr std::uint8_t kTagFilterAnd = 0xa0;      // [0] SET OF Filter
constexpr std::uint8_t kTagFilterEquality = 0xa3; // [3] AttributeValueAssertion

// ------------------------------------------------------------- BER writing

void appendLength(Bytes& ioOut, std::size_t inLength)
{
    if (inLength < 0x80)
    {
        ioOut.push_back(static_cast<std::uint8_t>(inLength));
        return;
    }
    std::uint8_t theDigits[sizeof(std::size_t)];
    std::size_t theCount = 0;
    for (std::size_t curRest = inLength; curRest != 0; curRest >>= 8)
        theDigits[theCount++] = static_cast<std::uint8_t>(curRest & 0xff);
    ioOut.push_back(static_cast<std::uint8_t>(0x80 | theCount));
    while (theCount > 0)
        ioOut.push_back(theDigits[--theCount]);
}

Bytes element(std::uint8_t inTag, ByteSpan inContent)
{
    Bytes theOut;
    theOut.reserve(inContent.size() + 6);
    theOut.push_back(inTag);
    appendLength(theOut, inContent.size());
    theOut.insert(theOut.end(), inContent.begin(), inContent.end());
    return theOut;
}

Bytes octets(const std::string& inText)
{
    return element(kTagOctetString,
                   ByteSpan(reinterpret_cast<const std::uint8_t*>(inText.data()), inText.size()));
}

// A non-negative INTEGER (or ENUMERATED) in the fewest bytes.
Bytes integer(std::uint8_t inTag, std::uint32_t inValue)
{
    Bytes theDigits;
    do
    {
        theDigits.insert(theDigits.begin(), static_cast<std::uint8_t>(inValue & 0xff));
        inValue >>= 8;
    } while (inValue != 0);
    if (theDigits.front() & 0x80)
        theDigits.insert(theDigits.begin(), 0);
    return element(inTag, theDigits);
}

Bytes joined(std::initializer_list<Bytes> inParts)
{
    Bytes theOut;
    for (const Bytes& curPart : inParts)
        theOut.insert(theOut.end(), curPart.begin(), curPart.end());
    return theOut;
}

// ------------------------------------------------------------- BER reading

// Walks the elements of one level of BER. Only what LDAP uses is read:
// one-byte tags, and definite lengths of up to four bytes (LDAP forbids the
// indefinite form); anything else ends the walk with false. Every element
// read advances by at least its two header bytes and lies wholly inside the
// bytes given.
class BerReader
{
public:
    explicit BerReader(ByteSpan inBytes) : itsBytes(inBytes) {}

    bool atEnd() const { return itsPos == itsBytes.size(); }

    bool next(std::uint8_t& outTag, ByteSpan& outContent)
    {
        std::size_t thePos = itsPos;
        if (itsBytes.size() - thePos < 2)
            return false;
        const std::uint8_t theTag = itsBytes[thePos++];
        if ((theTag & 0x1f) == 0x1f)
            return false;
        std::size_t theLength = itsBytes[thePos++];
        if (theLength & 0x80)
        {
            const std::size_t theCount = theLength & 0x7f;
            if (theCount == 0 || theCount > 4 || theCount > itsBytes.size() - thePos)
                return false;
            theLength = 0;
            for (std::size_t curDigit = 0; curDigit < theCount; ++curDigit)
                theLength = (theLength << 8) | itsBytes[thePos++];
        }
        if (theLength > itsBytes.size() - thePos)
            return false;
        outTag = theTag;
        outContent = itsBytes.subspan(thePos, theLength);
        itsPos = thePos + theLength;
        return true;
    }

    bool expect(std::uint8_t inTag, ByteSpan& outContent)
    {
        std::uint8_t theTag = 0;
        return next(theTag, outContent) && theTag == inTag;
    }

private:
    ByteSpan itsBytes;
    std::size_t itsPos = 0;
};

bool readInteger(ByteSpan inContent, std::int64_t& outValue)
{
    if (inContent.empty() || inContent.size() > 8)
        return false;
    std::uint64_t theValue = (inContent[0] & 0x80) ? ~std::uint64_t{0} : 0;
    for (const std::uint8_t curByte : inContent)
        theValue = (theValue << 8) | curByte;
    outValue = static_cast<std::int64_t>(theValue);
    return true;
}

bool isNetlogonName(ByteSpan inType)
{
    static constexpr char kName[] = "netlogon";
    if (inType.size() != sizeof kName - 1)
        return false;
    for (std::size_t curPos = 0; curPos < inType.size(); ++curPos)
    {
        std::uint8_t curChar = inType[curPos];
        if (curChar >= 'A' && curChar <= 'Z')
            curChar = static_cast<std::uint8_t>(curChar - 'A' + 'a');
        if (curChar != static_cast<std::uint8_t>(kName[curPos]))
            return false;
    }
    return true;
}

// The entry's netlogon value, if it has one (outFound). False when the entry
// is malformed or holds the attribute twice or with other than one value.
bool readEntry(ByteSpan inEntry, Bytes& outValue, bool& outFound)
{
    outFound = false;
    BerReader theEntry(inEntry);
    ByteSpan theName;
    ByteSpan theAttributes;
    if (!theEntry.expect(kTagOctetString, theName) ||
        !theEntry.expect(kTagSequence, theAttributes) || !theEntry.atEnd())
        return false;
    BerReader theList(theAttributes);
    while (!theList.atEnd())
    {
        ByteSpan theAttribute;
        if (!theList.expect(kTagSequence, theAttribute))
            return false;
        BerReader theParts(theAttribute);
        ByteSpan theType;
        ByteSpan theValues;
        if (!theParts.expect(kTagOctetString, theType) || !theParts.expect(kTagSet, theValues) ||
            !theParts.atEnd())
            return false;
        if (!isNetlogonName(theType))
            continue;
        BerReader theSet(theValues);
        ByteSpan theValue;
        if (outFound || !theSet.expect(kTagOctetString, theValue) || !theSet.atEnd())
            return false;
        outValue.assign(theValue.begin(), theValue.end());
        outFound = true;
    }
    return true;
}

// ------------------------------------------------------- the logon response

// Reads the fixed and the name fields of a netlogon value, front to back.
class ValueReader
{
public:
    explicit ValueReader(ByteSpan inBytes) : itsBytes(inBytes) {}

    std::size_t left() const { return itsBytes.size() - itsPos; }

    bool bytes(std::uint8_t* outBytes, std::size_t inCount)
    {
        if (left() < inCount)
            return false;
        std::copy_n(itsBytes.begin() + static_cast<std::ptrdiff_t>(itsPos), inCount, outBytes);
        itsPos += inCount;
        return true;
    }

    bool u8(std::uint8_t& outValue) { return bytes(&outValue, 1); }

    bool u16(std::uint16_t& outValue)
    {
        std::uint8_t theBytes[2];
        if (!bytes(theBytes, 2))
            return false;
        outValue = static_cast<std::uint16_t>(theBytes[0] | (theBytes[1] << 8));
        return true;
    }

    bool u32(std::uint32_t& outValue)
    {
        std::uint8_t theBytes[4];
        if (!bytes(theBytes, 4))
            return false;
        outValue = static_cast<std::uint32_t>(theBytes[0]) |
                   (static_cast<std::uint32_t>(theBytes[1]) << 8) |
                   (static_cast<std::uint32_t>(theBytes[2]) << 16) |
                   (static_cast<std::uint32_t>(theBytes[3]) << 24);
        return true;
    }

    // An RFC 1035 name. A pointer must point before itself, and a name is
    // at most 255 bytes written out: the two together end every walk, even
    // one that runs back over a label covering the pointer it came from;
    // the cap on jumps says so plainly.
    bool name(std::string& outName)
    {
        static constexpr std::size_t kMaxNameBytes = 255;
        static constexpr std::size_t kMaxJumps = 128;
        outName.clear();
        std::size_t thePos = itsPos;
        std::size_t theWritten = 1; // the final zero
        std::size_t theJumps = 0;
        std::size_t theEnd = 0; // where the name ends in the value, once known
        for (;;)
        {
            if (thePos >= itsBytes.size())
                return false;
            const std::uint8_t theLength = itsBytes[thePos];
            if (theLength == 0)
            {
                if (theEnd == 0)
                    theEnd = thePos + 1;
                break;
            }
            if ((theLength & 0xc0) == 0xc0)
            {
                if (thePos + 1 >= itsBytes.size())
                    return false;
                const std::size_t theTarget =
                    (static_cast<std::size_t>(theLength & 0x3f) << 8) | itsBytes[thePos + 1];
                if (theTarget >= thePos || ++theJumps > kMaxJumps)
                    return false;
                if (theEnd == 0)
                    theEnd = thePos + 2;
                thePos = theTarget;
                continue;
            }
            // 0x40 and 0x80 start label types no DC writes.
            if (theLength > 63)
                return false;
            theWritten += 1 + theLength;
            if (theWritten > kMaxNameBytes || theLength >= itsBytes.size() - thePos)
                return false;
            if (!outName.empty())
                outName += '.';
            outName.append(reinterpret_cast<const char*>(itsBytes.data() + thePos + 1), theLength);
            thePos += 1 + theLength;
        }
        itsPos = theEnd;
        return true;
    }

private:
    ByteSpan itsBytes;
    std::size_t itsPos = 0;
};

} // namespace

std::string describeDsFlags(std::uint32_t inFlags)
{
    static constexpr struct
    {
        std::uint32_t itsFlag;
        const char* itsName;
    } kNames[] = {
        {kDsPdcFlag, "PDC"},
        {kDsGcFlag, "GC"},
        {kDsLdapFlag, "LDAP"},
        {kDsDsFlag, "DS"},
        {kDsKdcFlag, "KDC"},
        {kDsTimeservFlag, "TIMESERV"},
        {kDsClosestFlag, "CLOSEST"},
        {kDsWritableFlag, "WRITABLE"},
        {kDsGoodTimeservFlag, "GOOD_TIMESERV"},
        {kDsNdncFlag, "NDNC"},
        {kDsSelectSecretDomain6Flag, "SELECT_SECRET_DOMAIN_6"},
        {kDsFullSecretDomain6Flag, "FULL_SECRET_DOMAIN_6"},
        {kDsWsFlag, "WS"},
        {kDsDs8Flag, "DS_8"},
        {kDsDs9Flag, "DS_9"},
        {kDsDs10Flag, "DS_10"},
        {kDsDnsControllerFlag, "DNS_CONTROLLER"},
        {kDsDnsDomainFlag, "DNS_DOMAIN"},
        {kDsDnsForestFlag, "DNS_FOREST"},
    };
    std::string theText;
    std::uint32_t theRest = inFlags;
    for (const auto& curName : kNames)
        if (inFlags & curName.itsFlag)
        {
            theText += (theText.empty() ? "" : " ") + std::string(curName.itsName);
            theRest &= ~curName.itsFlag;
        }
    if (theRest != 0)
    {
        char theHex[16];
        std::snprintf(theHex, sizeof theHex, "0x%x", static_cast<unsigned>(theRest));
        theText += (theText.empty() ? "" : " ") + std::string(theHex);
    }
    return theText;
}

std::vector<std::uint8_t> encodePingRequest(std::int32_t inMessageId, const std::string& inDomain,
                                            std::uint32_t inNtVersion)
{
    if (inMessageId < 0)
        return {};
    const std::uint8_t theNtVersion[4] = {
        static_cast<std::uint8_t>(inNtVersion & 0xff),
        static_cast<std::uint8_t>((inNtVersion >> 8) & 0xff),
        static_cast<std::uint8_t>((inNtVersion >> 16) & 0xff),
        static_cast<std::uint8_t>((inNtVersion >> 24) & 0xff),
    };
    const Bytes theFilter = element(
        kTagFilterAnd,
        joined({element(kTagFilterEquality, joined({octets("DnsDomain"), octets(inDomain)})),
                element(kTagFilterEquality,
                        joined({octets("NtVer"), element(kTagOctetString, theNtVersion)}))}));
    const Bytes theSearch = element(kTagSearchRequest,
                                    joined({
                                        octets(""),                     // base: the rootDSE
                                        integer(kTagEnumerated, 0),     // scope: base
                                        integer(kTagEnumerated, 0),     // never dereference aliases
                                        integer(kTagInteger, 0),        // no size limit
                                        integer(kTagInteger, 0),        // no time limit
                                        element(kTagBoolean, Bytes{0}), // values, not types only
                                        theFilter,
                                        element(kTagSequence, octets("Netlogon")),
                                    }));
    return element(
        kTagSequence,
        joined({integer(kTagInteger, static_cast<std::uint32_t>(inMessageId)), theSearch}));
}

PingAnswer decodePingAnswer(std::span<const std::uint8_t> inDatagram, std::int32_t inMessageId,
                            std::vector<std::uint8_t>& outNetlogon)
{
    outNetlogon.clear();
    BerReader theMessages(inDatagram);
    Bytes theValue;
    bool theFound = false;
    bool theEntry = false;
    bool theDone = false;
    while (!theMessages.atEnd())
    {
        ByteSpan theMessage;
        if (!theMessages.expect(kTagSequence, theMessage))
            return PingAnswer::Malformed;
        BerReader theFields(theMessage);
        ByteSpan theIdBytes;
        std::int64_t theId = 0;
        if (!theFields.expect(kTagInteger, theIdBytes) || !readInteger(theIdBytes, theId))
            return PingAnswer::Malformed;
        if (theId != inMessageId)
            return PingAnswer::WrongMessageId;
        // Controls may follow the operation; a ping has no use for them.
        std::uint8_t theOperation = 0;
        ByteSpan theBody;
        if (!theFields.next(theOperation, theBody) || theDone)
            return PingAnswer::Malformed;
        if (theOperation == kTagSearchResDone)
        {
            // resultCode, matchedDN, diagnosticMessage: whole, whatever they say.
            BerReader theResult(theBody);
            ByteSpan theField;
            if (!theResult.expect(kTagEnumerated, theField) ||
                !theResult.expect(kTagOctetString, theField) ||
                !theResult.expect(kTagOctetString, theField))
                return PingAnswer::Malformed;
            theDone = true;
            continue;
        }
        // A base search has one entry at most; a reference is no answer.
        if (theOperation != kTagSearchResEntry || theEntry)
            return PingAnswer::Malformed;
        theEntry = true;
        if (!readEntry(theBody, theValue, theFound))
            return PingAnswer::Malformed;
    }
    if (!theDone)
        return PingAnswer::Malformed;
    if (!theFound)
        return PingAnswer::NoEntry;
    outNetlogon = std::move(theValue);
    return PingAnswer::Netlogon;
}

bool parseNetlogonResponse(std::span<const std::uint8_t> inValue, std::uint32_t inNtVersionAsked,
                           NetlogonResponse& outResponse)
{
    outResponse = NetlogonResponse{};
    ValueReader theReader(inValue);
    std::uint16_t theSbz = 0;
    if (!theReader.u16(outResponse.itsOpcode) ||
        (outResponse.itsOpcode != kLogonSamLogonResponseEx &&
         outResponse.itsOpcode != kLogonSamUserUnknownEx) ||
        !theReader.u16(theSbz) || !theReader.u32(outResponse.itsFlags) ||
        !theReader.bytes(outResponse.itsDomainGuid.data(), outResponse.itsDomainGuid.size()))
        return false;
    for (std::string* curName :
         {&outResponse.itsDnsForestName, &outResponse.itsDnsDomainName, &outResponse.itsDnsHostName,
          &outResponse.itsNetbiosDomainName, &outResponse.itsNetbiosComputerName,
          &outResponse.itsUserName, &outResponse.itsDcSiteName, &outResponse.itsClientSiteName})
        if (!theReader.name(*curName))
            return false;
    // NtVersion and the two tokens end the value; what comes before them is
    // what was asked for: the address always, the next closest site when the
    // server has one (Samba never sends it).
    static constexpr std::size_t kTail = 8;
    if (inNtVersionAsked & kNtVersion5ExWithIp)
    {
        // A sockaddr_in: family (little-endian), port and address (network
        // order), eight bytes of zeros.
        std::uint8_t theSize = 0;
        std::uint16_t theFamily = 0;
        std::uint8_t theRest[14];
        if (!theReader.u8(theSize) || theSize != 16 || !theReader.u16(theFamily) ||
            theFamily != 2 || !theReader.bytes(theRest, sizeof theRest))
            return false;
        outResponse.itsDcAddress = std::to_string(theRest[2]) + "." + std::to_string(theRest[3]) +
                                   "." + std::to_string(theRest[4]) + "." +
                                   std::to_string(theRest[5]);
    }
    if ((inNtVersionAsked & kNtVersionWithClosestSite) && theReader.left() > kTail &&
        !theReader.name(outResponse.itsNextClosestSiteName))
        return false;
    return theReader.left() == kTail && theReader.u32(outResponse.itsNtVersion) &&
           theReader.u16(outResponse.itsLmNtToken) && theReader.u16(outResponse.itsLm20Token);
}

} // namespace corvel::directory::ldap
