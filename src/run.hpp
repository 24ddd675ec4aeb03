// The run: the thirteen phases in their fixed order.
#pragma once

#include <cstdio>

#include "log.hpp"
#include "settings.hpp"

namespace vorn {

// Runs phases 2 to 13 (phase 1, the command line, is the caller's). Throws
// Failure on every error.
void run(const RunSettings& settings, FILE* out, Log& log);

}  // namespace vorn
