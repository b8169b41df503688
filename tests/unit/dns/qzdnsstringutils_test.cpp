// Zone serial numbers, reverse-zone names and the SOA mailbox field.
#include <gtest/gtest.h>

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "corvel/debug/qzinfolog.h"
#include "tests/support/log_capture.h"
#include "corvel/dns/qzdnsstringutils.h"
#include "corvel/util/qzdate.h"

namespace
{
using TraceCapture = LogCapture;
const qzDate theToday(14, 9, 2011);
const char* const theSerialAssertion = "Offending command: \"returnValue > curSerial\"";
} // namespace

TEST(DNSSerial, WorkedValues)
{
    TraceCapture theLog;
    EXPECT_EQ(2011091401u, nextSerial(0, theToday));
    EXPECT_EQ(2011091401u, nextSerial(20110913, theToday));
    EXPECT_EQ(2011091401u, nextSerial(20110914, theToday));
    EXPECT_EQ(2011091401u, nextSerial(2011091305, theToday));
    EXPECT_EQ(2011091406u, nextSerial(2011091405, theToday));
    EXPECT_EQ(201109142u, nextSerial(201109141, theToday));
    EXPECT_EQ(8u, nextSerial(7, theToday));
    EXPECT_EQ(2011091500u, nextSerial(2011091499, theToday)) << "not below D*100+99";
    EXPECT_EQ(20120102u, nextSerial(20120101, theToday)) << "a date after today";
    EXPECT_EQ(201109150u, nextSerial(201109149, theToday));
    EXPECT_EQ(2011091401u, nextSerial(19700101, theToday));
    EXPECT_EQ(201109141u, nextSerial(197001010, theToday)) << "keeps one counter digit";
    EXPECT_EQ(19700101u, nextSerial(19700100, theToday)) << "below the first date";
    EXPECT_EQ(2011091499u, nextSerial(2011091498, theToday));
    EXPECT_TRUE(theLog.containing("Assertion failed").empty());
}

TEST(DNSSerial, LargestSerialWrapsAndIsReported)
{
    TraceCapture theLog;
    EXPECT_EQ(0u, nextSerial(4294967295u, theToday));
    EXPECT_EQ(1u, theLog.containing(theSerialAssertion).size());
    theLog.clear();
    EXPECT_EQ(4294967295u, nextSerial(4294967294u, theToday));
    EXPECT_TRUE(theLog.containing(theSerialAssertion).empty());
}

TEST(DNSSerial, FarFutureDateDoesNotWrapTheBounds)
{
    // Today's date times 100 no longer fits 32 bits in the year 65535; the
    // serial is then counted up rather than wrapped to a smaller value.
    TraceCapture theLog;
    const qzDate theFar(31, 12, 65535);
    EXPECT_EQ(1u, nextSerial(0, theFar));
    EXPECT_EQ(20110915u, nextSerial(20110914, theFar));
    EXPECT_TRUE(theLog.containing(theSerialAssertion).empty());
}

TEST(DNSSerial, DefaultsToTodaysLocalDate)
{
    const std::time_t theNow = std::time(nullptr);
    std::tm theLocal{};
    localtime_r(&theNow, &theLocal);
    const std::uint32_t theDate = static_cast<std::uint32_t>(
        (theLocal.tm_year + 1900) * 10000 + (theLocal.tm_mon + 1) * 100 + theLocal.tm_mday);
    const std::uint32_t theSerial = nextSerial(0);
    // Midnight may pass between the two readings.
    EXPECT_TRUE(theSerial == theDate * 100 + 1 || theSerial / 100 == theDate + 1 ||
                theSerial / 100 > theDate)
        << theSerial;
    EXPECT_EQ(theSerial + 1, nextSerial(theSerial));
}

TEST(DNSReverseZone, SuffixesIgnoringCase)
{
    EXPECT_TRUE(isReverseZoneName("4.3.2.1.in-addr.arpa."));
    EXPECT_TRUE(isReverseZoneName("10.IN-ADDR.ARPA."));
    EXPECT_TRUE(isReverseZoneName("1.0.ip6.arpa."));
    EXPECT_TRUE(isReverseZoneName("b.a.IP6.Arpa."));
    EXPECT_FALSE(isReverseZoneName("4.3.2.1.in-addr.arpa"));
    EXPECT_FALSE(isReverseZoneName("in-addr.arpa."));
    EXPECT_FALSE(isReverseZoneName("1.0.ip6.arpa"));
    EXPECT_FALSE(isReverseZoneName("example.com."));
    EXPECT_FALSE(isReverseZoneName(""));
}

TEST(DNSMailNames, LocalParts)
{
    EXPECT_TRUE(isValidLocalPart("hostmaster"));
    EXPECT_TRUE(isValidLocalPart("first last"));
    EXPECT_TRUE(isValidLocalPart("a.b+c~"));
    EXPECT_FALSE(isValidLocalPart(""));
    EXPECT_FALSE(isValidLocalPart("a@b"));
    EXPECT_FALSE(isValidLocalPart("a\\b"));
    EXPECT_FALSE(isValidLocalPart("a\tb"));
    EXPECT_FALSE(isValidLocalPart("a\x7f"));
    EXPECT_FALSE(isValidLocalPart("caf\xe9"));
}

TEST(DNSMailNames, MailAndHostmasterForms)
{
    EXPECT_TRUE(isValidMailName("hostmaster@one.two", true, false));
    EXPECT_TRUE(isValidMailName("hostmaster@one.two", false, false));
    EXPECT_FALSE(isValidMailName("hostmaster@one.two", true, true));
    EXPECT_TRUE(isValidMailName("a\\.b.c.d.", true, true));
    EXPECT_TRUE(isValidMailName("a\\.b.c.d.", true, false));
    EXPECT_FALSE(isValidMailName("a\\.b.c.d.", false, false));
    EXPECT_TRUE(isValidMailName("first.last@example.com.", false, false));
    EXPECT_FALSE(isValidMailName("a@b@c.d", false, false));
    EXPECT_FALSE(isValidMailName("a\\b@c.d", false, false));
    EXPECT_FALSE(isValidMailName("a@-c.d", false, false));
    EXPECT_TRUE(isValidMailName("x y.one.two", true, true));
    EXPECT_FALSE(isValidMailName("a..b.c", true, true));
    EXPECT_FALSE(isValidMailName("", true, false));
    // Without both parts the "@" split fails and the hostmaster form judges.
    EXPECT_FALSE(isValidMailName("@one.two", true, false));
    EXPECT_FALSE(isValidMailName("hostmaster@", true, false));
    EXPECT_FALSE(isValidMailName("@one.two", false, false));
    EXPECT_TRUE(isValidMailName("hostmaster.one.two", true, true));
}

TEST(DNSMailNames, RequireWithoutAllowIsReported)
{
    TraceCapture theLog;
    isValidMailName("a@b.c", false, true);
    EXPECT_EQ(
        1u,
        theLog
            .containing("Offending command: \"! requireHostmasterFormat || allowHostmasterFormat\"")
            .size());
}

TEST(DNSMailNames, MailToHostmaster)
{
    EXPECT_EQ("a\\.b.c.d.", mailToHostmaster("a.b@c.d"));
    EXPECT_EQ("hostmaster.one.two.", mailToHostmaster("hostmaster@one.two."));
    EXPECT_EQ("a\\.b\\.c.d.", mailToHostmaster("a.b.c@d"));
    EXPECT_EQ(".a.b.", mailToHostmaster(".a@b")) << "the first character is never escaped";
    EXPECT_EQ("no.at.sign", mailToHostmaster("no.at.sign"));
    EXPECT_EQ("", mailToHostmaster(""));
    for (const char* curMail : {"a.b@c.d", "first.last@example.com", "hostmaster@one.two"})
    {
        const std::string theHostmaster = mailToHostmaster(curMail);
        EXPECT_TRUE(isValidMailName(theHostmaster, true, true)) << theHostmaster;
    }
}

TEST(DNSNames, MakeAbsoluteAndStringValidity)
{
    EXPECT_EQ("", makeAbsolute(""));
    EXPECT_EQ("a.", makeAbsolute("a."));
    EXPECT_EQ("a.b.", makeAbsolute("a.b"));
    EXPECT_EQ(".", makeAbsolute("."));
    EXPECT_TRUE(isValidDNSName(std::string("a.b."), false));
    EXPECT_TRUE(isValidDNSName(std::string("."), true));
    EXPECT_FALSE(isValidDNSName(std::string("."), false));
    // The C-string test would judge only the "a" before the NUL.
    EXPECT_FALSE(isValidDNSName(std::string("a\0b", 3), false));
    EXPECT_FALSE(isValidDNSName(std::string("a\0", 2), false));
}
