#include "shuffle/significance.hpp"

#include <algorithm>
#include <cmath>

namespace vorn {

ZStats zstats(const float* values, int64_t count) {
  double sum = 0;
  for (int64_t i = 1; i <= count; ++i) sum += static_cast<double>(values[i]);
  const double mean = sum / static_cast<double>(count);
  double ss = 0;
  for (int64_t i = 1; i <= count; ++i) {
    const double d = static_cast<double>(values[i]) - mean;
    ss += d * d;
  }
  return ZStats{mean, std::sqrt(ss / static_cast<double>(count - 1))};
}

double fzscore(const float* values, int64_t count, float x) { return zscore(zstats(values, count), x); }

double fpval(const float* values, int64_t count, float x) {
  int64_t n = 0;
  for (int64_t i = 1; i <= count; ++i) n += values[i] >= x;
  return static_cast<double>(n) / static_cast<double>(count);
}

double fpval_sorted(const float* sorted, int64_t count, float x) {
  const float* end = sorted + 1 + count;
  const int64_t n = std::partition_point(sorted + 1, end, [x](float v) { return v >= x; }) - (sorted + 1);
  return static_cast<double>(n) / static_cast<double>(count);
}

}  // namespace vorn
