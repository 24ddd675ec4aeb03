// The -W=file weights: one weight per protein.
#pragma once

#include <cstdint>
#include <string>

#include "input/source.hpp"

namespace vorn {

// One weight per protein from a file of "i<TAB>weight" lines (proteins from
// 1); every protein once, weights finite and not negative. Throws Failure
// naming the line, and when fewer than two
// proteins weigh more than 0 (no pair would count).
void read_weights(const std::string& path, int32_t nprot, double* w, const GivenInputs* given = nullptr);

}  // namespace vorn
