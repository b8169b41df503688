#include "corvel/platform/directory/dn.h"

#include <gtest/gtest.h>

using namespace corvel::directory::dn;

namespace
{
std::string keyOf(const std::string& inDN)
{
    std::string theKey;
    EXPECT_TRUE(normalizeDN(inDN, theKey)) << inDN;
    return theKey;
}
} // namespace

TEST(DnParse, SplitsRdnsAndUnescapesValues)
{
    std::vector<Rdn> theRdns;
    ASSERT_TRUE(parseDN("CN=Smith\\, John , OU=Users;DC=corp", theRdns));
    ASSERT_EQ(theRdns.size(), 3u);
    EXPECT_EQ(theRdns[0].itsText, "CN=Smith\\, John");
    ASSERT_EQ(theRdns[0].itsAvas.size(), 1u);
    EXPECT_EQ(theRdns[0].itsAvas[0].itsType, "CN");
    EXPECT_EQ(theRdns[0].itsAvas[0].itsValue, "Smith, John");
    EXPECT_EQ(theRdns[1].itsAvas[0].itsValue, "Users");
    EXPECT_EQ(theRdns[2].itsAvas[0].itsType, "DC");

    ASSERT_TRUE(parseDN("CN=a\\2fb\\2C c+UID=x,DC=y", theRdns));
    ASSERT_EQ(theRdns[0].itsAvas.size(), 2u);
    EXPECT_EQ(theRdns[0].itsAvas[0].itsValue, "a/b, c");
    EXPECT_EQ(theRdns[0].itsAvas[1].itsType, "UID");

    // An escaped trailing blank is part of the value.
    ASSERT_TRUE(parseDN("CN=pad\\ ,DC=y", theRdns));
    EXPECT_EQ(theRdns[0].itsAvas[0].itsValue, "pad ");
}

TEST(DnParse, RejectsWhatIsNoDN)
{
    std::vector<Rdn> theRdns{Rdn{"keep", {}}};
    for (const char* curBad :
         {"", "alice", "CN=a,,DC=b", "=x,DC=y", "CN=a\\", "CN=a\\4", "CN=a\\4g", "C N=a", "CN=a,"})
    {
        EXPECT_FALSE(parseDN(curBad, theRdns)) << curBad;
        std::string theKey;
        EXPECT_FALSE(normalizeDN(curBad, theKey)) << curBad;
    }
    ASSERT_EQ(theRdns.size(), 1u); // untouched on failure
    EXPECT_EQ(theRdns[0].itsText, "keep");
}

TEST(DnNormalize, EqualForTheSameObject)
{
    EXPECT_EQ(keyOf("CN=Sales/Marketing,OU=Groups,DC=corp"),
              keyOf("cn=sales\\2fmarketing, ou=GROUPS,dc=CORP"));
    EXPECT_EQ(keyOf("CN=Smith\\, John,DC=x"), keyOf("CN=Smith\\2C John,DC=x"));
    EXPECT_EQ(keyOf("CN=Smith\\, John,DC=x"), keyOf("cn=SMITH\\2c JOHN , dc=X"));
    EXPECT_EQ(keyOf("CN=a\\+b,DC=x"), keyOf("CN=a\\2Bb,DC=x"));
    // Different objects stay different: an escaped comma is no separator.
    EXPECT_NE(keyOf("CN=a\\,DC=b,DC=c"), keyOf("CN=a,DC=b,DC=c"));
    EXPECT_NE(keyOf("CN=Sales,DC=x"), keyOf("CN=Sales,DC=y"));
    EXPECT_NE(keyOf("CN=pad\\ ,DC=x"), keyOf("CN=pad,DC=x"));
}

TEST(DnNormalize, EveryPathGivesTheSameKey)
{
    // Plain DNs take a short cut; it must agree with the full parse.
    for (const char* curDN :
         {"CN=Alice Anders,OU=Users,DC=corp", "cn=alice anders,ou=users,dc=CORP", "CN=a b c,DC=x",
          "CN=Sales/Marketing,DC=x", "CN=IT-Admins,DC=x", "CN=a,DC=x", "UID=x.y_z,DC=x"})
    {
        std::vector<Rdn> theRdns;
        ASSERT_TRUE(parseDN(curDN, theRdns)) << curDN;
        EXPECT_EQ(keyOf(curDN), normalizeRdns(theRdns)) << curDN;
    }
    // Near misses of the plain form still parse (or fail) as DNs do.
    EXPECT_EQ(keyOf("CN=a , DC=x"), keyOf("CN=a,DC=x"));
    EXPECT_EQ(keyOf(" CN=a,DC=x "), keyOf("CN=a,DC=x"));
    EXPECT_EQ(keyOf("CN = a,DC=x"), keyOf("CN=a,DC=x"));
    EXPECT_EQ(keyOf("CN=a=b,DC=x"), keyOf("CN=a\\=b,DC=x"));
    std::string theKey;
    EXPECT_FALSE(normalizeDN("C N=a,DC=x", theKey));
    EXPECT_FALSE(normalizeDN("CN=a,=x", theKey));
    EXPECT_TRUE(normalizeDN("CN=,DC=x", theKey)); // an empty value is allowed
}

TEST(DnEscape, ValueRoundTripsThroughParse)
{
    EXPECT_EQ(escapeDNValue("Smith, John"), "Smith\\, John");
    EXPECT_EQ(escapeDNValue("#1 a+b "), "\\#1 a\\+b\\ ");
    EXPECT_EQ(escapeDNValue(" x"), "\\ x");
    EXPECT_EQ(escapeDNValue(std::string("a\nb\0c", 5)), "a\\0ab\\00c");
    for (const std::string& curValue :
         {std::string("Smith, John"), std::string("a\\b\"c<d>e;f=g"), std::string(" lead#"),
          std::string("#hash"), std::string("tail "), std::string("Sales/Marketing")})
    {
        std::vector<Rdn> theRdns;
        ASSERT_TRUE(parseDN("CN=" + escapeDNValue(curValue) + ",DC=x", theRdns)) << curValue;
        ASSERT_EQ(theRdns.size(), 2u) << curValue;
        EXPECT_EQ(theRdns[0].itsAvas[0].itsValue, curValue);
    }
}

TEST(DnEscape, FilterValueAndPath)
{
    EXPECT_EQ(escapeFilterValue("a*(b)\\c"), "a\\2a\\28b\\29\\5cc");
    EXPECT_EQ(escapeFilterValue(std::string("x\0y", 3)), "x\\00y");
    EXPECT_EQ(escapeFilterValue("plain name"), "plain name");
    EXPECT_EQ(escapePathDN("CN=Sales/Marketing,OU=a/b,DC=x"),
              "CN=Sales\\2fMarketing,OU=a\\2fb,DC=x");
    EXPECT_EQ(escapePathDN("CN=Smith\\, John"), "CN=Smith\\, John");
}

TEST(DnPath, ParsesServerAndUnescapesSlash)
{
    std::string theServer = "old";
    std::string theDN;
    ASSERT_TRUE(parseLdapPath("LDAP://CN=Sales\\2fMarketing,DC=x", theServer, theDN));
    EXPECT_EQ(theServer, "");
    EXPECT_EQ(theDN, "CN=Sales/Marketing,DC=x");

    ASSERT_TRUE(parseLdapPath("ldap://dc1.corp.example.test/CN=a\\2Fb,DC=x", theServer, theDN));
    EXPECT_EQ(theServer, "dc1.corp.example.test");
    EXPECT_EQ(theDN, "CN=a/b,DC=x");

    // An escaped backslash followed by "2f" is not an escaped slash.
    ASSERT_TRUE(parseLdapPath("LDAP://CN=a\\\\2f,DC=x", theServer, theDN));
    EXPECT_EQ(theDN, "CN=a\\\\2f,DC=x");

    // A raw '/' ends the server name: the unescaped form does not name the object.
    ASSERT_TRUE(parseLdapPath("LDAP://CN=Sales/Marketing,DC=x", theServer, theDN));
    EXPECT_EQ(theServer, "CN=Sales");
    EXPECT_EQ(theDN, "Marketing,DC=x");

    ASSERT_TRUE(parseLdapPath("LDAP://" + escapePathDN("CN=s/m,DC=x"), theServer, theDN));
    EXPECT_EQ(theDN, "CN=s/m,DC=x");

    theDN = "unchanged";
    EXPECT_FALSE(parseLdapPath("GC://CN=a,DC=x", theServer, theDN));
    EXPECT_FALSE(parseLdapPath("LDAP://", theServer, theDN));
    EXPECT_FALSE(parseLdapPath("LDAP:/", theServer, theDN));
    EXPECT_FALSE(parseLdapPath("LDAP://server/", theServer, theDN));
    EXPECT_EQ(theDN, "unchanged");
}
