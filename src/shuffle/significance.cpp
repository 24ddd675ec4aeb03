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

std::vector<Honest> honest_p_and_q(const std::vector<double>& p_pos, int64_t nsuffl) {
  const size_t n = p_pos.size();
  std::vector<Honest> h(n, Honest{NAN, NAN});
  const double ns = static_cast<double>(nsuffl);
  for (size_t i = 0; i < n; ++i) {
    if (std::isnan(p_pos[i])) continue;
    // p_pos is b / n exactly; b is a count.
    const double b = std::round(p_pos[i] * ns);
    h[i].p1 = (b + 1.0) / (ns + 1.0);
  }
  std::vector<double> p1(n);
  for (size_t i = 0; i < n; ++i) p1[i] = h[i].p1;
  const std::vector<double> q = bh_qvalues(p1);
  for (size_t i = 0; i < n; ++i) h[i].q = q[i];
  return h;
}

std::vector<double> bh_qvalues(const std::vector<double>& p) {
  std::vector<double> q(p.size(), NAN);
  std::vector<size_t> order;
  for (size_t i = 0; i < p.size(); ++i)
    if (!std::isnan(p[i])) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return p[a] < p[b]; });
  const double m = static_cast<double>(order.size());
  double running = 1.0;
  for (size_t k = order.size(); k-- > 0;) {
    running = std::min(running, p[order[k]] * m / static_cast<double>(k + 1));
    q[order[k]] = running;
  }
  return q;
}

}  // namespace vorn
