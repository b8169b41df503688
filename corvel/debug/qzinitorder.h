// The order in which the process-wide objects are built during static
// initialisation, module by module, and destroyed in reverse after main
// returns: the start timer, the information log's state, the string server,
// the event mutex, the thread registry and the main thread, the default
// random seed.
#pragma once

#if defined(__GNUC__)
#define QZ_INIT_ORDER(n) __attribute__((init_priority(n)))
#else
#define QZ_INIT_ORDER(n)
#endif

// Priorities below 101 are reserved for the implementation.
#define QZ_INIT_START_TIMER 1001
#define QZ_INIT_INFO_LOG 1002
#define QZ_INIT_STRING_SERVER 1003
#define QZ_INIT_EVENT_MUTEX 1004
#define QZ_INIT_THREADS 1005
#define QZ_INIT_RANDOM_SEED 1006
