#include "scoring/position.hpp"

#include <algorithm>
#include <cmath>

#include "input/residue.hpp"
#include "scoring/exact.hpp"
#include "scoring/ranking.hpp"
#include "scoring/similarity.hpp"

namespace vorn {

void prepare_similarity_side(const float* y, int32_t nprot, int64_t npairs, int64_t* rowsum, SimilaritySide& s) {
  s.y = y;
  s.nprot = nprot;
  s.npairs = npairs;
  double sy = 0;
  for (int64_t k = 1; k <= npairs; ++k) sy += static_cast<double>(y[k]);
  s.sy_all = sy;
  double syy = 0;
  if (npairs > 0) {
    const double my = sy / static_cast<double>(npairs);
    for (int64_t k = 1; k <= npairs; ++k) {
      const double dy = static_cast<double>(y[k]) - my;
      syy += dy * dy;
    }
  }
  s.syy_all = syy;

  ExactScale scale;
  for (int64_t k = 1; k <= npairs; ++k) scale.see(y[k]);
  for (int64_t k = 1; k <= npairs && scale.add(y[k], 1); ++k) {
  }
  s.exact = scale.ok();
  s.q = scale.q();
  s.rowsum = rowsum;
  s.total = 0;
  if (!s.exact) return;
  for (int32_t p = 0; p <= nprot; ++p) rowsum[p] = 0;
  int64_t k = 0;
  for (int32_t i = 1; i <= nprot; ++i) {
    for (int32_t j = i + 1; j <= nprot; ++j) {
      const int64_t v = scaled(y[++k], s.q);
      rowsum[i] += v;
      rowsum[j] += v;
      s.total += v;
    }
  }
}

namespace {

// Calls f(a, b, cell) for every ordered pair of the codes that occur in the
// column: only those cells of the 21 x 21 table are ever valid.
template <class F>
void for_cells(const ColumnPrep& c, F f) {
  for (int u = 0; u < c.npresent; ++u)
    for (int v = 0; v < c.npresent; ++v) f(c.present[u], c.present[v], c.present[u] * kCodes + c.present[v]);
}

// count[a][b]: the pairs i < j with code a at i and b at j, by adding, for
// each protein j, the proteins before it with each code.
void count_pairs(const uint8_t* codes, int32_t nprot, ColumnPrep& c) {
  int64_t seen[kCodes] = {0};
  for (int32_t j = 0; j < nprot; ++j) {
    const int b = codes[j];
    for (int u = 0; u < c.npresent; ++u) c.count[c.present[u] * kCodes + b] += seen[c.present[u]];
    ++seen[b];
  }
}

// Every pair takes a place, the gapped ones too; equal scores share the mean
// of their places.
void rank_cells(ColumnPrep& c) {
  int order[kCells];
  int used = 0;
  for_cells(c, [&](int, int, int cell) {
    if (c.count[cell] > 0) order[used++] = cell;
  });
  std::sort(order, order + used, [&](int l, int r) { return c.x[l] > c.x[r]; });
  int64_t place = 1;
  for (int g = 0; g < used;) {
    int h = g;
    int64_t m = 0;
    while (h < used && c.x[order[h]] == c.x[order[g]]) m += c.count[order[h++]];
    const float rank = tie_rank(place, m);
    for (int t = g; t < h; ++t) c.x[order[t]] = rank;
    place += m;
    g = h;
  }
}

// The sum of the usable x values from the counts, when it is exact in every
// order (exact.hpp); otherwise it is left to a pass in pair order.
void exact_sum_x(ColumnPrep& c) {
  ExactScale scale;
  for_cells(c, [&](int a, int b, int cell) {
    if (a != 0 && b != 0 && c.count[cell] > 0) scale.see(c.x[cell]);
  });
  for_cells(c, [&](int a, int b, int cell) {
    if (a != 0 && b != 0) scale.add(c.x[cell], c.count[cell]);
  });
  c.sx_exact = scale.ok();
  c.sx = 0;
  if (!c.sx_exact) return;
  int64_t sum = 0;
  for_cells(c, [&](int a, int b, int cell) {
    if (a != 0 && b != 0 && c.count[cell] > 0) sum += c.count[cell] * scaled(c.x[cell], scale.q());
  });
  c.sx = unscaled(sum, scale.q());
}

}  // namespace

void prepare_column(const uint8_t* codes, int32_t nprot, GapList gaps, const AaMat& aamat, bool spearman,
                    ColumnPrep& c) {
  c.gaps = gaps;
  int64_t total[kCodes] = {0};
  for (int32_t j = 0; j < nprot; ++j) ++total[codes[j]];
  c.npresent = 0;
  for (int a = 0; a < kCodes; ++a)
    if (total[a] > 0) c.present[c.npresent++] = a;
  for_cells(c, [&](int a, int b, int cell) {
    c.count[cell] = 0;
    c.x[cell] = aamat[a][b];
  });
  count_pairs(codes, nprot, c);
  c.gapped = total[0] > 0;
  c.n = 0;
  for_cells(c, [&](int a, int b, int cell) {
    if (a != 0 && b != 0) c.n += c.count[cell];
  });
  if (spearman) rank_cells(c);
  exact_sum_x(c);
}

double column_sum_x(const uint8_t* codes, int32_t nprot, const ColumnPrep& c) {
  double sx = 0;
  for (int32_t i = 0; i < nprot; ++i) {
    const int a = codes[i];
    if (a == 0) continue;
    const float* row = c.x.data() + a * kCodes;
    for (int32_t j = i + 1; j < nprot; ++j) {
      const int b = codes[j];
      if (b != 0) sx += static_cast<double>(row[b]);
    }
  }
  return sx;
}

double usable_sum_y(const uint8_t* codes, GapList gaps, const SimilaritySide& s, const int32_t* perm,
                    const float* ysq) {
  const int32_t n = s.nprot;
  auto who = [&](int32_t p) { return perm ? perm[p] : p; };
  // y of the pair (i, j) under the relabelling.
  auto yof = [&](int32_t i, int32_t j) -> float {
    const int32_t u = who(i), v = who(j);
    if (ysq) return ysq[static_cast<int64_t>(u - 1) * n + (v - 1)];
    return u < v ? s.y[pair_index(u, v, n)] : s.y[pair_index(v, u, n)];
  };
  if (s.exact) {
    // Total minus the pairs that touch a gapped protein (those between two
    // gapped proteins were taken away twice).
    int64_t sum = s.total;
    for (int32_t g = 0; g < gaps.n; ++g) {
      sum -= s.rowsum[who(gaps.p[g])];
      for (int32_t h = g + 1; h < gaps.n; ++h) sum += scaled(yof(gaps.p[g], gaps.p[h]), s.q);
    }
    return unscaled(sum, s.q);
  }
  double sy = 0;
  for (int32_t i = 1; i <= n; ++i) {
    if (codes[i - 1] == 0) continue;
    for (int32_t j = i + 1; j <= n; ++j)
      if (codes[j - 1] != 0) sy += static_cast<double>(yof(i, j));
  }
  return sy;
}

namespace {

// One pass over the pairs in pair order:
//   sxy += dx * dy, sxx += dx * dx and (gapped columns) syy += dy * dy
// over the usable pairs, with dx = x - mx from the table d (0 for gapped
// pairs, whose terms then add exactly nothing) and dy = y - my.
template <bool Gapped>
void deviation_pass(const uint8_t* codes, int32_t nprot, const double* d, const float* y, double my, double& sxy,
                    double& sxx, double& syy) {
  double axy = 0, axx = 0, ayy = 0;
  const float* yrow = y + 1;  // the pairs of protein i start here
  for (int32_t i = 0; i < nprot - 1; ++i) {
    const int a = codes[i];
    const int32_t len = nprot - 1 - i;
    if (a != 0) {
      const double* drow = d + a * kCodes;
      const double* urow = kUsablePair.data() + a * kCodes;
      const uint8_t* cj = codes + i + 1;
      for (int32_t t = 0; t < len; ++t) {
        const int b = cj[t];
        const double dx = drow[b];
        const double dy = static_cast<double>(yrow[t]) - my;
        axy += dx * dy;
        axx += dx * dx;
        if constexpr (Gapped) ayy += urow[b] * (dy * dy);
      }
    }
    yrow += len;
  }
  sxy = axy;
  sxx = axx;
  syy = ayy;
}

}  // namespace

float score_from_sums(const CorrelationSums& t) {
  if (t.sxx == 0) return -2.0f;
  if (t.syy == 0) return -2.0f;
  if (t.n <= 10) return -3.0f;
  return static_cast<float>(t.sxy / (std::sqrt(t.syy) * std::sqrt(t.sxx)));
}

float score_column(const uint8_t* codes, const ColumnPrep& c, const SimilaritySide& s, ColumnStat* stat,
                   CorrelationSums* sums) {
  const int32_t nprot = s.nprot;
  CorrelationSums t;
  t.n = c.n;
  if (stat) {
    stat->mx = stat->sxx = 0;
    stat->n = c.n;
    std::fill(std::begin(stat->d), std::end(stat->d), 0.0);
  }
  if (c.n == 0) {  // no usable pair: both sums of squares stay 0
    if (sums) *sums = t;
    return -2.0f;
  }
  t.sx = c.sx_exact ? c.sx : column_sum_x(codes, nprot, c);
  t.sy = c.gapped ? usable_sum_y(codes, c.gaps, s, nullptr, nullptr) : s.sy_all;
  const double n = static_cast<double>(c.n);
  const double mx = t.sx / n, my = t.sy / n;

  // Only the cells of codes that occur are read by the pass.
  double local_d[kCells];
  double* d = stat ? stat->d : local_d;
  for_cells(c, [&](int a, int b, int cell) { d[cell] = (a != 0 && b != 0) ? static_cast<double>(c.x[cell]) - mx : 0.0; });
  if (c.gapped) {
    deviation_pass<true>(codes, nprot, d, s.y, my, t.sxy, t.sxx, t.syy);
  } else {
    deviation_pass<false>(codes, nprot, d, s.y, my, t.sxy, t.sxx, t.syy);
    t.syy = s.syy_all;
  }
  if (stat) {
    stat->mx = mx;
    stat->sxx = t.sxx;
  }
  if (sums) *sums = t;
  return score_from_sums(t);
}

void column_pass(const Columns& cols, const std::function<float(int32_t)>& score,
                 const std::function<void(int32_t, float)>& emit, Log& log) {
  const int32_t alnlen = cols.alnlen;
  // Columns are scored in parallel; their progress texts and results go out
  // in column order.
#pragma omp parallel for ordered schedule(dynamic, 1)
  for (int32_t pos = 1; pos <= alnlen; ++pos) {
    const bool keep = cols.scored(pos);
    const float value = keep ? score(pos) : 0.0f;
#pragma omp ordered
    if (keep) {
      log.progress("> Raw scores. pos: %d/%d                               \r", pos, alnlen);
      emit(pos, value);
    }
  }
}

void scoring_pass(const Columns& cols, const AaMat& aamat, bool spearman, const SimilaritySide& side,
                  ColumnStat* colstat, const std::function<void(int32_t, float)>& emit, Log& log) {
  column_pass(
      cols,
      [&](int32_t pos) {
        ColumnPrep prep;
        const uint8_t* codes = cols.column(pos);
        prepare_column(codes, cols.nprot, cols.gaps(pos), aamat, spearman, prep);
        return score_column(codes, prep, side, colstat ? &colstat[pos] : nullptr);
      },
      emit, log);
}

}  // namespace vorn
