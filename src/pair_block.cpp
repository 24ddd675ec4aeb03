#include "pair_block.hpp"

#include <omp.h>

#include <algorithm>
#include <cstring>

#include "scoring/similarity.hpp"

namespace vorn {

namespace {

int64_t plus(int64_t n, int64_t k) {
  int64_t r;
  return __builtin_add_overflow(n, k, &r) ? INT64_MAX : r;
}
int64_t times(int64_t a, int64_t b) {
  int64_t r;
  return __builtin_mul_overflow(a, b, &r) ? INT64_MAX : r;
}

}  // namespace

// The triangle from entry 2 on (so that every identities row points inside
// the block), for Spearman the sort's scratch triangle after it, and room
// for the square over both when it is formed in place.
int64_t PairBlock::block_floats(const Shape& s) {
  const int64_t tri = plus(s.npairs, 5);
  int64_t count = plus(2, s.spearman ? times(tri, 2) : tri);
  if (s.square && !s.keep_order) count = std::max(count, plus(times(s.nprot, s.nprot), 1));
  return count;
}

int64_t PairBlock::copy_floats(const Shape& s) { return s.spearman && s.keep_order ? plus(s.npairs, 5) : 1; }

int64_t PairBlock::square_floats(const Shape& s) {
  return s.square && s.keep_order ? plus(times(s.nprot, s.nprot), 1) : 1;
}

void triangle_rows(float* tri, int32_t n, float** rows) {
  rows[0] = rows[n + 1] = nullptr;
  for (int32_t i = 1; i <= n; ++i) rows[i] = tri + (pair_index(i, i + 1, n) - (i + 1));
}

void PairBlock::rows_into(float* tri) { triangle_rows(tri, shape_.nprot, identities.data()); }

void PairBlock::place(const Shape& s) {
  shape_ = s;
  values_ = ranks_ = block.data() + 2;
  scratch_ = s.spearman ? values_ + s.npairs + 5 : nullptr;
  rows_into(values_);
}

void PairBlock::keep_similarities() {
  if (!shape_.spearman) return;
  if (copy.size() <= 1) {
    values_ = nullptr;  // the ranks take their place
    return;
  }
  std::copy(values_ + 1, values_ + shape_.npairs + 1, copy.data() + 1);
  values_ = copy.data();
  rows_into(values_);
}

float* PairBlock::form_square(const float* tri) {
  const int32_t n = shape_.nprot;
  if (!square_in_place()) {
    fill_rank_square(tri, n, square_copy.data());
    return square_copy.data();
  }
  float* sq = block.data();
  expand_square(sq, tri - sq, n);
  // The pair order is gone: nothing may read it now.
  values_ = ranks_ = scratch_ = nullptr;
  for (int32_t i = 0; i <= n + 1; ++i) identities[i] = nullptr;
  return sq;
}

void fill_rank_square(const float* tri, int32_t n, float* sq) {
#pragma omp parallel for schedule(dynamic, 16)
  for (int32_t i = 1; i <= n; ++i) {
    sq[static_cast<int64_t>(i - 1) * n + (i - 1)] = 0.0f;
    for (int32_t j = i + 1; j <= n; ++j) {
      const float r = tri[pair_index(i, j, n)];
      sq[static_cast<int64_t>(i - 1) * n + (j - 1)] = r;
      sq[static_cast<int64_t>(j - 1) * n + (i - 1)] = r;
    }
  }
}
void expand_square(float* sq, int64_t offset, int32_t n) {
  // Row i's pairs move up to their place in the square, the last row first:
  // no row's place reaches below the pairs of the rows before it (offset <=
  // 2), so nothing is overwritten before it has moved.
  for (int32_t i = n - 1; i >= 1; --i)
    std::memmove(sq + static_cast<int64_t>(i - 1) * n + i, sq + offset + pair_index(i, i + 1, n),
                 sizeof(float) * static_cast<size_t>(n - i));
  // The lower triangle, in tiles that stay in cache.
  const int32_t tile = 64;
#pragma omp parallel for schedule(dynamic, 1)
  for (int32_t j0 = 1; j0 <= n; j0 += tile)
    for (int32_t i0 = 1; i0 <= j0; i0 += tile)
      for (int32_t j = j0; j < j0 + tile && j <= n; ++j) {
        if (i0 == 1) sq[static_cast<int64_t>(j - 1) * n + (j - 1)] = 0.0f;
        for (int32_t i = i0; i < i0 + tile && i < j; ++i)
          sq[static_cast<int64_t>(j - 1) * n + (i - 1)] = sq[static_cast<int64_t>(i - 1) * n + (j - 1)];
      }
}

}  // namespace vorn
