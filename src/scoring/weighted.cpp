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

void read_weights(const std::string& path, int32_t nprot, double* w) {
  InputText text;
  if (!load_input(path, text)) fail("** Error: Can't read weight file: %s\n", path.c_str());
  std::vector<int64_t> seen(static_cast<size_t>(nprot) + 1, 0);
  LineReader in(text);
  const char* name = path.c_str();
  while (in.leelinea() == 0) {
    const std::string_view t = in.text();
    const long long line = static_cast<long long>(in.line_number());
    if (blank(t)) continue;
    const size_t tab = t.find('\t');
    const IntField i = int_field(t, 0);
    if (tab == std::string_view::npos || !i.digits)
      fail("** Error: line %lld of weight file '%s' is not \"protein<TAB>weight\".\n", line, name);
    if (!i.fits_int32() || i.value < 1 || i.value > nprot)
      fail("** Error: line %lld of weight file '%s' names protein %lld; the alignment has proteins 1 to %d.\n", line,
           name, static_cast<long long>(i.value), nprot);
    const NumberField v = number_field(t, tab + 1);
    const std::string_view rest = t.substr(tab + 1);
    if (!v.found || v.overflow || rest.find_first_not_of(" \t", rest.find(v.span) + v.span.size()) != std::string_view::npos)
      fail("** Error: line %lld of weight file '%s' has no finite number as the weight of protein %lld.\n", line,
           name, static_cast<long long>(i.value));
    if (v.value < 0)
      fail("** Error: line %lld of weight file '%s' gives protein %lld a negative weight.\n", line, name,
           static_cast<long long>(i.value));
    if (seen[i.value] != 0)
      fail("** Error: line %lld of weight file '%s' gives protein %lld a second weight (line %lld gave one).\n", line,
           name, static_cast<long long>(i.value), static_cast<long long>(seen[i.value]));
    seen[i.value] = line;
    w[i.value] = static_cast<double>(v.value);
  }
  for (int32_t p = 1; p <= nprot; ++p)
    if (seen[p] == 0) fail("** Error: weight file '%s' gives no weight for protein %d.\n", name, p);
  // A pair counts with w_i w_j: with fewer than two weights above 0 no pair
  // counts, and every column would go unscored (all zeros would even pass
  // for equal weights and give the unweighted scores).
  int32_t positive = 0, last = 0;
  for (int32_t p = 1; p <= nprot; ++p)
    if (w[p] > 0) ++positive, last = p;
  if (positive == 0) fail("** Error: weight file '%s' gives every protein weight 0: no pair of proteins would count.\n", name);
  if (positive == 1 && nprot > 1)
    fail("** Error: weight file '%s' gives only protein %d a weight above 0: no pair of proteins would count.\n", name,
         last);
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
void side_sums(const double* y, const double* w, int32_t n, double* rowwy, double& wsum, double& wysum,
               double& syy) {
  for (int32_t p = 0; p <= n; ++p) rowwy[p] = 0;
  wsum = wysum = 0;
  int64_t k = 0;
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = i + 1; j <= n; ++j) {
      const double v = y[++k];
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
      const double dy = y[++k] - my;
      syy += w[i] * w[j] * dy * dy;
    }
}

// y over the usable pairs of a gapped column: all pairs less those that touch
// a gapped protein (the pairs of two gapped proteins were taken away twice).
double usable_wy(const WeightedSide& s, const double* rowwy, double wysum, GapList gaps, const double* y) {
  double sum = wysum;
  for (int32_t g = 0; g < gaps.n; ++g) {
    const int32_t a = gaps.p[g];
    sum -= s.w[a] * rowwy[a];
    for (int32_t h = g + 1; h < gaps.n; ++h) {
      const int32_t b = gaps.p[h];
      sum += s.w[a] * s.w[b] * y[pair_index(a, b, s.nprot)];
    }
  }
  return sum;
}

// Over the pairs in pair order: sxy = sum W d(a,b) (y - my), and for gapped
// columns syy = sum of W (y - my)^2 over the usable pairs, with whether the
// usable y differ at all.
struct Pass {
  double sxy = 0, syy = 0;
  bool differs = false;
};
Pass deviation(const uint8_t* codes, const double* d, const double* w, int32_t n, const double* y, double my,
               bool gapped) {
  Pass r;
  double first = 0;
  bool have = false;
  const double* yrow = y + 1;
  for (int32_t i = 0; i < n - 1; ++i) {
    const int a = codes[i];
    const int32_t len = n - 1 - i;
    if (a != 0) {
      const double wi = w[i + 1];
      const double* drow = d + a * kCodes;
      for (int32_t t = 0; t < len; ++t) {
        const int b = codes[i + 1 + t];
        if (b == 0) continue;
        const double pw = wi * w[i + 2 + t];
        const double dy = yrow[t] - my;
        r.sxy += pw * drow[b] * dy;
        if (gapped) {
          r.syy += pw * dy * dy;
          if (!have) first = yrow[t], have = true;
          r.differs = r.differs || yrow[t] != first;
        }
      }
    }
    yrow += len;
  }
  return r;
}

double weighted_score(double sxy, double sxx, double syy, int64_t n, bool x_flat, bool y_flat) {
  if (x_flat || y_flat || sxx == 0 || syy == 0) return -2.0;
  if (n <= 10) return -3.0;
  return sxy / (std::sqrt(syy) * std::sqrt(sxx));
}

}  // namespace

void prepare_weighted_side(const float* v, bool spearman, const double* w, int32_t nprot, int64_t npairs,
                           int64_t* order, double* y, double* rowwy, int64_t* rank_scratch, WeightedSide& s) {
  // The pairs by ascending value, equal values by ascending pair index: one
  // sort of 64-bit keys (the value's order bits above the index; -0 counts as
  // +0, which it equals).
  if (npairs < (int64_t{1} << 32)) {
    uint64_t* keys = reinterpret_cast<uint64_t*>(order);
#pragma omp parallel for schedule(static)
    for (int64_t k = 0; k < npairs; ++k) {
      const uint64_t u = ascending_key(v[k + 1] + 0.0f);
      keys[k] = (u << 32) | static_cast<uint64_t>(k + 1);
    }
    sort_keys(keys, npairs, rank_scratch);
#pragma omp parallel for schedule(static)
    for (int64_t k = 0; k < npairs; ++k) order[k] = static_cast<int64_t>(keys[k] & 0xFFFFFFFFu);
  } else {
    for (int64_t k = 0; k < npairs; ++k) order[k] = k + 1;
    std::sort(order, order + npairs, [&](int64_t a, int64_t b) { return v[a] < v[b] || (v[a] == v[b] && a < b); });
  }
  if (spearman) {
    // The pair weights first, each replaced by its rank once its group's
    // weights are read.
    int64_t k = 0;
    for (int32_t i = 1; i <= nprot; ++i)
      for (int32_t j = i + 1; j <= nprot; ++j) y[++k] = w[i] * w[j];
    weighted_ranks(
        order, npairs, [&](int64_t q) { return v[q]; }, [&](int64_t q) { return y[q]; },
        [&](int64_t q, double r) { y[q] = r; });
  } else {
    for (int64_t k = 1; k <= npairs; ++k) y[k] = v[k];
  }
  s.w = w;
  s.y = y;
  s.nprot = nprot;
  s.npairs = npairs;
  s.rowwy = rowwy;
  side_sums(y, w, nprot, rowwy, s.wsum, s.wysum, s.syy_all);
  s.y_flat = npairs == 0 || v[order[0]] == v[order[npairs - 1]];
}

namespace {

// The column's x side: counts and weights of its code pairs, the (ranked)
// values, the stat with its deviation table, whether the usable x agree, and
// the mean y of its usable pairs. False when no usable pair has weight.
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
  my = (gaps.n > 0 ? usable_wy(s, s.rowwy, s.wysum, gaps, s.y) : s.wysum) / wsum;
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
__attribute__((target("avx2,avx512f,avx512bw,avx512vl"))) void deviation_lanes(const uint8_t* codes8, const double* d,
                                                                               const double* w, int32_t n,
                                                                               const double* y, const double* my,
                                                                               Pass* out) {
  const __m512d vmy = _mm512_loadu_pd(my);
  __m512d axy = _mm512_setzero_pd(), ayy = _mm512_setzero_pd(), first = _mm512_setzero_pd();
  __mmask8 have = 0, differs = 0;
  const double* yrow = y + 1;
  for (int32_t i = 0; i < n - 1; ++i) {
    const int32_t len = n - 1 - i;
    const __m128i a8 = lane_codes(codes8, i);
    const __mmask8 a_usable = residue_lanes(a8);
    if (a_usable == 0) {
      yrow += len;
      continue;
    }
    const __m256i row = lane_rows(a8);
    const double wi = w[i + 1];
    const uint8_t* cj = codes8 + 8 * (static_cast<int64_t>(i) + 1);
    for (int32_t t = 0; t < len; ++t) {
      const __m128i b8 = lane_codes(cj, t);
      const __mmask8 usable = a_usable & residue_lanes(b8);
      if (usable == 0) continue;
      const __m512d pw = _mm512_set1_pd(wi * w[i + 2 + t]);
      const __m512d dx = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), usable,
                                                  lane_cells(row, b8), d, 8);
      const __m512d yv = _mm512_set1_pd(yrow[t]);
      const __m512d dy = _mm512_sub_pd(yv, vmy);
      axy = _mm512_mask_add_pd(axy, usable, axy, _mm512_mul_pd(_mm512_mul_pd(pw, dx), dy));
      if constexpr (Gapped) {
        ayy = _mm512_mask_add_pd(ayy, usable, ayy, _mm512_mul_pd(_mm512_mul_pd(pw, dy), dy));
        first = _mm512_mask_mov_pd(first, static_cast<__mmask8>(usable & ~have), yv);
        have |= usable;
        differs |= _mm512_mask_cmp_pd_mask(usable, yv, first, _CMP_NEQ_UQ);
      }
    }
    yrow += len;
  }
  double sxy[8], syy[8];
  _mm512_storeu_pd(sxy, axy);
  _mm512_storeu_pd(syy, ayy);
  for (int l = 0; l < 8; ++l) out[l] = Pass{sxy[l], syy[l], ((differs >> l) & 1) != 0};
}

}  // namespace

float weighted_column(const uint8_t* codes, GapList gaps, const AaMat& aamat, bool spearman, const WeightedSide& s,
                      WeightedStat* stat, double* value) {
  WeightedStat local;
  WeightedStat& st = stat ? *stat : local;
  bool x_flat;
  double my;
  if (value) *value = -2.0;
  if (!weighted_prefix(codes, gaps, aamat, spearman, s, st, x_flat, my)) return -2.0f;
  const Pass p = deviation(codes, st.d, s.w, s.nprot, s.y, my, gaps.n > 0);
  const double r = weighted_finish(st, x_flat, p, gaps.n > 0, s);
  if (value) *value = r;
  return static_cast<float>(r);
}

void weighted_column_group(const Columns& cols, const int32_t* pos, int nl, const AaMat& aamat, bool spearman,
                           const WeightedSide& s, uint8_t* codes8, WeightedStat* stat, float* score, double* value) {
  const int32_t n = s.nprot;
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
      deviation_lanes<true>(codes8, d, s.w, n, s.y, my, pass);
    else
      deviation_lanes<false>(codes8, d, s.w, n, s.y, my, pass);
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
  if (active_isa() != Isa::Avx512) {
    column_pass(
        cols,
        [&](int32_t pos) {
          return weighted_column(cols.column(pos), cols.gaps(pos), aamat, spearman, s, stat ? &stat[pos] : nullptr);
        },
        emit, log);
    return;
  }
  grouped_pass(
      cols, groups,
      [&](const int32_t* pos, int nl, uint8_t* codes8, float* score) {
        weighted_column_group(cols, pos, nl, aamat, spearman, s, codes8, stat, score);
      },
      emit, log);
}

namespace {

typedef double v8d __attribute__((vector_size(64)));
constexpr int kLanes = 8;   // permutations scored side by side
constexpr int kGroup = 4;   // columns that share one read of the lanes
#define WSPLAT(v) (v8d{(v), (v), (v), (v), (v), (v), (v), (v)})

// The arrays of the plan are not 64-byte aligned: loads and stores by
// memcpy. Always inlined, so that no vector crosses a call (whose convention
// differs between instruction sets).
#pragma GCC diagnostic ignored "-Wpsabi"
inline __attribute__((always_inline)) v8d lane_load(const double* p) {
  v8d v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline __attribute__((always_inline)) void lane_store(double* p, const v8d& v) { std::memcpy(p, &v, sizeof v); }

// What a group of columns needs in the lane pass.
struct Group {
  const uint8_t* codes[kGroup];
  const double* d[kGroup];
  v8d my[kGroup];  // the lanes' means
  v8d sxy[kGroup], syy[kGroup];
};

// Over the pairs in pair order, for every column of the group and every lane:
// sxy = sum of W d(a,b) y (the weighted mean of d over the usable pairs is 0,
// so my drops out; d is 0 for gapped pairs). syy comes from row totals.
inline __attribute__((always_inline)) void group_pass_body(Group& g, const double* w, int32_t n, const double* lanes) {
  v8d axy[kGroup];
  for (int c = 0; c < kGroup; ++c) axy[c] = WSPLAT(0.0);
  const double* yrow = lanes;
  for (int32_t i = 0; i < n - 1; ++i) {
    const int32_t len = n - 1 - i;
    const double wi = w[i + 1];
    const double* drow[kGroup];
    for (int c = 0; c < kGroup; ++c) drow[c] = g.d[c] + g.codes[c][i] * kCodes;
    for (int32_t t = 0; t < len; ++t) {
      const double pw = wi * w[i + 2 + t];
      const v8d y = lane_load(yrow + static_cast<int64_t>(t) * kLanes);
      for (int c = 0; c < kGroup; ++c) axy[c] += (pw * drow[c][g.codes[c][i + 1 + t]]) * y;
    }
    yrow += static_cast<int64_t>(len) * kLanes;
  }
  for (int c = 0; c < kGroup; ++c) g.sxy[c] = axy[c];
}

// Whether the usable y of lane l agree: asked only when the spread is at the
// level of rounding, where the sums cannot tell.
bool lane_flat(const uint8_t* codes, int32_t n, const double* lanes, int l) {
  bool have = false;
  double first = 0;
  const double* y = lanes + l;
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = i + 1; j < n; ++j, y += kLanes) {
      if (codes[i] == 0 || codes[j] == 0) continue;
      if (have && *y != first) return false;
      first = *y, have = true;
    }
  return true;
}

// The y' of one permutation into lane l: the weighted ranks (or the values)
// of the relabelled similarities, the weights staying with the rows. For
// ranks, the pairs are walked by ascending similarity (sorted values and pair
// ends side by side, so the walk reads memory in order), each pair (u, v)
// weighing as the proteins that take u's and v's data, and each rank written
// to the place of the pair that takes (u, v)'s similarity.
void fill_lane(const WeightedSide& side, const WeightedRandom& a, bool spearman, const int32_t* perm, int l) {
  const int32_t n = side.nprot;
  const int64_t npairs = side.npairs;
  int32_t* inverse = a.inverse + static_cast<int64_t>(l) * (n + 2);
  for (int32_t p = 1; p <= n; ++p) inverse[perm[p]] = p;
  double* out = a.lanes + l;
  if (!spearman) {
    for (int32_t i = 1; i <= n; ++i)
      for (int32_t j = i + 1; j <= n; ++j, out += kLanes)
        *out = static_cast<double>(a.v[pair_index(std::min(perm[i], perm[j]), std::max(perm[i], perm[j]), n)]);
    return;
  }
  auto place = [&](int64_t t) {
    const int32_t i = inverse[a.ends[2 * t]], j = inverse[a.ends[2 * t + 1]];
    return (pair_index(std::min(i, j), std::max(i, j), n) - 1) * kLanes;
  };
  double below = 0;
  for (int64_t g = 0; g < npairs;) {
    int64_t h = g;
    double group = 0;
    const float value = a.sorted[g];
    for (; h < npairs && a.sorted[h] == value; ++h) group += side.w[inverse[a.ends[2 * h]]] * side.w[inverse[a.ends[2 * h + 1]]];
    const double rank = below + group / 2;
    for (int64_t t = g; t < h; ++t) out[place(t)] = rank;
    below += group;
    g = h;
  }
}

// Per lane: W y and W y^2 over all pairs, each protein's w_other y and
// w_other y^2 (rowwy, then rowwyy (n + 2) x 8 further on), and W (y - my)^2.
inline __attribute__((always_inline)) void lane_sums_body(const WeightedSide& side, const double* lanes,
                                                           double* rowwy, v8d& wysum, v8d& wyysum, v8d& syy) {
  const int32_t n = side.nprot;
  const double* w = side.w;
  double* rowwyy = rowwy + static_cast<int64_t>(n + 2) * kLanes;
  for (int32_t p = 0; p <= n; ++p) lane_store(rowwy + p * kLanes, WSPLAT(0.0)), lane_store(rowwyy + p * kLanes, WSPLAT(0.0));
  wysum = wyysum = WSPLAT(0.0);
  const double* y = lanes;
  for (int32_t i = 1; i <= n; ++i) {
    v8d row = lane_load(rowwy + i * kLanes), row2 = lane_load(rowwyy + i * kLanes);
    for (int32_t j = i + 1; j <= n; ++j, y += kLanes) {
      const v8d v = lane_load(y), vv = v * v;
      wysum += (w[i] * w[j]) * v;
      wyysum += (w[i] * w[j]) * vv;
      row += w[j] * v;
      row2 += w[j] * vv;
      lane_store(rowwy + j * kLanes, lane_load(rowwy + j * kLanes) + w[i] * v);
      lane_store(rowwyy + j * kLanes, lane_load(rowwyy + j * kLanes) + w[i] * vv);
    }
    lane_store(rowwy + i * kLanes, row);
    lane_store(rowwyy + i * kLanes, row2);
  }
  const v8d my = wysum / WSPLAT(side.wsum);
  syy = WSPLAT(0.0);
  y = lanes;
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = i + 1; j <= n; ++j, y += kLanes) {
      const v8d dy = lane_load(y) - my;
      syy += (w[i] * w[j]) * (dy * dy);
    }
}

VORN_ISA_CLONES(void, group_pass, (Group & g, const double* w, int32_t n, const double* lanes),
                { group_pass_body(g, w, n, lanes); })
VORN_ISA_CLONES(void, lane_sums,
                (const WeightedSide& side, const double* lanes, double* rowwy, v8d& wysum, v8d& wyysum, v8d& syy),
                { lane_sums_body(side, lanes, rowwy, wysum, wyysum, syy); })

}  // namespace

void weighted_random_passes(const Columns& cols, bool spearman, const WeightedSide& side, const WeightedRandom& a,
                            Log& log) {
  const int32_t n = cols.nprot, alnlen = cols.alnlen;
  // Columns of the same kind in groups (gapped ones need the sums of their
// usable pairs).
  std::vector<std::vector<int32_t>> groups;
  for (bool gapped : {false, true}) {
    std::vector<int32_t> g;
    for (int32_t pos = 1; pos <= alnlen; ++pos) {
      if (!cols.scored(pos) || a.icorr[pos] < -1.0f || (cols.gaps(pos).n > 0) != gapped) continue;
      g.push_back(pos);
      if (static_cast<int>(g.size()) == kGroup) groups.push_back(g), g.clear();
    }
    if (!g.empty()) groups.push_back(g);
  }
  if (spearman) {
    // The similarities by ascending value with their pairs' ends.
    const int32_t n1 = n;
#pragma omp parallel for schedule(static)
    for (int64_t t = 0; t < side.npairs; ++t) {
      const int64_t q = a.order[t];
      a.sorted[t] = a.v[q];
      int32_t lo = 1, hi = n1 - 1;  // the row u of pair q: the last u with pair_index(u, u + 1) <= q
      while (lo < hi) {
        const int32_t mid = (lo + hi + 1) / 2;
        if (pair_index(mid, mid + 1, n1) <= q) lo = mid; else hi = mid - 1;
      }
      a.ends[2 * t] = lo;
      a.ends[2 * t + 1] = static_cast<int32_t>(lo + (q - pair_index(lo, lo + 1, n1)) + 1);
    }
  }
  double* rowwy = a.lane_rowwy;
  for (int64_t s0 = 1; s0 <= a.nsuffl; s0 += kLanes) {
    const int nl = static_cast<int>(std::min<int64_t>(kLanes, a.nsuffl - s0 + 1));
#pragma omp parallel for schedule(static, 1)
    for (int l = 0; l < kLanes; ++l) fill_lane(side, a, spearman, a.sufix[s0 + (l < nl ? l : 0)], l);
    v8d wysum, wyysum, syy_all;
    VORN_ISA_CALL(lane_sums, side, a.lanes, rowwy, wysum, wyysum, syy_all);
    const double* rowwyy = rowwy + static_cast<int64_t>(n + 2) * kLanes;
#pragma omp parallel for schedule(dynamic, 1)
    for (size_t gi = 0; gi < groups.size(); ++gi) {
      const std::vector<int32_t>& cs = groups[gi];
      const bool gapped = cols.gaps(cs[0]).n > 0;
      Group g;
      for (int c = 0; c < kGroup; ++c) {
        const int32_t pos = cs[c < static_cast<int>(cs.size()) ? c : 0];
        const WeightedStat& st = a.stat[pos];
        const GapList gaps = cols.gaps(pos);
        g.codes[c] = cols.column(pos);
        g.d[c] = st.d;
        // W y and W y^2 over the usable pairs: all pairs less those of the
        // gapped proteins (the pairs of two gapped ones were taken twice).
        v8d sum = wysum, sum2 = wyysum;
        for (int32_t x = 0; x < gaps.n; ++x) {
          const int32_t p = gaps.p[x];
          sum -= side.w[p] * lane_load(rowwy + p * kLanes);
          sum2 -= side.w[p] * lane_load(rowwyy + p * kLanes);
          for (int32_t z = x + 1; z < gaps.n; ++z) {
            const v8d v = lane_load(a.lanes + (pair_index(p, gaps.p[z], n) - 1) * kLanes);
            sum += (side.w[p] * side.w[gaps.p[z]]) * v;
            sum2 += (side.w[p] * side.w[gaps.p[z]]) * (v * v);
          }
        }
        g.my[c] = sum / WSPLAT(st.wsum);
        g.syy[c] = sum2;
      }
      VORN_ISA_CALL(group_pass, g, side.w, n, a.lanes);
      for (int c = 0; c < static_cast<int>(cs.size()); ++c) {
        const int32_t pos = cs[c];
        const WeightedStat& st = a.stat[pos];
        for (int l = 0; l < nl; ++l) {
          const double syy = gapped ? g.syy[c][l] - g.my[c][l] * g.my[c][l] * st.wsum : syy_all[l];
          const bool flat = gapped ? !(syy > 1e-12 * g.syy[c][l]) && lane_flat(g.codes[c], n, a.lanes, l) : side.y_flat;
          const double r = weighted_score(g.sxy[c][l], st.sxx, flat ? 0.0 : syy, st.n, false, flat);
          a.rndcorr[pos][s0 + l] = static_cast<float>(r);
          if (a.exact) a.exact[(pos - 1) * a.nsuffl + s0 + l - 1] = r;
        }
      }
    }
    for (int l = 0; l < nl; ++l)
      for (int32_t pos = 1; pos <= alnlen; ++pos)
        log.progress("> Scores for random alns... Pos:%4d/%d  Rnd. aln:%4lld/%lld       \r", pos, alnlen,
                     static_cast<long long>(s0 + l), static_cast<long long>(a.nsuffl));
  }
}

}  // namespace vorn
