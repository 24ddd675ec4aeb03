// Scoring columns against a block of permutations at once: each of the eight
// lanes of a vector carries one permutation and its own accumulation, in
// pair order, as one permutation at a time would form it.
#pragma once

#include <cstdint>

#include "scoring/position.hpp"
#include "shuffle/lane_vectors.hpp"

namespace vorn {


struct LaneBlock {
  int nl = 0;                            // lanes in use (the rest repeat lane 0)
  const int32_t* perms[kLanes] = {};     // perms[l][p]: the protein whose data p takes
  const float* lanes = nullptr;          // lane l of pair k at lanes[(k-1)*kLanes + l]
  double sy_all[kLanes] = {}, syy_all[kLanes] = {};  // over all pairs, for columns without gaps
};

// sq[(i-1)*nprot + (j-1)] = the rank of pair (i, j) in either order (0 on the
// diagonal): the source of relabelled ranks, since a permutation of the
// proteins keeps every similarity's rank.
void fill_rank_square(const float* idenrank, int32_t nprot, float* sq);

// Fills the block's relabelled similarities: y(perm(i), perm(j)) from ysq
// (nprot x nprot, row-major) or, when ysq is null, from identities.
void fill_lanes(int32_t nprot, const float* ysq, const float* const* identities, LaneBlock& block, float* lanes);
// The block's sums over all pairs.
void lane_totals(int64_t npairs, LaneBlock& block);
// The correlation sums of columns pos[0..nc-1] (nc <= kColumnsPerRead, no
// sentinel among them) under each lane's permutation, the block read once for
// them all. The x side comes from each column's real scoring (colstat); sx is
// not filled. pairs receives the pairs the pass went through.
inline constexpr int kColumnsPerRead = 4;
void lane_group_sums(const Columns& cols, const int32_t* pos, int nc, const ColumnStat* colstat,
                     const SimilaritySide& side, const float* ysq, const LaneBlock& block,
                     CorrelationSums (*out)[kLanes], int64_t& pairs);

}  // namespace vorn
