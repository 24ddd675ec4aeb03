// The tree null (-B=n): how far a column's score exceeds what the family's
// tree explains. A neighbour-joining tree is built from the run's protein
// similarities; an empirical replacement model with the alignment's
// frequencies (LG+F by default), a scale of its branch lengths and a discrete
// gamma of rates are fitted to the columns by likelihood; each real column's
// rate is its empirical-Bayes posterior mean; and each real column is
// compared with library columns evolved along the tree at its own rate with
// its own gap pattern, scored exactly as real columns are. A column that
// beats (nearly) all of its library gets more of it, in rounds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "log.hpp"
#include "results.hpp"
#include "scoring/position.hpp"
#include "scoring/similarity.hpp"
#include "scoring/weighted.hpp"
#include "tree/joining.hpp"
#include "tree/likelihood.hpp"
#include "tree/model.hpp"

namespace vorn {

// A column's library: at least this many columns at first. A column that
// beats all but kTreeNearlyAll of them gets ten times as many, in rounds,
// until it has lost to kTreeLosses or has kTreeMostLibrary (so that its
// P-value can reach 1e-5); no round grows where the null does not fit.
inline constexpr int64_t kTreeFirstLibrary = 20, kTreeNearlyAll = 2, kTreeLosses = 10, kTreeMostLibrary = 100000,
                         kTreeGrowth = 10;

// The room for library columns scored at once (ncols of them, n proteins).
struct TreeLibrary {
  int64_t ncols = 0;
  uint8_t* codes = nullptr;  // ncols x n, column-major as Columns reads them
  float* score = nullptr;    // their scores, 1..ncols
  uint32_t* sets = nullptr;  // scratch: (2n - 1) per thread
};

// Scores library columns 1..count as the real ones are scored: their gap
// lists, then the same pass (weighted when wside is given), into lib.score;
// a column without a score gets -3. The arrays: gapperc ncols + 2, gaplist
// ncols x max_scored_gaps + 1, gapstart ncols + 3, the groups as the pass
// needs them.
struct LibraryArrays {
  float* gapperc;
  int32_t* gaplist;
  int64_t* gapstart;
  ColumnGroups groups;
};
void score_library_columns(const TreeLibrary& lib, int64_t count, int32_t n, LibraryArrays at, const AaMat& aamat,
                           bool spearman, const SimilaritySide& side, const WeightedSide* wside, Log& log);

// Evolves column `column`'s library member k (0-based) into col (n codes):
// along the tree at rate branch_scale per unit of its length, from a stream
// of its own (seed, column, k), with the column's gap pattern. state: 2n - 1.
void evolve_column(const TreeView& tree, const AaModel& m, double branch_scale, uint64_t seed, int32_t column,
                   int64_t k, GapList gaps, uint32_t* state, uint8_t* col);

// The real columns: the result lines' columns pos[i] and scores score[i]
// (sentinels below -1 get no value).
struct RealColumns {
  const int32_t* pos = nullptr;
  const float* score = nullptr;
  int64_t n = 0;
};
// What the run record and the user learn of the null's fit to the family.
using TreeFitReport = RunRecord::TreeFit;
// budget: the library columns of the first round, spread over the scored
// columns (at least kTreeFirstLibrary each). score_library(count) scores
// lib's first count columns.
void tree_null(const Columns& cols, const TreeView& tree, const AaModel& model, uint32_t seed, const RealColumns& real,
               int64_t budget, TreeLibrary lib, const std::function<void(int64_t)>& score_library,
               std::vector<TreeNullValue>& out, TreeFitReport& report, Log& log);

// The median Zscr_tree above which the null is said not to fit the family.
inline constexpr double kTreeMisfit = 1.0;

}  // namespace vorn
