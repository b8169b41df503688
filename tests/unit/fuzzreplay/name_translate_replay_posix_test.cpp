#define LLVMFuzzerTestOneInput name_translateFuzzOne
#define LLVMFuzzerInitialize name_translateFuzzInit
#include "fuzz/name_translate_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#undef LLVMFuzzerInitialize

#include "tests/unit/fuzzreplay/replay.h"

TEST(FuzzReplay, NameTranslate)
{
    // The seeds are there: a replay of nothing would pass without testing.
    EXPECT_GT(fuzzreplay::replayAll("name_translate_fuzz", &name_translateFuzzInit,
                                    &name_translateFuzzOne),
              0u);
}
