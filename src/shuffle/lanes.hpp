// Scoring columns against a block of permutations at once: each of the eight
// lanes of a vector carries one permutation and its own accumulation, in
// pair order, as one permutation at a time would form it, a tile of pairs at
// a time (tiles.hpp).
#pragma once

#include <cstdint>

#include "log.hpp"
#include "scoring/position.hpp"
#include "shuffle/lane_vectors.hpp"
#include "shuffle/tiles.hpp"

namespace vorn {

struct LaneBlock {
  int nl = 0;                            // lanes in use (the rest repeat lane 0)
  const int32_t* perms[kLanes] = {};     // perms[l][p]: the protein whose data p takes
  double sy_all[kLanes] = {}, syy_all[kLanes] = {};  // over all pairs, for columns without gaps
};


// kColumnsPerRead columns and what they carry from tile to tile: each lane's
// mean, its sums so far and the pairs walked.
inline constexpr int kColumnsPerRead = 8;
struct LaneGroup {
  int nc = 0;
  int32_t pos[kColumnsPerRead] = {};        // unused places repeat the first column
  bool usable_pass[kColumnsPerRead] = {};   // sy over the usable pairs from a pass over the pairs
  bool gapped = false;
  double my[kColumnsPerRead][kLanes], sy[kColumnsPerRead][kLanes];
  double sxy[kColumnsPerRead][kLanes], syy[kColumnsPerRead][kLanes];
  double usum[kColumnsPerRead][kLanes];  // the usable y summed by the first walk, for the columns that need it
  int64_t pairs = 0;
};
inline int32_t lane_groups(int32_t ncolumns) { return (ncolumns + kColumnsPerRead - 1) / kColumnsPerRead; }

// For each of nc columns, the exact sum (scaled by 2^-q) of y' over the pairs
// of two of its gapped proteins gaps[c] (ascending), y'(a, b) = ysq of
// (perm[a], perm[b]): each column's from the one before when fewer pairs
// change than it has. The values of ysq are those of an exact side (q).
void gapped_pair_sums(const GapList* gaps, int nc, const int32_t* perm, const float* ysq, int32_t n, int q,
                      int64_t* out);

// The codes of the groups of columns active[0..nactive) (a group's unused
// places repeating its first column), protein-major: group g's protein p
// has its codes at codes8[(g * nprot + p) * kColumnsPerRead ..], one per
// column. Room: lane_groups(nactive) * nprot * kColumnsPerRead.
void lane_group_codes(const Columns& cols, const int32_t* active, int32_t nactive, uint8_t* codes8);

// The correlation sums of the groups g0 .. g1 - 1 of columns active[0..nactive)
// (no sentinel among them) under each lane's permutation, into groups[g0 ..
// g1): the pairs a tile (tile_pairs, lanes room for them) at a time, on the
// calling thread. The x side comes from each column's real scoring (colstat),
// the codes from lane_group_codes. The sums over all pairs (block.sy_all,
// syy_all) come out the same from any range. Skips its work once log is
// asked to stop.
void block_sums(const Columns& cols, const int32_t* active, int32_t nactive, int32_t g0, int32_t g1,
                const uint8_t* codes8, const ColumnStat* colstat, const SimilaritySide& side, const float* ysq,
                LaneBlock& block, int64_t tile_pairs, double* lanes, LaneGroup* groups, const Log& log);
// Column c, lane l of a group, as score_from_sums takes them (sx not filled).
CorrelationSums lane_sums(const LaneGroup& g, int c, int l, const LaneBlock& block, const ColumnStat* colstat,
                          const Columns& cols);

}  // namespace vorn
