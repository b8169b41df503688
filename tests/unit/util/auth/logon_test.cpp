// Password logon: name normalisation, the plug-in's answer mapped to the
// result, the loader's failures, exceptions of the plug-in, and the real
// plug-in's LDIF package against the sample directory.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "corvel/platform/os_loader.h"
#include "corvel/util/qzauthenticator.h"
#include "tests/unit/util/auth/auth_support.h"

// "Test-Pass1" under {SHA}, {SSHA256} (salt 01..05) and {SSHA512} (salt
// "saltsaltsalt12345678"), computed apart from the plug-in with Python's
// hashlib.
#define QZ_SHA1_TEST "xyx8lBAuE2chgbvAUWBMXfqtw7w="
#define QZ_SSHA256_TEST "tZu5P/koe8t2VL9aFyVR+eItksc/p7m3bIrdruAutfQBAgMEBQ=="
#define QZ_SSHA512_TEST                                                                            \
    "cNK9DZs6/OTGVdMGycg3UwZ51rZ0yVENzBHQpOpQzordD2F2zefAigAXBTYN2fntOXVZBsOxoFEfSDtbJXCmtnNhbHRz" \
    "YWx0c2FsdDEyMzQ1Njc4"

namespace
{

const std::string theExample = std::string(CORVEL_SOURCE_DIR) + "/examples/corp.ldif";

std::string fakeDir(const char* inVariant)
{
    return std::string(CORVEL_BINARY_DIR) + "/tests/fakeplugins/" + inVariant;
}

std::string realPluginDir() { return std::string(CORVEL_BINARY_DIR) + "/tools/qzauthtest"; }

// The sample directory selected for this process, with the fake plug-in's
// record file and answer set up.
class LogonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("CORVEL_DIRECTORY", ("ldif:" + theExample).c_str(), 1);
        itsRecord = std::filesystem::temp_directory_path() /
                    ("qzlogon_" + std::to_string(::getpid()) + ".txt");
        std::filesystem::remove(itsRecord);
        ::setenv("QZ_FAKE_LOGON_LOG", itsRecord.c_str(), 1);
        answer(0, 0);
    }
    void TearDown() override
    {
        corvel::platform::setPluginDirectory("");
        std::filesystem::remove(itsRecord);
        ::unsetenv("CORVEL_DIRECTORY");
        ::unsetenv("QZ_FAKE_LOGON_LOG");
    }
    static void answer(int inResult, unsigned int inStatus)
    {
        ::setenv("QZ_FAKE_LOGON_RESULT", std::to_string(inResult).c_str(), 1);
        ::setenv("QZ_FAKE_LOGON_STATUS", std::to_string(inStatus).c_str(), 1);
    }
    // The plug-in's calls, "logon|domain|user|password" and "setssp|package||".
    std::vector<std::string> calls() const
    {
        std::vector<std::string> theLines;
        std::ifstream theFile(itsRecord);
        std::string theLine;
        while (std::getline(theFile, theLine))
            theLines.push_back(theLine);
        return theLines;
    }

    std::filesystem::path itsRecord;
};

TEST_F(LogonTest, PluginAnswerIsMappedAndStatusPassedOn)
{
    corvel::platform::setPluginDirectory(fakeDir("recorder"));
    struct Case
    {
        int itsAnswer;
        std::int32_t itsResult;
    };
    const Case theCases[] = {{0, 0}, {9, 1}, {10, 2}, {11, 3}, {-1, 3}, {1, 3}, {4, 3}};
    for (const Case& curCase : theCases)
    {
        answer(curCase.itsAnswer, 0x1234u + static_cast<unsigned int>(curCase.itsAnswer));
        std::uint32_t theStatus = 99;
        EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\alice", "pw", "", theStatus),
                  curCase.itsResult)
            << "plug-in answer " << curCase.itsAnswer;
        EXPECT_EQ(theStatus, 0x1234u + static_cast<unsigned int>(curCase.itsAnswer));
    }
    // The status word reaches the plug-in preset to 0.
    for (const std::string& curCall : calls())
        EXPECT_EQ(curCall.rfind("status-not-preset", 0), std::string::npos);
}

TEST_F(LogonTest, NamesReachThePluginNormalised)
{
    corvel::platform::setPluginDirectory(fakeDir("recorder"));
    std::uint32_t theStatus = 0;
    // DOMAIN\user is never looked up: unknown to the directory, still passed.
    EXPECT_EQ(qzAuthenticator::authenticateUser("NOSUCH\\ghost", "Secret-1", "", theStatus), 0);
    // A user principal name is translated to DOMAIN\user and split.
    EXPECT_EQ(
        qzAuthenticator::authenticateUser("dave@corp.example.test", "Secret-2", "", theStatus), 0);
    // Both a backslash and an '@': looked up, not passed on as DOMAIN\user
    // (the translator knows no such name).
    EXPECT_EQ(
        qzAuthenticator::authenticateUser("XX\\carol@corp.example.test", "Secret-3", "", theStatus),
        1);
    const std::vector<std::string> theCalls = calls();
    ASSERT_EQ(theCalls.size(), 2u);
    EXPECT_EQ(theCalls[0], "logon|NOSUCH|ghost|Secret-1");
    EXPECT_EQ(theCalls[1], "logon|CORP|dave|Secret-2");
}

TEST_F(LogonTest, UnknownNameGivesOneWithoutLoadingThePlugin)
{
    corvel::platform::setPluginDirectory(fakeDir("recorder"));
    authtest::Capture theCapture;
    std::uint32_t theStatus = 55;
    EXPECT_EQ(
        qzAuthenticator::authenticateUser("nobody@corp.example.test", "pw", "LDIF", theStatus), 1);
    EXPECT_EQ(theStatus, 0u);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(theCapture.count("0|qzAuthenticator::authenticateUser - user "
                               "\"nobody@corp.example.test\" could not be found"),
              1u);
    EXPECT_EQ(theCapture.count("authenticateUser domain:"), 0u);
}

TEST_F(LogonTest, PackageIsChosenOnlyWhenNamedAndOffered)
{
    std::uint32_t theStatus = 0;
    corvel::platform::setPluginDirectory(fakeDir("recorder"));
    EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\bob", "pw", "", theStatus), 0);
    EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\bob", "pw", "Kerberos", theStatus), 0);
    std::vector<std::string> theCalls = calls();
    ASSERT_EQ(theCalls.size(), 3u);
    EXPECT_EQ(theCalls[0], "logon|CORP|bob|pw");
    EXPECT_EQ(theCalls[1], "setssp|Kerberos||");
    EXPECT_EQ(theCalls[2], "logon|CORP|bob|pw");

    // Without qzSetSSP the logon still goes ahead.
    std::filesystem::remove(itsRecord);
    corvel::platform::setPluginDirectory(fakeDir("nosetssp"));
    answer(10, 7);
    EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\bob", "pw", "Kerberos", theStatus), 2);
    EXPECT_EQ(theStatus, 7u);
    theCalls = calls();
    ASSERT_EQ(theCalls.size(), 1u);
    EXPECT_EQ(theCalls[0], "logon|CORP|bob|pw");
}

TEST_F(LogonTest, LoaderFailuresGiveFourWithTheLoaderCode)
{
    authtest::Capture theCapture;
    std::uint32_t theStatus = 0;
    const std::filesystem::path theEmpty =
        std::filesystem::temp_directory_path() / ("qzlogon_empty_" + std::to_string(::getpid()));
    std::filesystem::create_directories(theEmpty);
    corvel::platform::setPluginDirectory(theEmpty.string());
    EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\alice", "Missing-Pw", "", theStatus), 4);
    EXPECT_EQ(theStatus, corvel::platform::LoaderError_modNotFound);
    std::filesystem::remove(theEmpty);

    corvel::platform::setPluginDirectory(fakeDir("nologon"));
    theStatus = 0;
    EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\alice", "Missing-Pw", "LDIF", theStatus), 4);
    EXPECT_EQ(theStatus, corvel::platform::LoaderError_procNotFound);
    EXPECT_EQ(theCapture.count("5|qzAuthenticator::authenticateUser domain: CORP, user: alice"),
              2u);
    for (const std::string& curLine : theCapture.all())
        EXPECT_EQ(curLine.find("Missing-Pw"), std::string::npos) << curLine;
}

TEST_F(LogonTest, PluginThatThrowsGivesFourAndStatusZero)
{
    corvel::platform::setPluginDirectory(fakeDir("throws"));
    std::uint32_t theStatus = 5;
    EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\alice", "pw", "", theStatus), 4);
    EXPECT_EQ(theStatus, 0u);
    EXPECT_EQ(calls().size(), 1u); // it was called, and threw
}

TEST(PluginLoader, NamesAreMappedAndPathsRefused)
{
    EXPECT_EQ(corvel::platform::pluginFileName("qzSSPI.dll"), "libqzSSPI.so");
    EXPECT_EQ(corvel::platform::pluginFileName("qzSSPI.DLL"), "libqzSSPI.so");
    EXPECT_EQ(corvel::platform::pluginFileName("other"), "libother.so");
    EXPECT_EQ(corvel::platform::pluginFileName("./qzSSPI.dll"), "");
    EXPECT_EQ(corvel::platform::pluginFileName("..\\qzSSPI.dll"), "");
    EXPECT_EQ(corvel::platform::pluginFileName(""), "");

    corvel::platform::LoadedLibrary theLibrary;
    EXPECT_FALSE(theLibrary.load("sub/qzSSPI.dll"));
    EXPECT_EQ(theLibrary.lastError(), corvel::platform::LoaderError_invalidName);
    EXPECT_EQ(theLibrary.symbol("qzUserLogon"), nullptr);
    EXPECT_EQ(theLibrary.lastError(), corvel::platform::LoaderError_procNotFound);

    corvel::platform::setPluginDirectory(fakeDir("recorder"));
    ASSERT_TRUE(theLibrary.load("qzSSPI.dll"));
    EXPECT_EQ(theLibrary.path(), fakeDir("recorder") + "/libqzSSPI.so");
    EXPECT_NE(theLibrary.symbol("qzUserLogon"), nullptr);
    theLibrary.unload();
    EXPECT_FALSE(theLibrary.isLoaded());
    corvel::platform::setPluginDirectory("");
}

TEST(PluginLoader, CurrentDirectoryCopyIsNeverLoaded)
{
    // A libqzSSPI.so in the current directory, none where the loader looks.
    const std::filesystem::path theWork =
        std::filesystem::temp_directory_path() / ("qzlogon_cwd_" + std::to_string(::getpid()));
    std::filesystem::create_directories(theWork / "empty");
    std::filesystem::copy_file(fakeDir("recorder") + "/libqzSSPI.so", theWork / "libqzSSPI.so");
    const std::filesystem::path theOld = std::filesystem::current_path();
    std::filesystem::current_path(theWork);
    corvel::platform::setPluginDirectory((theWork / "empty").string());
    corvel::platform::LoadedLibrary theLibrary;
    EXPECT_FALSE(theLibrary.load("qzSSPI.dll"));
    EXPECT_EQ(theLibrary.lastError(), corvel::platform::LoaderError_modNotFound);
    std::filesystem::current_path(theOld);
    corvel::platform::setPluginDirectory("");
    std::filesystem::remove_all(theWork);
}

// The real plug-in's LDIF package on the sample directory.
class LdifPackageTest : public LogonTest
{
protected:
    void SetUp() override
    {
        LogonTest::SetUp();
        corvel::platform::setPluginDirectory(realPluginDir());
        // No KDC anywhere: the Kerberos default must fail at once.
        itsKrbConfig = std::filesystem::temp_directory_path() /
                       ("qzlogon_krb5_" + std::to_string(::getpid()) + ".conf");
        std::ofstream(itsKrbConfig) << "[libdefaults]\n dns_lookup_kdc = false\n"
                                       " dns_lookup_realm = false\n";
        ::setenv("KRB5_CONFIG", itsKrbConfig.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("KRB5_CONFIG");
        std::filesystem::remove(itsKrbConfig);
        LogonTest::TearDown();
    }
    std::filesystem::path itsKrbConfig;
};

TEST_F(LdifPackageTest, GoodBadDisabledAndUnknownUsers)
{
    authtest::Capture theCapture;
    struct Case
    {
        const char* itsName;
        const char* itsPassword;
        std::int32_t itsResult;
        std::uint32_t itsStatus;
    };
    const Case theCases[] = {
        {"CORP\\alice", "Alice-Pass1", 0, 0},      {"alice@corp.example.test", "Alice-Pass1", 0, 0},
        {"CORP\\alice", "alice-pass1", 1, 0x52e},  {"CORP\\alice", "Alice-Pass1x", 1, 0x52e},
        {"CORP\\jsmith", "John-Pass1", 0, 0},      {"CORP\\erin", "Erin-Pass1", 2, 0x533},
        {"CORP\\erin", "wrong", 1, 0x52e},         {"CORP\\nobody", "Alice-Pass1", 1, 0x525},
        {"OTHER\\alice", "Alice-Pass1", 1, 0x525}, {"CORP\\alice", "", 1, 0},
    };
    for (const Case& curCase : theCases)
    {
        std::uint32_t theStatus = 0xFFFF;
        EXPECT_EQ(qzAuthenticator::authenticateUser(curCase.itsName, curCase.itsPassword, "LDIF",
                                                    theStatus),
                  curCase.itsResult)
            << curCase.itsName << " / " << curCase.itsPassword;
        EXPECT_EQ(theStatus, curCase.itsStatus) << curCase.itsName;
    }
    for (const std::string& curLine : theCapture.all())
    {
        EXPECT_EQ(curLine.find("Pass1"), std::string::npos) << curLine;
        EXPECT_EQ(curLine.find("wrong"), std::string::npos) << curLine;
    }
}

TEST_F(LdifPackageTest, PackageChoiceLastsOneLoadAndUnknownOnesFail)
{
    std::uint32_t theStatus = 0;
    EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\bob", "Bob-Pass1", "LDIF", theStatus), 0);
    // Next load: the Kerberos default again, which finds no KDC here.
    EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\bob", "Bob-Pass1", "", theStatus), 3);
    EXPECT_NE(theStatus, 0u);
    // An unknown package is not quietly replaced by another.
    EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\bob", "Bob-Pass1", "NTLM-ish", theStatus),
              3);
    EXPECT_EQ(qzAuthenticator::authenticateUser("CORP\\bob", "Bob-Pass1", "ldif", theStatus), 0);
}

TEST_F(LdifPackageTest, HashSchemesOfTheLdapTools)
{
    // {SHA}, {SSHA256}, {SSHA512} and a plain value for "Test-Pass1"; salts
    // of various lengths. Made with Python's hashlib, as slappasswd would.
    const std::string theLdif =
        authtest::corpLdif() +
        "dn: CN=Sha1 User,OU=People,DC=corp,DC=example,DC=test\nobjectClass: user\n"
        "sAMAccountName: sha1\nuserPassword: {SHA}" QZ_SHA1_TEST "\n\n"
        "dn: CN=Sha256 User,OU=People,DC=corp,DC=example,DC=test\nobjectClass: user\n"
        "sAMAccountName: sha256\nuserPassword: {SSHA256}" QZ_SSHA256_TEST "\n\n"
        "dn: CN=Sha512 User,OU=People,DC=corp,DC=example,DC=test\nobjectClass: user\n"
        "sAMAccountName: sha512\nuserPassword: {SSHA512}" QZ_SSHA512_TEST "\n\n"
        "dn: CN=Plain User,OU=People,DC=corp,DC=example,DC=test\nobjectClass: user\n"
        "sAMAccountName: plain\nuserPassword: Test-Pass1\n\n"
        "dn: CN=Crypt User,OU=People,DC=corp,DC=example,DC=test\nobjectClass: user\n"
        "sAMAccountName: crypt\nuserPassword: {CRYPT}Test-Pass1\n\n";
    authtest::LdifFile theDirectory(theLdif);
    for (const char* curUser : {"CORP\\sha1", "CORP\\sha256", "CORP\\sha512", "CORP\\plain"})
    {
        std::uint32_t theStatus = 0;
        EXPECT_EQ(qzAuthenticator::authenticateUser(curUser, "Test-Pass1", "LDIF", theStatus), 0)
            << curUser;
        EXPECT_EQ(qzAuthenticator::authenticateUser(curUser, "Test-Pass2", "LDIF", theStatus), 1)
            << curUser;
    }
    // A scheme the plug-in does not know is never compared as plain text.
    std::uint32_t theStatus = 0;
    EXPECT_EQ(
        qzAuthenticator::authenticateUser("CORP\\crypt", "{CRYPT}Test-Pass1", "LDIF", theStatus),
        1);
}

} // namespace
