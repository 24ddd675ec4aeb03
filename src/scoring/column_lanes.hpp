// The pieces the eight-lane column passes share (AVX-512 but for the table
// rows, which every instruction set's lanes use): each lane is one
// column of a group, codes8[p * 8 + l] protein p's code in column l, and the
// columns' 21 x 21 tables lie kCells apart.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "scoring/position.hpp"

namespace vorn {

#define VORN_LANES inline __attribute__((target("avx2,avx512f,avx512bw,avx512vl"), always_inline))

// Protein p's code in each lane.
VORN_LANES __m128i lane_codes(const uint8_t* codes8, int64_t p) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(codes8 + 8 * p));
}
// The lanes where the code is a residue, not a gap.
VORN_LANES __mmask8 residue_lanes(__m128i codes) { return static_cast<__mmask8>(_mm_test_epi8_mask(codes, codes)); }


// Each lane's row for its code a8[l] of its table (tables `stride` apart; 0
// for one table shared by the lanes), side by side: a pass then loads lane
// l's entry for code b as rows[l][b], eight loads being quicker than the
// gather that stands for them on the processors at hand. Any instruction set.
template <typename T>
inline __attribute__((always_inline)) void lane_table_rows(const T* tables, int64_t stride, const uint8_t* a8,
                                                           T (*rows)[24]) {
  for (int l = 0; l < kColumnLanes; ++l) std::memcpy(rows[l], tables + l * stride + a8[l] * kCodes, sizeof(T) * kCodes);
}
// The eight lanes' entries for codes b8, from lane_table_rows.
VORN_LANES __m512d lane_entries(const double (*rows)[24], const uint8_t* b8) {
  return _mm512_setr_pd(rows[0][b8[0]], rows[1][b8[1]], rows[2][b8[2]], rows[3][b8[3]], rows[4][b8[4]], rows[5][b8[5]],
                        rows[6][b8[6]], rows[7][b8[7]]);
}

}  // namespace vorn
