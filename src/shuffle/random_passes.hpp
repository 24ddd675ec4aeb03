// The random passes: every scored column against every permutation of the
// proteins, and the pool of all random scores.
#pragma once

#include <cstdint>

#include "log.hpp"
#include "scoring/position.hpp"

namespace vorn {

// What the random passes read and write, besides the columns.
struct RandomPassArrays {
  const int32_t* const* sufix = nullptr;  // sufix[1..nsuffl][1..nprot], the permutations
  int64_t nsuffl = 0;
  const float* icorr = nullptr;           // the real scores; columns with a sentinel are not re-scored
  const ColumnStat* colstat = nullptr;    // each column's x side, from its real scoring
  const float* idenrank = nullptr;        // Spearman: the similarity ranks, pair order
  const float* const* identities = nullptr;  // Pearson: the similarities
  float* ranksq = nullptr;                // scratch: the ranks as an nprot x nprot square (Spearman)
  float* lanesim = nullptr;               // scratch: a block's relabelled similarities
  int32_t* active = nullptr;              // scratch: the columns re-scored (alnlen entries)
  float* const* rndcorr = nullptr;        // out: rndcorr[pos][s]
  float* pool = nullptr;                  // out: pool[1..count], permutation-major
  int64_t* count = nullptr;
};

void random_passes(const Columns& cols, const SimilaritySide& side, bool spearman, const RandomPassArrays& a, Log& log);
// The pool of all random scores, permutation after permutation, columns in
// ascending order, of the columns whose real score is no sentinel.
void fill_pool(const Columns& cols, const float* icorr, const float* const* rndcorr, int64_t nsuffl, float* pool,
               int64_t* count);

}  // namespace vorn
