// The vectors of the permutation lanes, for the float lanes of the plain
// random passes and the double lanes of the weighted ones alike: eight
// permutations side by side, one double each.
#pragma once

#include <cstdint>
#include <cstring>

#include "input/residue.hpp"
#include "scoring/position.hpp"
#include "scoring/similarity.hpp"

namespace vorn {

inline constexpr int kLanes = 8;
typedef double v8d __attribute__((vector_size(64)));
typedef float v8f __attribute__((vector_size(32)));

// The plan's arrays are not 64-byte aligned: loads and stores go through
// memcpy. Always inlined, so that no vector crosses a call, whose convention
// for them differs between instruction sets.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
inline __attribute__((always_inline)) v8d splat(double v) { return v8d{v, v, v, v, v, v, v, v}; }
inline __attribute__((always_inline)) v8d lane_load(const double* p) {
  v8d v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
// Eight float lanes, widened to double.
inline __attribute__((always_inline)) v8d lane_load(const float* p) {
  v8f f;
  std::memcpy(&f, p, sizeof f);
  return __builtin_convertvector(f, v8d);
}
inline __attribute__((always_inline)) void lane_store(double* p, const v8d& v) { std::memcpy(p, &v, sizeof v); }

// The one walk of the lane passes, float lanes or double lanes: C columns
// against a block of permutations, the lanes read once for all of them. For
// every pair (i, j) in pair order (proteins from 0): p = pair(i, j) once, then
// for every column c visit(c, dx, u, y, p), with y the pair's eight lane
// values and, for the codes a, b of the two proteins in column c, dx =
// d[c][a * kCodes + b] and u = kUsablePair[a * kCodes + b]. Rows where every column has a gap at i are
// skipped when skip_gapped_rows (the callers' terms there are zeros).
// lane_walk_rows walks rows row_begin .. row_end - 1 only, whose first pair
// (pair first, 0-based) has its lanes at lanes[0].
template <int C, class Lane, class Pair, class Visit>
inline __attribute__((always_inline)) void lane_walk_rows(const uint8_t* const* codes, int32_t n, int32_t row_begin,
                                                          int32_t row_end, int64_t first, const double* const* d,
                                                          const Lane* lanes, bool skip_gapped_rows, Pair pair,
                                                          Visit visit) {
  for (PairRows r(n, row_begin, first); r && r.i < row_end; ++r) {
    const int32_t i = r.i, len = r.len();
    const Lane* yrow = lanes + (r.start - first) * kLanes;  // the pairs of protein i
    const double* drow[C];
    const double* urow[C];
    const uint8_t* cj[C];
    bool any = false;
    for (int c = 0; c < C; ++c) {
      const int a = codes[c][i];
      any = any || a != 0;
      drow[c] = d[c] + a * kCodes;
      urow[c] = kUsablePair.data() + a * kCodes;
      cj[c] = codes[c] + i + 1;
    }
    if (skip_gapped_rows && !any) continue;
    for (int32_t t = 0; t < len; ++t) {
      const auto p = pair(i, i + 1 + t);
      const v8d y = lane_load(yrow + static_cast<int64_t>(t) * kLanes);
      for (int c = 0; c < C; ++c) {
        const int b = cj[c][t];
        visit(c, drow[c][b], urow[c][b], y, p);
      }
    }
  }
}
template <int C, class Lane, class Pair, class Visit>
inline __attribute__((always_inline)) void lane_walk(const uint8_t* const* codes, int32_t n, const double* const* d,
                                                     const Lane* lanes, bool skip_gapped_rows, Pair pair, Visit visit) {
  lane_walk_rows<C>(codes, n, 0, n - 1, 0, d, lanes, skip_gapped_rows, pair, visit);
}
#pragma GCC diagnostic pop

}  // namespace vorn
