// qzIsMember --batch: USER<TAB>GROUP questions from standard input, one
// answer line each, in order, all in one directory session.
#pragma once

#include "options.h"

// The exit status of the run: 0 when every question got a verdict, else the
// highest status among them ("not a member" counts as a verdict).
int askBatch(const Options& inOptions);
