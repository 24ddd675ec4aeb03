// The position score computation, done by counting instead of sorting.
//
// A column's pair values depend only on the two residue codes of the pair, so
// the column is summarised by a 21 x 21 table: how many pairs have each
// ordered code pair, and the value (rank or substitution score) of that code
// pair. Ranks come from the counts in O(npairs) time without a sort; the
// correlation then runs one pass over the pairs in pair order, keeping the
// double-precision accumulation of the fill-sort-rank-correlate it replaces
// (its literal twin is tests/support/literal.cpp) term for term.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "input/matrix.hpp"
#include "input/residue.hpp"
#include "log.hpp"
#include "scoring/similarity.hpp"

namespace vorn {

inline constexpr int kCells = 21 * 21;

// 1 for the code pairs of two residues, 0 where either code is a gap: the
// factor that lets the pair passes run without a branch per pair.
inline constexpr std::array<double, kCells> kUsablePair = [] {
  std::array<double, kCells> u{};
  for (int a = 1; a < kCodes; ++a)
    for (int b = 1; b < kCodes; ++b) u[a * kCodes + b] = 1.0;
  return u;
}();

// The similarity vector y of the correlation and what every column reuses.
struct SimilaritySide {
  const float* y = nullptr;  // y[1..npairs], pair order
  int32_t nprot = 0;
  int64_t npairs = 0;
  double sy_all = 0;   // sum over all pairs, pair order
  double syy_all = 0;  // squared deviations from sy_all / npairs, pair order
  // Exact sums: y values are multiples of 2^q with small enough magnitudes.
  bool exact = false;
  int q = 0;
  int64_t total = 0;              // sum of y / 2^q over all pairs
  const int64_t* rowsum = nullptr;  // rowsum[p]: sum of y / 2^q over the pairs of protein p
};

// rowsum must have room for nprot + 1 entries.
void prepare_similarity_side(const float* y, int32_t nprot, int64_t npairs, int64_t* rowsum, SimilaritySide& side);

// Cells are valid only for pairs of the codes that occur in the column.
struct ColumnPrep {
  int present[kCodes];                  // the codes that occur, ascending
  int npresent = 0;
  std::array<float, kCells> x;          // pair value of code pair (a, b): rank or aamat score
  std::array<int64_t, kCells> count;    // pairs i < j with code a at i and b at j
  int64_t n = 0;                        // usable pairs: both codes nonzero
  bool gapped = false;                  // some protein has code 0
  GapList gaps;                         // which ones (scored columns only)
  bool sx_exact = false;
  double sx = 0;                        // sum of usable x, when exact
};

void prepare_column(const uint8_t* codes, int32_t nprot, GapList gaps, const AaMat& aamat, bool spearman,
                    ColumnPrep& c);

// Sum of the usable x values in pair order.
double column_sum_x(const uint8_t* codes, int32_t nprot, const ColumnPrep& c);
// Sum of y over the usable pairs of a gapped column, in pair order.
double usable_sum_y(const uint8_t* codes, GapList gaps, const SimilaritySide& s);

// The double-precision sums of the correlation, formed in pair order.
struct CorrelationSums {
  double sx = 0, sy = 0, sxy = 0, sxx = 0, syy = 0;
  int64_t n = 0;
};
// The score from the sums: the spread tests, then the count test.
float score_from_sums(const CorrelationSums& t);

// What the random passes reuse of a column's real scoring: its x side does
// not depend on the permutation.
struct ColumnStat {
  double mx;          // mean of the column's usable pair values
  double sxx;         // their sum of squared deviations, in pair order
  int64_t n;          // usable (ungapped) pairs
  double d[kCells];   // x - mx by code pair; 0 for gapped pairs
};

// The score of one column against the similarity side; stat receives the
// column's x-side summary (for the random passes) and sums the sums, when
// not null.
float score_column(const uint8_t* codes, const ColumnPrep& c, const SimilaritySide& s, ColumnStat* stat,
                   CorrelationSums* sums = nullptr);

// Eight columns share one pass over the pairs (each keeps its own sums); without
// AVX-512 every column takes its own pass.
inline constexpr int kColumnLanes = 8;
// codes8[p * 8 + l] = protein p's code in column pos[l] for the lanes l < nl
// (and live[l], when live is given), 0 in the others.
void group_codes(const Columns& cols, const int32_t* pos, int nl, const bool* live, uint8_t* codes8);
// Columns pos[0..nl-1] (nl <= 8) scored in one pass: score[l] and, when not
// null, stat[pos[l]] and sums[l] as score_column gives them. codes8 has room
// for 8 x nprot codes.
void score_column_group(const Columns& cols, const int32_t* pos, int nl, const AaMat& aamat, bool spearman,
                        const SimilaritySide& side, uint8_t* codes8, ColumnStat* stat, float* score,
                        CorrelationSums* sums = nullptr);

// Room for the grouped pass: pos for alnlen column numbers, codes8 for
// (alnlen + 8) x nprot codes.
struct ColumnGroups {
  int32_t* pos = nullptr;
  uint8_t* codes8 = nullptr;
};

// Scores every scored column against the similarity side (of the ranks for
// Spearman, of the similarities for Pearson), in groups of eight columns in
// parallel; emit gets each (column, score) in column order, with its progress
// text. colstat, when not null, receives each column's x side for the random
// passes.
void scoring_pass(const Columns& cols, const AaMat& aamat, bool spearman, const SimilaritySide& side,
                  ColumnStat* colstat, ColumnGroups groups, const std::function<void(int32_t, float)>& emit, Log& log);
// The grouped pass for any score of eight columns at once: score_group(pos,
// nl, codes8, score) scores columns pos[0..nl-1] into score[0..nl-1], with
// codes8 room for 8 x nprot codes. Needs AVX-512 (active_isa() == Isa::Avx512).
void grouped_pass(const Columns& cols, ColumnGroups groups,
                  const std::function<void(const int32_t*, int, uint8_t*, float*)>& score_group,
                  const std::function<void(int32_t, float)>& emit, Log& log);

}  // namespace vorn
