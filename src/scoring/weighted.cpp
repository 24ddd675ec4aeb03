#include "scoring/weighted.hpp"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <numeric>
#include <vector>

#include "fail.hpp"
#include "isa.hpp"
#include "input/lineinput.hpp"
#include "input/residue.hpp"
#include "scoring/column_lanes.hpp"
#include "scoring/position.hpp"
#include "scoring/ranking.hpp"

namespace vorn {

void henikoff_weights(const Columns& cols, double* w) {
  const int32_t n = cols.nprot;
  for (int32_t p = 0; p <= n; ++p) w[p] = 0;
  for (int32_t pos = 1; pos <= cols.alnlen; ++pos) {
    const uint8_t* c = cols.column(pos);
    int32_t count[kCodes] = {0};
    for (int32_t p = 0; p < n; ++p) ++count[c[p]];
    int r = 0;
    for (int a = 1; a < kCodes; ++a) r += count[a] > 0;
    if (r == 0) continue;
    for (int32_t p = 0; p < n; ++p)
      if (c[p] != 0) w[p + 1] += 1.0 / (static_cast<double>(r) * static_cast<double>(count[c[p]]));
  }
  double total = 0;
  for (int32_t p = 1; p <= n; ++p) total += w[p];
  for (int32_t p = 1; p <= n; ++p) w[p] = total > 0 ? w[p] * static_cast<double>(n) / total : 1.0;
}

bool uniform_weights(const double* w, int32_t nprot) {
  for (int32_t p = 2; p <= nprot; ++p)
    if (w[p] != w[1]) return false;
  return true;
}

namespace {

// Weighted mid-ranks of values taken in the given ascending order: the total
// weight of the smaller values plus half the weight of the tie group.
template <class Value, class Weight, class Store>
void weighted_ranks(const int64_t* order, int64_t m, Value value, Weight weight, Store store) {
  double below = 0;
  for (int64_t g = 0; g < m;) {
    int64_t h = g;
    double group = 0;
    const auto v = value(order[g]);
    while (h < m && value(order[h]) == v) group += weight(order[h++]);
    const double rank = below + group / 2;
    for (int64_t t = g; t < h; ++t) store(order[t], rank);
    below += group;
    g = h;
  }
}

// The sums of y over all pairs: total weight, W y, per-protein w_other * y,
// and W (y - my)^2.
void side_sums(const WeightedSide& s, const double* w, int32_t n, double* rowwy, double& wsum, double& wysum,
               double& syy) {
  for (int32_t p = 0; p <= n; ++p) rowwy[p] = 0;
  wsum = wysum = 0;
  int64_t k = 0;
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = i + 1; j <= n; ++j) {
      const double v = s.y(++k);
      const double pw = w[i] * w[j];
      wsum += pw;
      wysum += pw * v;
      rowwy[i] += w[j] * v;
      rowwy[j] += w[i] * v;
    }
  const double my = wsum > 0 ? wysum / wsum : 0;
  syy = 0;
  k = 0;
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = i + 1; j <= n; ++j) {
      const double dy = s.y(++k) - my;
      syy += w[i] * w[j] * dy * dy;
    }
}

// y over the usable pairs of a gapped column: all pairs less those that touch
// a gapped protein (the pairs of two gapped proteins were taken away twice).
double usable_wy(const WeightedSide& s, GapList gaps) {
  double sum = s.wysum;
  usable_from_totals(
      gaps, [&](int32_t a) { sum -= s.w[a] * s.rowwy[a]; },
      [&](int32_t a, int32_t b) { sum += s.w[a] * s.w[b] * s.y(pair_index(a, b, s.nprot)); });
  return sum;
}

// Over the pairs in pair order: sxy = sum W d(a,b) (y - my), and for gapped
// columns syy = sum of W (y - my)^2 over the usable pairs, with whether the
// usable y differ at all.
struct Pass {
  double sxy = 0, syy = 0;
  bool differs = false;
};
Pass deviation(const uint8_t* codes, const double* d, const WeightedSide& s, double my, bool gapped) {
  const double* w = s.w;
  const int32_t n = s.nprot;
  Pass r;
  double first = 0;
  bool have = false;
  for (PairRows rows(n); rows; ++rows) {
    const int32_t i = rows.i, len = rows.len();
    const int a = codes[i];
    if (a != 0) {
      const double wi = w[i + 1];
      const double* drow = d + a * kCodes;
      for (int32_t t = 0; t < len; ++t) {
        const int b = codes[i + 1 + t];
        if (b == 0) continue;
        const double pw = wi * w[i + 2 + t];
        const double y = s.y(rows.start + 1 + t);
        const double dy = y - my;
        r.sxy += pw * drow[b] * dy;
        if (gapped) {
          r.syy += pw * dy * dy;
          if (!have) first = y, have = true;
          r.differs = r.differs || y != first;
        }
      }
    }
  }
  return r;
}


}  // namespace

int64_t similarity_groups(const float* v, int64_t npairs, uint32_t* group, int64_t* rank_scratch) {
  // Their keys sorted in group's place (-0 counts as +0, which it equals).
  uint32_t* keys = group + 1;
#pragma omp parallel for schedule(static)
  for (int64_t k = 0; k < npairs; ++k) keys[k] = ascending_key(v[k + 1] + 0.0f);
  sort_keys(keys, npairs, rank_scratch);
  return std::unique(keys, keys + npairs) - keys;
}

void prepare_weighted_side(const float* v, bool spearman, const double* w, int32_t nprot, int64_t npairs,
                           uint32_t* group, int64_t ngroups, double* rank, double* rowwy, WeightedSide& s) {
  s.w = w;
  s.v = v;
  s.nprot = nprot;
  s.npairs = npairs;
  s.rowwy = rowwy;
  s.group = nullptr;
  s.rank = nullptr;
  s.ngroups = 0;
  if (spearman) {
    // The distinct similarities, ascending, then each pair's group.
    const uint32_t* keys = group + 1;
    for (int64_t g = 0; g < ngroups; ++g) rank[g] = static_cast<double>(keys[g]);  // exact: below 2^32
#pragma omp parallel for schedule(static)
    for (int64_t k = 1; k <= npairs; ++k)
      group[k] = static_cast<uint32_t>(
          std::lower_bound(rank, rank + ngroups, static_cast<double>(ascending_key(v[k] + 0.0f))) - rank);
    // Weighted mid-ranks: the total weight of the smaller values plus half
    // that of the tie group, each group's weight summed in pair order (the
    // order of its pairs by ascending similarity, then index).
    std::fill(rank, rank + ngroups, 0.0);
    int64_t k = 0;
    for (int32_t i = 1; i <= nprot; ++i)
      for (int32_t j = i + 1; j <= nprot; ++j) rank[group[++k]] += w[i] * w[j];
    double below = 0;
    for (int64_t g = 0; g < ngroups; ++g) {
      const double weight = rank[g];
      rank[g] = below + weight / 2;
      below += weight;
    }
    s.group = group;
    s.rank = rank;
    s.ngroups = ngroups;
    s.y_flat = ngroups <= 1;
  } else {
    bool flat = true;
    for (int64_t k = 2; k <= npairs && flat; ++k) flat = v[k] == v[1];
    s.y_flat = flat;
  }
  side_sums(s, w, nprot, rowwy, s.wsum, s.wysum, s.syy_all);
}

namespace {

// The column's x side: counts and weights of its code pairs, the (ranked)
// values, the stat with its deviation table, whether the usable x agree, and
// the mean y of its usable pairs. False when no usable pair has weight.
// Kept whole: one pass over the column whose sums come in pair order.
bool weighted_prefix(const uint8_t* codes, GapList gaps, const AaMat& aamat, bool spearman, const WeightedSide& s,
                     WeightedStat& st, bool& x_flat, double& my) {
  const int32_t n = s.nprot;
  // The column's code pairs: how many pairs and how much weight each has.
  int64_t count[kCells] = {0};
  double cw[kCells] = {0};
  int64_t seen[kCodes] = {0};
  double seen_w[kCodes] = {0};
  for (int32_t j = 0; j < n; ++j) {
    const int b = codes[j];
    for (int a = 0; a < kCodes; ++a) {
      count[a * kCodes + b] += seen[a];
      cw[a * kCodes + b] += seen_w[a] * s.w[j + 1];
    }
    ++seen[b];
    seen_w[b] += s.w[j + 1];
  }
  double x[kCells];
  for (int a = 0; a < kCodes; ++a)
    for (int b = 0; b < kCodes; ++b) x[a * kCodes + b] = aamat[a][b];
  if (spearman) {  // weighted ranks of the cells, over all pairs, gapped ones too
    int64_t order[kCells];
    int64_t used = 0;
    for (int64_t c = 0; c < kCells; ++c)
      if (count[c] > 0) order[used++] = c;
    std::sort(order, order + used, [&](int64_t l, int64_t r) { return x[l] < x[r] || (x[l] == x[r] && l < r); });
    double ranked[kCells];
    weighted_ranks(
        order, used, [&](int64_t c) { return x[c]; }, [&](int64_t c) { return cw[c]; },
        [&](int64_t c, double r) { ranked[c] = r; });
    for (int64_t t = 0; t < used; ++t) x[order[t]] = ranked[order[t]];
  }
  int64_t nusable = 0;
  double wsum = 0, wx = 0;
  bool have = false;
  double x0 = 0;
  x_flat = true;
  for (int a = 1; a < kCodes; ++a)
    for (int b = 1; b < kCodes; ++b) {
      const int c = a * kCodes + b;
      if (count[c] == 0) continue;
      nusable += count[c];
      wsum += cw[c];
      wx += cw[c] * x[c];
      if (!have) x0 = x[c], have = true;
      x_flat = x_flat && x[c] == x0;
    }
  st.n = nusable;
  st.wsum = wsum;
  st.mx = wsum > 0 ? wx / wsum : 0;
  st.sxx = 0;
  for (int a = 0; a < kCodes; ++a)
    for (int b = 0; b < kCodes; ++b) {
      const int c = a * kCodes + b;
      const bool usable = a != 0 && b != 0 && count[c] > 0;
      st.d[c] = usable ? x[c] - st.mx : 0.0;
      if (usable) st.sxx += cw[c] * st.d[c] * st.d[c];
    }
  if (nusable == 0 || wsum == 0) return false;
  my = (gaps.n > 0 ? usable_wy(s, gaps) : s.wysum) / wsum;
  return true;
}

double weighted_finish(const WeightedStat& st, bool x_flat, const Pass& p, bool gapped, const WeightedSide& s) {
  const double syy = gapped ? p.syy : s.syy_all;
  const bool y_flat = gapped ? !p.differs : s.y_flat;
  return weighted_score(p.sxy, st.sxx, syy, st.n, x_flat || st.sxx == 0, y_flat);
}

// deviation for up to eight columns at once, lane l for column l, each lane
// with the same sums in the same order as deviation gives its column.
// codes8[p * 8 + l] is protein p's code in column l (0 in unused lanes),
// d[l * kCells + cell] column l's deviation table.
template <bool Gapped>
__attribute__((target("avx2,avx512f,avx512bw,avx512vl"))) void deviation_lanes_512(const uint8_t* codes8, const double* d,
                                                                               const WeightedSide& s, const double* my,
                                                                               Pass* out) {
  const double* w = s.w;
  const int32_t n = s.nprot;
  const __m512d vmy = _mm512_loadu_pd(my);
  __m512d axy = _mm512_setzero_pd(), ayy = _mm512_setzero_pd(), first = _mm512_setzero_pd();
  __mmask8 have = 0, differs = 0;
  for (PairRows r(n); r; ++r) {
    const int32_t i = r.i, len = r.len();
    const __m128i a8 = lane_codes(codes8, i);
    const __mmask8 a_usable = residue_lanes(a8);
    if (a_usable == 0) {
      continue;
    }
    // A gapped lane's entry is loaded and not added.
    alignas(64) double rd[kColumnLanes][24];
    lane_table_rows(d, kCells, codes8 + 8 * static_cast<int64_t>(i), rd);
    const double wi = w[i + 1];
    const uint8_t* cj = codes8 + 8 * (static_cast<int64_t>(i) + 1);
    for (int32_t t = 0; t < len; ++t, cj += 8) {
      const __mmask8 usable = a_usable & residue_lanes(lane_codes(cj, 0));
      if (usable == 0) continue;
      const __m512d pw = _mm512_set1_pd(wi * w[i + 2 + t]);
      const __m512d dx = lane_entries(rd, cj);
      const __m512d yv = _mm512_set1_pd(s.y(r.start + 1 + t));
      const __m512d dy = _mm512_sub_pd(yv, vmy);
      axy = _mm512_mask_add_pd(axy, usable, axy, _mm512_mul_pd(_mm512_mul_pd(pw, dx), dy));
      if constexpr (Gapped) {
        ayy = _mm512_mask_add_pd(ayy, usable, ayy, _mm512_mul_pd(_mm512_mul_pd(pw, dy), dy));
        first = _mm512_mask_mov_pd(first, static_cast<__mmask8>(usable & ~have), yv);
        have |= usable;
        differs |= _mm512_mask_cmp_pd_mask(usable, yv, first, _CMP_NEQ_UQ);
      }
    }
  }
  double sxy[8], syy[8];
  _mm512_storeu_pd(sxy, axy);
  _mm512_storeu_pd(syy, ayy);
  for (int l = 0; l < 8; ++l) out[l] = Pass{sxy[l], syy[l], ((differs >> l) & 1) != 0};
}

// The same sums lane by lane in plain code, for the other instruction sets: a
// lane left out by the mask adds nothing there and +0.0 here, which leaves
// a sum that starts at +0.0 as it was.
template <bool Gapped>
inline __attribute__((always_inline)) void deviation_lanes_body(const uint8_t* codes8, const double* d,
                                                                const WeightedSide& s, const double* my, Pass* out) {
  const double* w = s.w;
  const int32_t n = s.nprot;
  double axy[8] = {}, ayy[8] = {}, first[8] = {};
  bool have[8] = {}, differs[8] = {};
  for (PairRows r(n); r; ++r) {
    const int32_t i = r.i, len = r.len();
    const uint8_t* a8 = codes8 + 8 * static_cast<int64_t>(i);
    const double wi = w[i + 1];
    const uint8_t* cj = a8 + 8;
    for (int32_t t = 0; t < len; ++t, cj += 8) {
      const double pw = wi * w[i + 2 + t], yv = s.y(r.start + 1 + t);
      for (int l = 0; l < 8; ++l) {
        if (a8[l] == 0 || cj[l] == 0) continue;
        const double dx = d[l * kCells + a8[l] * kCodes + cj[l]], dy = yv - my[l];
        axy[l] += (pw * dx) * dy;
        if constexpr (Gapped) {
          ayy[l] += (pw * dy) * dy;
          if (!have[l]) first[l] = yv, have[l] = true;
          differs[l] = differs[l] || yv != first[l];
        }
      }
    }
  }
  for (int l = 0; l < 8; ++l) out[l] = Pass{axy[l], ayy[l], differs[l]};
}

#define VORN_WEIGHTED_LANES (const uint8_t* codes8, const double* d, const WeightedSide& s, const double* my, Pass* out)
void weighted_plain_avx512 VORN_WEIGHTED_LANES {
  count_isa_call(Isa::Avx512);
  deviation_lanes_512<false>(codes8, d, s, my, out);
}
void weighted_gapped_avx512 VORN_WEIGHTED_LANES {
  count_isa_call(Isa::Avx512);
  deviation_lanes_512<true>(codes8, d, s, my, out);
}
__attribute__((target("avx2"))) void weighted_plain_avx2 VORN_WEIGHTED_LANES {
  count_isa_call(Isa::Avx2);
  deviation_lanes_body<false>(codes8, d, s, my, out);
}
__attribute__((target("avx2"))) void weighted_gapped_avx2 VORN_WEIGHTED_LANES {
  count_isa_call(Isa::Avx2);
  deviation_lanes_body<true>(codes8, d, s, my, out);
}
void weighted_plain_generic VORN_WEIGHTED_LANES {
  count_isa_call(Isa::Generic);
  deviation_lanes_body<false>(codes8, d, s, my, out);
}
void weighted_gapped_generic VORN_WEIGHTED_LANES {
  count_isa_call(Isa::Generic);
  deviation_lanes_body<true>(codes8, d, s, my, out);
}
#undef VORN_WEIGHTED_LANES

}  // namespace

float weighted_column(const uint8_t* codes, GapList gaps, const AaMat& aamat, bool spearman, const WeightedSide& s,
                      WeightedStat* stat, double* value) {
  WeightedStat local;
  WeightedStat& st = stat ? *stat : local;
  bool x_flat;
  double my;
  if (value) *value = -2.0;
  if (!weighted_prefix(codes, gaps, aamat, spearman, s, st, x_flat, my)) return -2.0f;
  const Pass p = deviation(codes, st.d, s, my, gaps.n > 0);
  const double r = weighted_finish(st, x_flat, p, gaps.n > 0, s);
  if (value) *value = r;
  return static_cast<float>(r);
}

void weighted_column_group(const Columns& cols, const int32_t* pos, int nl, const AaMat& aamat, bool spearman,
                           const WeightedSide& s, uint8_t* codes8, WeightedStat* stat, float* score, double* value) {
  alignas(64) double d[kColumnLanes * kCells] = {};
  double my[kColumnLanes] = {0};
  bool live[kColumnLanes] = {}, x_flat[kColumnLanes] = {}, any = false, gapped = false;
  WeightedStat local[kColumnLanes];
  for (int l = 0; l < nl; ++l) {
    WeightedStat& st = stat ? stat[pos[l]] : local[l];
    const GapList gaps = cols.gaps(pos[l]);
    live[l] = weighted_prefix(cols.column(pos[l]), gaps, aamat, spearman, s, st, x_flat[l], my[l]);
    if (live[l]) std::copy(st.d, st.d + kCells, d + l * kCells);
    any = any || live[l];
    gapped = gapped || (live[l] && gaps.n > 0);
  }
  group_codes(cols, pos, nl, live, codes8);
  Pass pass[kColumnLanes];
  if (any) {
    if (gapped)
      VORN_ISA_CALL(weighted_gapped, codes8, d, s, my, pass);
    else
      VORN_ISA_CALL(weighted_plain, codes8, d, s, my, pass);
  }
  for (int l = 0; l < nl; ++l) {
    const WeightedStat& st = stat ? stat[pos[l]] : local[l];
    const double r = live[l] ? weighted_finish(st, x_flat[l], pass[l], cols.gaps(pos[l]).n > 0, s) : -2.0;
    score[l] = static_cast<float>(r);
    if (value) value[l] = r;
  }
}

void weighted_scoring_pass(const Columns& cols, const AaMat& aamat, bool spearman, const WeightedSide& s,
                           WeightedStat* stat, ColumnGroups groups, const std::function<void(int32_t, float)>& emit,
                           Log& log) {
  grouped_pass(
      cols, groups,
      [&](const int32_t* pos, int nl, uint8_t* codes8, float* score) {
        weighted_column_group(cols, pos, nl, aamat, spearman, s, codes8, stat, score);
      },
      emit, log);
}

}  // namespace vorn
