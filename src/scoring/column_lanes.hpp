// The pieces the eight-lane column passes share (AVX-512): each lane is one
// column of a group, codes8[p * 8 + l] protein p's code in column l, and the
// columns' 21 x 21 tables lie kCells apart.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "scoring/position.hpp"

namespace vorn {

#define VORN_LANES inline __attribute__((target("avx2,avx512f,avx512bw,avx512vl"), always_inline))

// Protein p's code in each lane.
VORN_LANES __m128i lane_codes(const uint8_t* codes8, int64_t p) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(codes8 + 8 * p));
}
// The lanes where the code is a residue, not a gap.
VORN_LANES __mmask8 residue_lanes(__m128i codes) { return static_cast<__mmask8>(_mm_test_epi8_mask(codes, codes)); }

}  // namespace vorn
