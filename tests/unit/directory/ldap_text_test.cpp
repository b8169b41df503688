// Text conversions of the live directory backend, and its choice among
// several configured servers, with no directory server at all.
#include "corvel/platform/directory/ldap/ldap_text.h"

#include <gtest/gtest.h>
#include <ldap.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/ldap/ldap_backend.h"

using namespace corvel::directory;
using namespace corvel::directory::ldap;

namespace
{

std::string bytes(std::initializer_list<unsigned> inValues)
{
    std::string theBytes;
    for (unsigned curValue : inValues)
        theBytes += static_cast<char>(curValue);
    return theBytes;
}

// BUILTIN\Administrators.
const std::string kAdminsSid = bytes({1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0});

} // namespace

TEST(LdapSid, ConvertsBothWays)
{
    EXPECT_EQ(sidToString(kAdminsSid), "S-1-5-32-544");
    std::string theBytes;
    ASSERT_TRUE(sidFromString("S-1-5-32-544", theBytes));
    EXPECT_EQ(theBytes, kAdminsSid);

    // A domain SID with large sub-authorities survives the round trip.
    const std::string theText = "S-1-5-21-4294967295-1177238915-682003330-512";
    ASSERT_TRUE(sidFromString(theText, theBytes));
    EXPECT_EQ(theBytes.size(), 8u + 4u * 5u);
    EXPECT_EQ(sidToString(theBytes), theText);

    // The 48-bit authority is big-endian.
    ASSERT_TRUE(sidFromString("S-1-281474976710655", theBytes));
    EXPECT_EQ(theBytes, bytes({1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(sidToString(theBytes), "S-1-281474976710655");
}

TEST(LdapSid, RefusesMalformedInput)
{
    std::string theBytes = "untouched";
    for (const char* curText :
         {"", "S-1", "S-", "X-1-5", "S-1-5-", "S-1-5-21-", "S-1--5", "S-256-5", "S-1-281474976710656",
          "S-1-5-4294967296", "S-1-5-21x", "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"})
    {
        EXPECT_FALSE(sidFromString(curText, theBytes)) << curText;
        EXPECT_EQ(theBytes, "untouched") << curText;
    }
    // Fifteen sub-authorities is the most a SID holds.
    EXPECT_TRUE(sidFromString("S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15", theBytes));

    // Bytes whose size disagrees with their own count are no SID.
    EXPECT_EQ(sidToString(""), "");
    EXPECT_EQ(sidToString(kAdminsSid.substr(0, 15)), "");
    EXPECT_EQ(sidToString(kAdminsSid + "x"), "");
    EXPECT_EQ(sidToString(bytes({1, 200, 0, 0, 0, 0, 0, 5})), "");
}

TEST(LdapGuid, ConvertsWithWindowsByteOrder)
{
    const std::string theBytes = bytes({0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99,
                                        0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF});
    EXPECT_EQ(guidToString(theBytes), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
    std::string theRead;
    ASSERT_TRUE(guidFromString("{00112233-4455-6677-8899-aabbccddeeff}", theRead));
    EXPECT_EQ(theRead, theBytes);
    ASSERT_TRUE(guidFromString("00112233-4455-6677-8899-AABBCCDDEEFF", theRead));
    EXPECT_EQ(theRead, theBytes);

    EXPECT_EQ(guidToString(theBytes.substr(1)), "");
    for (const char* curText :
         {"", "{00112233-4455-6677-8899-AABBCCDDEEFF", "00112233-4455-6677-8899-AABBCCDDEEF",
          "00112233-4455-6677-8899-AABBCCDDEEFG", "001122334-455-6677-8899-AABBCCDDEEFF",
          "{00112233_4455-6677-8899-AABBCCDDEEFF}", "(00112233-4455-6677-8899-AABBCCDDEEFF)"})
        EXPECT_FALSE(guidFromString(curText, theRead)) << curText;
}

TEST(LdapFilterBytes, EscapesEveryByte)
{
    EXPECT_EQ(escapeFilterBytes(bytes({0, 0xFF, '(', 'a'})), "\\00\\ff\\28\\61");
    EXPECT_EQ(escapeFilterBytes(""), "");
}

TEST(LdapRangedName, ParsesStepsAndEnd)
{
    std::uint32_t theFirst = 7;
    std::uint32_t theLast = 7;
    bool theIsEnd = true;
    ASSERT_TRUE(parseRangedName("member;range=0-1499", "member", theFirst, theLast, theIsEnd));
    EXPECT_EQ(theFirst, 0u);
    EXPECT_EQ(theLast, 1499u);
    EXPECT_FALSE(theIsEnd);

    ASSERT_TRUE(parseRangedName("Member;Range=1500-*", "member", theFirst, theLast, theIsEnd));
    EXPECT_EQ(theFirst, 1500u);
    EXPECT_TRUE(theIsEnd);

    ASSERT_TRUE(parseRangedName("member;range=4294967294-4294967295", "member", theFirst, theLast,
                                theIsEnd));
    EXPECT_EQ(theLast, 4294967295u);
}

TEST(LdapRangedName, RefusesOtherNamesAndBadRanges)
{
    std::uint32_t theFirst = 0;
    std::uint32_t theLast = 0;
    bool theIsEnd = false;
    for (const char* curName :
         {"member", "member;range=", "memberOf;range=0-1", "members;range=0-1", "member;range=0",
          "member;range=-5", "member;range=5-4", "member;range=0-1499x", "member;range=0-*x",
          "member;range=4294967296-*", "member;range=0-4294967296", "member;range=a-b",
          "member;range=0-", "member;range=0--1"})
        EXPECT_FALSE(parseRangedName(curName, "member", theFirst, theLast, theIsEnd)) << curName;
}

TEST(LdapNames, DnsNameToDN)
{
    EXPECT_EQ(dnsNameToDN("corp.example.test"), "DC=corp,DC=example,DC=test");
    EXPECT_EQ(dnsNameToDN("corp.example.test."), "DC=corp,DC=example,DC=test");
    EXPECT_EQ(dnsNameToDN("single"), "DC=single");
    // A label that would break the DN is escaped, not spliced in.
    EXPECT_EQ(dnsNameToDN("a,b.test"), "DC=a\\,b,DC=test");
    for (const char* curName : {"", ".", "a..b", ".a", "a.b.."})
        EXPECT_EQ(dnsNameToDN(curName), "") << curName;
}

TEST(LdapNames, SplitsCanonicalNames)
{
    std::vector<std::string> theParts;
    ASSERT_TRUE(splitCanonicalName("corp.example.test/People/Alice Test", theParts));
    EXPECT_EQ(theParts, (std::vector<std::string>{"corp.example.test", "People", "Alice Test"}));

    ASSERT_TRUE(splitCanonicalName("corp.test/Sales\\/Marketing/x\\y", theParts));
    EXPECT_EQ(theParts, (std::vector<std::string>{"corp.test", "Sales/Marketing", "x\\y"}));

    theParts = {"kept"};
    for (const char* curName : {"", "corp.test", "corp.test/", "/People", "corp.test//x", "a\\/b"})
    {
        EXPECT_FALSE(splitCanonicalName(curName, theParts)) << curName;
        EXPECT_EQ(theParts, std::vector<std::string>{"kept"}) << curName;
    }
}

TEST(LdapStatus, MapsResultCodes)
{
    EXPECT_EQ(mapLdapError(LDAP_SUCCESS), S_ok);
    EXPECT_EQ(mapLdapError(LDAP_SERVER_DOWN), E_serverDown);
    EXPECT_EQ(mapLdapError(LDAP_CONNECT_ERROR), E_serverDown);
    EXPECT_EQ(mapLdapError(LDAP_TIMEOUT), E_timeout);
    EXPECT_EQ(mapLdapError(LDAP_INVALID_CREDENTIALS), E_logonFailure);
    EXPECT_EQ(mapLdapError(LDAP_NO_SUCH_OBJECT), E_noSuchObject);
    EXPECT_EQ(mapLdapError(LDAP_INSUFFICIENT_ACCESS), E_accessDenied);
    // A size limit is a failure, never a success with part of the answer.
    EXPECT_TRUE(failed(mapLdapError(LDAP_SIZELIMIT_EXCEEDED)));
    EXPECT_TRUE(failed(mapLdapError(LDAP_ADMINLIMIT_EXCEEDED)));
}

TEST(LdapUris, ParsesSchemesHostsAndPorts)
{
    LdapUri theUri;
    ASSERT_TRUE(parseLdapUri("ldap://dc1.corp.test", theUri));
    EXPECT_EQ(theUri.itsHost, "dc1.corp.test");
    EXPECT_EQ(theUri.itsPort, 389);
    EXPECT_FALSE(theUri.itsTls);

    ASSERT_TRUE(parseLdapUri("LDAPS://DC1:3269/", theUri));
    EXPECT_EQ(theUri.itsHost, "DC1");
    EXPECT_EQ(theUri.itsPort, 3269);
    EXPECT_TRUE(theUri.itsTls);

    ASSERT_TRUE(parseLdapUri("ldaps://dc1/DC=corp,DC=test", theUri));
    EXPECT_EQ(theUri.itsPort, 636);

    ASSERT_TRUE(parseLdapUri("ldap://[::1]:65535", theUri));
    EXPECT_EQ(theUri.itsHost, "[::1]");
    EXPECT_EQ(theUri.itsPort, 65535);
    ASSERT_TRUE(parseLdapUri("ldaps://[fe80::1]", theUri));
    EXPECT_EQ(theUri.itsHost, "[fe80::1]");
    EXPECT_EQ(theUri.itsPort, 636);

    theUri.itsHost = "kept";
    for (const char* curUri :
         {"", "ldap://", "ldap:///", "ldap://:389", "ldap://dc1:", "ldap://dc1:0",
          "ldap://dc1:65536", "ldap://dc1:99999999999", "ldap://dc1:12a", "ldap://dc1:-1",
          "http://dc1", "ldapi://%2fvar%2frun", "ldap:/dc1", "ldap://[::1", "ldap://[]",
          "ldap://[::1]x", "ldap://[::1]:", "ldap://dc1:389:1"})
    {
        EXPECT_FALSE(parseLdapUri(curUri, theUri)) << curUri;
        EXPECT_EQ(theUri.itsHost, "kept") << curUri;
    }
}

TEST(LdapUris, HostPortWithDefault)
{
    std::string theHost;
    int thePort = 0;
    ASSERT_TRUE(parseHostPort("dc2.corp.test", 636, theHost, thePort));
    EXPECT_EQ(theHost, "dc2.corp.test");
    EXPECT_EQ(thePort, 636);
    ASSERT_TRUE(parseHostPort("[::1]:3268", 389, theHost, thePort));
    EXPECT_EQ(theHost, "[::1]");
    EXPECT_EQ(thePort, 3268);
    EXPECT_FALSE(parseHostPort("", 389, theHost, thePort));
    EXPECT_FALSE(parseHostPort("dc2:x", 389, theHost, thePort));
}

TEST(LdapUris, ListKeepsOrderAndSkipsJunk)
{
    const std::vector<LdapUri> theUris =
        parseLdapUriList("  ldap://a ldaps://b:1636,\tbogus ldap:// ldap://c:3268\n");
    ASSERT_EQ(theUris.size(), 3u);
    EXPECT_EQ(theUris[0].itsHost, "a");
    EXPECT_EQ(theUris[1].itsHost, "b");
    EXPECT_EQ(theUris[1].itsPort, 1636);
    EXPECT_TRUE(theUris[1].itsTls);
    EXPECT_EQ(theUris[2].itsHost, "c");
    EXPECT_EQ(theUris[2].itsPort, 3268);
    EXPECT_TRUE(parseLdapUriList("").empty());
    EXPECT_TRUE(parseLdapUriList(" , bogus ").empty());
}

namespace
{

std::mutex gLinesLock;
std::vector<std::string> gLines;

bool captureLine(qzInfoLogLevel /*inLevel*/, const char* inText)
{
    std::lock_guard<std::mutex> theLock(gLinesLock);
    gLines.emplace_back(inText);
    return true;
}

// A loopback port on which nothing listens: bound, then released.
int closedPort()
{
    const int theSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in theAddress{};
    theAddress.sin_family = AF_INET;
    theAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t theSize = sizeof(theAddress);
    if (theSocket < 0 || ::bind(theSocket, reinterpret_cast<sockaddr*>(&theAddress), theSize) != 0 ||
        ::getsockname(theSocket, reinterpret_cast<sockaddr*>(&theAddress), &theSize) != 0)
        return 0;
    ::close(theSocket);
    return ntohs(theAddress.sin_port);
}

} // namespace

TEST(LdapServers, EachConfiguredServerIsTriedInTurn)
{
    const int theFirst = closedPort();
    const int theSecond = closedPort();
    ASSERT_GT(theFirst, 0);
    ASSERT_GT(theSecond, 0);
    ::setenv("CORVEL_LDAP_TIMEOUT", "2", 1);
    const std::shared_ptr<DirectoryService> theService =
        makeLdapService("ldap://127.0.0.1:" + std::to_string(theFirst) + " bogus ldap://127.0.0.1:" +
                        std::to_string(theSecond));
    ASSERT_TRUE(theService);
    setInfoLog("", 0);
    addInfoLogCallback(captureLine, qzLogDebug);
    std::unique_ptr<NameTranslator> theTranslator;
    ASSERT_EQ(theService->createNameTranslator(theTranslator), S_ok);
    const Status theStatus = theTranslator->init(InitType_Server, "");
    removeInfoLogCallback(captureLine);

    // Both refuse: the failure is the last server's, reported as such.
    EXPECT_EQ(theStatus, E_serverDown);
    std::lock_guard<std::mutex> theLock(gLinesLock);
    const auto theHas = [&](const std::string& inText) {
        for (const std::string& curLine : gLines)
            if (curLine.find(inText) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(theHas("127.0.0.1:" + std::to_string(theFirst) + " does not answer, trying the next"));
    // The last one has no next to move on to.
    EXPECT_FALSE(theHas("127.0.0.1:" + std::to_string(theSecond) + " does not answer"));
}

TEST(LdapServers, MovesOnToAServerThatAnswers)
{
    // The second server is a bare listening socket: the kernel completes the
    // connection, which shows that the walk reached it after the first
    // refused.
    const int theListener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(theListener, 0);
    sockaddr_in theAddress{};
    theAddress.sin_family = AF_INET;
    theAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t theSize = sizeof(theAddress);
    ASSERT_EQ(::bind(theListener, reinterpret_cast<sockaddr*>(&theAddress), theSize), 0);
    ASSERT_EQ(::listen(theListener, 4), 0);
    ASSERT_EQ(::getsockname(theListener, reinterpret_cast<sockaddr*>(&theAddress), &theSize), 0);
    const int theRefusing = closedPort();
    ASSERT_GT(theRefusing, 0);
    ::setenv("CORVEL_LDAP_TIMEOUT", "1", 1);
    ::setenv("KRB5CCNAME", "FILE:/nonexistent/corvel-no-ticket", 1);

    const std::shared_ptr<DirectoryService> theService =
        makeLdapService("ldap://127.0.0.1:" + std::to_string(theRefusing) + ",ldap://127.0.0.1:" +
                        std::to_string(ntohs(theAddress.sin_port)));
    ASSERT_TRUE(theService);
    setInfoLog("", 0);
    std::unique_ptr<NameTranslator> theTranslator;
    ASSERT_EQ(theService->createNameTranslator(theTranslator), S_ok);
    // No ticket and a server that never speaks: the logon fails, but as a
    // failure of the second server, not as "down".
    const Status theStatus = theTranslator->init(InitType_Server, "");
    EXPECT_TRUE(failed(theStatus));
    EXPECT_NE(theStatus, E_serverDown);
    const int theAccepted = ::accept(theListener, nullptr, nullptr);
    EXPECT_GE(theAccepted, 0) << "the second server was never contacted";
    if (theAccepted >= 0)
        ::close(theAccepted);
    ::close(theListener);
}

TEST(LdapServers, NothingUsableConfigured)
{
    EXPECT_FALSE(makeLdapService(""));
    EXPECT_FALSE(makeLdapService("ldif:/tmp/x bogus ldap://"));
}
