#include "corvel/platform/directory/ldap/ldap_ping.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <utility>

#include "corvel/platform/os_report.h"

namespace corvel::directory::ldap
{

namespace
{

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;
using Clock = std::chrono::steady_clock;

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

// ----------------------------------------------------------------- sockets

class Fd
{
public:
    Fd() = default;
    explicit Fd(int inFd) : itsFd(inFd) {}
    ~Fd()
    {
        if (itsFd >= 0)
            ::close(itsFd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return itsFd; }
    void reset(int inFd)
    {
        if (itsFd >= 0)
            ::close(itsFd);
        itsFd = inFd;
    }

private:
    int itsFd = -1;
};

struct AddrInfoFree
{
    void operator()(addrinfo* inInfo) const { freeaddrinfo(inInfo); }
};
using AddrInfo = std::unique_ptr<addrinfo, AddrInfoFree>;

std::string numericText(const sockaddr* inAddress, socklen_t inLength)
{
    char theText[NI_MAXHOST];
    if (getnameinfo(inAddress, inLength, theText, sizeof theText, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return theText;
}

// "192.0.2.1:389" or "[2001:db8::1]:389", for the log.
std::string endpointText(const sockaddr* inAddress, socklen_t inLength)
{
    char theHost[NI_MAXHOST];
    char thePort[NI_MAXSERV];
    if (getnameinfo(inAddress, inLength, theHost, sizeof theHost, thePort, sizeof thePort,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    return inAddress->sa_family == AF_INET6 ? "[" + std::string(theHost) + "]:" + thePort
                                            : std::string(theHost) + ":" + thePort;
}

bool sameAddress(const sockaddr_storage& inLeft, const sockaddr_storage& inRight)
{
    if (inLeft.ss_family != inRight.ss_family)
        return false;
    if (inLeft.ss_family == AF_INET)
    {
        const auto& theLeft = reinterpret_cast<const sockaddr_in&>(inLeft);
        const auto& theRight = reinterpret_cast<const sockaddr_in&>(inRight);
        return theLeft.sin_port == theRight.sin_port &&
               theLeft.sin_addr.s_addr == theRight.sin_addr.s_addr;
    }
    if (inLeft.ss_family == AF_INET6)
    {
        const auto& theLeft = reinterpret_cast<const sockaddr_in6&>(inLeft);
        const auto& theRight = reinterpret_cast<const sockaddr_in6&>(inRight);
        return theLeft.sin6_port == theRight.sin6_port &&
               std::memcmp(&theLeft.sin6_addr, &theRight.sin6_addr, sizeof theLeft.sin6_addr) == 0;
    }
    return false;
}

std::int32_t firstMessageId()
{
    // Ids that differ from call to call and from address to address, so
    // that a late answer to an earlier ping is not taken for this one's.
    static std::mutex theMutex;
    static std::mt19937 theGenerator{std::random_device{}()};
    std::lock_guard<std::mutex> theLock(theMutex);
    return static_cast<std::int32_t>(
        std::uniform_int_distribution<std::uint32_t>(1, 0x40000000)(theGenerator));
}

// Host names looked up on threads of their own, a few at a time, while the
// ping waits on its sockets and takes each host's addresses as they come.
// The threads share this state with the call: a call that ends first
// leaves them to finish on their own (the system resolver has time-outs of
// its own), and the last of them frees it.
class Lookups
{
public:
    struct Found
    {
        std::size_t itsHost = 0;
        std::vector<std::string> itsAddresses;
    };

    // Null when neither a pipe nor a thread can be had.
    static std::shared_ptr<Lookups> start(std::vector<std::string> inHosts, AddressLookup inLookup)
    {
        static constexpr std::size_t kMaxThreads = 4;
        auto theLookups = std::make_shared<Lookups>(std::move(inHosts), std::move(inLookup));
        int theFds[2];
        if (::pipe2(theFds, O_NONBLOCK | O_CLOEXEC) != 0)
            return nullptr;
        theLookups->itsWakeRead.reset(theFds[0]);
        theLookups->itsWakeWrite.reset(theFds[1]);
        const std::size_t theThreads = std::min(kMaxThreads, theLookups->itsHosts.size());
        std::size_t theStarted = 0;
        for (std::size_t curThread = 0; curThread < theThreads; ++curThread)
        {
            try
            {
                std::thread([theLookups] { theLookups->work(); }).detach();
                ++theStarted;
            }
            catch (const std::system_error&)
            {
                break;
            }
        }
        return theStarted > 0 ? theLookups : nullptr;
    }

    Lookups(std::vector<std::string> inHosts, AddressLookup inLookup)
        : itsHosts(std::move(inHosts)), itsLookup(std::move(inLookup))
    {
    }

    // Readable when a lookup has ended.
    int wakeFd() const { return itsWakeRead.get(); }

    std::vector<Found> take()
    {
        char theBytes[64];
        while (::read(itsWakeRead.get(), theBytes, sizeof theBytes) > 0)
        {
        }
        std::lock_guard<std::mutex> theLock(itsMutex);
        return std::exchange(itsFound, {});
    }

    // No host not yet begun is looked up any more.
    void abandon()
    {
        std::lock_guard<std::mutex> theLock(itsMutex);
        itsAbandoned = true;
    }

private:
    void work()
    {
        for (;;)
        {
            std::string theHost;
            std::size_t theIndex = 0;
            {
                std::lock_guard<std::mutex> theLock(itsMutex);
                if (itsAbandoned || itsNext >= itsHosts.size())
                    return;
                theIndex = itsNext++;
                theHost = itsHosts[theIndex];
            }
            std::vector<std::string> theAddresses = itsLookup(theHost);
            {
                std::lock_guard<std::mutex> theLock(itsMutex);
                if (itsAbandoned)
                    return;
                itsFound.push_back(Found{theIndex, std::move(theAddresses)});
            }
            const char theByte = 1;
            // A full pipe already wakes the reader.
            [[maybe_unused]] const ssize_t theWritten = ::write(itsWakeWrite.get(), &theByte, 1);
        }
    }

    std::mutex itsMutex;
    std::vector<std::string> itsHosts;
    AddressLookup itsLookup;
    std::size_t itsNext = 0;
    std::vector<Found> itsFound;
    bool itsAbandoned = false;
    Fd itsWakeRead;
    Fd itsWakeWrite;
};

// One address pinged (or to be pinged).
struct Pinged
{
    std::size_t itsHost = 0;
    std::string itsText;
    sockaddr_storage itsAddress{};
    socklen_t itsLength = 0;
    std::int32_t itsMessageId = 0;
    Clock::time_point itsSentAt{};
    bool itsSent = false;
    bool itsSettled = false; // said no, was not taken, or could not be sent
};

double millisecondsOf(Clock::duration inDuration)
{
    return std::chrono::duration<double, std::milli>(inDuration).count();
}

// Sends, waits and reads for one call of pingDomainControllers.
class Pinger
{
public:
    Pinger(const std::vector<std::string>& inHosts, const std::string& inDomain,
           std::chrono::milliseconds inTimeout, const PingOptions& inOptions)
        : itsHosts(inHosts), itsDomain(inDomain), itsTimeout(inTimeout), itsOptions(inOptions)
    {
    }

    std::optional<PingResult> run();

private:
    void addAddresses(const Lookups::Found& inFound);
    void send(Pinged& ioPinged);
    bool receive(int inSocket, std::optional<PingResult>& outResult);
    bool handle(ByteSpan inDatagram, const sockaddr_storage& inFrom, socklen_t inFromLength,
                std::optional<PingResult>& outResult);
    int socketFor(int inFamily);

    const std::vector<std::string>& itsHosts;
    const std::string& itsDomain;
    std::chrono::milliseconds itsTimeout;
    const PingOptions& itsOptions;
    std::vector<std::string> itsHostNames; // without a port
    std::vector<int> itsPorts;
    std::vector<Pinged> itsPinged;
    std::int32_t itsFirstId = firstMessageId();
    Fd itsV4;
    Fd itsV6;
    std::string itsSentList; // for the log
};

void Pinger::addAddresses(const Lookups::Found& inFound)
{
    const std::string& theHost = itsHosts[inFound.itsHost];
    if (inFound.itsAddresses.empty())
        platform::reportLog(platform::Report_debug, "ldap: LDAP ping: %s has no address",
                            theHost.c_str());
    for (const std::string& curText : inFound.itsAddresses)
    {
        addrinfo theHints{};
        theHints.ai_family = AF_UNSPEC;
        theHints.ai_socktype = SOCK_DGRAM;
        theHints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        addrinfo* theRaw = nullptr;
        const int theError = getaddrinfo(
            curText.c_str(), std::to_string(itsPorts[inFound.itsHost]).c_str(), &theHints, &theRaw);
        const AddrInfo theInfo(theRaw);
        if (theError != 0 || !theInfo || theInfo->ai_addrlen > sizeof(sockaddr_storage))
        {
            platform::reportLog(platform::Report_debug, "ldap: LDAP ping: %s: no address in \"%s\"",
                                theHost.c_str(), curText.c_str());
            continue;
        }
        Pinged thePinged;
        thePinged.itsHost = inFound.itsHost;
        thePinged.itsText = curText;
        std::memcpy(&thePinged.itsAddress, theInfo->ai_addr, theInfo->ai_addrlen);
        thePinged.itsLength = theInfo->ai_addrlen;
        // Two names of one address: it is pinged once, for the first.
        const bool theKnown =
            std::any_of(itsPinged.begin(), itsPinged.end(),
                        [&](const Pinged& inOther)
                        { return sameAddress(inOther.itsAddress, thePinged.itsAddress); });
        if (theKnown)
            continue;
        thePinged.itsMessageId = itsFirstId + static_cast<std::int32_t>(itsPinged.size());
        itsPinged.push_back(std::move(thePinged));
    }
}

int Pinger::socketFor(int inFamily)
{
    Fd& theSocket = inFamily == AF_INET6 ? itsV6 : itsV4;
    if (theSocket.get() < 0)
        theSocket.reset(::socket(inFamily, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    return theSocket.get();
}

void Pinger::send(Pinged& ioPinged)
{
    const std::string& theHost = itsHosts[ioPinged.itsHost];
    ioPinged.itsSent = true;
    ioPinged.itsSentAt = Clock::now();
    const Bytes theRequest =
        encodePingRequest(ioPinged.itsMessageId, itsDomain, itsOptions.itsNtVersion);
    const int theSocket = socketFor(ioPinged.itsAddress.ss_family);
    if (theSocket < 0 || ::sendto(theSocket, theRequest.data(), theRequest.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&ioPinged.itsAddress),
                                  ioPinged.itsLength) != static_cast<ssize_t>(theRequest.size()))
    {
        const int theErrno = errno;
        ioPinged.itsSettled = true;
        platform::reportLog(platform::Report_debug, "ldap: LDAP ping: cannot send to %s (%s): %s",
                            theHost.c_str(), ioPinged.itsText.c_str(), std::strerror(theErrno));
        return;
    }
    itsSentList += (itsSentList.empty() ? "" : ", ") + theHost + " (" + ioPinged.itsText + ")";
}

// False when the result is had; reads what the socket holds, a bounded
// number of datagrams at a time so that a flood cannot hold the loop past
// its time-out.
bool Pinger::receive(int inSocket, std::optional<PingResult>& outResult)
{
    static constexpr int kMaxReadsPerWake = 64;
    // An answer is a few hundred bytes; more is cut and so not decoded.
    std::uint8_t theBuffer[4096];
    for (int curRead = 0; curRead < kMaxReadsPerWake; ++curRead)
    {
        sockaddr_storage theFrom{};
        socklen_t theFromLength = sizeof theFrom;
        const ssize_t theSize = ::recvfrom(inSocket, theBuffer, sizeof theBuffer, MSG_TRUNC,
                                           reinterpret_cast<sockaddr*>(&theFrom), &theFromLength);
        if (theSize < 0)
            return true;
        const std::size_t theKept = std::min(static_cast<std::size_t>(theSize), sizeof theBuffer);
        if (!handle(ByteSpan(theBuffer, theKept), theFrom, theFromLength, outResult))
            return false;
    }
    return true;
}

bool Pinger::handle(ByteSpan inDatagram, const sockaddr_storage& inFrom, socklen_t inFromLength,
                    std::optional<PingResult>& outResult)
{
    const auto theAt =
        std::find_if(itsPinged.begin(), itsPinged.end(),
                     [&](const Pinged& inPinged)
                     { return inPinged.itsSent && sameAddress(inPinged.itsAddress, inFrom); });
    if (theAt == itsPinged.end())
    {
        platform::reportLog(
            platform::Report_debug,
            "ldap: LDAP ping: ignored a datagram from %s, which was not pinged",
            endpointText(reinterpret_cast<const sockaddr*>(&inFrom), inFromLength).c_str());
        return true;
    }
    Pinged& thePinged = *theAt;
    const std::string& theHost = itsHosts[thePinged.itsHost];
    if (thePinged.itsSettled)
        return true;
    Bytes theValue;
    PingResult theResult;
    switch (decodePingAnswer(inDatagram, thePinged.itsMessageId, theValue))
    {
    case PingAnswer::NoEntry:
        thePinged.itsSettled = true;
        platform::reportLog(platform::Report_debug, "ldap: LDAP ping: %s (%s) is no DC of %s",
                            theHost.c_str(), thePinged.itsText.c_str(), itsDomain.c_str());
        return true;
    case PingAnswer::WrongMessageId:
        platform::reportLog(platform::Report_debug,
                            "ldap: LDAP ping: ignored an answer of %s (%s) to another message",
                            theHost.c_str(), thePinged.itsText.c_str());
        return true;
    case PingAnswer::Malformed:
        platform::reportLog(platform::Report_debug,
                            "ldap: LDAP ping: ignored a malformed answer of %s (%s)",
                            theHost.c_str(), thePinged.itsText.c_str());
        return true;
    case PingAnswer::Netlogon:
        break;
    }
    if (!parseNetlogonResponse(theValue, itsOptions.itsNtVersion, theResult.itsResponse))
    {
        platform::reportLog(platform::Report_debug,
                            "ldap: LDAP ping: ignored a malformed logon response of %s (%s)",
                            theHost.c_str(), thePinged.itsText.c_str());
        return true;
    }
    theResult.itsHost = theHost;
    theResult.itsAddress = thePinged.itsText;
    theResult.itsRoundTrip = Clock::now() - thePinged.itsSentAt;
    const NetlogonResponse& theResponse = theResult.itsResponse;
    if (itsOptions.itsAccept && !itsOptions.itsAccept(theResult))
    {
        thePinged.itsSettled = true;
        platform::reportLog(platform::Report_debug,
                            "ldap: LDAP ping: %s (%s) answered, not taken (site %s, flags %s)",
                            theHost.c_str(), thePinged.itsText.c_str(),
                            theResponse.itsDcSiteName.c_str(),
                            describeDsFlags(theResponse.itsFlags).c_str());
        return true;
    }
    outResult = std::move(theResult);
    return false;
}

std::optional<PingResult> Pinger::run()
{
    const Clock::time_point theStart = Clock::now();
    const Clock::time_point theDeadline = theStart + itsTimeout;
    for (const std::string& curHost : itsHosts)
    {
        std::string theName;
        int thePort = itsOptions.itsPort;
        if (!parseHostPort(curHost, itsOptions.itsPort, theName, thePort))
            theName.clear();
        // A bracketed IPv6 address is looked up without its brackets.
        if (theName.size() > 2 && theName.front() == '[' && theName.back() == ']')
            theName = theName.substr(1, theName.size() - 2);
        itsHostNames.push_back(theName);
        itsPorts.push_back(thePort);
    }
    AddressLookup theLookup = itsOptions.itsLookup ? itsOptions.itsLookup : systemAddressLookup;
    // A malformed candidate is a host without address; the lookup sees an
    // empty name only through this guard.
    AddressLookup theGuarded = [theLookup](const std::string& inHost)
    { return inHost.empty() ? std::vector<std::string>{} : theLookup(inHost); };
    const std::shared_ptr<Lookups> theLookups = Lookups::start(itsHostNames, theGuarded);
    if (!theLookups)
    {
        platform::reportLog(platform::Report_debug, "ldap: LDAP ping %s: cannot look up the DCs",
                            itsDomain.c_str());
        return std::nullopt;
    }
    // However the call ends, hosts not yet begun are not looked up.
    struct AbandonAtEnd
    {
        Lookups& itsLookups;
        ~AbandonAtEnd() { itsLookups.abandon(); }
    } theAbandon{*theLookups};

    std::size_t theLookedUp = 0;
    std::size_t theNextToSend = 0;
    Clock::time_point theNextSendAt = theStart;
    std::optional<PingResult> theResult;
    bool theEveryoneSaidNo = false;
    for (;;)
    {
        Clock::time_point theNow = Clock::now();
        if (theNow >= theDeadline)
            break;
        if (theLookedUp < itsHosts.size())
            for (const Lookups::Found& curFound : theLookups->take())
            {
                ++theLookedUp;
                addAddresses(curFound);
            }
        while (theNextToSend < itsPinged.size() && theNow >= theNextSendAt)
        {
            send(itsPinged[theNextToSend++]);
            theNow = Clock::now();
            theNextSendAt = theNow + itsOptions.itsInterval;
        }
        if (theLookedUp == itsHosts.size() && theNextToSend == itsPinged.size() &&
            std::all_of(itsPinged.begin(), itsPinged.end(),
                        [](const Pinged& inPinged) { return inPinged.itsSettled; }))
        {
            theEveryoneSaidNo = true;
            break;
        }

        Clock::time_point theWakeAt = theDeadline;
        if (theNextToSend < itsPinged.size())
            theWakeAt = std::min(theWakeAt, theNextSendAt);
        const auto theWait = std::chrono::ceil<std::chrono::milliseconds>(
            std::max(theWakeAt - theNow, Clock::duration{}));
        pollfd theFds[3];
        nfds_t theCount = 0;
        for (const int curFd :
             {itsV4.get(), itsV6.get(), theLookedUp < itsHosts.size() ? theLookups->wakeFd() : -1})
            if (curFd >= 0)
                theFds[theCount++] = pollfd{curFd, POLLIN, 0};
        if (::poll(theFds, theCount, static_cast<int>(theWait.count())) < 0 && errno != EINTR)
            break;
        bool theDone = false;
        for (nfds_t curFd = 0; curFd < theCount && !theDone; ++curFd)
            // An error is read (and so cleared) as a datagram would be.
            if ((theFds[curFd].revents & (POLLIN | POLLERR)) &&
                theFds[curFd].fd != theLookups->wakeFd())
                theDone = !receive(theFds[curFd].fd, theResult);
        if (theDone)
            break;
    }
    platform::reportLog(platform::Report_debug, "ldap: LDAP ping %s: pinged %s in %.1f ms",
                        itsDomain.c_str(), itsSentList.empty() ? "no DC" : itsSentList.c_str(),
                        millisecondsOf(Clock::now() - theStart));
    if (theResult)
    {
        const NetlogonResponse& theResponse = theResult->itsResponse;
        platform::reportLog(
            platform::Report_debug,
            "ldap: LDAP ping %s: %s (%s) answered first, in %.1f ms: %s, site %s, client site %s, "
            "flags %s",
            itsDomain.c_str(), theResult->itsHost.c_str(), theResult->itsAddress.c_str(),
            millisecondsOf(theResult->itsRoundTrip), theResponse.itsDnsHostName.c_str(),
            theResponse.itsDcSiteName.c_str(),
            theResponse.itsClientSiteName.empty() ? "(none)"
                                                  : theResponse.itsClientSiteName.c_str(),
            describeDsFlags(theResponse.itsFlags).c_str());
    }
    else
        platform::reportLog(platform::Report_debug, "ldap: LDAP ping %s: %s", itsDomain.c_str(),
                            theEveryoneSaidNo ? "every DC pinged said no, or was not taken"
                                              : "no answer to take within the time-out");
    return theResult;
}

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

std::vector<std::string> systemAddressLookup(const std::string& inHost)
{
    addrinfo theHints{};
    theHints.ai_family = AF_UNSPEC;
    theHints.ai_socktype = SOCK_DGRAM;
    addrinfo* theRaw = nullptr;
    if (getaddrinfo(inHost.c_str(), nullptr, &theHints, &theRaw) != 0)
        return {};
    const AddrInfo theInfo(theRaw);
    std::vector<std::string> theAddresses;
    for (const addrinfo* curInfo = theInfo.get(); curInfo != nullptr; curInfo = curInfo->ai_next)
    {
        if (curInfo->ai_family != AF_INET && curInfo->ai_family != AF_INET6)
            continue;
        std::string theText = numericText(curInfo->ai_addr, curInfo->ai_addrlen);
        if (!theText.empty() &&
            std::find(theAddresses.begin(), theAddresses.end(), theText) == theAddresses.end())
            theAddresses.push_back(std::move(theText));
    }
    return theAddresses;
}

std::optional<PingResult> pingDomainControllers(const std::vector<std::string>& inHosts,
                                                const std::string& inDomain,
                                                std::chrono::milliseconds inTimeout,
                                                const PingOptions& inOptions)
{
    // An hour is far beyond any ping, and keeps the clock arithmetic sound.
    static constexpr std::chrono::milliseconds kLongest = std::chrono::hours(1);
    if (inHosts.empty() || inTimeout <= std::chrono::milliseconds::zero())
        return std::nullopt;
    return Pinger(inHosts, inDomain, std::min(inTimeout, kLongest), inOptions).run();
}

} // namespace corvel::directory::ldap
