#include "shuffle/lanes.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "input/residue.hpp"
#include "isa.hpp"
#include "scoring/exact.hpp"
#include "scoring/similarity.hpp"

// Lane vectors are returned from always-inlined helpers only, never across a call.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace vorn {

namespace {

static_assert(kLanes == 8);
constexpr int C = kColumnsPerRead;

// Each lane carries one permutation and its own accumulation in pair order:
//   sxy += d(a,b) * (y - my)      and, in gapped columns,
//   syy += usable(a,b) * (y - my)^2
// Gapped pairs have d = 0 and usable = 0: their terms add exactly nothing.
// kColumnsPerRead columns go against one tile, the tile read once for all
// of them, each with its own sums, which carry on from the tiles before.
// Rows where every column has a gap at i are skipped (their terms are
// zeros); in the others, the row's d and usable entries of the columns are
// copied side by side first, so that the walk along the row reads each
// column's at a fixed offset from one place, with the codes of a protein
// for all columns in one place too (codes8, protein-major).
constexpr int kRowCells = 24;  // a row of a column's 21 x 21 tables, padded
template <bool Gapped>
inline __attribute__((always_inline)) void group_body(const uint8_t* codes8, int32_t nprot, int32_t row_begin,
                                                      int32_t row_end, int64_t first, const double* const* d,
                                                      const double* lanes, const double (*my_in)[kLanes],
                                                      double (*sxy)[kLanes], double (*syy)[kLanes]) {
  v8d axy[C], ayy[C], my[C];
  for (int c = 0; c < C; ++c) axy[c] = lane_load(sxy[c]), ayy[c] = lane_load(syy[c]), my[c] = lane_load(my_in[c]);
  alignas(64) double rd[C][kRowCells], ru[C][kRowCells];
  for (PairRows r(nprot, row_begin, first); r && r.i < row_end; ++r) {
    const int32_t i = r.i, len = r.len();
    const uint8_t* ci = codes8 + static_cast<int64_t>(i) * C;
    bool any = false;
    for (int c = 0; c < C; ++c) {
      const int a = ci[c];
      any = any || a != 0;
      std::memcpy(rd[c], d[c] + a * kCodes, sizeof(double) * kCodes);
      if constexpr (Gapped) std::memcpy(ru[c], kUsablePair.data() + a * kCodes, sizeof(double) * kCodes);
    }
    if (!any) continue;
    const double* yrow = lanes + (r.start - first) * kLanes;  // the pairs of protein i
    const uint8_t* cj = ci + C;
    for (int32_t t = 0; t < len; ++t, cj += C) {
      const v8d y = lane_load(yrow + static_cast<int64_t>(t) * kLanes);
      for (int c = 0; c < C; ++c) {
        const int b = cj[c];
        const v8d dy = y - my[c];
        axy[c] += rd[c][b] * dy;
        if constexpr (Gapped) ayy[c] += ru[c][b] * (dy * dy);
      }
    }
  }
  for (int c = 0; c < C; ++c) lane_store(sxy[c], axy[c]), lane_store(syy[c], ayy[c]);
}

#define VORN_GROUP_PARAMS                                                                                           \
  (const uint8_t* codes, int32_t nprot, int32_t row_begin, int32_t row_end, int64_t first,                  \
   const double* const* d, const double* lanes, const double(*my)[kLanes], double(*sxy)[kLanes], double(*syy)[kLanes])
VORN_ISA_CLONES(void, group_pass_plain, VORN_GROUP_PARAMS,
                { group_body<false>(codes, nprot, row_begin, row_end, first, d, lanes, my, sxy, syy); })
VORN_ISA_CLONES(void, group_pass_gapped, VORN_GROUP_PARAMS,
                { group_body<true>(codes, nprot, row_begin, row_end, first, d, lanes, my, sxy, syy); })
#undef VORN_GROUP_PARAMS

// Per lane, for each column of a group, the sum of y over the usable pairs
// of the tile, in pair order, carried on in sy (usable(a,b) * y adds exact
// zeros for the other pairs), the row's usable entries side by side as in
// group_body.
inline __attribute__((always_inline)) void usable_body(const uint8_t* codes8, int32_t nprot, int32_t row_begin,
                                                       int32_t row_end, int64_t first, const double* lanes,
                                                       double (*sy)[kLanes]) {
  v8d ay[C];
  for (int c = 0; c < C; ++c) ay[c] = lane_load(sy[c]);
  alignas(64) double ru[C][kRowCells];
  for (PairRows r(nprot, row_begin, first); r && r.i < row_end; ++r) {
    const int32_t i = r.i, len = r.len();
    const uint8_t* ci = codes8 + static_cast<int64_t>(i) * C;
    bool any = false;
    for (int c = 0; c < C; ++c) {
      any = any || ci[c] != 0;
      std::memcpy(ru[c], kUsablePair.data() + ci[c] * kCodes, sizeof(double) * kCodes);
    }
    if (!any) continue;
    const double* yrow = lanes + (r.start - first) * kLanes;
    const uint8_t* cj = ci + C;
    for (int32_t t = 0; t < len; ++t, cj += C) {
      const v8d y = lane_load(yrow + static_cast<int64_t>(t) * kLanes);
      for (int c = 0; c < C; ++c) ay[c] += ru[c][cj[c]] * y;
    }
  }
  for (int c = 0; c < C; ++c) lane_store(sy[c], ay[c]);
}

// The tile's pairs added to s in pair order (y - my)^2 when my is given, y
// otherwise.
inline __attribute__((always_inline)) void total_body(const double* lanes, int64_t pairs, const double* my_in,
                                                      double* s_io) {
  v8d s = lane_load(s_io);
  if (my_in) {
    const v8d my = lane_load(my_in);
    for (int64_t k = 0; k < pairs; ++k) {
      const v8d dy = lane_load(lanes + k * kLanes) - my;
      s += dy * dy;
    }
  } else {
    for (int64_t k = 0; k < pairs; ++k) s += lane_load(lanes + k * kLanes);
  }
  lane_store(s_io, s);
}

VORN_ISA_CLONES(void, group_usable,
                (const uint8_t* codes, int32_t nprot, int32_t row_begin, int32_t row_end, int64_t first,
                 const double* lanes, double (*sy)[kLanes]),
                { usable_body(codes, nprot, row_begin, row_end, first, lanes, sy); })
VORN_ISA_CLONES(void, tile_total, (const double* lanes, int64_t pairs, const double* my_in, double* s_io),
                { total_body(lanes, pairs, my_in, s_io); })

// The tile's pairs under each lane's permutation into lanes: lane l of pair
// (i, j) is y of (perm_l[i], perm_l[j]).
void fill_lanes(int32_t n, const float* ysq, const int32_t* const* perms, const LaneTile& tile, double* lanes) {
  const float* row[kLanes];
  fill_tile(
      n, tile, lanes,
      [&](int32_t i) {
        for (int l = 0; l < kLanes; ++l) row[l] = ysq + static_cast<int64_t>(perms[l][i] - 1) * n - 1;
      },
      [&](int32_t, int32_t j, double* out) {
        for (int l = 0; l < kLanes; ++l) out[l] = row[l][perms[l][j]];
      });
}

void lane_perms(const LaneBlock& block, const int32_t** perms) {
  for (int l = 0; l < kLanes; ++l) perms[l] = block.perms[l < block.nl ? l : 0];
}

}  // namespace

// Kept whole: the direct and the neighbour's sums are one choice per column.
void gapped_pair_sums(const GapList* gaps, int nc, const int32_t* perm, const float* ysq, int32_t n, int q,
                      int64_t* out) {
  auto y = [&](int32_t a, int32_t b) {
    return scaled(ysq[static_cast<int64_t>(perm[a] - 1) * n + (perm[b] - 1)], q);
  };
  // In double: the values of a subset of the pairs, multiples of 2^q whose
  // magnitudes sum below 2^53 * 2^q (the side is exact), sum exactly in any
  // order. The row's next entries are asked for ahead: they are scattered
  // over the square, which does not stay in cache.
  auto direct = [&](GapList g) {
    double s = 0;
    for (int32_t i = 0; i < g.n; ++i) {
      const float* row = ysq + static_cast<int64_t>(perm[g.p[i]] - 1) * n - 1;
      for (int32_t j = i + 1; j < g.n; ++j) {
        if (j + 12 < g.n) __builtin_prefetch(row + perm[g.p[j + 12]]);
        s += row[perm[g.p[j]]];
      }
    }
    return static_cast<int64_t>(std::ldexp(s, -q));
  };
  // The proteins of from that are not in to (both ascending), each with
  // every other protein of from: sum of y with the others, and of y with
  // the later ones that are not in to either.
  auto leaving = [&](GapList from, GapList to, int64_t& with_all, int64_t& among) {
    with_all = among = 0;
    for (int32_t i = 0, t = 0; i < from.n; ++i) {
      while (t < to.n && to.p[t] < from.p[i]) ++t;
      if (t < to.n && to.p[t] == from.p[i]) continue;
      for (int32_t j = 0, u = 0; j < from.n; ++j) {
        if (j == i) continue;
        const int64_t v = y(from.p[i], from.p[j]);
        with_all += v;
        if (j < i) continue;
        while (u < to.n && to.p[u] < from.p[j]) ++u;
        if (!(u < to.n && to.p[u] == from.p[j])) among += v;
      }
    }
  };
  for (int c = 0; c < nc; ++c) {
    const GapList cur = gaps[c];
    if (c > 0) {
      // From the column before: its pairs less those of the proteins that
      // left (the pairs of two that left were taken away twice), plus those
      // of the proteins that came (likewise), when that touches fewer pairs.
      const GapList prev = gaps[c - 1];
      int32_t same = 0;
      for (int32_t i = 0, t = 0; i < prev.n; ++i) {
        while (t < cur.n && cur.p[t] < prev.p[i]) ++t;
        same += t < cur.n && cur.p[t] == prev.p[i];
      }
      const int64_t changed = static_cast<int64_t>(prev.n - same) * prev.n + static_cast<int64_t>(cur.n - same) * cur.n;
      if (changed < static_cast<int64_t>(cur.n) * cur.n / 2) {
        int64_t left_all, left_among, came_all, came_among;
        leaving(prev, cur, left_all, left_among);
        leaving(cur, prev, came_all, came_among);
        out[c] = out[c - 1] - left_all + left_among + came_all - came_among;
        continue;
      }
    }
    out[c] = direct(cur);
  }
}

void lane_group_codes(const Columns& cols, const int32_t* active, int32_t nactive, uint8_t* codes8) {
  const int32_t n = cols.nprot;
#pragma omp parallel for schedule(static)
  for (int32_t g = 0; g < lane_groups(nactive); ++g) {
    const int nc = std::min<int32_t>(C, nactive - g * C);
    uint8_t* out = codes8 + static_cast<int64_t>(g) * n * C;
    for (int c = 0; c < C; ++c) {
      const uint8_t* col = cols.column(active[g * C + (c < nc ? c : 0)]);
      for (int32_t p = 0; p < n; ++p) out[static_cast<int64_t>(p) * C + c] = col[p];
    }
  }
}

// Kept whole: the two walks share each group's running sums, in the order that fixes their rounding.
void block_sums(const Columns& cols, const int32_t* active, int32_t nactive, int32_t g0, int32_t g1,
                const uint8_t* codes8, const ColumnStat* colstat, const SimilaritySide& side, const float* ysq,
                LaneBlock& block, int64_t tile_pairs, double* lanes, LaneGroup* groups, const Log& log) {
  const int32_t n = side.nprot;
  const int32_t* perms[kLanes];
  lane_perms(block, perms);
  bool usable_pass = false;
  for (int32_t g = g0; g < g1; ++g) {
    LaneGroup& G = groups[g];
    G.nc = std::min<int32_t>(C, nactive - g * C);
    G.gapped = false;
    G.pairs = 0;
    for (int c = 0; c < C; ++c) {
      const int32_t p = G.pos[c] = active[g * C + (c < G.nc ? c : 0)];
      const GapList gaps = cols.gaps(p);
      G.gapped = G.gapped || gaps.n > 0;
      G.usable_pass[c] = gaps.n > 0 && !side.exact;
      usable_pass = usable_pass || G.usable_pass[c];
      for (int l = 0; l < kLanes; ++l) G.sxy[c][l] = G.syy[c][l] = G.sy[c][l] = G.usum[c][l] = 0;
    }
    // Exact: all pairs less those of each gapped protein, plus the pairs of
    // two gapped ones (taken away twice), lane by lane, each column's
    // gapped pairs from its neighbour's (which shares most of them).
    if (side.exact && G.gapped) {
      GapList gaps[C];
      for (int c = 0; c < C; ++c) gaps[c] = cols.gaps(G.pos[c]);
      for (int l = 0; l < kLanes; ++l) {
        int64_t both[C];
        gapped_pair_sums(gaps, C, perms[l], ysq, n, side.q, both);
        for (int c = 0; c < C; ++c) {
          if (gaps[c].n == 0) continue;
          int64_t sum = side.total + both[c];
          for (int32_t k = 0; k < gaps[c].n; ++k) sum -= side.rowsum[perms[l][gaps[c].p[k]]];
          G.sy[c][l] = unscaled(sum, side.q);
        }
      }
    }
  }
  // The sums over all pairs: exact from the total when every partial sum is
  // (a zero total is left to the pass, which keeps its sign).
  double sy_all[kLanes] = {}, syy_all[kLanes] = {};
  const bool total_exact = side.exact && side.total != 0;
  if (total_exact)
    for (int l = 0; l < kLanes; ++l) sy_all[l] = unscaled(side.total, side.q);
  auto fill = [&](const LaneTile& t) { fill_lanes(n, ysq, perms, t, lanes); };
  auto codes_of = [&](int32_t g) { return codes8 + static_cast<int64_t>(g) * n * C; };
  // First walk, where the sums some means need do not come from totals.
  if (!total_exact || usable_pass) {
    walk_tiles(n, tile_pairs, log, fill, [&](const LaneTile& t) {
      if (!total_exact) VORN_ISA_CALL(tile_total, lanes, t.pairs, nullptr, sy_all);
      for (int32_t g = g0; g < g1; ++g) {
        const LaneGroup& G = groups[g];
        if (std::find(G.usable_pass, G.usable_pass + G.nc, true) != G.usable_pass + G.nc)
          VORN_ISA_CALL(group_usable, codes_of(g), n, t.row_begin, t.row_end, t.first, lanes, groups[g].usum);
      }
    });
    for (int32_t g = g0; g < g1; ++g)
      for (int c = 0; c < groups[g].nc; ++c)
        if (groups[g].usable_pass[c]) std::copy(groups[g].usum[c], groups[g].usum[c] + kLanes, groups[g].sy[c]);
  }
  double my_all[kLanes];
  for (int l = 0; l < kLanes; ++l) my_all[l] = sy_all[l] / static_cast<double>(side.npairs);
  for (int32_t g = g0; g < g1; ++g) {
    LaneGroup& G = groups[g];
    for (int c = 0; c < C; ++c) {
      const bool plain = cols.gaps(G.pos[c]).n == 0;
      const double usable = static_cast<double>(colstat[G.pos[c]].n);
      for (int l = 0; l < kLanes; ++l) {
        if (plain) G.sy[c][l] = sy_all[l];
        G.my[c][l] = G.sy[c][l] / usable;
      }
    }
  }
  // The walk of the sums.
  walk_tiles(n, tile_pairs, log, fill, [&](const LaneTile& t) {
    VORN_ISA_CALL(tile_total, lanes, t.pairs, my_all, syy_all);
    for (int32_t g = g0; g < g1; ++g) {
      LaneGroup& G = groups[g];
      const double* d[C];
      for (int c = 0; c < C; ++c) d[c] = colstat[G.pos[c]].d;
      if (G.gapped) {
        VORN_ISA_CALL(group_pass_gapped, codes_of(g), n, t.row_begin, t.row_end, t.first, d, lanes, G.my, G.sxy, G.syy);
      } else {
        VORN_ISA_CALL(group_pass_plain, codes_of(g), n, t.row_begin, t.row_end, t.first, d, lanes, G.my, G.sxy, G.syy);
      }
      G.pairs += t.pairs;
    }
  });
  for (int l = 0; l < kLanes; ++l) block.sy_all[l] = sy_all[l], block.syy_all[l] = syy_all[l];
}

CorrelationSums lane_sums(const LaneGroup& g, int c, int l, const LaneBlock& block, const ColumnStat* colstat,
                          const Columns& cols) {
  const ColumnStat& st = colstat[g.pos[c]];
  const bool plain = cols.gaps(g.pos[c]).n == 0;
  CorrelationSums s;
  s.sx = 0;
  s.sy = plain ? block.sy_all[l] : g.sy[c][l];
  s.sxy = g.sxy[c][l];
  s.sxx = st.sxx;
  s.syy = plain ? block.syy_all[l] : g.syy[c][l];
  s.n = st.n;
  return s;
}

}  // namespace vorn
