#include "scoring/ranking.hpp"

#include <algorithm>
#include <cmath>
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

float correlation(const float* x, const float* y, int64_t len, const char* gaps1) {
  double sx = 0, sy = 0;
  int64_t n = 0;
  for (int64_t j = 1; j <= len; ++j) {
    if (gaps1[j] == 'G') continue;
    sx += static_cast<double>(x[j]);
    sy += static_cast<double>(y[j]);
    ++n;
  }
  if (n == 0) return -2.0f;  // both sums of squares stay 0
  const double mx = sx / static_cast<double>(n), my = sy / static_cast<double>(n);
  double sxy = 0, sxx = 0, syy = 0;
  // Summed in index order: the printed digits depend on it.
  for (int64_t j = 1; j <= len; ++j) {
    if (gaps1[j] == 'G') continue;
    const double dx = static_cast<double>(x[j]) - mx;
    const double dy = static_cast<double>(y[j]) - my;
    sxy += dx * dy;
    sxx += dx * dx;
    syy += dy * dy;
  }
  if (sxx == 0) return -2.0f;
  if (syy == 0) return -2.0f;
  if (n <= 10) return -3.0f;
  return static_cast<float>(sxy / (std::sqrt(syy) * std::sqrt(sxx)));
}

}  // namespace vorn
