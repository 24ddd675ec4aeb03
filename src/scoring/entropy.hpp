// Shannon entropy (bits) of the residues at each position.
#pragma once

#include <cstdint>

#include "log.hpp"

namespace vorn {

// Base-2 logarithm as log10(x) / log10(2), in double precision.
double log22(float x);

// Fills entrop[1..alnlen] from the column-major residue codes; -1 where
// gaps are a tenth or more of the residues (or there are no residues).
void calc_entrop(const uint8_t* alncol, int32_t alnlen, int32_t nprot, float* entrop, Log& log);

// Entropy of one column's codes.
float column_entropy(const uint8_t* codes, int32_t nprot);

}  // namespace vorn
