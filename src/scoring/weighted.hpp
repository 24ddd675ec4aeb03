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
// One weight per protein from a file of "i<TAB>weight" lines (proteins from
// 1); every protein once, weights finite and not negative. Throws Failure
// naming the line.
void read_weights(const std::string& path, int32_t nprot, double* w);
// True when every weight is the same: the weighted scores are then the
// unweighted ones, which are used as they are.
bool uniform_weights(const double* w, int32_t nprot);

// The similarity side of the weighted correlation: the y value of each pair
// (weighted ranks for Spearman) and what every column reuses.
struct WeightedSide {
  const double* w = nullptr;  // 1..nprot
  const double* y = nullptr;  // 1..npairs, pair order
  int32_t nprot = 0;
  int64_t npairs = 0;
  double wsum = 0, wysum = 0;  // sum of W and of W y over all pairs
  double syy_all = 0;          // sum of W (y - my)^2 over all pairs
  bool y_flat = false;         // every y the same
  const double* rowwy = nullptr;  // rowwy[p] = sum over the pairs of p of w_other * y
};

// y[k] from the float pair vector v (the similarities in pair order): the
// weighted ranks (spearman) or the values. order needs npairs entries (the
// pairs by ascending value, kept for the random passes); rowwy nprot + 1.
void prepare_weighted_side(const float* v, bool spearman, const double* w, int32_t nprot, int64_t npairs,
                           int64_t* order, double* y, double* rowwy, int64_t* rank_scratch, WeightedSide& side);

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
