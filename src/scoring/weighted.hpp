// Sequence weighting (-W): a protein pair (i, j) counts with weight w_i * w_j,
// so that near-copies of one sequence do not count as new evidence.
//
// With weights, Spearman uses weighted mid-ranks (a value's rank is the total
// weight of the smaller values plus half the weight of its tie group, over
// all pairs, as the unweighted ranks are) and both scores use the weighted
// correlation over the column's usable pairs. Which pairs are usable, and
// when a column gets -2 or -3, is decided by the values as without weights:
// -2 when the usable x or y values are all equal, -3 for 10 or fewer usable
// pairs. Everything is in double precision; the sums run in pair order or,
// for the means, from per-protein totals (the literal twin in the tests
// agrees to 1e-12).
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

#include "input/matrix.hpp"
#include "log.hpp"
#include "scoring/position.hpp"
#include "scoring/similarity.hpp"

namespace vorn {

// Henikoff position-based weights: at every position with r > 0 distinct
// residue codes among its residues, a protein with residue a gains
// 1 / (r * n_a), n_a the proteins with a there; then scaled to mean 1 (all 1
// when no position has a residue). w[1..nprot].
void henikoff_weights(const Columns& cols, double* w);
// True when every weight is the same: the weighted scores are then the
// unweighted ones, which are used as they are.
bool uniform_weights(const double* w, int32_t nprot);

// The similarity side of the weighted correlation: the y value of each pair
// (weighted ranks for Spearman) and what every column reuses. With ranks,
// each pair holds only the tie group of its similarity, and the rank is the
// group's: a group index takes half the room a rank would.
struct WeightedSide {
  const double* w = nullptr;         // 1..nprot
  const float* v = nullptr;          // the similarities, 1..npairs, pair order
  const uint32_t* group = nullptr;   // Spearman: 1..npairs, the pair's tie group (0 the smallest); null: y is v
  const double* rank = nullptr;      // Spearman: each group's weighted mid-rank
  int64_t ngroups = 0;
  int32_t nprot = 0;
  int64_t npairs = 0;
  double wsum = 0, wysum = 0;  // sum of W and of W y over all pairs
  double syy_all = 0;          // sum of W (y - my)^2 over all pairs
  bool y_flat = false;         // every y the same
  const double* rowwy = nullptr;  // rowwy[p] = sum over the pairs of p of w_other * y
  // y of pair k (1-based, pair order).
  double y(int64_t k) const { return group ? rank[group[k]] : static_cast<double>(v[k]); }
};

// For ranks, first the distinct similarities of v[1..npairs] (the
// similarities in pair order): their number, their keys left ascending in
// group[1..] (npairs + 1 entries).
int64_t similarity_groups(const float* v, int64_t npairs, uint32_t* group, int64_t* rank_scratch);
// The side of v, ranked (spearman: group and ngroups from similarity_groups,
// rank room for ngroups) or as it is (group, rank unused); rowwy nprot + 1.
void prepare_weighted_side(const float* v, bool spearman, const double* w, int32_t nprot, int64_t npairs,
                           uint32_t* group, int64_t ngroups, double* rank, double* rowwy, WeightedSide& side);

// The weighted correlation from its sums, or its sentinel.
inline double weighted_score(double sxy, double sxx, double syy, int64_t n, bool x_flat, bool y_flat) {
  if (x_flat || y_flat || sxx == 0 || syy == 0) return -2.0;
  if (n <= 10) return -3.0;
  return sxy / (std::sqrt(syy) * std::sqrt(sxx));
}

// What the random passes reuse of a column's weighted scoring.
struct WeightedStat {
  double mx, sxx, wsum;  // weighted mean, spread and total weight of the usable pairs
  int64_t n;             // usable pairs
  double d[21 * 21];     // x - mx by code pair; 0 for gapped pairs
};

// The weighted score of one column.
// value, when not null, receives the score before its rounding to float.
float weighted_column(const uint8_t* codes, GapList gaps, const AaMat& aamat, bool spearman, const WeightedSide& s,
                      WeightedStat* stat, double* value = nullptr);

// Columns pos[0..nl-1] (nl <= 8) in one pass over the pairs (AVX-512), each
// with the score and stat weighted_column gives it; codes8 as for
// score_column_group. value, when not null, receives value[0..nl-1].
void weighted_column_group(const Columns& cols, const int32_t* pos, int nl, const AaMat& aamat, bool spearman,
                           const WeightedSide& s, uint8_t* codes8, WeightedStat* stat, float* score,
                           double* value = nullptr);

// Scores every scored column with weights, in groups of eight columns where
// the processor allows (as scoring_pass); stat, when not null, receives each
// column's x side for the random passes.
void weighted_scoring_pass(const Columns& cols, const AaMat& aamat, bool spearman, const WeightedSide& s,
                           WeightedStat* stat, ColumnGroups groups, const std::function<void(int32_t, float)>& emit,
                           Log& log);

}  // namespace vorn
