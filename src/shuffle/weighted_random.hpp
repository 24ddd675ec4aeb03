// The random passes of a weighted run (-W).
#pragma once

#include <cstdint>

#include "log.hpp"
#include "scoring/position.hpp"
#include "scoring/weighted.hpp"

namespace vorn {

// The weighted random passes: y' of each permutation are the weighted ranks
// (or values) of the relabelled similarities, the weights staying with the
// rows. Fills rndcorr[pos][1..nsuffl] of the active columns. A block of eight
// permutations' y' is formed a tile of pairs at a time (tile_pairs, lanes
// room for them), every sum carrying on from tile to tile in pair order.
struct WeightedRandom {
  const int32_t* const* sufix = nullptr;
  int64_t nsuffl = 0;
  const float* icorr = nullptr;
  const WeightedStat* stat = nullptr;
  double* lanes = nullptr;           // scratch per thread t at lanes + t * lane_stride: a tile's y', pair-major
  int64_t lane_stride = 0;
  int64_t tile_pairs = 0;
  // Scratch of each of the concurrent threads t: its lanes above; each
  // lane's group ranks (Spearman) at lane_rank + t * rank_stride (8 x the
  // side's groups); row sums at lane_rowwy + t * 16 x (nprot + 2); inverse
  // permutations at inverse + t * 8 x (nprot + 2).
  int concurrent = 1;
  double* lane_rank = nullptr;
  int64_t rank_stride = 0;
  double* lane_rowwy = nullptr;
  int32_t* inverse = nullptr;
  float* const* rndcorr = nullptr;
  double* exact = nullptr;  // tests: the scores before rounding, exact[(pos - 1) * nsuffl + s - 1]
};
void weighted_random_passes(const Columns& cols, bool spearman, const WeightedSide& side, const WeightedRandom& a,
                            Log& log);

}  // namespace vorn
