// The random passes: every scored column against every permutation of the
// proteins, and the pool of all random scores.
#pragma once

#include <cstdint>

#include "log.hpp"
#include "scoring/position.hpp"
#include "shuffle/lanes.hpp"

namespace vorn {

// What the random passes read and write, besides the columns.
struct RandomPassArrays {
  const int32_t* const* sufix = nullptr;  // sufix[1..nsuffl][1..nprot], the permutations
  int64_t nsuffl = 0;
  const float* icorr = nullptr;           // the real scores; columns with a sentinel are not re-scored
  const ColumnStat* colstat = nullptr;    // each column's x side, from its real scoring
  const float* ysq = nullptr;             // the correlated vector as an nprot x nprot square
  // Scratch of each worker thread t: a tile of a block's relabelled
  // similarities at lanesim + t * lane_stride, its column groups at
  // groups + t * group_stride (lane_groups(alnlen) of them).
  double* lanesim = nullptr;
  int64_t lane_stride = 0;
  int64_t tile_pairs = 0;                 // the pairs of a tile
  LaneGroup* groups = nullptr;
  int64_t group_stride = 0;
  int32_t* active = nullptr;              // scratch: the columns re-scored (alnlen entries)
  uint8_t* codes8 = nullptr;              // scratch: their groups' codes, (alnlen + 8) x nprot
  float* const* rndcorr = nullptr;        // out: rndcorr[pos][s]
  float* pool = nullptr;                  // out: pool[1..count], permutation-major
  int64_t* count = nullptr;
};

// The blocks of eight permutations are shared among the threads, each block
// (or, with fewer blocks than threads, a share of its column groups) walked
// whole by one thread: one parallel region, no waiting inside it.
void random_passes(const Columns& cols, const SimilaritySide& side, const RandomPassArrays& a, Log& log);
// The pool of all random scores, permutation after permutation, columns in
// ascending order, of the columns whose real score is no sentinel.
void fill_pool(const Columns& cols, const float* icorr, const float* const* rndcorr, int64_t nsuffl, float* pool,
               int64_t* count);

}  // namespace vorn
