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

#pragma GCC diagnostic pop

}  // namespace vorn
