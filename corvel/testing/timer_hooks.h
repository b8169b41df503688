// Test seam of the timer: for test programs only.
#pragma once

#include <cstdint>

// A source of the millisecond tick count.
typedef std::uint32_t (*qzTickSource)();

// Replaces the tick source (the platform's tick counter) so that a test can
// place the counter anywhere, for example just before the wrap. nullptr
// restores the platform's counter. Set it while no other thread uses timers.
void qzSetTickSource(qzTickSource inSource);
