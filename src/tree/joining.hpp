// The family's tree, joined from the run's similarities: neighbour joining
// in exact fixed point (the same tree for any thread count).
#pragma once

#include <cstdint>

#include "input/matrix.hpp"
#include "scoring/position.hpp"

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
// Above this many proteins neighbour joining (time n^3, an n x n matrix of
// its own) would take too long: the tree is joined by average linkage.
inline constexpr int32_t kTreeNjProteins = 10000;

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

// The large families' tree: the distances d / dmax of nj_tree, as floats in
// pair order (tri[pair_index(i, j, n)], 1-based, i < j), joined by average
// linkage (UPGMA) through chains of nearest neighbours, in time n^2 and in
// place over tri (which it leaves garbage). A node's children are its two
// clusters, joined at height d / 2; nodes are numbered by height (the
// chains' order among equal heights). Nearest neighbours tie to the
// previous link of the chain, then to the lower slot, so that the tree
// depends on the distances alone. scratch: 3n int32.
void distance_triangle(const float* const* identities, int32_t n, const DistanceTransform& how, float* tri);
void average_linkage_tree(float* tri, int32_t n, int32_t* scratch, TreeView tree);


}  // namespace vorn
