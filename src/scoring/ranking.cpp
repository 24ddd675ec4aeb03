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

// The ranking key: order_key with -0 read as +0, so that equal values are
// exactly equal keys (x + 0.0f is +0 for both zeros, x otherwise).
inline uint32_t rank_key(float f) { return order_key(f + 0.0f); }

// Sorts the values v[0..n) with their index slots x[0..n) by the key bits
// below `low` (the bits above agree already): in place, eight bits at a time
// (American flag sort), insertion sort for short runs.
void sort_pairs(float* v, float* x, int64_t n, int low) {
  if (n <= 32 || low == 0) {
    for (int64_t i = 1; i < n; ++i) {
      const float kv = v[i], kx = x[i];
      const uint32_t key = rank_key(kv);
      int64_t j = i;
      for (; j > 0 && rank_key(v[j - 1]) > key; --j) v[j] = v[j - 1], x[j] = x[j - 1];
      v[j] = kv, x[j] = kx;
    }
    return;
  }
  const int bits = std::min(low, 8), shift = low - bits;
  const uint32_t mask = (1u << bits) - 1;
  int64_t start[257] = {0}, head[256];
  for (int64_t i = 0; i < n; ++i) ++start[((rank_key(v[i]) >> shift) & mask) + 1];
  for (uint32_t d = 0; d <= mask; ++d) start[d + 1] += start[d];
  std::copy(start, start + mask + 1, head);
  for (uint32_t d = 0; d <= mask; ++d) {
    while (head[d] < start[d + 1]) {
      float kv = v[head[d]], kx = x[head[d]];
      for (uint32_t e = (rank_key(kv) >> shift) & mask; e != d; e = (rank_key(kv) >> shift) & mask) {
        std::swap(kv, v[head[e]]);
        std::swap(kx, x[head[e]++]);
      }
      v[head[d]] = kv, x[head[d]++] = kx;
    }
  }
  for (uint32_t d = 0; d <= mask; ++d) sort_pairs(v + start[d], x + start[d], start[d + 1] - start[d], shift);
}

constexpr int kTopBits = 16;
constexpr int64_t kBuckets = int64_t{1} << kTopBits;
constexpr int64_t kLow = int64_t{1} << (32 - kTopBits);
static_assert(kTopBits == 16 && kBucketBits == 16, "rank_scratch_size counts these tables");

inline bool is_done(const uint64_t* done, int64_t k) { return (done[k >> 6] >> (k & 63)) & 1; }

}  // namespace

void sort_keys(uint64_t* keys, int64_t n, int64_t* scratch) {
  if (n < kParallelFrom) {
    std::sort(keys, keys + n);
    return;
  }
  bucket_sort(keys, n, [](uint64_t k) { return static_cast<uint32_t>(k >> (64 - kBucketBits)); }, std::less<uint64_t>(),
              scratch);
}

void sort_keys(uint32_t* keys, int64_t n, int64_t* scratch) {
  if (n < kParallelFrom) {
    std::sort(keys, keys + n);
    return;
  }
  bucket_sort(keys, n, [](uint32_t k) { return k >> (32 - kBucketBits); }, std::less<uint32_t>(), scratch);
}

// Kept whole: one pass whose steps share the counting tables and whose order fixes the ranks.
void rank_values(float* values, float* scratch, uint64_t* done, int64_t count, int64_t* tables, int64_t round_cap) {
  // The values are counted by their top 16 key bits, each chunk of them on
  // its own thread; the buckets are then taken in order, in rounds of as
  // many as scratch holds with their pair indices (half its floats each):
  // each round's values are moved there, sorted by the bits below and
  // ranked, each tie group's rank written back to its pairs' own places.
  // Those are marked done, so that later rounds do not take a rank for a
  // value. A bucket larger than a round is ranked from a count of its low
  // 16 bits: each of those counts is one value's tie group.
  float* const a = values + 1;
  const int chunks = std::clamp(omp_get_max_threads(), 1, kRankChunksMax);
  auto place = reinterpret_cast<int64_t(*)[kBuckets]>(tables);
  int64_t* const start = tables + static_cast<int64_t>(chunks) * kBuckets;  // kBuckets + 1: the buckets' first places
  int64_t* const low = start + kBuckets + 1;                                // kLow: a large bucket's counts
  float* const low_rank = reinterpret_cast<float*>(low + kLow);              // kLow floats
  // Chunks of whole words of done, so that no two threads write one word.
  auto chunk_begin = [&](int c) { return c == chunks ? count : count * c / chunks / 64 * 64; };
#pragma omp parallel for schedule(static)
  for (int c = 0; c < chunks; ++c) {
    std::fill(place[c], place[c] + kBuckets, 0);
    for (int64_t k = chunk_begin(c); k < chunk_begin(c + 1); ++k) ++place[c][rank_key(a[k]) >> (32 - kTopBits)];
    for (int64_t w = chunk_begin(c) / 64; w < (chunk_begin(c + 1) + 63) / 64; ++w) done[w] = 0;
  }
  // Each chunk's first place in each bucket, counted from the bucket's start.
  int64_t at = 0;
  for (int64_t b = 0; b < kBuckets; ++b) {
    start[b] = at;
    int64_t in = 0;
    for (int c = 0; c < chunks; ++c) {
      const int64_t m = place[c][b];
      place[c][b] = in;
      in += m;
    }
    at += in;
  }
  start[kBuckets] = at;
  const int64_t cap = round_cap > 0 ? round_cap : std::max<int64_t>(count / 2, 1);
  float* const v = scratch;
  float* const x = scratch + cap;
  for (int64_t b0 = 0; b0 < kBuckets;) {
    if (start[b0 + 1] == start[b0]) {
      ++b0;
      continue;
    }
    if (start[b0 + 1] - start[b0] > cap) {
      // One bucket alone, larger than a round: each low 16 bits is one value.
      const uint32_t top = static_cast<uint32_t>(b0);
      std::fill(low, low + kLow, 0);
      for (int64_t k = 0; k < count; ++k) {
        if (is_done(done, k)) continue;
        const uint32_t key = rank_key(a[k]);
        if ((key >> (32 - kTopBits)) == top) ++low[key & (kLow - 1)];
      }
      int64_t first = start[b0];
      for (int64_t l = 0; l < kLow; ++l) {
        if (low[l] > 0) low_rank[l] = tie_rank(first + 1, low[l]);
        first += low[l];
      }
#pragma omp parallel for schedule(static)
      for (int c = 0; c < chunks; ++c) {
        for (int64_t k = chunk_begin(c); k < chunk_begin(c + 1); ++k) {
          if (is_done(done, k)) continue;
          const uint32_t key = rank_key(a[k]);
          if ((key >> (32 - kTopBits)) != top) continue;
          a[k] = low_rank[key & (kLow - 1)];
          done[k >> 6] |= uint64_t{1} << (k & 63);
        }
      }
      ++b0;
      continue;
    }
    int64_t b1 = b0 + 1;
    while (b1 < kBuckets && start[b1 + 1] - start[b0] <= cap) ++b1;
    const int64_t base = start[b0];
#pragma omp parallel for schedule(static)
    for (int c = 0; c < chunks; ++c) {
      for (int64_t k = chunk_begin(c); k < chunk_begin(c + 1); ++k) {
        if (is_done(done, k)) continue;
        const int64_t b = rank_key(a[k]) >> (32 - kTopBits);
        if (b < b0 || b >= b1) continue;
        const int64_t to = start[b] - base + place[c][b]++;
        v[to] = a[k];
        put_index(x + to, static_cast<uint32_t>(k));
        done[k >> 6] |= uint64_t{1} << (k & 63);
      }
    }
#pragma omp parallel for schedule(dynamic, 16)
    for (int64_t b = b0; b < b1; ++b) {
      float* const bv = v + (start[b] - base);
      float* const bx = x + (start[b] - base);
      const int64_t n = start[b + 1] - start[b];
      sort_pairs(bv, bx, n, 32 - kTopBits);
      for (int64_t g = 0; g < n;) {
        int64_t h = g + 1;
        while (h < n && bv[h] == bv[g]) ++h;
        const float r = tie_rank(start[b] + g + 1, h - g);
        for (int64_t t = g; t < h; ++t) a[get_index(bx + t)] = r;
        g = h;
      }
    }
    b0 = b1;
  }
}

}  // namespace vorn
