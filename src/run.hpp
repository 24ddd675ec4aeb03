// The run: its steps in their fixed order.
#pragma once

#include <cstdio>

#include "log.hpp"
#include "settings.hpp"

namespace vorn {

// Runs every step after the command line, from reading the matrix to the
// closing message. Throws Failure on every error.
void run(const RunSettings& settings, FILE* out, Log& log);

}  // namespace vorn
