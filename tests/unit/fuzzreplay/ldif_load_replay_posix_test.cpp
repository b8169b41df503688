#define LLVMFuzzerTestOneInput ldif_loadFuzzOne
#define LLVMFuzzerInitialize ldif_loadFuzzInit
#include "fuzz/ldif_load_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#undef LLVMFuzzerInitialize

#include "tests/unit/fuzzreplay/replay.h"

TEST(FuzzReplay, LdifLoad)
{
    // The seeds are there: a replay of nothing would pass without testing.
    EXPECT_GT(fuzzreplay::replayAll("ldif_load_fuzz", &ldif_loadFuzzInit, &ldif_loadFuzzOne), 0u);
}
