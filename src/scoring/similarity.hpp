// Whole-alignment preparation for scoring: gap percentages, the protein
// similarity matrix, the diagnostic listings and the similarity pair vectors.
#pragma once

#include <cstdint>
#include <cstdio>

#include "input/matrix.hpp"
#include "log.hpp"

namespace vorn {

// Pair k of proteins i < j (1-based) in pair order: i ascending, then j.
inline int64_t pair_index(int64_t i, int64_t j, int64_t nprot) { return (i - 1) * (2 * nprot - i) / 2 + (j - i); }

// The rows of pair order, the walk of every pass over the pairs:
//   for (PairRows r(n); r; ++r) ...
// visits protein i = r.i (0-based) with its len() pairs (i, i + 1 .. n - 1),
// which start at pair r.start (0-based: pair_index(i + 1, i + 2, n) - 1).
struct PairRows {
  explicit PairRows(int32_t nprot) : n(nprot) {}
  // From row i0, whose first pair is pair start0 (0-based).
  PairRows(int32_t nprot, int32_t i0, int64_t start0) : n(nprot), i(i0), start(start0) {}
  int32_t n, i = 0;
  int64_t start = 0;
  int32_t len() const { return n - 1 - i; }
  explicit operator bool() const { return i < n - 1; }
  PairRows& operator++() {
    start += len();
    ++i;
    return *this;
  }
};

// gapperc[pos] = percentage of proteins with code 0 at pos, in single precision.
void gap_percentages(const uint8_t* alncol, int32_t nprot, int32_t alnlen, float* gapperc);
// The gap rule shared by every pass: a position is scored below 10 %.
inline bool scored(float gapperc) { return gapperc < 10.0f; }
// Room for the gapped proteins of a scored column: fewer than a tenth of them.
inline int64_t max_scored_gaps(int64_t nprot) { return nprot / 9 + 2; }

// The proteins (1-based) with code 0 at a column.
struct GapList {
  const int32_t* p = nullptr;
  int32_t n = 0;
};

// The one rule of every sum over a column's usable pairs taken from totals:
// all pairs, less the pairs of each gapped protein (row(p) takes them away),
// plus each pair of two gapped proteins (both(p, q) gives it back: it was
// taken away twice). The terms come in this order, which fixes the rounding.
template <class Row, class Both>
inline void usable_from_totals(GapList gaps, Row row, Both both) {
  for (int32_t g = 0; g < gaps.n; ++g) {
    row(gaps.p[g]);
    for (int32_t h = g + 1; h < gaps.n; ++h) both(gaps.p[g], gaps.p[h]);
  }
}

// What the passes over the columns read: each column's codes side by side,
// its gap percentage and, for scored columns, its gapped proteins.
struct Columns {
  const uint8_t* codes = nullptr;    // codes[(pos-1)*nprot + (p-1)]
  const float* gapperc = nullptr;    // 1..alnlen
  const int32_t* gaplist = nullptr;  // column pos owns gaplist[gapstart[pos] .. gapstart[pos+1])
  const int64_t* gapstart = nullptr;
  int32_t nprot = 0, alnlen = 0;
  const uint8_t* column(int32_t pos) const { return codes + static_cast<int64_t>(pos - 1) * nprot; }
  GapList gaps(int32_t pos) const {
    return GapList{gaplist + gapstart[pos], static_cast<int32_t>(gapstart[pos + 1] - gapstart[pos])};
  }
  bool scored(int32_t pos) const { return vorn::scored(gapperc[pos]); }
};

// alncol[(pos-1)*nprot + p-1] = aln[p][pos]: each column's codes side by side.
void column_codes(const int32_t* const* aln, int32_t nprot, int32_t alnlen, uint8_t* alncol);
// The gapped proteins of every scored column (unscored columns get none).
void gap_lists(const uint8_t* alncol, const float* gapperc, int32_t nprot, int32_t alnlen, int32_t* gaplist,
               int64_t* gapstart);

// identities[i][j] (j > i only: the rows may view a pair-order vector) =
// mean aamat score over the positions where both proteins have a residue (0
// when the sum is 0 or there are none).
// alncol (the codes by column), when given, lets sixteen proteins be summed
// at once.
void similarity_matrix(const int32_t* const* aln, const uint8_t* alncol, int32_t nprot, int32_t alnlen,
                       const AaMat& aamat, float* const* identities, Log& log);

void print_similarity(FILE* out, const float* const* identities, int32_t nprot);  // -1
void print_two_groups(FILE* out, int32_t nprot);                                   // -2
void print_alignment(FILE* out, const int32_t* const* aln, int32_t nprot, int32_t alnlen);  // -5

// Spearman's similarity side: values[1..npairs] replaced by their ranks,
// with scratch (npairs + 1 floats), done ((npairs + 63) / 64 words) and the
// rank tables as room.
void sort_and_rank(float* values, int64_t npairs, float* scratch, uint64_t* done, int64_t* rank_scratch);

}  // namespace vorn
