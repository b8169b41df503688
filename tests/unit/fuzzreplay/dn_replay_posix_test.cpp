#define LLVMFuzzerTestOneInput dnFuzzOne
#define LLVMFuzzerInitialize dnFuzzInit
#include "fuzz/dn_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#undef LLVMFuzzerInitialize

#include "tests/unit/fuzzreplay/replay.h"

TEST(FuzzReplay, Dn)
{
    // The seeds are there: a replay of nothing would pass without testing.
    EXPECT_GT(fuzzreplay::replayAll("dn_fuzz", &dnFuzzInit, &dnFuzzOne), 0u);
}
