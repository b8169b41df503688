// The sending half of the LDAP ping: the DCs' names looked up in the
// background, a datagram each, the first valid answer taken.
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
    // itsHostNames and itsPorts from the candidates.
    void splitHosts();
    void report(const std::optional<PingResult>& inResult, bool inEveryoneSaidNo,
                Clock::time_point inStart) const;

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

void Pinger::splitHosts()
{
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
}

void Pinger::report(const std::optional<PingResult>& inResult, bool inEveryoneSaidNo,
                    Clock::time_point inStart) const
{
    platform::reportLog(platform::Report_debug, "ldap: LDAP ping %s: pinged %s in %.1f ms",
                        itsDomain.c_str(), itsSentList.empty() ? "no DC" : itsSentList.c_str(),
                        millisecondsOf(Clock::now() - inStart));
    if (!inResult)
    {
        platform::reportLog(platform::Report_debug, "ldap: LDAP ping %s: %s", itsDomain.c_str(),
                            inEveryoneSaidNo ? "every DC pinged said no, or was not taken"
                                             : "no answer to take within the time-out");
        return;
    }
    const NetlogonResponse& theResponse = inResult->itsResponse;
    platform::reportLog(
        platform::Report_debug,
        "ldap: LDAP ping %s: %s (%s) answered first, in %.1f ms: %s, site %s, client site %s, "
        "flags %s",
        itsDomain.c_str(), inResult->itsHost.c_str(), inResult->itsAddress.c_str(),
        millisecondsOf(inResult->itsRoundTrip), theResponse.itsDnsHostName.c_str(),
        theResponse.itsDcSiteName.c_str(),
        theResponse.itsClientSiteName.empty() ? "(none)" : theResponse.itsClientSiteName.c_str(),
        describeDsFlags(theResponse.itsFlags).c_str());
}

std::optional<PingResult> Pinger::run()
{
    const Clock::time_point theStart = Clock::now();
    const Clock::time_point theDeadline = theStart + itsTimeout;
    splitHosts();
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
    report(theResult, theEveryoneSaidNo, theStart);
    return theResult;
}

} // namespace

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
