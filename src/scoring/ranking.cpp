#include "scoring/ranking.hpp"

#include <algorithm>
#include <functional>

namespace vorn {

namespace {
constexpr int64_t kParallelFrom = 1 << 16;
}

void ordena(float* v, int64_t count) {
  if (count < 2) return;
  // Only the sorted values matter afterwards, never which entry went where,
  // so any correct sort gives the same result. In place: nothing is
  // allocated once the plan is in place.
  std::sort(v + 1, v + count + 1, std::greater<float>());
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
