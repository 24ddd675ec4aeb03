#include "shuffle/final_report.hpp"

#include <algorithm>
#include <cmath>
#include <functional>

#include "shuffle/significance.hpp"

namespace vorn {

void final_report(const Columns& cols, const LineSource& lines, const float* icorr, const float* const* rndcorr,
                  int64_t nsuffl, const float* pool, int64_t count, float* sorted,
                  const std::function<void(const ResultRow&)>& emit) {
  std::copy(pool + 1, pool + 1 + count, sorted + 1);
  std::sort(sorted + 1, sorted + 1 + count, std::greater<float>());
  const ZStats global = count > 0 ? zstats(pool, count) : ZStats{0, 0};
  for (int32_t pos = 1; pos <= cols.alnlen; ++pos) {
    if (!cols.scored(pos)) continue;
    const float x = icorr[pos];
    ResultRow row{lines.fields(pos, x)};
    if (row.sentinel()) {
      row.p_pos = row.p_glob = 2.0;
    } else {
      row.z_pos = fzscore(rndcorr[pos], nsuffl, x);
      row.p_pos = fpval(rndcorr[pos], nsuffl, x);
      row.z_glob = zscore(global, x);
      row.p_glob = fpval_sorted(sorted, count, x);
    }
    emit(row);
  }
}

std::vector<Honest> honest_significance(const ResultRow* rows, int32_t n, int64_t nsuffl) {
  std::vector<double> p_pos(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) p_pos[i] = rows[i].sentinel() ? NAN : rows[i].p_pos;
  return honest_p_and_q(p_pos, nsuffl);
}

}  // namespace vorn
