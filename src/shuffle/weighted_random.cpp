#include "shuffle/weighted_random.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "input/residue.hpp"
#include "isa.hpp"
#include "shuffle/lane_vectors.hpp"
#include "scoring/similarity.hpp"

// Lane vectors are returned from always-inlined helpers only, never across a call.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace vorn {

namespace {

constexpr int kGroup = 4;   // columns that share one read of the lanes

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
  for (int c = 0; c < kGroup; ++c) axy[c] = splat(0.0);
  lane_walk<kGroup>(
      g.codes, n, g.d, lanes, false,
      [&](int32_t i, int32_t j) __attribute__((always_inline)) { return w[i + 1] * w[j + 1]; },
      [&](int c, double dx, double, const v8d& y, double pw) __attribute__((always_inline)) { axy[c] += (pw * dx) * y; });
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
  for (int32_t p = 0; p <= n; ++p) lane_store(rowwy + p * kLanes, splat(0.0)), lane_store(rowwyy + p * kLanes, splat(0.0));
  wysum = wyysum = splat(0.0);
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
  const v8d my = wysum / splat(side.wsum);
  syy = splat(0.0);
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
      if (log.stopping()) continue;  // checkpoint() below ends the run
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
        usable_from_totals(
            gaps,
            [&](int32_t p) {
              sum -= side.w[p] * lane_load(rowwy + p * kLanes);
              sum2 -= side.w[p] * lane_load(rowwyy + p * kLanes);
            },
            [&](int32_t p, int32_t q) {
              const v8d v = lane_load(a.lanes + (pair_index(p, q, n) - 1) * kLanes);
              sum += (side.w[p] * side.w[q]) * v;
              sum2 += (side.w[p] * side.w[q]) * (v * v);
            });
        g.my[c] = sum / splat(st.wsum);
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
    log.checkpoint();
    log.meter(Log::kRandom, s0 + nl - 1, a.nsuffl);
    for (int l = 0; l < nl; ++l)
      for (int32_t pos = 1; pos <= alnlen; ++pos)
        log.progress("> Scores for random alns... Pos:%4d/%d  Rnd. aln:%4lld/%lld       \r", pos, alnlen,
                     static_cast<long long>(s0 + l), static_cast<long long>(a.nsuffl));
  }
}

}  // namespace vorn
