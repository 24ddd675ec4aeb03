#include "scoring/entropy.hpp"

#include <cmath>

namespace vorn {

double log22(float x) { return std::log10(static_cast<double>(x)) / 0.3010299956639812; }

float column_entropy(const uint8_t* codes, int32_t nprot) {
  int32_t count[21] = {0};
  for (int32_t p = 0; p < nprot; ++p) ++count[codes[p]];
  const int32_t gaps = count[0], residues = nprot - gaps;
  float h = 0.0f;
  for (int c = 1; c <= 20; ++c) {
    if (count[c] <= 0) continue;
    const float p = static_cast<float>(count[c]) / static_cast<float>(residues);
    const float l = static_cast<float>(log22(p));
    h = h - l * p;
  }
  // A single-precision quotient against a double limit: exactly one tenth
  // fails, since 0.1f is a little above 0.1.
  const float q = static_cast<float>(gaps) / static_cast<float>(residues);
  if (static_cast<double>(q) <= 0.1 && residues > 0) return h;
  return -1.0f;
}

void calc_entrop(const uint8_t* alncol, int32_t alnlen, int32_t nprot, float* entrop, Log& log) {
  for (int32_t pos = 1; pos <= alnlen; ++pos) {
    log.progress("\rEntropy pos: %d/%d    ", pos, alnlen);
    entrop[pos] = column_entropy(alncol + static_cast<int64_t>(pos - 1) * nprot, nprot);
  }
}

}  // namespace vorn
