// The pair vectors of a run in one block, which holds what the answer needs
// and no more: the similarities in pair order, turned into their ranks in
// place for Spearman with the sort's scratch after them, and with shuffling
// the square of the correlated vector, formed over both in place (unless the
// pair order is read after the random passes). identities[i][j] (j > i)
// addresses the similarities while they are there. Its phases are its
// methods, in the order a run calls them.
#pragma once

#include <cstdint>

#include "arrays.hpp"

namespace vorn {

// sq[(i-1)*nprot + (j-1)] = y of pair (i, j) in either order (0 on the
// diagonal), from the pair-order vector tri[1..npairs]: the source of
// relabelled values, since a permutation of the proteins keeps every value
// (and so every similarity's rank) and only moves it to another pair.
void fill_rank_square(const float* tri, int32_t nprot, float* sq);
// The same square formed in place over a pair-order vector that starts
// offset floats into sq (tri[k] = sq[offset + k]; 0 <= offset <= 2): sq has
// room for nprot x nprot floats and for offset + npairs + 1.
void expand_square(float* sq, int64_t offset, int32_t nprot);

// rows[i] (i = 1..nprot) addresses tri's pairs (i, j), j > i, as rows[i][j];
// rows[0] and rows[nprot + 1] are null.
void triangle_rows(float* tri, int32_t nprot, float** rows);

class PairBlock {
 public:
  struct Shape {
    int32_t nprot = 0;
    int64_t npairs = 0;
    bool spearman = true;
    bool square = false;      // the random passes need the square
    bool keep_order = false;  // the similarities in pair order are read after the ranks or the square (-W, -B)
  };
  // What the plan allocates: the block, the copy kept for keep_order, the
  // square when it cannot be formed in place, and the rows of identities.
  static int64_t block_floats(const Shape& s);
  static int64_t copy_floats(const Shape& s);
  static int64_t square_floats(const Shape& s);
  bool square_in_place() const { return shape_.square && !shape_.keep_order; }

  Vec<float> block, copy, square_copy;
  Vec<float*> identities;  // views into the block (or the copy), 1..nprot

  // 1. Once allocated: the similarities' triangle in the block, the rows
  // pointing into it.
  void place(const Shape& s);
  // 2. The similarities in pair order (1..npairs) and, for Spearman, their
  // ranks' place and the sort's scratch.
  float* values() { return values_; }
  float* ranks() { return shape_.spearman ? ranks_ : nullptr; }
  float* scratch() { return shape_.spearman ? scratch_ : nullptr; }
  // 3. Before Spearman ranks them in place: the similarities copied where
  // later phases read them (keep_order); without a copy they are gone once ranked.
  void keep_similarities();
  // 4. With shuffling: the square of tri (the ranks or the values) for the
  // random passes, in place when it can be; after it the pair order is
  // gone and only the copy is left.
  float* form_square(const float* tri);

 private:
  Shape shape_;
  float* values_ = nullptr;
  float* ranks_ = nullptr;
  float* scratch_ = nullptr;
  void rows_into(float* tri);
};

}  // namespace vorn
