// The random passes of a weighted run (-W).
#pragma once

#include <cstdint>

#include "log.hpp"
#include "scoring/position.hpp"
#include "scoring/weighted.hpp"

namespace vorn {

// The weighted random passes: y' of each permutation are the weighted ranks
// (or values) of the relabelled similarities, the weights staying with the
// rows. Fills rndcorr[pos][1..nsuffl] of the active columns.
struct WeightedRandom {
  const int32_t* const* sufix = nullptr;
  int64_t nsuffl = 0;
  const float* icorr = nullptr;
  const WeightedStat* stat = nullptr;
  const float* v = nullptr;          // the similarities in pair order
  const int64_t* order = nullptr;    // pairs by ascending similarity
  double* lanes = nullptr;           // scratch: npairs x 8, a block's y' pair-major
  float* sorted = nullptr;           // scratch (Spearman): the similarities by ascending value, npairs
  int32_t* ends = nullptr;           // scratch (Spearman): their pairs' two proteins, 2 x npairs
  double* lane_rowwy = nullptr;      // scratch: 2 x (nprot + 2) x 8
  int32_t* inverse = nullptr;        // scratch: 8 x (nprot + 2)
  float* const* rndcorr = nullptr;
  double* exact = nullptr;  // tests: the scores before rounding, exact[(pos - 1) * nsuffl + s - 1]
};
void weighted_random_passes(const Columns& cols, bool spearman, const WeightedSide& side, const WeightedRandom& a,
                            Log& log);

}  // namespace vorn
