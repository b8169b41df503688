// Cost of one information-log entry: to standard error (redirected to
// /dev/null by the caller), to a file, and dropped by the level test.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "corvel/debug/qzdebug.h"
#include "corvel/debug/qzinfolog.h"

static void BM_WriteToStdErr(benchmark::State& ioState)
{
    setInfoLog("", qzLogToStdErr);
    setInfoLogLevel(qzLogInfo);
    for (auto _ : ioState)
        writeInfoLog(qzLogError, "qzAuthenticator::getObjectDN error initing the name translator");
}
BENCHMARK(BM_WriteToStdErr);

static void BM_WriteToFile(benchmark::State& ioState)
{
    const std::string thePath = "/tmp/corvel_infolog_bench.log";
    std::remove(thePath.c_str());
    setInfoLogFile("bench", thePath);
    setInfoLogLevel(qzLogInfo);
    for (auto _ : ioState)
        writeInfoLog(qzLogError, "qzAuthenticator::getObjectDN error initing the name translator");
    setInfoLog("", qzLogToStdErr);
    std::remove(thePath.c_str());
}
BENCHMARK(BM_WriteToFile);

static void BM_DroppedWriteInfoLog(benchmark::State& ioState)
{
    setInfoLogLevel(qzLogInfo);
    for (auto _ : ioState)
        writeInfoLog(qzLogDebug, "dropped");
}
BENCHMARK(BM_DroppedWriteInfoLog);

// The formatting entry point allocates its buffer before the level test, as
// the log's contract says; this shows what that costs.
static void BM_DroppedInfoLog(benchmark::State& ioState)
{
    setInfoLogLevel(qzLogInfo);
    for (auto _ : ioState)
        infoLog(qzLogDebug, "dropped %d", 1);
}
BENCHMARK(BM_DroppedInfoLog);

static void BM_DroppedTrace(benchmark::State& ioState)
{
    setInfoLogLevel(qzLogInfo);
    for (auto _ : ioState)
        trace(2, __FILE__, __LINE__, "never formatted %d", 1);
}
BENCHMARK(BM_DroppedTrace);
