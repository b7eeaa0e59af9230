// A run of the qel tool as one text a test compares at once: its exit status
// and what it said on stderr, so that a wrong status and a wrong message show
// together.
#pragma once

#include <string>

#include "support/testing.h"

// "exit STATUS: STDERR".
inline std::string Ending(const TQelRun& run) { return "exit " + std::to_string(run.Status) + ": " + run.Err; }
