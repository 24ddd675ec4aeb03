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
  // ranks[i] = mean 1-based place of value i's tie group in the non-increasing order
#pragma omp parallel for schedule(static) if (count >= kParallelFrom)
  for (int64_t i = 1; i <= count; ++i) {
    auto [lo, hi] = std::equal_range(begin, end, ranks[i], std::greater<float>());
    int64_t m = hi - lo;
    ranks[i] = m > 0 ? tie_rank(lo - sorted, m) : 0.0f / 0.0f;
  }
}

}  // namespace vorn
