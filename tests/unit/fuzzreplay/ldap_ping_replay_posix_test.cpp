#define LLVMFuzzerTestOneInput ldap_pingFuzzOne
#define LLVMFuzzerInitialize ldap_pingFuzzInit
#include "fuzz/ldap_ping_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#undef LLVMFuzzerInitialize

#include "tests/unit/fuzzreplay/replay.h"

TEST(FuzzReplay, LdapPing)
{
    // The seeds are there: a replay of nothing would pass without testing.
    EXPECT_GT(fuzzreplay::replayAll("ldap_ping_fuzz", &ldap_pingFuzzInit, &ldap_pingFuzzOne), 0u);
}
