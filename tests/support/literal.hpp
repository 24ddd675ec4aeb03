// The procedures of a run written the plain, slow way they are defined:
// exchange sort, quadratic ranking, one position at a time, one permutation
// at a time, the similarities sorted and ranked again for every permutation.
// The fast code is checked against these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/matrix.hpp"
#include "tree/tree_null.hpp"

namespace vorn::literal {

void ordena(float* v, int64_t count);
void rankit(const float* sorted, int64_t count, float* ranks);
// rankit's value for one entry: the mean place of value among sorted[1..count].
float rank_of(const float* sorted, int64_t count, float value);
// The double sums of a correlation, in index order.
struct Sums {
  double sx = 0, sy = 0, sxy = 0, sxx = 0, syy = 0;
  int64_t n = 0;
};

// aln[p][pos], 1-based, rows 1..nprot of positions 1..alnlen.
struct Alignment {
  int32_t nprot = 0;
  int32_t alnlen = 0;
  std::vector<std::vector<int32_t>> aln;
};
Alignment make_alignment(const std::vector<std::string>& rows);  // one string of residue letters per protein
// Column pos as the fast code takes it: its codes and its gapped proteins (1-based).
void column_of(const Alignment& a, int32_t pos, std::vector<uint8_t>& codes, std::vector<int32_t>& gaps);

// Bit patterns, for comparisons that must be exact to the last bit.
uint32_t bits(float f);
uint64_t bits(double f);

std::vector<std::vector<float>> similarity(const Alignment& a, const AaMat& aamat);
// The score of position pos against the pair vectors idenrank / idelino (1-based).
float position_score(const Alignment& a, const AaMat& aamat, int32_t pos, const std::vector<float>& idenrank,
                     const std::vector<float>& idelino, bool spearman, Sums* sums = nullptr);
// The pair vectors of a similarity matrix: unsorted copy and (unless
// ranked is false, for Pearson alone) ranks, 1-based.
void pair_vectors(const std::vector<std::vector<float>>& id, int32_t n, std::vector<float>& idenrank,
                  std::vector<float>& idelino, bool ranked = true);
// srand(seed), then the permutations drawn by shifting the list of indices.
std::vector<std::vector<int32_t>> draw_permutations(unsigned seed, int64_t nsuffl, int32_t nprot);

// The weighted score of position pos written plainly: pair (i, j) weighs
// w[i] * w[j]; Spearman ranks a value by the total weight of the smaller
// values plus half that of its ties, over all pairs; the correlation is the
// weighted one over the usable pairs, in double precision. sim[k] holds the
// similarity of pair k in pair order (1-based).
double weighted_score(const Alignment& a, const AaMat& aamat, int32_t pos, const std::vector<double>& w,
                      const std::vector<float>& sim, bool spearman);

struct RunHow {
  bool spearman = true;
  bool entropy = true;
  int64_t nsuffl = 0;
  unsigned seed = 0;
  const std::vector<std::vector<float>>* imported = nullptr;  // -M similarities, 1-based square
};

// Everything a run of a '>' file prints on standard output (result lines only).
std::string expected_stdout(const Alignment& a, const AaMat& aamat, const RunHow& how);

// Neighbour joining as the textbook has it, on nodes by number: every row
// sum computed again at every step, every pair scanned in node order.
// sim: 1-based similarities; the tree in the shape nj_tree gives.
struct Tree {
  std::vector<int32_t> left, right;
  std::vector<double> length;
};
Tree nj_tree(const std::vector<std::vector<float>>& sim, int32_t n, const DistanceTransform& how);
// The least number of changes a column needs on the tree (unit-cost Sankoff
// over the twenty states; code 0 fits any state).
int32_t parsimony(const Tree& t, int32_t n, const std::vector<uint8_t>& codes);

}  // namespace vorn::literal
