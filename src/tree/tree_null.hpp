// The tree null (-B=n): how far a column's score exceeds what the family's
// tree explains. A neighbour-joining tree is built from the run's protein
// similarities, n library columns are evolved along it (equal-input process
// with the alignment's residue frequencies, rates on a grid, each with the
// gap pattern of a real scored column), scored exactly as real columns are,
// and each real column is compared with the library columns of its Fitch
// parsimony count on the tree.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "log.hpp"
#include "results.hpp"
#include "scoring/position.hpp"
#include "scoring/similarity.hpp"
#include "scoring/weighted.hpp"

namespace vorn {

// The distance of two proteins from their similarity s (the mean matrix
// score of their aligned residues): with r = (s - random) / (self - random)
// (random: the mean score of two residues drawn from the alignment's
// frequencies; self: that of a residue with itself) kept within [0.01, 1],
// the gamma distance a (r^(-1/a) - 1) of shape a = 2. Without those (-M
// similarities): smax - s. Either way the joining sees d / dmax in fixed point, units of
// 2^-20, so that every sum of the joining is exact (the same tree for any
// order of the sums, and for any thread count).
struct DistanceTransform {
  bool scores = false;  // false: the linear smax - s
  double random = 0, self = 0;
};
double tree_distance(double s, double smax, const DistanceTransform& t);
// The residue frequencies of the alignment, freq[1..20] summing to 1 (all 0
// without a residue), and the transform of mean scores under them.
void residue_frequencies(const Columns& cols, double* freq);
DistanceTransform score_transform(const double* freq, const AaMat& aamat);
inline constexpr int64_t kTreeScale = int64_t{1} << 20;
inline constexpr double kTreeShape = 2.0, kTreeSaturated = 0.01;
// Above this many proteins the O(n^3) joining would take minutes: -B refuses.
inline constexpr int32_t kTreeMaxProteins = 10000;
// A column is compared with at least this many library columns (fewer only
// when the whole library has fewer scored columns).
inline constexpr int64_t kTreeMinMatched = 50;

// A rooted binary tree over leaves 0..n-1 (protein p is leaf p-1). Internal
// nodes n..2n-2 in the order they were joined, so that every node comes after
// its children; the root is 2n-2. length[v] is the branch above v, in
// distance units (kTreeScale is 1); NJ may make it negative.
struct TreeView {
  int32_t n = 0;
  int32_t* left = nullptr;   // 2n - 1 entries; -1 for a leaf
  int32_t* right = nullptr;
  double* length = nullptr;
};

// dist: n x n scratch, rsum: n, slot: n. identities 1-based.
void nj_tree(const float* const* identities, int32_t n, const DistanceTransform& how, int64_t* dist, int64_t* rsum,
             int32_t* slot, TreeView tree);

// The Fitch parsimony count of one column (codes of proteins 1..n at
// codes[0..n), code 0 a gap, which fits any state); sets: 2n - 1 scratch.
int32_t fitch_count(const uint8_t* codes, const TreeView& tree, uint32_t* sets);

// The library's arrays (B columns of n proteins) and what the null gives each
// real column. Real columns are those of the result lines; their scores in
// score[0..nrows).
struct TreeLibrary {
  int64_t ncols = 0;
  uint8_t* codes = nullptr;    // ncols x n, column-major as Columns reads them
  int32_t* count = nullptr;    // Fitch count of each library column, 1..ncols
  float* score = nullptr;      // its score, 1..ncols
  int32_t* rate = nullptr;     // its rate on the grid, 1..ncols
  uint32_t* sets = nullptr;    // Fitch scratch: (2n - 1) per thread
};

// Scores the library's columns as the real ones are scored: their gap lists,
// then the same pass (weighted when wside is given), into lib.score; a
// column without a score gets -3. The arrays: gapperc ncols + 2, gaplist
// ncols x max_scored_gaps + 1, gapstart ncols + 3, the groups as the pass
// needs them.
struct LibraryArrays {
  float* gapperc;
  int32_t* gaplist;
  int64_t* gapstart;
  ColumnGroups groups;
};
void score_library_columns(const TreeLibrary& lib, int32_t n, LibraryArrays at, const AaMat& aamat, bool spearman,
                           const SimilaritySide& side, const WeightedSide* wside, Log& log);

// Evolves the library along the tree (seeded by seed; residues drawn from
// freq, residue_frequencies), asks score_library to
// score its columns into lib.score, and compares each real column: real
// codes in cols, the rows' columns pos[i] and scores score[i] (sentinels
// below -1 get no value).
struct RealColumns {
  const int32_t* pos = nullptr;
  const float* score = nullptr;
  int64_t n = 0;
};
void tree_null(const Columns& cols, const TreeView& tree, const double* freq, uint32_t seed, const RealColumns& real,
               TreeLibrary lib, const std::function<void()>& score_library, std::vector<TreeNullValue>& out,
               Log& log);

}  // namespace vorn
