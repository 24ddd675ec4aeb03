#include "scoring/grades.hpp"

#include <algorithm>
#include <cmath>

#include "input/residue.hpp"

namespace vorn {

std::vector<Grade> grades(const ResultRow* rows, int32_t n, const float* gapperc, int32_t nprot) {
  std::vector<Grade> g(static_cast<size_t>(n));
  double sum = 0, ss = 0;
  int64_t m = 0;
  for (int32_t i = 0; i < n; ++i)
    if (!rows[i].sentinel()) sum += rows[i].f.score, ++m;
  const double mean = m ? sum / static_cast<double>(m) : 0;
  for (int32_t i = 0; i < n; ++i)
    if (!rows[i].sentinel()) ss += (rows[i].f.score - mean) * (rows[i].f.score - mean);
  const double sd = m > 1 ? std::sqrt(ss / static_cast<double>(m - 1)) : 0;
  for (int32_t i = 0; i < n; ++i) {
    const LineFields& f = rows[i].f;
    const float gaps = gapperc[f.pos];
    const int64_t present = nprot - std::llround(static_cast<double>(gaps) * nprot / 100.0);
    g[i].insufficient = f.score == -3.0f || (!rows[i].sentinel() && (present * (present - 1) / 2 < kInsufficientPairs ||
                                                                     gaps >= kInsufficientGaps));
    if (rows[i].sentinel()) continue;
    const double z = sd > 0 ? (f.score - mean) / sd : 0;
    g[i].grade = std::clamp(static_cast<int>(std::floor((z + 2.25) / 0.5)) + 1, 1, 9);
  }
  return g;
}

char shown_letter(uint8_t code) { return code == 0 ? '-' : aa_indexback(code); }

std::string residue_counts(const uint8_t* codes, int32_t nprot) {
  int64_t count[kCodes] = {0};
  for (int32_t p = 0; p < nprot; ++p) ++count[codes[p]];
  std::vector<int> order;
  for (int c = 0; c < kCodes; ++c)
    if (count[c] > 0) order.push_back(c);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return count[a] > count[b]; });
  std::string s;
  for (const int c : order) {
    if (!s.empty()) s += ' ';
    s += shown_letter(static_cast<uint8_t>(c));
    s += ':';
    s += std::to_string(count[c]);
  }
  return s;
}

std::vector<int32_t> display_order(const float* const* identities, int32_t nprot, int32_t first, int32_t max_rows) {
  std::vector<int32_t> pool;
  const int64_t shown = std::min<int64_t>(nprot, max_rows);
  for (int64_t k = 0; k < shown; ++k) pool.push_back(static_cast<int32_t>(1 + k * nprot / shown));
  if (std::find(pool.begin(), pool.end(), first) == pool.end()) pool[0] = first;
  auto sim = [&](int32_t i, int32_t j) { return i < j ? identities[i][j] : identities[j][i]; };
  std::vector<int32_t> order{first};
  pool.erase(std::find(pool.begin(), pool.end(), first));
  while (!pool.empty()) {
    size_t best = 0;  // ties: the earlier protein, so the order is the same on every machine
    for (size_t k = 1; k < pool.size(); ++k)
      if (sim(order.back(), pool[k]) > sim(order.back(), pool[best])) best = k;
    order.push_back(pool[best]);
    pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(best));
  }
  return order;
}

}  // namespace vorn
