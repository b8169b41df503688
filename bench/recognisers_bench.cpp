// Throughput of the table-driven recognisers against a plain loop over the
// same tables (the same transitions, no virtual dispatch, no machine to
// construct), on one mixed set of valid and invalid texts per recogniser.
// The engine's figure includes constructing a fresh machine per text, as
// every caller must.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "corvel/dns/qzdnsstatemachine.h"
#include "corvel/util/qzipaddressstatemachine.h"

namespace
{
// Opens the installed tables to the plain loop.
class IPTableView : public qzIPAddressStateMachine
{
public:
    const std::int8_t* table() const { return itsTable; }
    const std::uint8_t* inputs() const { return itsInputs; }
    std::uint32_t tokens() const { return itsNumTokens; }
};

class DNSTableView : public qzDNSStateMachine
{
public:
    DNSTableView() : qzDNSStateMachine(true, false, false) {}
    const std::int8_t* table() const { return itsTable; }
    const std::uint8_t* inputs() const { return itsInputs; }
    std::uint32_t tokens() const { return itsNumTokens; }
};

std::vector<std::string> ipTexts()
{
    std::mt19937 theRandom(1);
    std::vector<std::string> theTexts;
    for (int curIndex = 0; curIndex < 20000; ++curIndex)
    {
        std::string theText;
        const int theOctets = 2 + static_cast<int>(theRandom() % 4);
        for (int curOctet = 0; curOctet < theOctets; ++curOctet)
        {
            if (curOctet > 0)
                theText += '.';
            theText += std::to_string(theRandom() % 280);
        }
        if (curIndex % 7 == 0)
            theText[theRandom() % theText.size()] = 'x';
        theTexts.push_back(theText);
    }
    return theTexts;
}

std::vector<std::string> dnsTexts()
{
    std::mt19937 theRandom(2);
    const char theLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789-_";
    std::vector<std::string> theTexts;
    for (int curIndex = 0; curIndex < 20000; ++curIndex)
    {
        std::string theText;
        const int theLabels = 1 + static_cast<int>(theRandom() % 4);
        for (int curLabel = 0; curLabel < theLabels; ++curLabel)
        {
            const int theLength = 1 + static_cast<int>(theRandom() % 12);
            for (int curChar = 0; curChar < theLength; ++curChar)
                theText += theLetters[theRandom() % (sizeof theLetters - 1)];
            theText += '.';
        }
        if (curIndex % 3 == 0)
            theText.pop_back();
        if (curIndex % 11 == 0)
            theText[theRandom() % theText.size()] = ' ';
        theTexts.push_back(theText);
    }
    return theTexts;
}

std::int64_t totalBytes(const std::vector<std::string>& inTexts)
{
    std::int64_t theTotal = 0;
    for (const std::string& curText : inTexts)
        theTotal += static_cast<std::int64_t>(curText.size());
    return theTotal;
}

// The accept rule of a plain address, inlined: accepting state other than
// the lone suffix letter, three dots.
bool plainIPAccepts(const IPTableView& inView, const std::string& inText)
{
    const std::int8_t* theTable = inView.table();
    const std::uint8_t* theInputs = inView.inputs();
    const std::uint32_t theTokens = inView.tokens();
    std::int8_t curState = 1;
    unsigned curDots = 0;
    for (const char curChar : inText)
    {
        curDots += curChar == '.';
        curState = theTable[curState * theTokens + theInputs[static_cast<unsigned char>(curChar)]];
        if (curState == 0)
            return false;
    }
    return curState >= 2 && curState <= 6 && curDots == 3;
}

bool plainDNSAccepts(const DNSTableView& inView, const std::string& inText)
{
    const std::int8_t* theTable = inView.table();
    const std::uint8_t* theInputs = inView.inputs();
    const std::uint32_t theTokens = inView.tokens();
    std::int8_t curState = 1;
    for (const char curChar : inText)
    {
        curState = theTable[curState * theTokens + theInputs[static_cast<unsigned char>(curChar)]];
        if (curState == 0)
            return false;
    }
    return curState == 2 || curState == 4 || curState == 5;
}
} // namespace

static void BM_IPv4Engine(benchmark::State& ioState)
{
    const std::vector<std::string> theTexts = ipTexts();
    for (auto _ : ioState)
    {
        int theAccepted = 0;
        for (const std::string& curText : theTexts)
        {
            qzIPAddressStateMachine theMachine;
            theAccepted +=
                theMachine.addBuffer(curText.data(), static_cast<std::uint32_t>(curText.size()));
        }
        benchmark::DoNotOptimize(theAccepted);
    }
    ioState.SetBytesProcessed(ioState.iterations() * totalBytes(theTexts));
}
BENCHMARK(BM_IPv4Engine);

static void BM_IPv4PlainLoop(benchmark::State& ioState)
{
    const std::vector<std::string> theTexts = ipTexts();
    const IPTableView theView;
    for (auto _ : ioState)
    {
        int theAccepted = 0;
        for (const std::string& curText : theTexts)
            theAccepted += plainIPAccepts(theView, curText);
        benchmark::DoNotOptimize(theAccepted);
    }
    ioState.SetBytesProcessed(ioState.iterations() * totalBytes(theTexts));
}
BENCHMARK(BM_IPv4PlainLoop);

static void BM_DNSEngine(benchmark::State& ioState)
{
    const std::vector<std::string> theTexts = dnsTexts();
    for (auto _ : ioState)
    {
        int theAccepted = 0;
        for (const std::string& curText : theTexts)
        {
            qzDNSStateMachine theMachine(true, false, false);
            theAccepted +=
                theMachine.addBuffer(curText.data(), static_cast<std::uint32_t>(curText.size()));
        }
        benchmark::DoNotOptimize(theAccepted);
    }
    ioState.SetBytesProcessed(ioState.iterations() * totalBytes(theTexts));
}
BENCHMARK(BM_DNSEngine);

static void BM_DNSPlainLoop(benchmark::State& ioState)
{
    const std::vector<std::string> theTexts = dnsTexts();
    const DNSTableView theView;
    for (auto _ : ioState)
    {
        int theAccepted = 0;
        for (const std::string& curText : theTexts)
            theAccepted += plainDNSAccepts(theView, curText);
        benchmark::DoNotOptimize(theAccepted);
    }
    ioState.SetBytesProcessed(ioState.iterations() * totalBytes(theTexts));
}
BENCHMARK(BM_DNSPlainLoop);

// isValidDNSName as callers use it: one call per text.
static void BM_IsValidDNSName(benchmark::State& ioState)
{
    const std::vector<std::string> theTexts = dnsTexts();
    for (auto _ : ioState)
    {
        int theAccepted = 0;
        for (const std::string& curText : theTexts)
            theAccepted += isValidDNSName(curText.c_str(), false);
        benchmark::DoNotOptimize(theAccepted);
    }
    ioState.SetBytesProcessed(ioState.iterations() * totalBytes(theTexts));
}
BENCHMARK(BM_IsValidDNSName);
