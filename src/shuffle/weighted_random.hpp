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
  double* lanes = nullptr;           // scratch: tile_pairs x 8, a tile's y' pair-major
  int64_t tile_pairs = 0;
  double* lane_rank = nullptr;       // scratch (Spearman): 8 x the side's groups, each lane's group ranks
  double* lane_rowwy = nullptr;      // scratch: 2 x (nprot + 2) x 8
  int32_t* inverse = nullptr;        // scratch: 8 x (nprot + 2)
  float* const* rndcorr = nullptr;
  double* exact = nullptr;  // tests: the scores before rounding, exact[(pos - 1) * nsuffl + s - 1]
};
// 8,192 pairs (512 KiB of lanes), or one row when a row is longer.
int64_t weighted_tile_pairs(int32_t nprot);
void weighted_random_passes(const Columns& cols, bool spearman, const WeightedSide& side, const WeightedRandom& a,
                            Log& log);

}  // namespace vorn
