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
#include "tests/unit/platform/directory/ldap/loopback_ports.h"

using namespace corvel::directory;
using namespace corvel::directory::ldap;

TEST(LdapFilterBytes, EscapesEveryByte)
{
    EXPECT_EQ(escapeFilterBytes(std::string("\0\xff(a", 4)), "\\00\\ff\\28\\61");
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

} // namespace

TEST(LdapServers, EachConfiguredServerIsTriedInTurn)
{
    const int theFirst = ldaptest::closedPort();
    const int theSecond = ldaptest::closedPort();
    ASSERT_GT(theFirst, 0);
    ASSERT_GT(theSecond, 0);
    ::setenv("CORVEL_LDAP_TIMEOUT", "2", 1);
    const std::shared_ptr<DirectoryService> theService =
        makeLdapService("ldap://127.0.0.1:" + std::to_string(theFirst) +
                        " bogus ldap://127.0.0.1:" + std::to_string(theSecond));
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
    const auto theHas = [&](const std::string& inText)
    {
        for (const std::string& curLine : gLines)
            if (curLine.find(inText) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(
        theHas("127.0.0.1:" + std::to_string(theFirst) + " does not answer, trying the next"));
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
    const int theRefusing = ldaptest::closedPort();
    ASSERT_GT(theRefusing, 0);
    ::setenv("CORVEL_LDAP_TIMEOUT", "1", 1);
    ::setenv("KRB5CCNAME", "FILE:/nonexistent/corvel-no-ticket", 1);

    const std::shared_ptr<DirectoryService> theService =
        makeLdapService("ldap://127.0.0.1:" + std::to_string(theRefusing) +
                        ",ldap://127.0.0.1:" + std::to_string(ntohs(theAddress.sin_port)));
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
    // Text that names no server is no service; nothing at all is the
    // directory of the caller's domain (ldap_locator_test).
    EXPECT_FALSE(makeLdapService("ldif:/tmp/x bogus ldap://"));
    EXPECT_TRUE(makeLdapService(""));
}
