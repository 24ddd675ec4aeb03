#include "scoring/ranking.hpp"

#include <algorithm>
#include <cstring>
#include <functional>

namespace vorn {

namespace {

constexpr int64_t kParallelFrom = 1 << 16;
constexpr int kBucketBits = 16;

// The bucket of a finite float in non-increasing order: its top bits, made
// to sort as unsigned integers and turned around.
inline uint32_t bucket(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  u = (u & 0x80000000u) ? ~u : (u | 0x80000000u);
  return ~u >> (32 - kBucketBits);
}

}  // namespace

void ordena(float* v, int64_t count) {
  if (count < 2) return;
  // Only the sorted values matter afterwards, never which entry went where,
  // so any correct sort gives the same result. In place: nothing is
  // allocated once the plan is in place.
  float* const first = v + 1;
  if (count < kParallelFrom) {
    std::sort(first, first + count, std::greater<float>());
    return;
  }
  // Large vectors: the values moved into buckets of their top bits in place
  // (American flag sort), then the buckets sorted on all threads.
  static int64_t start[(1 << kBucketBits) + 1], head[1 << kBucketBits];
  std::fill(std::begin(start), std::end(start), 0);
  for (int64_t i = 0; i < count; ++i) ++start[bucket(first[i]) + 1];
  for (int b = 0; b < (1 << kBucketBits); ++b) start[b + 1] += start[b];
  std::copy(start, start + (1 << kBucketBits), head);
  for (int b = 0; b < (1 << kBucketBits); ++b) {
    while (head[b] < start[b + 1]) {
      float x = first[head[b]];
      for (uint32_t k = bucket(x); static_cast<int>(k) != b; k = bucket(x)) std::swap(x, first[head[k]++]);
      first[head[b]++] = x;
    }
  }
#pragma omp parallel for schedule(dynamic, 256)
  for (int b = 0; b < (1 << kBucketBits); ++b)
    std::sort(first + start[b], first + start[b + 1], std::greater<float>());
}

void rankit(const float* sorted, int64_t count, float* ranks) {
  const float* begin = sorted + 1;
  const float* end = sorted + count + 1;
  if (count < kParallelFrom) {
    // ranks[i] = mean 1-based place of value i's tie group in the non-increasing order
    for (int64_t i = 1; i <= count; ++i) {
      auto [lo, hi] = std::equal_range(begin, end, ranks[i], std::greater<float>());
      const int64_t m = hi - lo;
      ranks[i] = m > 0 ? tie_rank(lo - sorted, m) : 0.0f / 0.0f;
    }
    return;
  }
  // Large vectors: each value is looked up only within the run of its bucket
  // (the buckets of the sort follow the sorted order), which stays in cache.
  static int64_t first[(1 << kBucketBits) + 1];
  std::fill(std::begin(first), std::end(first), 0);
  for (int64_t k = 0; k < count; ++k) ++first[bucket(begin[k]) + 1];
  for (int b = 0; b < (1 << kBucketBits); ++b) first[b + 1] += first[b];
  // +0 and -0 are equal but fall in the two middle buckets, next to each other.
  const uint32_t zero_lo = bucket(0.0f), zero_hi = bucket(-0.0f);
#pragma omp parallel for schedule(static)
  for (int64_t i = 1; i <= count; ++i) {
    const float v = ranks[i];
    uint32_t b0 = bucket(v), b1 = b0;
    if (v == 0.0f) b0 = std::min(zero_lo, zero_hi), b1 = std::max(zero_lo, zero_hi);
    auto [lo, hi] = std::equal_range(begin + first[b0], begin + first[b1 + 1], v, std::greater<float>());
    const int64_t m = hi - lo;
    ranks[i] = m > 0 ? tie_rank(lo - sorted, m) : 0.0f / 0.0f;
  }
}

}  // namespace vorn
