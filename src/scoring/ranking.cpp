#include "scoring/ranking.hpp"

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace vorn {

namespace {

constexpr int64_t kParallelFrom = 1 << 16;
constexpr int kBucketBits = 16;

// The sort key of a float: ascending keys give non-increasing values.
inline uint32_t order_key(float f) { return ~ascending_key(f); }

// Sorts v[0..n) by the bucket b(x) < 2^16 of each value (American flag sort,
// in place: nothing is allocated once the plan is in place), then the
// buckets by less on all threads.
template <class T, class Bucket, class Less>
void bucket_sort(T* v, int64_t n, Bucket b, Less less, int64_t* scratch) {
  int64_t* const start = scratch;  // (1 << kBucketBits) + 1 entries
  int64_t* const head = scratch + (1 << kBucketBits) + 1;
  std::fill(start, start + (1 << kBucketBits) + 1, 0);
  for (int64_t i = 0; i < n; ++i) ++start[b(v[i]) + 1];
  for (int d = 0; d < (1 << kBucketBits); ++d) start[d + 1] += start[d];
  std::copy(start, start + (1 << kBucketBits), head);
  for (int d = 0; d < (1 << kBucketBits); ++d) {
    while (head[d] < start[d + 1]) {
      T x = v[head[d]];
      for (uint32_t k = b(x); static_cast<int>(k) != d; k = b(x)) std::swap(x, v[head[k]++]);
      v[head[d]++] = x;
    }
  }
#pragma omp parallel for schedule(dynamic, 256)
  for (int d = 0; d < (1 << kBucketBits); ++d) std::sort(v + start[d], v + start[d + 1], less);
}

inline uint32_t bucket(float f) { return order_key(f) >> (32 - kBucketBits); }

}  // namespace

void ordena(float* v, int64_t count, int64_t* scratch) {
  if (count < 2) return;
  // Only the sorted values matter afterwards, never which entry went where,
  // so any correct sort gives the same result. In place: nothing is
  // allocated once the plan is in place.
  float* const first = v + 1;
  if (count < kParallelFrom) {
    std::sort(first, first + count, std::greater<float>());
    return;
  }
  // Large vectors: the values moved into buckets of their top bits, then the
  // buckets sorted on all threads.
  bucket_sort(first, count, bucket, std::greater<float>(), scratch);
}

void rankit(const float* sorted, int64_t count, float* ranks, int64_t* scratch) {
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
  int64_t* const first = scratch;  // (1 << kBucketBits) + 1 entries
  std::fill(first, first + (1 << kBucketBits) + 1, 0);
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

namespace {

// Pair indices travel with their values in float slots, copied bit for bit.
inline void put_index(float* slot, uint32_t k) { std::memcpy(slot, &k, sizeof k); }
inline uint32_t get_index(const float* slot) {
  uint32_t k;
  std::memcpy(&k, slot, sizeof k);
  return k;
}

// Sorts the values v[0..n) with their index slots x[0..n) by the key bits
// below `low` (the bits above agree already): in place, eight bits at a time
// (American flag sort), insertion sort for short runs.
void sort_pairs(float* v, float* x, int64_t n, int low) {
  if (n <= 32 || low == 0) {
    for (int64_t i = 1; i < n; ++i) {
      const float kv = v[i], kx = x[i];
      const uint32_t key = order_key(kv);
      int64_t j = i;
      for (; j > 0 && order_key(v[j - 1]) > key; --j) v[j] = v[j - 1], x[j] = x[j - 1];
      v[j] = kv, x[j] = kx;
    }
    return;
  }
  const int bits = std::min(low, 8), shift = low - bits;
  const uint32_t mask = (1u << bits) - 1;
  int64_t start[257] = {0}, head[256];
  for (int64_t i = 0; i < n; ++i) ++start[((order_key(v[i]) >> shift) & mask) + 1];
  for (uint32_t d = 0; d <= mask; ++d) start[d + 1] += start[d];
  std::copy(start, start + mask + 1, head);
  for (uint32_t d = 0; d <= mask; ++d) {
    while (head[d] < start[d + 1]) {
      float kv = v[head[d]], kx = x[head[d]];
      for (uint32_t e = (order_key(kv) >> shift) & mask; e != d; e = (order_key(kv) >> shift) & mask) {
        std::swap(kv, v[head[e]]);
        std::swap(kx, x[head[e]++]);
      }
      v[head[d]] = kv, x[head[d]++] = kx;
    }
  }
  for (uint32_t d = 0; d <= mask; ++d) sort_pairs(v + start[d], x + start[d], start[d + 1] - start[d], shift);
}

constexpr int kTopBits = 12;
constexpr int kMaxChunks = 256;
static_assert(kMaxChunks == 256 && kTopBits == 12 && kBucketBits == 16, "rank_scratch_size counts these tables");

}  // namespace

void sort_keys(uint64_t* keys, int64_t n, int64_t* scratch) {
  if (n < kParallelFrom) {
    std::sort(keys, keys + n);
    return;
  }
  bucket_sort(keys, n, [](uint64_t k) { return static_cast<uint32_t>(k >> (64 - kBucketBits)); }, std::less<uint64_t>(),
              scratch);
}

void rank_values(float* values, float* sorted, float* index, int64_t count, int64_t* scratch) {
  // Each thread's chunk of the values is counted by its top key bits, then
  // written with its pair index to its place among those buckets (the
  // counting sort's scatter); each bucket is then sorted by the bits below,
  // all on the threads. Equal values end side by side in some order, which
  // the ranks do not depend on.
  float* const a = values + 1;
  float* const v = sorted + 1;
  float* const x = index + 1;
  constexpr int64_t kBuckets = int64_t{1} << kTopBits;
  // rank_scratch_size(chunks) entries: a row of counts per chunk, then the buckets' starts.
  const int chunks = std::clamp(omp_get_max_threads(), 1, kMaxChunks);
  auto place = reinterpret_cast<int64_t(*)[kBuckets]>(scratch);
  int64_t* const bucket_start = scratch + static_cast<int64_t>(chunks) * kBuckets;  // kBuckets + 1 entries
  auto chunk_begin = [&](int c) { return count * c / chunks; };
#pragma omp parallel for schedule(static)
  for (int c = 0; c < chunks; ++c) {
    std::fill(place[c], place[c] + kBuckets, 0);
    for (int64_t k = chunk_begin(c); k < chunk_begin(c + 1); ++k) ++place[c][order_key(a[k]) >> (32 - kTopBits)];
  }
  int64_t at = 0;
  for (int64_t b = 0; b < kBuckets; ++b) {
    bucket_start[b] = at;
    for (int c = 0; c < chunks; ++c) {
      const int64_t m = place[c][b];
      place[c][b] = at;
      at += m;
    }
  }
  bucket_start[kBuckets] = at;
#pragma omp parallel for schedule(static)
  for (int c = 0; c < chunks; ++c) {
    for (int64_t k = chunk_begin(c); k < chunk_begin(c + 1); ++k) {
      const int64_t to = place[c][order_key(a[k]) >> (32 - kTopBits)]++;
      v[to] = a[k];
      put_index(x + to, static_cast<uint32_t>(k + 1));
    }
  }
#pragma omp parallel for schedule(dynamic, 16)
  for (int64_t b = 0; b < kBuckets; ++b)
    sort_pairs(v + bucket_start[b], x + bucket_start[b], bucket_start[b + 1] - bucket_start[b], 32 - kTopBits);
  // Each group of equal values (+0 and -0 too, whose keys are neighbours)
  // takes its rank, written back to the pairs' own places.
  for (int64_t g = 0; g < count;) {
    int64_t h = g + 1;
    while (h < count && v[h] == v[g]) ++h;
    const float r = tie_rank(g + 1, h - g);
    for (int64_t t = g; t < h; ++t) v[t] = r;
    g = h;
  }
#pragma omp parallel for schedule(static)
  for (int64_t t = 0; t < count; ++t) values[get_index(x + t)] = v[t];
}

}  // namespace vorn
