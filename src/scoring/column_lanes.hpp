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
// Where each lane's table row of code a starts.
VORN_LANES __m256i lane_rows(__m128i a) {
  const __m256i table = _mm256_setr_epi32(0, kCells, 2 * kCells, 3 * kCells, 4 * kCells, 5 * kCells, 6 * kCells,
                                          7 * kCells);
  return _mm256_add_epi32(table, _mm256_mullo_epi32(_mm256_cvtepu8_epi32(a), _mm256_set1_epi32(kCodes)));
}
// Each lane's cell (a, b), from its row of a.
VORN_LANES __m256i lane_cells(__m256i rows, __m128i b) { return _mm256_add_epi32(rows, _mm256_cvtepu8_epi32(b)); }

}  // namespace vorn
