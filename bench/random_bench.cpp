// Cost of one draw from qzRandomGenerator (its stirring of the process-wide
// default seed included) next to std::mt19937, the same algorithm without
// that side effect, in the same run.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "corvel/util/qzrandom.h"

namespace
{

void BM_QzRandomNext(benchmark::State& ioState)
{
    qzRandomGenerator theGenerator(5489u);
    for (auto _ : ioState)
        benchmark::DoNotOptimize(theGenerator.next());
}
BENCHMARK(BM_QzRandomNext);

void BM_StdMt19937(benchmark::State& ioState)
{
    std::mt19937 theGenerator(5489u);
    for (auto _ : ioState)
        benchmark::DoNotOptimize(theGenerator());
}
BENCHMARK(BM_StdMt19937);

void BM_QzRandomString16(benchmark::State& ioState)
{
    qzRandomGenerator theGenerator(5489u);
    for (auto _ : ioState)
        benchmark::DoNotOptimize(theGenerator.randomString(16));
}
BENCHMARK(BM_QzRandomString16);

void BM_Random32(benchmark::State& ioState)
{
    for (auto _ : ioState)
        benchmark::DoNotOptimize(random32());
}
BENCHMARK(BM_Random32);

} // namespace
