// The live directory backend's tuning, read once per process.
//
// Defaults suit Active Directory and Samba AD across a LAN or a WAN; the
// environment can change a few of them (tests shorten the time-out to prove
// that a silent server cannot hang a walk):
//   CORVEL_LDAP_TIMEOUT        seconds per operation and per connect (1..3600)
//   CORVEL_LDAP_INCHAIN_LIMIT  seconds the server may spend on the in-chain
//                              prefetch (0, the default: not asked at all)
//   CORVEL_LDAP_PREFETCH_CAP   groups one walk prefetches at most (0: none)
#pragma once

#include <cstddef>

namespace corvel::directory::ldap
{

struct Tuning
{
    int itsTimeoutSeconds = 10;
    // Base reads kept in flight on one connection: enough to hide the round
    // trip, few enough that a server answering requests in turn is never
    // flooded.
    std::size_t itsReadsInFlight = 64;
    // Searches of one level kept in flight: a level of a few thousand
    // groups goes out in one round trip.
    std::size_t itsSearchesInFlight = 512;
    // Above this many members to classify, one search for the groups among
    // them costs the server less than reading each (measured on Samba:
    // 2,000 member groups in one search take a tenth of the server time of
    // 2,000 reads).
    std::size_t itsSearchAbove = 32;
    // AD returns at most MaxPageSize (1000) entries per page.
    int itsPageSize = 1000;
    // Bounds the range retrieval of one attribute: 1500 values a step on
    // AD, so this allows groups of tens of millions of members and no
    // endless loop.
    int itsMaxRangeSteps = 100000;
    // Seconds for the in-chain rule; 0 leaves it unused.
    int itsInChainLimit = 0;
    // Groups one walk fetches ahead of itself, a level of nesting at a
    // time; past it the walk reads group by group.
    std::size_t itsPrefetchCap = 20000;
    // DNs ORed into one search of a level: Samba's cost per entry is least
    // at about 20 (0.14 ms, against 0.43 ms for a base read each), and
    // the searches of a level all go out together.
    std::size_t itsLevelChunk = 20;
    // Pages of one search at most: a server that never ends its cookie
    // chain cannot keep us reading.
    int itsMaxPages = 100000;
};

// The process's tuning: the defaults with the environment applied, read on
// first use.
const Tuning& tuning();

} // namespace corvel::directory::ldap
