#include "scoring/position.hpp"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "input/residue.hpp"
#include "isa.hpp"
#include "scoring/column_lanes.hpp"
#include "scoring/exact.hpp"
#include "scoring/ranking.hpp"
#include "scoring/similarity.hpp"

// GCC 12 takes the intrinsics' deliberately undefined upper lanes for uninitialised values.
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

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

double usable_sum_y(const uint8_t* codes, GapList gaps, const SimilaritySide& s) {
  const int32_t n = s.nprot;
  auto yof = [&](int32_t i, int32_t j) { return s.y[pair_index(i, j, n)]; };  // i < j
  if (s.exact) {
    // Total minus the pairs that touch a gapped protein (those between two
    // gapped proteins were taken away twice).
    int64_t sum = s.total;
    usable_from_totals(
        gaps, [&](int32_t p) { sum -= s.rowsum[p]; }, [&](int32_t p, int32_t q) { sum += scaled(yof(p, q), s.q); });
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
  for (PairRows r(nprot); r; ++r) {
    const int32_t i = r.i, len = r.len();
    const float* yrow = y + 1 + r.start;
    const int a = codes[i];
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

namespace {

// The column's sums that do not need the pass, its mean x and its deviation
// table d (x - mx by code pair, 0 for gapped pairs and absent codes); my
// receives the mean y. False when the column has no usable pair.
bool column_sides(const uint8_t* codes, const ColumnPrep& c, const SimilaritySide& s, CorrelationSums& t, double& mx,
                  double& my, double* d, const double* sx_pass = nullptr, const double* sy_pass = nullptr) {
  t = CorrelationSums{};
  t.n = c.n;
  mx = my = 0;
  std::fill(d, d + kCells, 0.0);
  if (c.n == 0) return false;
  t.sx = c.sx_exact ? c.sx : sx_pass ? *sx_pass : column_sum_x(codes, s.nprot, c);
  t.sy = !c.gapped ? s.sy_all : s.exact || !sy_pass ? usable_sum_y(codes, c.gaps, s) : *sy_pass;
  const double n = static_cast<double>(c.n);
  mx = t.sx / n;
  my = t.sy / n;
  for_cells(c, [&](int a, int b, int cell) { d[cell] = (a != 0 && b != 0) ? static_cast<double>(c.x[cell]) - mx : 0.0; });
  return true;
}

// The score once the pass has added sxy, sxx and (gapped columns) syy.
float finish_column(const ColumnPrep& c, const SimilaritySide& s, CorrelationSums& t, double mx, const double* d,
                    ColumnStat* stat, CorrelationSums* sums) {
  if (c.n > 0 && !c.gapped) t.syy = s.syy_all;
  if (stat) {
    stat->mx = mx;
    stat->sxx = t.sxx;
    stat->n = c.n;
    std::copy(d, d + kCells, stat->d);
  }
  if (sums) *sums = t;
  return c.n == 0 ? -2.0f : score_from_sums(t);
}

}  // namespace

float score_column(const uint8_t* codes, const ColumnPrep& c, const SimilaritySide& s, ColumnStat* stat,
                   CorrelationSums* sums) {
  CorrelationSums t;
  double mx, my, d[kCells];
  if (column_sides(codes, c, s, t, mx, my, d)) {
    if (c.gapped)
      deviation_pass<true>(codes, s.nprot, d, s.y, my, t.sxy, t.sxx, t.syy);
    else
      deviation_pass<false>(codes, s.nprot, d, s.y, my, t.sxy, t.sxx, t.syy);
  }
  return finish_column(c, s, t, mx, d, stat, sums);
}

namespace {

// The deviation pass of up to eight columns at once, lane l for column l:
// the same pair-order sums as deviation_pass for each, so each lane's chain
// is its column's own, but eight chains advance per step, and the pass is
// bound by throughput instead of the latency of one chain. codes8[p * 8 + l]
// is protein p's code in column l (0 in unused lanes), d[l * kCells + cell]
// column l's deviation table, my[l] its mean y.
template <bool Gapped>
__attribute__((target("avx2,avx512f,avx512bw,avx512vl"))) void deviation_lanes_avx512(const uint8_t* codes8, int32_t nprot,
                                                                           const double* d, const float* y,
                                                                           const double* my, double* sxy, double* sxx,
                                                                           double* syy) {
  const __m512d vmy = _mm512_loadu_pd(my);
  __m512d axy = _mm512_setzero_pd(), axx = _mm512_setzero_pd(), ayy = _mm512_setzero_pd();
  alignas(64) double rd[kColumnLanes][24];
  for (PairRows r(nprot); r; ++r) {
    const int32_t i = r.i, len = r.len();
    const float* yrow = y + 1 + r.start;  // the pairs of protein i
    const __m128i a8 = lane_codes(codes8, i);
    const __mmask8 a_usable = residue_lanes(a8);
    if (a_usable == 0) {  // a gap in every lane: the row adds nothing
      continue;
    }
    lane_table_rows(d, kCells, codes8 + 8 * static_cast<int64_t>(i), rd);
    const uint8_t* cj = codes8 + 8 * (static_cast<int64_t>(i) + 1);
    for (int32_t t = 0; t < len; ++t, cj += 8) {
      const __m512d dx = lane_entries(rd, cj);
      const __m512d dy = _mm512_sub_pd(_mm512_set1_pd(static_cast<double>(yrow[t])), vmy);
      axy = _mm512_add_pd(axy, _mm512_mul_pd(dx, dy));
      axx = _mm512_add_pd(axx, _mm512_mul_pd(dx, dx));
      if constexpr (Gapped) {
        const __mmask8 usable = a_usable & residue_lanes(lane_codes(cj, 0));
        ayy = _mm512_mask_add_pd(ayy, usable, ayy, _mm512_mul_pd(dy, dy));
      }
    }
  }
  _mm512_storeu_pd(sxy, axy);
  _mm512_storeu_pd(sxx, axx);
  _mm512_storeu_pd(syy, ayy);
}

// The sums of x and y over each lane's usable pairs, in pair order, for the
// columns whose sums are not exact from the counts: column_sum_x and
// usable_sum_y for eight columns in one pass (x only when WithX; x from the
// float tables xf[l * kCells + cell]).
template <bool WithX>
__attribute__((target("avx2,avx512f,avx512bw,avx512vl"))) void usable_sums_lanes_avx512(const uint8_t* codes8, int32_t nprot,
                                                                                 const float* xf, const float* y,
                                                                                 double* sx, double* sy) {
  __m512d ax = _mm512_setzero_pd(), ay = _mm512_setzero_pd();
  for (PairRows r(nprot); r; ++r) {
    const int32_t i = r.i, len = r.len();
    const float* yrow = y + 1 + r.start;  // the pairs of protein i
    const __m128i a8 = lane_codes(codes8, i);
    const __mmask8 a_usable = residue_lanes(a8);
    if (a_usable == 0) {
      continue;
    }
    // A gapped lane's entry is loaded and not added.
    alignas(64) float rx[kColumnLanes][24];
    if constexpr (WithX) lane_table_rows(xf, kCells, codes8 + 8 * static_cast<int64_t>(i), rx);
    const uint8_t* cj = codes8 + 8 * (static_cast<int64_t>(i) + 1);
    for (int32_t t = 0; t < len; ++t, cj += 8) {
      const __mmask8 usable = a_usable & residue_lanes(lane_codes(cj, 0));
      ay = _mm512_mask_add_pd(ay, usable, ay, _mm512_set1_pd(static_cast<double>(yrow[t])));
      if constexpr (WithX) {
        const __m256 x = _mm256_setr_ps(rx[0][cj[0]], rx[1][cj[1]], rx[2][cj[2]], rx[3][cj[3]], rx[4][cj[4]],
                                        rx[5][cj[5]], rx[6][cj[6]], rx[7][cj[7]]);
        ax = _mm512_mask_add_pd(ax, usable, ax, _mm512_cvtps_pd(x));
      }
    }
  }
  _mm512_storeu_pd(sx, ax);
  _mm512_storeu_pd(sy, ay);
}

// The same two passes for the other instruction sets, in GCC's vector
// types: lane l's terms are those of the AVX-512 clones (a masked-out term
// there is an added +0.0 here, which leaves a sum that starts at +0.0 as it
// was), in the same order.
typedef double v8 __attribute__((vector_size(64)));

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
template <bool Gapped>
inline __attribute__((always_inline)) void deviation_lanes_body(const uint8_t* codes8, int32_t nprot, const double* d,
                                                                const float* y, const double* my, double* sxy,
                                                                double* sxx, double* syy) {
  v8 vmy, axy = {}, axx = {}, ayy = {};
  std::memcpy(&vmy, my, sizeof vmy);
  // Each lane's row of its table and of the usable marks side by side, so
  // that a pair's eight terms come from one small place.
  alignas(64) double rd[kColumnLanes][24], ru[kColumnLanes][24];
  for (PairRows r(nprot); r; ++r) {
    const int32_t i = r.i, len = r.len();
    const float* yrow = y + 1 + r.start;
    const uint8_t* a8 = codes8 + 8 * static_cast<int64_t>(i);
    bool any = false;
    for (int l = 0; l < kColumnLanes; ++l) any = any || a8[l] != 0;
    lane_table_rows(d, kCells, a8, rd);
    if constexpr (Gapped) lane_table_rows(kUsablePair.data(), 0, a8, ru);
    if (!any) continue;
    const uint8_t* cj = a8 + 8;
    for (int32_t t = 0; t < len; ++t, cj += 8) {
      v8 dx, usable;
      for (int l = 0; l < kColumnLanes; ++l) {
        dx[l] = rd[l][cj[l]];
        if constexpr (Gapped) usable[l] = ru[l][cj[l]];
      }
      const v8 dy = static_cast<double>(yrow[t]) - vmy;
      axy += dx * dy;
      axx += dx * dx;
      if constexpr (Gapped) ayy += usable * (dy * dy);
    }
  }
  std::memcpy(sxy, &axy, sizeof axy);
  std::memcpy(sxx, &axx, sizeof axx);
  std::memcpy(syy, &ayy, sizeof ayy);
}

template <bool WithX>
inline __attribute__((always_inline)) void usable_sums_lanes_body(const uint8_t* codes8, int32_t nprot,
                                                                  const float* xf, const float* y, double* sx,
                                                                  double* sy) {
  v8 ax = {}, ay = {};
  for (PairRows r(nprot); r; ++r) {
    const int32_t i = r.i, len = r.len();
    const float* yrow = y + 1 + r.start;
    const uint8_t* a8 = codes8 + 8 * static_cast<int64_t>(i);
    int32_t row[kColumnLanes];
    bool any = false;
    for (int l = 0; l < kColumnLanes; ++l) row[l] = l * kCells + a8[l] * kCodes, any = any || a8[l] != 0;
    if (!any) continue;
    const uint8_t* cj = a8 + 8;
    for (int32_t t = 0; t < len; ++t, cj += 8) {
      v8 usable, x = {};
      for (int l = 0; l < kColumnLanes; ++l) {
        usable[l] = a8[l] != 0 && cj[l] != 0 ? 1.0 : 0.0;
        if constexpr (WithX) x[l] = usable[l] != 0 ? static_cast<double>(xf[row[l] + cj[l]]) : 0.0;
      }
      ay += usable * static_cast<double>(yrow[t]);
      if constexpr (WithX) ax += x;
    }
  }
  std::memcpy(sx, &ax, sizeof ax);
  std::memcpy(sy, &ay, sizeof ay);
}
#pragma GCC diagnostic pop

// AVX2: the usable sums in two halves of four lanes, each lane's x loaded by
// itself from its row; an unusable lane adds +0.0, as in the plain lanes.
template <bool WithX>
__attribute__((target("avx2"))) void usable_sums_lanes_avx2(const uint8_t* codes8, int32_t nprot, const float* xf,
                                                            const float* y, double* sx, double* sy) {
  __m256d ax_lo = _mm256_setzero_pd(), ax_hi = ax_lo, ay_lo = ax_lo, ay_hi = ax_lo;
  alignas(64) float rx[kColumnLanes][24];
  // Lanes of residues as all-ones doubles, from eight codes.
  auto residues = [](const uint8_t* c8, __m256d& lo, __m256d& hi) __attribute__((target("avx2"))) {
    const __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c8));
    const __m128i gap = _mm_cmpeq_epi8(c, _mm_setzero_si128());
    const __m128i res = _mm_xor_si128(gap, _mm_set1_epi8(-1));
    lo = _mm256_castsi256_pd(_mm256_cvtepi8_epi64(res));
    hi = _mm256_castsi256_pd(_mm256_cvtepi8_epi64(_mm_srli_si128(res, 4)));
  };
  for (PairRows r(nprot); r; ++r) {
    const int32_t i = r.i, len = r.len();
    const float* yrow = y + 1 + r.start;
    const uint8_t* a8 = codes8 + 8 * static_cast<int64_t>(i);
    __m256d a_lo, a_hi;
    residues(a8, a_lo, a_hi);
    if (_mm256_movemask_pd(_mm256_or_pd(a_lo, a_hi)) == 0) continue;
    if constexpr (WithX) lane_table_rows(xf, kCells, a8, rx);
    const uint8_t* cj = a8 + 8;
    for (int32_t t = 0; t < len; ++t, cj += 8) {
      __m256d u_lo, u_hi;
      residues(cj, u_lo, u_hi);
      u_lo = _mm256_and_pd(u_lo, a_lo), u_hi = _mm256_and_pd(u_hi, a_hi);
      const __m256d yt = _mm256_set1_pd(static_cast<double>(yrow[t]));
      ay_lo = _mm256_add_pd(ay_lo, _mm256_and_pd(u_lo, yt));
      ay_hi = _mm256_add_pd(ay_hi, _mm256_and_pd(u_hi, yt));
      if constexpr (WithX) {
        const __m128 x_lo = _mm_setr_ps(rx[0][cj[0]], rx[1][cj[1]], rx[2][cj[2]], rx[3][cj[3]]);
        const __m128 x_hi = _mm_setr_ps(rx[4][cj[4]], rx[5][cj[5]], rx[6][cj[6]], rx[7][cj[7]]);
        ax_lo = _mm256_add_pd(ax_lo, _mm256_and_pd(u_lo, _mm256_cvtps_pd(x_lo)));
        ax_hi = _mm256_add_pd(ax_hi, _mm256_and_pd(u_hi, _mm256_cvtps_pd(x_hi)));
      }
    }
  }
  _mm256_storeu_pd(sx, ax_lo), _mm256_storeu_pd(sx + 4, ax_hi);
  _mm256_storeu_pd(sy, ay_lo), _mm256_storeu_pd(sy + 4, ay_hi);
}

#define VORN_DEVIATION_PARAMS \
  (const uint8_t* codes8, int32_t nprot, const double* d, const float* y, const double* my, double* sxy, double* sxx, double* syy)
// AVX2: the eight lanes in two halves of four; each lane's entries loaded
// one by one (the processor's gathers are slower than the loads they stand for).
template <bool Gapped>
__attribute__((target("avx2"))) void deviation_lanes_avx2(const uint8_t* codes8, int32_t nprot, const double* d,
                                                          const float* y, const double* my, double* sxy, double* sxx,
                                                          double* syy) {
  const __m256d my_lo = _mm256_loadu_pd(my), my_hi = _mm256_loadu_pd(my + 4);
  __m256d xy_lo = _mm256_setzero_pd(), xy_hi = xy_lo, xx_lo = xy_lo, xx_hi = xy_lo, yy_lo = xy_lo, yy_hi = xy_lo;
  alignas(64) double rd[kColumnLanes][24], ru[kColumnLanes][24];
  for (PairRows r(nprot); r; ++r) {
    const int32_t i = r.i, len = r.len();
    const float* yrow = y + 1 + r.start;
    const uint8_t* a8 = codes8 + 8 * static_cast<int64_t>(i);
    bool any = false;
    for (int l = 0; l < kColumnLanes; ++l) any = any || a8[l] != 0;
    lane_table_rows(d, kCells, a8, rd);
    if constexpr (Gapped) lane_table_rows(kUsablePair.data(), 0, a8, ru);
    if (!any) continue;
    const uint8_t* cj = a8 + 8;
    for (int32_t t = 0; t < len; ++t, cj += 8) {
      const __m256d dx_lo = _mm256_setr_pd(rd[0][cj[0]], rd[1][cj[1]], rd[2][cj[2]], rd[3][cj[3]]);
      const __m256d dx_hi = _mm256_setr_pd(rd[4][cj[4]], rd[5][cj[5]], rd[6][cj[6]], rd[7][cj[7]]);
      const __m256d yt = _mm256_set1_pd(static_cast<double>(yrow[t]));
      const __m256d dy_lo = _mm256_sub_pd(yt, my_lo), dy_hi = _mm256_sub_pd(yt, my_hi);
      xy_lo = _mm256_add_pd(xy_lo, _mm256_mul_pd(dx_lo, dy_lo));
      xy_hi = _mm256_add_pd(xy_hi, _mm256_mul_pd(dx_hi, dy_hi));
      xx_lo = _mm256_add_pd(xx_lo, _mm256_mul_pd(dx_lo, dx_lo));
      xx_hi = _mm256_add_pd(xx_hi, _mm256_mul_pd(dx_hi, dx_hi));
      if constexpr (Gapped) {
        const __m256d u_lo = _mm256_setr_pd(ru[0][cj[0]], ru[1][cj[1]], ru[2][cj[2]], ru[3][cj[3]]);
        const __m256d u_hi = _mm256_setr_pd(ru[4][cj[4]], ru[5][cj[5]], ru[6][cj[6]], ru[7][cj[7]]);
        yy_lo = _mm256_add_pd(yy_lo, _mm256_mul_pd(u_lo, _mm256_mul_pd(dy_lo, dy_lo)));
        yy_hi = _mm256_add_pd(yy_hi, _mm256_mul_pd(u_hi, _mm256_mul_pd(dy_hi, dy_hi)));
      }
    }
  }
  _mm256_storeu_pd(sxy, xy_lo), _mm256_storeu_pd(sxy + 4, xy_hi);
  _mm256_storeu_pd(sxx, xx_lo), _mm256_storeu_pd(sxx + 4, xx_hi);
  _mm256_storeu_pd(syy, yy_lo), _mm256_storeu_pd(syy + 4, yy_hi);
}

void deviation_plain_avx2 VORN_DEVIATION_PARAMS {
  count_isa_call(Isa::Avx2); deviation_lanes_avx2<false>(codes8, nprot, d, y, my, sxy, sxx, syy); }
void deviation_plain_generic VORN_DEVIATION_PARAMS {
  count_isa_call(Isa::Generic); deviation_lanes_body<false>(codes8, nprot, d, y, my, sxy, sxx, syy); }
void deviation_plain_avx512 VORN_DEVIATION_PARAMS {
  count_isa_call(Isa::Avx512); deviation_lanes_avx512<false>(codes8, nprot, d, y, my, sxy, sxx, syy); }
void deviation_gapped_avx2 VORN_DEVIATION_PARAMS {
  count_isa_call(Isa::Avx2); deviation_lanes_avx2<true>(codes8, nprot, d, y, my, sxy, sxx, syy); }
void deviation_gapped_generic VORN_DEVIATION_PARAMS {
  count_isa_call(Isa::Generic); deviation_lanes_body<true>(codes8, nprot, d, y, my, sxy, sxx, syy); }
void deviation_gapped_avx512 VORN_DEVIATION_PARAMS {
  count_isa_call(Isa::Avx512); deviation_lanes_avx512<true>(codes8, nprot, d, y, my, sxy, sxx, syy); }
#undef VORN_DEVIATION_PARAMS
#define VORN_USABLE_PARAMS (const uint8_t* codes8, int32_t nprot, const float* xf, const float* y, double* sx, double* sy)
void usable_xy_avx2 VORN_USABLE_PARAMS {
  count_isa_call(Isa::Avx2); usable_sums_lanes_avx2<true>(codes8, nprot, xf, y, sx, sy); }
void usable_xy_generic VORN_USABLE_PARAMS {
  count_isa_call(Isa::Generic); usable_sums_lanes_body<true>(codes8, nprot, xf, y, sx, sy); }
void usable_xy_avx512 VORN_USABLE_PARAMS {
  count_isa_call(Isa::Avx512); usable_sums_lanes_avx512<true>(codes8, nprot, xf, y, sx, sy); }
void usable_y_avx2 VORN_USABLE_PARAMS {
  count_isa_call(Isa::Avx2); usable_sums_lanes_avx2<false>(codes8, nprot, xf, y, sx, sy); }
void usable_y_generic VORN_USABLE_PARAMS {
  count_isa_call(Isa::Generic); usable_sums_lanes_body<false>(codes8, nprot, xf, y, sx, sy); }
void usable_y_avx512 VORN_USABLE_PARAMS {
  count_isa_call(Isa::Avx512); usable_sums_lanes_avx512<false>(codes8, nprot, xf, y, sx, sy); }
#undef VORN_USABLE_PARAMS

}  // namespace

void group_codes(const Columns& cols, const int32_t* pos, int nl, const bool* live, uint8_t* codes8) {
  for (int32_t p = 0; p < cols.nprot; ++p)
    for (int l = 0; l < kColumnLanes; ++l)
      codes8[8 * static_cast<int64_t>(p) + l] = l < nl && (!live || live[l]) ? cols.column(pos[l])[p] : 0;
}

void score_column_group(const Columns& cols, const int32_t* pos, int nl, const AaMat& aamat, bool spearman,
                        const SimilaritySide& s, uint8_t* codes8, ColumnStat* stat, float* score,
                        CorrelationSums* sums) {
  const int32_t n = cols.nprot;
  alignas(64) double d[kColumnLanes * kCells];
  double my[kColumnLanes] = {0}, mx[kColumnLanes] = {0};
  CorrelationSums t[kColumnLanes];
  ColumnPrep prep[kColumnLanes];
  bool live = false, gapped = false, pass_y = false;
  int inexact_x = 0;
  for (int l = 0; l < nl; ++l) {
    prepare_column(cols.column(pos[l]), n, cols.gaps(pos[l]), aamat, spearman, prep[l]);
    inexact_x += prep[l].n > 0 && !prep[l].sx_exact;
    pass_y = pass_y || (prep[l].n > 0 && prep[l].gapped && !s.exact);
  }
  // A lane pass over x costs about as much as two single-column ones.
  const bool pass_x = inexact_x > 2;
  group_codes(cols, pos, nl, nullptr, codes8);
  // Sums the counts cannot give exactly: one pass for all eight columns.
  double sx[kColumnLanes], sy[kColumnLanes];
  if (pass_x) {
    alignas(64) float xf[kColumnLanes * kCells];
    for (int l = 0; l < nl; ++l) std::copy(prep[l].x.begin(), prep[l].x.end(), xf + l * kCells);
    VORN_ISA_CALL(usable_xy, codes8, n, xf, s.y, sx, sy);
  } else if (pass_y) {
    VORN_ISA_CALL(usable_y, codes8, n, nullptr, s.y, sx, sy);
  }
  for (int l = 0; l < kColumnLanes; ++l) {
    double* dl = d + l * kCells;
    if (l >= nl) {
      std::fill(dl, dl + kCells, 0.0);
      continue;
    }
    if (column_sides(cols.column(pos[l]), prep[l], s, t[l], mx[l], my[l], dl, pass_x ? &sx[l] : nullptr,
                     pass_x || pass_y ? &sy[l] : nullptr)) {
      live = true;
      gapped = gapped || prep[l].gapped;
    }
  }
  double sxy[kColumnLanes], sxx[kColumnLanes], syy[kColumnLanes];
  if (live) {
    if (gapped)
      VORN_ISA_CALL(deviation_gapped, codes8, n, d, s.y, my, sxy, sxx, syy);
    else
      VORN_ISA_CALL(deviation_plain, codes8, n, d, s.y, my, sxy, sxx, syy);
  }
  for (int l = 0; l < nl; ++l) {
    if (prep[l].n > 0) t[l].sxy = sxy[l], t[l].sxx = sxx[l], t[l].syy = syy[l];
    score[l] = finish_column(prep[l], s, t[l], mx[l], d + l * kCells, stat ? &stat[pos[l]] : nullptr,
                             sums ? &sums[l] : nullptr);
  }
}

void scoring_pass(const Columns& cols, const AaMat& aamat, bool spearman, const SimilaritySide& side,
                  ColumnStat* colstat, ColumnGroups groups, const std::function<void(int32_t, float)>& emit, Log& log) {
  grouped_pass(
      cols, groups,
      [&](const int32_t* pos, int nl, uint8_t* codes8, float* score) {
        score_column_group(cols, pos, nl, aamat, spearman, side, codes8, colstat, score);
      },
      emit, log);
}

void grouped_pass(const Columns& cols, ColumnGroups groups,
                  const std::function<void(const int32_t*, int, uint8_t*, float*)>& score_group,
                  const std::function<void(int32_t, float)>& emit, Log& log) {
  // The scored columns in groups of eight, groups in parallel; results and
  // progress texts go out in column order.
  int32_t nscored = 0;
  for (int32_t pos = 1; pos <= cols.alnlen; ++pos)
    if (cols.scored(pos)) groups.pos[nscored++] = pos;
  const int32_t ngroups = (nscored + kColumnLanes - 1) / kColumnLanes;
#pragma omp parallel for ordered schedule(dynamic, 1)
  for (int32_t g = 0; g < ngroups; ++g) {
    const int32_t* pos = groups.pos + static_cast<int64_t>(g) * kColumnLanes;
    const int nl = static_cast<int>(std::min<int32_t>(kColumnLanes, nscored - g * kColumnLanes));
    float score[kColumnLanes];
    // Once the run is asked to stop, the groups left are skipped.
    const bool skip = log.stopping();
    if (!skip) score_group(pos, nl, groups.codes8 + static_cast<int64_t>(g) * kColumnLanes * cols.nprot, score);
#pragma omp ordered
    for (int l = 0; l < (skip ? 0 : nl); ++l) {
      log.progress("> Raw scores. pos: %d/%d                               \r", pos[l], cols.alnlen);
      log.meter(Log::kRawScores, pos[l], cols.alnlen);
      emit(pos[l], score[l]);
    }
  }
}

}  // namespace vorn
