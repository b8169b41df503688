// A DN written with an escaped '/' ("\/") makes a path that names the same
// object, through the directory helper and through the authenticator's own
// escape alike.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corvel/platform/directory/dn.h"
#include "corvel/util/qzauthenticator.h"

using namespace corvel::directory::dn;

namespace
{

// The key of the DN a path made from inDN reads back as.
std::string keyThroughPath(const std::string& inPathDN)
{
    std::string theServer;
    std::string theBack;
    EXPECT_TRUE(parseLdapPath("LDAP://" + inPathDN, theServer, theBack)) << inPathDN;
    EXPECT_EQ(theServer, "") << inPathDN;
    std::string theKey;
    EXPECT_TRUE(normalizeDN(theBack, theKey)) << theBack;
    return theKey;
}

} // namespace

TEST(DnPathSlash, EscapedSlashBecomesOneHexEscape)
{
    struct Case
    {
        std::string itsDN;
        std::string itsPath;
    };
    const std::vector<Case> theCases = {
        {"CN=Ops\\/Dev,OU=Groups,DC=x", "CN=Ops\\2fDev,OU=Groups,DC=x"},
        {"CN=a/b,DC=x", "CN=a\\2fb,DC=x"},           // plain '/' as before
        {"CN=a\\//b,DC=x", "CN=a\\2f\\2fb,DC=x"},    // escaped then plain
        {"CN=a\\\\/b,DC=x", "CN=a\\\\\\2fb,DC=x"},   // escaped backslash, plain '/'
        {"CN=a\\\\\\/b,DC=x", "CN=a\\\\\\2fb,DC=x"}, // escaped backslash, escaped '/'
        {"CN=a\\2fb,DC=x", "CN=a\\2fb,DC=x"},        // hex escape untouched
        {"CN=Smith\\, John/x,DC=x", "CN=Smith\\, John\\2fx,DC=x"},
        {"=\\/", "=\\2f"},
        {"CN=end\\", "CN=end\\"}, // a dangling backslash is left as it is
    };
    for (const Case& curCase : theCases)
    {
        EXPECT_EQ(escapePathDN(curCase.itsDN), curCase.itsPath) << curCase.itsDN;
        EXPECT_EQ(qzAuthenticator::escapeDN(curCase.itsDN), curCase.itsPath) << curCase.itsDN;
    }
}

TEST(DnPathSlash, PathNamesTheSameObject)
{
    const std::vector<std::string> theDNs = {
        "CN=Ops\\/Dev,OU=Groups,DC=corp,DC=example,DC=test",
        "CN=R\\/D Team,OU=Groups,DC=corp,DC=example,DC=test",
        "CN=a\\\\/b,DC=x",
        "CN=a\\\\\\/b,DC=x",
        "CN=\\/\\/,OU=x/y,DC=x",
    };
    for (const std::string& curDN : theDNs)
    {
        std::string theKey;
        ASSERT_TRUE(normalizeDN(curDN, theKey)) << curDN;
        EXPECT_EQ(keyThroughPath(escapePathDN(curDN)), theKey) << curDN;
        EXPECT_EQ(keyThroughPath(qzAuthenticator::escapeDN(curDN)), theKey) << curDN;
        EXPECT_EQ(escapePathDN(curDN).find('/'), std::string::npos) << curDN;
    }
    // The escaped and the plain spelling are one object.
    std::string theEscaped;
    std::string thePlain;
    ASSERT_TRUE(normalizeDN("CN=Ops\\/Dev,DC=x", theEscaped));
    ASSERT_TRUE(normalizeDN("CN=Ops/Dev,DC=x", thePlain));
    EXPECT_EQ(theEscaped, thePlain);
}
