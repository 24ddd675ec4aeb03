// Sorting and tie-averaged ranking. Vectors are 1-based: entries 1..count
// are used, entry 0 never.
#pragma once

#include <cstdint>
#include <cstring>

namespace vorn {

// The counting tables of the sorts of large vectors (from kRankValuesFrom
// entries on) live in the run's workspace, not in the functions: scratch
// holds rank_scratch_size(threads) entries there for a run on that many
// threads (smaller vectors do not touch it); kRankScratch is enough for any.
inline constexpr int kRankChunksMax = 64;
inline int64_t rank_scratch_size(int threads) {
  const int64_t chunks = threads < 1 ? 1 : threads > kRankChunksMax ? kRankChunksMax : threads;
  const int64_t rank_values = chunks * 65536 + 3 * 65537, bucket_sort = 2 * 65537;
  return rank_values > bucket_sort ? rank_values : bucket_sort;
}
inline const int64_t kRankScratch = rank_scratch_size(kRankChunksMax);

// Sorts v[1..count] into non-increasing order. Values must not be NaN.
void ordena(float* v, int64_t count, int64_t* scratch);

// On entry ranks[1..count] holds the values in their own order and
// sorted[1..count] the same values after ordena. On exit ranks[i] is the mean
// 1-based place of value i's group of equal values in the sorted order,
// computed as float(t) / float(m) with t the exact sum of the m places.
void rankit(const float* sorted, int64_t count, float* ranks, int64_t* scratch);

// The ranks of values[1..count] (no NaN), as ordena and rankit give them,
// written over the values, without a comparison sort of them all. The only
// room besides the values: scratch (count + 1 floats), done ((count + 63) / 64
// words) and the tables. count must be below 2^32. Used from kRankValuesFrom
// values on. round_cap (tests only) bounds the values sorted at once, which
// is otherwise count / 2, to make the rounds many.
inline constexpr int64_t kRankValuesFrom = int64_t{1} << 16;
void rank_values(float* values, float* scratch, uint64_t* done, int64_t count, int64_t* tables,
                 int64_t round_cap = 0);

// The bits of a finite float made to sort as unsigned integers in the
// order of the values.
inline uint32_t ascending_key(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return (u & 0x80000000u) ? ~u : (u | 0x80000000u);
}

// Sorts keys[0..n) into ascending order, on all threads for large n.
void sort_keys(uint64_t* keys, int64_t n, int64_t* scratch);
void sort_keys(uint32_t* keys, int64_t n, int64_t* scratch);

// The rank of a group of m equal values whose first place is a (1-based).
inline float tie_rank(int64_t a, int64_t m) {
  // t = a + (a+1) + ... + (a+m-1), exact in 128 bits before rounding to float.
  __int128 t = static_cast<__int128>(m) * a + static_cast<__int128>(m) * (m - 1) / 2;
  return static_cast<float>(t) / static_cast<float>(m);
}

}  // namespace vorn
