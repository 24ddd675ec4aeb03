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

// gapperc[pos] = percentage of proteins with code 0 at pos, in single precision.
void gap_percentages(const uint8_t* alncol, int32_t nprot, int32_t alnlen, float* gapperc);
// The gap rule shared by every pass: a position is scored below 10 %.
inline bool scored(float gapperc) { return gapperc < 10.0f; }

// alncol[(pos-1)*nprot + p-1] = aln[p][pos]: each column's codes side by side.
void column_codes(const int32_t* const* aln, int32_t nprot, int32_t alnlen, uint8_t* alncol);
// The gapped proteins of every scored column (unscored columns get none).
void gap_lists(const uint8_t* alncol, const float* gapperc, int32_t nprot, int32_t alnlen, int32_t* gaplist,
               int64_t* gapstart);

// identities[i][j] = identities[j][i] = mean aamat score over the positions
// where both proteins have a residue (0 when the sum is 0 or there are none).
void similarity_matrix(const int32_t* const* aln, int32_t nprot, int32_t alnlen, const AaMat& aamat,
                       float* const* identities, Log& log);

void print_similarity(FILE* out, const float* const* identities, int32_t nprot);  // -1
void print_two_groups(FILE* out, int32_t nprot);                                   // -2
void print_alignment(FILE* out, const int32_t* const* aln, int32_t nprot, int32_t alnlen);  // -5

// idelin[k] = identities[i][j] for every pair in pair order.
void fill_pair_similarities(const float* const* identities, int32_t nprot, float* idelin);
// The copies, the sort and the ranking, with their progress texts.
void sort_and_rank(float* idelin, float* idelino, float* idenrank, int64_t npairs, Log& log);

}  // namespace vorn
