// Feeds arbitrary bytes to the LDAP ping's readers, both as an answer
// datagram (message id 1, the seeds' id) and as a netlogon value, and checks
// what they promise: a value comes only with an answer to take and lies
// inside the datagram, an answer to one id is another id's wrong one, a
// parsed response holds names DNS allows, and what was not asked for
// changes nothing when the server did not send it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "corvel/platform/directory/ldap/ldap_ping.h"

using namespace corvel::directory::ldap;

namespace
{
void require(bool inCondition)
{
    if (!inCondition)
        std::abort();
}

bool sameResponse(const NetlogonResponse& inLeft, const NetlogonResponse& inRight)
{
    return inLeft.itsOpcode == inRight.itsOpcode && inLeft.itsFlags == inRight.itsFlags &&
           inLeft.itsDomainGuid == inRight.itsDomainGuid &&
           inLeft.itsDnsForestName == inRight.itsDnsForestName &&
           inLeft.itsDnsDomainName == inRight.itsDnsDomainName &&
           inLeft.itsDnsHostName == inRight.itsDnsHostName &&
           inLeft.itsNetbiosDomainName == inRight.itsNetbiosDomainName &&
           inLeft.itsNetbiosComputerName == inRight.itsNetbiosComputerName &&
           inLeft.itsUserName == inRight.itsUserName &&
           inLeft.itsDcSiteName == inRight.itsDcSiteName &&
           inLeft.itsClientSiteName == inRight.itsClientSiteName &&
           inLeft.itsDcAddress == inRight.itsDcAddress &&
           inLeft.itsNextClosestSiteName == inRight.itsNextClosestSiteName &&
           inLeft.itsNtVersion == inRight.itsNtVersion &&
           inLeft.itsLmNtToken == inRight.itsLmNtToken &&
           inLeft.itsLm20Token == inRight.itsLm20Token;
}

void checkNames(const NetlogonResponse& inResponse)
{
    // 255 bytes written out is at most 253 as text.
    for (const std::string* curName :
         {&inResponse.itsDnsForestName, &inResponse.itsDnsDomainName, &inResponse.itsDnsHostName,
          &inResponse.itsNetbiosDomainName, &inResponse.itsNetbiosComputerName,
          &inResponse.itsUserName, &inResponse.itsDcSiteName, &inResponse.itsClientSiteName,
          &inResponse.itsNextClosestSiteName})
        require(curName->size() <= 253);
}

void fuzzValue(std::span<const std::uint8_t> inValue)
{
    NetlogonResponse theBare;
    const bool theParsed = parseNetlogonResponse(inValue, kPingNtVersion, theBare);
    if (theParsed)
    {
        require(theBare.itsOpcode == kLogonSamLogonResponseEx ||
                theBare.itsOpcode == kLogonSamUserUnknownEx);
        require(theBare.itsDcAddress.empty() && theBare.itsNextClosestSiteName.empty());
        checkNames(theBare);
        // The next closest site asked for and not sent: the same response.
        NetlogonResponse theAsked;
        require(
            parseNetlogonResponse(inValue, kPingNtVersion | kNtVersionWithClosestSite, theAsked));
        require(sameResponse(theBare, theAsked));
    }
    for (const std::uint32_t curAsked :
         {kPingNtVersion | kNtVersion5ExWithIp,
          kPingNtVersion | kNtVersion5ExWithIp | kNtVersionWithClosestSite})
    {
        NetlogonResponse theResponse;
        if (!parseNetlogonResponse(inValue, curAsked, theResponse))
            continue;
        checkNames(theResponse);
        // The address was asked for: it is there, as four numbers.
        require(theResponse.itsDcAddress.size() >= 7 && theResponse.itsDcAddress.size() <= 15);
    }
}

void fuzzDatagram(std::span<const std::uint8_t> inDatagram)
{
    std::vector<std::uint8_t> theValue{1, 2, 3};
    const PingAnswer theAnswer = decodePingAnswer(inDatagram, 1, theValue);
    if (theAnswer != PingAnswer::Netlogon)
    {
        require(theValue.empty());
        return;
    }
    require(theValue.size() < inDatagram.size());
    std::vector<std::uint8_t> theOther;
    require(decodePingAnswer(inDatagram, 2, theOther) == PingAnswer::WrongMessageId);
    require(theOther.empty());
    fuzzValue(theValue);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* inData, std::size_t inSize)
{
    const std::span<const std::uint8_t> theInput(inData, inSize);
    fuzzDatagram(theInput);
    fuzzValue(theInput);
    // Any domain makes a request, and a request is no answer.
    if (inSize <= 300)
    {
        const std::string theDomain(reinterpret_cast<const char*>(inData), inSize);
        const std::vector<std::uint8_t> theRequest = encodePingRequest(1, theDomain);
        require(theRequest.size() > theDomain.size());
        std::vector<std::uint8_t> theValue;
        require(decodePingAnswer(theRequest, 1, theValue) == PingAnswer::Malformed);
    }
    return 0;
}
