#include "tree/tree_null.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>

#include "shuffle/significance.hpp"
#include "tree/stream.hpp"

namespace vorn {

void score_library_columns(const TreeLibrary& lib, int64_t count, int32_t n, LibraryArrays at, const AaMat& aamat,
                           bool spearman, const SimilaritySide& side, const WeightedSide* wside, Log& log) {
  const int32_t len = static_cast<int32_t>(count);
  for (int64_t c = 0; c <= count + 1; ++c) lib.score[c] = -3.0f;
  gap_percentages(lib.codes, n, len, at.gapperc);
  gap_lists(lib.codes, at.gapperc, n, len, at.gaplist, at.gapstart);
  const Columns lc{lib.codes, at.gapperc, at.gaplist, at.gapstart, n, len};
  auto emit = [&](int32_t c, float v) { lib.score[c] = v; };
  if (wside) {
    weighted_scoring_pass(lc, aamat, spearman, *wside, nullptr, at.groups, emit, log);
  } else {
    scoring_pass(lc, aamat, spearman, side, nullptr, at.groups, emit, log);
  }
}

void evolve_column(const TreeView& tree, const AaModel& m, double branch_scale, uint64_t seed, int32_t column,
                   int64_t k, GapList gaps, uint32_t* state, uint8_t* col) {
  const int32_t n = tree.n;
  const int64_t nodes = 2 * static_cast<int64_t>(n) - 1;
  Stream s{(seed << 32) ^ (static_cast<uint64_t>(column) * 0xD1B54A32D192ED03ull) ^
           (static_cast<uint64_t>(k) * 0x8CB92BA72F3D8DD7ull) ^ 0x7472656563ull};
  // The root from the stationary frequencies; each branch by the
  // uniformised chain: events at rate mu, each a step of the jump matrix.
  double u = s.uniform(), cum = 0;
  uint32_t root = kStates - 1;
  for (int i = 0; i < kStates; ++i)
    if ((cum += m.pi[i]) > u) {
      root = static_cast<uint32_t>(i);
      break;
    }
  state[nodes - 1] = root;
  for (int64_t v = nodes - 1; v >= n; --v) {
    for (const int32_t c : {tree.left[v], tree.right[v]}) {
      uint32_t x = state[v];
      double left = m.mu * branch_scale * std::max(0.0, tree.length[c]);
      while ((left -= s.exponential()) > 0) {
        const double* row = m.jump_cum.data() + x * kStates;
        const double w = s.uniform();
        uint32_t j = 0;
        while (j + 1 < kStates && row[j] <= w) ++j;
        x = j;
      }
      state[c] = x;
    }
  }
  for (int32_t p = 0; p < n; ++p) col[p] = static_cast<uint8_t>(state[p] + 1);
  for (int32_t i = 0; i < gaps.n; ++i) col[gaps.p[i] - 1] = 0;
}

namespace {

// A real column's comparison with its library so far: the library scores at
// least as high (b), and their mean and spread by Welford's steps, in the
// library's order.
struct Tally {
  int32_t pos = 0;
  float x = 0;
  ColumnRate rate;
  int64_t drawn = 0, target = 0;  // library members drawn, and to draw by the round's end
  int64_t m = 0, b = 0;           // those that scored, and those at least as high as x
  bool growing = false;           // it beat nearly all of its first library: more until it has lost to enough
  double mean = 0, m2 = 0;
  void see(float v) {
    ++m;
    b += v >= x;
    const double d = static_cast<double>(v) - mean;
    mean += d / static_cast<double>(m);
    m2 += d * (static_cast<double>(v) - mean);
  }
};

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

// One round: every column's library members from m up to its target,
// evolved a room-full at a time, scored, and seen in order.
void library_round(const Columns& cols, const TreeView& tree, const AaModel& model, double scale,
                   const std::vector<double>& rates, uint64_t seed,
                   std::vector<Tally>& tally, TreeLibrary lib, const std::function<void(int64_t)>& score_library,
                   int64_t& scored, Log& log) {
  const int32_t n = tree.n;
  const int64_t nodes = 2 * static_cast<int64_t>(n) - 1;
  // (column, first member, count) pieces of the round, a room-full at a time.
  struct Piece {
    size_t t;
    int64_t k0, count;
  };
  std::vector<Piece> pieces;
  int64_t filled = 0;
  auto flush = [&] {
    if (filled == 0) return;
    std::vector<int64_t> at(pieces.size() + 1, 0);
    for (size_t i = 0; i < pieces.size(); ++i) at[i + 1] = at[i] + pieces[i].count;
#pragma omp parallel for schedule(dynamic, 1)
    for (size_t i = 0; i < pieces.size(); ++i) {
      uint32_t* state = lib.sets + static_cast<int64_t>(omp_get_thread_num()) * nodes;
      const Tally& t = tally[pieces[i].t];
      for (int64_t k = 0; k < pieces[i].count; ++k) {
        // Each member's rate drawn from the column's posterior over the categories.
        Stream pick{(seed << 32) ^ (static_cast<uint64_t>(t.pos) << 40) ^ static_cast<uint64_t>(pieces[i].k0 + k) ^
                    0x72617465ull};
        double u = pick.uniform();
        int cat = 0;
        while (cat + 1 < kRateCategories && (u -= t.rate.posterior[cat]) > 0) ++cat;
        evolve_column(tree, model, rates[cat] * scale, seed, t.pos, pieces[i].k0 + k, cols.gaps(t.pos), state,
                      lib.codes + (at[i] + k) * n);
      }
    }
    log.checkpoint();
    score_library(filled);
    log.checkpoint();
    for (size_t i = 0; i < pieces.size(); ++i)
      for (int64_t k = 0; k < pieces[i].count; ++k) {
        const float v = lib.score[at[i] + k + 1];
        if (v >= -1.0f) tally[pieces[i].t].see(v);
      }
    scored += filled;
    pieces.clear();
    filled = 0;
  };
  for (size_t i = 0; i < tally.size(); ++i) {
    // Members beyond the target's count: the library members are numbered
    // whether or not they score, so each run draws the same ones.
    for (int64_t k = tally[i].drawn; k < tally[i].target;) {
      const int64_t take = std::min(tally[i].target - k, lib.ncols - filled);
      pieces.push_back(Piece{i, k, take});
      filled += take;
      k += take;
      if (filled == lib.ncols) flush();
    }
  }
  flush();
  for (Tally& t : tally) t.drawn = std::max(t.drawn, t.target);
}

}  // namespace

void tree_null(const Columns& cols, const TreeView& tree, const AaModel& model, uint32_t seed, const RealColumns& real,
               int64_t budget, TreeLibrary lib, const std::function<void(int64_t)>& score_library,
               std::vector<TreeNullValue>& out, TreeFitReport& report, Log& log) {
  out.assign(static_cast<size_t>(real.n), TreeNullValue{});
  std::vector<int32_t> positions;
  std::vector<size_t> row_of;
  for (int64_t i = 0; i < real.n; ++i)
    if (real.score[i] >= -1.0f) positions.push_back(real.pos[i]), row_of.push_back(static_cast<size_t>(i));
  report.model = model_name(model.kind);
  if (positions.empty() || tree.n < 2) return;
  log.progress("\rTree null: fitting the rates...");
  const RateFit fit = fit_rates(cols, positions.data(), static_cast<int32_t>(positions.size()), tree, model, log);
  std::vector<double> category_rates;
  const std::vector<ColumnRate> rates =
      column_rates(cols, positions.data(), static_cast<int32_t>(positions.size()), tree, model, fit, category_rates);
  report.alpha = fit.alpha;
  for (int32_t v = 0; v < 2 * tree.n - 2; ++v) report.length += fit.scale * std::max(0.0, tree.length[v]);
  std::vector<Tally> tally(positions.size());
  const int64_t first = std::max<int64_t>(kTreeFirstLibrary, budget / static_cast<int64_t>(positions.size()));
  for (size_t i = 0; i < tally.size(); ++i) {
    tally[i].pos = positions[i];
    tally[i].x = real.score[row_of[i]];
    tally[i].rate = rates[i];
    tally[i].target = first;
  }
  // A library member's number, not its order in a round, picks its stream,
  // so that the values do not depend on the room or the threads.
  const uint64_t base = static_cast<uint64_t>(seed);
  for (bool more = true; more;) {
    ++report.rounds;
    log.progress("\rTree null: round %d of the library...", report.rounds);
    library_round(cols, tree, model, fit.scale, category_rates, base, tally, lib, score_library, report.library, log);
    // Where the null does not fit, its P-values mean nothing: no growth.
    std::vector<double> z;
    for (const Tally& t : tally)
      if (t.m > 1) z.push_back((static_cast<double>(t.x) - t.mean) / std::sqrt(t.m2 / static_cast<double>(t.m - 1)));
    more = false;
    if (std::fabs(median(z)) > kTreeMisfit) break;
    for (Tally& t : tally) {
      t.growing = t.growing || t.b <= kTreeNearlyAll;
      if (!t.growing || t.b >= kTreeLosses || t.drawn >= kTreeMostLibrary) continue;
      // Enough to expect kTreeLosses losses at the P-value so far (half again
      // for safety), at least twice and at most kTreeGrowth times as many.
      const double want = 1.5 * kTreeLosses * static_cast<double>(t.m + 1) / static_cast<double>(t.b + 1);
      const int64_t grow = std::clamp(static_cast<int64_t>(std::ceil(want)), 2 * t.drawn, kTreeGrowth * t.drawn);
      t.target = std::min(kTreeMostLibrary, grow);
      more = true;
    }
  }
  std::vector<double> p(static_cast<size_t>(real.n), NAN), z;
  for (size_t i = 0; i < tally.size(); ++i) {
    const Tally& t = tally[i];
    if (t.m == 0) continue;
    TreeNullValue& o = out[row_of[i]];
    o.has = true;
    o.m = t.m;
    o.z = t.m > 1 ? (static_cast<double>(t.x) - t.mean) / std::sqrt(t.m2 / static_cast<double>(t.m - 1)) : NAN;
    o.p = static_cast<double>(t.b + 1) / static_cast<double>(t.m + 1);
    p[row_of[i]] = o.p;
    if (std::isfinite(o.z)) z.push_back(o.z);
  }
  const std::vector<double> q = bh_qvalues(p);
  for (int64_t i = 0; i < real.n; ++i) out[static_cast<size_t>(i)].q = q[static_cast<size_t>(i)];
  report.median_z = median(z);
}

}  // namespace vorn
