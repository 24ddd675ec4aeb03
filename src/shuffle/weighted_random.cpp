#include "shuffle/weighted_random.hpp"

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "input/residue.hpp"
#include "isa.hpp"
#include "shuffle/lane_vectors.hpp"
#include "shuffle/tiles.hpp"
#include "scoring/similarity.hpp"

// Lane vectors are returned from always-inlined helpers only, never across a call.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace vorn {

namespace {

constexpr int kGroup = 4;  // columns that share one read of the lanes

// C columns against a block of permutations, the lanes read once for all of
// them: for every pair (i, j) of rows row_begin .. row_end - 1 in pair order
// (proteins from 0), whose first pair (pair first, 0-based) has its lanes at
// lanes[0]: p = pair(i, j) once, then for every column c visit(c, dx, y, p),
// with y the pair's eight lane values and dx = d[c][a * kCodes + b] for the
// codes a, b of the two proteins in column c.
template <int C, class Pair, class Visit>
inline __attribute__((always_inline)) void lane_walk_rows(const uint8_t* const* codes, int32_t n, int32_t row_begin,
                                                          int32_t row_end, int64_t first, const double* const* d,
                                                          const double* lanes, Pair pair, Visit visit) {
  for (PairRows r(n, row_begin, first); r && r.i < row_end; ++r) {
    const int32_t i = r.i, len = r.len();
    const double* yrow = lanes + (r.start - first) * kLanes;  // the pairs of protein i
    const double* drow[C];
    const uint8_t* cj[C];
    for (int c = 0; c < C; ++c) {
      drow[c] = d[c] + codes[c][i] * kCodes;
      cj[c] = codes[c] + i + 1;
    }
    for (int32_t t = 0; t < len; ++t) {
      const auto p = pair(i, i + 1 + t);
      const v8d y = lane_load(yrow + static_cast<int64_t>(t) * kLanes);
      for (int c = 0; c < C; ++c) visit(c, drow[c][cj[c][t]], y, p);
    }
  }
}

// What a group of columns needs in the lane pass, and its sums so far
// (plain arrays: a vector of these need not be 64-byte aligned).
struct Group {
  const uint8_t* codes[kGroup];
  const double* d[kGroup];
  double my[kGroup][kLanes];  // the lanes' means
  double sxy[kGroup][kLanes], syy[kGroup][kLanes];
};

// The y' of a block: lane l of pair (i, j) (proteins from 1) is the y of the
// pair whose data (i, j) takes under permutation l, with the weights staying
// with the rows: for ranks, the group of that pair's similarity ranked by
// the lane's own weights.
struct BlockY {
  const WeightedSide* side = nullptr;
  const int32_t* perms[kLanes] = {};
  const double* rank[kLanes] = {};  // Spearman: each lane's group ranks; null: y' are the values
  double at(int l, int32_t i, int32_t j) const {
    const int32_t a = perms[l][i], b = perms[l][j];
    const int64_t q = a < b ? pair_index(a, b, side->nprot) : pair_index(b, a, side->nprot);
    return rank[l] ? rank[l][side->group[q]] : static_cast<double>(side->v[q]);
  }
};

// The weighted mid-ranks of the similarity groups under one permutation:
// each pair (u, v) weighs as the proteins that take u's and v's data, and a
// group's weight is summed in pair order (its pairs by ascending similarity,
// then index, as without the permutation).
void lane_ranks(const WeightedSide& side, const int32_t* inverse, double* r) {
  const int32_t n = side.nprot;
  std::fill(r, r + side.ngroups, 0.0);
  int64_t k = 0;
  for (int32_t u = 1; u <= n; ++u) {
    const double wu = side.w[inverse[u]];
    for (int32_t v = u + 1; v <= n; ++v) r[side.group[++k]] += wu * side.w[inverse[v]];
  }
  double below = 0;
  for (int64_t g = 0; g < side.ngroups; ++g) {
    const double weight = r[g];
    r[g] = below + weight / 2;
    below += weight;
  }
}

// The tile's y' into lanes.
void fill_lanes(const BlockY& y, int32_t n, const LaneTile& tile, double* lanes) {
  fill_tile(
      n, tile, lanes, [](int32_t) {},
      [&](int32_t i, int32_t j, double* out) {
        for (int l = 0; l < kLanes; ++l) out[l] = y.at(l, i, j);
      });
}

// Over the tile's pairs in pair order, for every column of the group and
// every lane, carried on from the tiles before: sxy += W d(a,b) y (the
// weighted mean of d over the usable pairs is 0, so my drops out; d is 0 for
// gapped pairs). syy comes from row totals.
inline __attribute__((always_inline)) void group_tile_body(Group& g, const double* w, int32_t n, const LaneTile& t,
                                                           const double* lanes) {
  v8d axy[kGroup];
  for (int c = 0; c < kGroup; ++c) axy[c] = lane_load(g.sxy[c]);
  lane_walk_rows<kGroup>(
      g.codes, n, t.row_begin, t.row_end, t.first, g.d, lanes,
      [&](int32_t i, int32_t j) __attribute__((always_inline)) { return w[i + 1] * w[j + 1]; },
      [&](int c, double dx, const v8d& y, double pw) __attribute__((always_inline)) { axy[c] += (pw * dx) * y; });
  for (int c = 0; c < kGroup; ++c) lane_store(g.sxy[c], axy[c]);
}

// Per lane over the tile's pairs, carried on: W y and W y^2, and each
// protein's w_other y and w_other y^2 (rowwy, then rowwyy (n + 2) x 8
// further on).
inline __attribute__((always_inline)) void tile_sums_body(const double* w, int32_t n, const LaneTile& t,
                                                          const double* lanes, double* rowwy, v8d& wysum,
                                                          v8d& wyysum) {
  double* rowwyy = rowwy + static_cast<int64_t>(n + 2) * kLanes;
  const double* y = lanes;
  for (int32_t i = t.row_begin + 1; i <= t.row_end; ++i) {
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
}

// W (y - my)^2 over the tile's pairs, carried on.
inline __attribute__((always_inline)) void tile_syy_body(const double* w, int32_t n, const LaneTile& t,
                                                         const double* lanes, const v8d& my, v8d& syy) {
  const double* y = lanes;
  for (int32_t i = t.row_begin + 1; i <= t.row_end; ++i)
    for (int32_t j = i + 1; j <= n; ++j, y += kLanes) {
      const v8d dy = lane_load(y) - my;
      syy += (w[i] * w[j]) * (dy * dy);
    }
}

VORN_ISA_CLONES(void, group_tile, (Group & g, const double* w, int32_t n, const LaneTile& t, const double* lanes),
                { group_tile_body(g, w, n, t, lanes); })
VORN_ISA_CLONES(void, tile_sums,
                (const double* w, int32_t n, const LaneTile& t, const double* lanes, double* rowwy, v8d& wysum,
                 v8d& wyysum),
                { tile_sums_body(w, n, t, lanes, rowwy, wysum, wyysum); })
VORN_ISA_CLONES(void, tile_syy,
                (const double* w, int32_t n, const LaneTile& t, const double* lanes, const v8d& my, v8d& syy),
                { tile_syy_body(w, n, t, lanes, my, syy); })

// Whether the usable y of lane l agree: asked only when the spread is at the
// level of rounding, where the sums cannot tell.
bool lane_flat(const uint8_t* codes, int32_t n, const BlockY& y, int l) {
  bool have = false;
  double first = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (codes[i] == 0) continue;
    for (int32_t j = i + 1; j < n; ++j) {
      if (codes[j] == 0) continue;
      const double v = y.at(l, i + 1, j + 1);
      if (have && v != first) return false;
      first = v, have = true;
    }
  }
  return true;
}

}  // namespace

namespace {

// One block of eight permutations, whole, on the calling thread: its
// permutations' group ranks, the first walk (the sums over all pairs and the
// column groups' sums), the gapped columns' usable sums from the totals, the
// second walk for the spread over all pairs, and the scores. Scratch of its
// own: lanes, the ranks (rank), the row sums (rowwy), the inverse
// permutations and the groups' sums (gs).
// Kept whole: its five steps hand each other the block's sums, in the order that fixes their rounding.
void weighted_block(const Columns& cols, bool spearman, const WeightedSide& side, const WeightedRandom& a,
                    const std::vector<std::vector<int32_t>>& groups, int64_t s0, double* lanes, double* rank,
                    double* rowwy, int32_t* inverse, std::vector<Group>& gs, const Log& log) {
  const int32_t n = cols.nprot;
  const int64_t ngroups = static_cast<int64_t>(groups.size());
  const double* rowwyy = rowwy + static_cast<int64_t>(n + 2) * kLanes;
  const int nl = static_cast<int>(std::min<int64_t>(kLanes, a.nsuffl - s0 + 1));
  BlockY y;
  y.side = &side;
  for (int l = 0; l < kLanes; ++l) {
    y.perms[l] = a.sufix[s0 + (l < nl ? l : 0)];
    y.rank[l] = spearman ? rank + static_cast<int64_t>(l < nl ? l : 0) * side.ngroups : nullptr;
  }
  if (spearman) {
    for (int l = 0; l < nl; ++l) {
      int32_t* inv = inverse + static_cast<int64_t>(l) * (n + 2);
      for (int32_t p = 1; p <= n; ++p) inv[y.perms[l][p]] = p;
      lane_ranks(side, inv, rank + static_cast<int64_t>(l) * side.ngroups);
    }
  }
  for (int64_t gi = 0; gi < ngroups; ++gi) {
    const std::vector<int32_t>& cs = groups[gi];
    for (int c = 0; c < kGroup; ++c) {
      const int32_t pos = cs[c < static_cast<int>(cs.size()) ? c : 0];
      gs[gi].codes[c] = cols.column(pos);
      gs[gi].d[c] = a.stat[pos].d;
      lane_store(gs[gi].sxy[c], splat(0.0));
    }
  }
  for (int32_t p = 0; p <= n; ++p)
    lane_store(rowwy + p * kLanes, splat(0.0)), lane_store(rowwy + (n + 2 + p) * kLanes, splat(0.0));
  v8d wysum = splat(0.0), wyysum = splat(0.0), syy_all = splat(0.0);
  auto fill = [&](const LaneTile& t) { fill_lanes(y, n, t, lanes); };
  walk_tiles(n, a.tile_pairs, log, fill, [&](const LaneTile& t) {
    VORN_ISA_CALL(tile_sums, side.w, n, t, lanes, rowwy, wysum, wyysum);
    for (int64_t gi = 0; gi < ngroups; ++gi) VORN_ISA_CALL(group_tile, gs[gi], side.w, n, t, lanes);
  });
  // The means and spreads of the gapped columns' usable pairs.
  const v8d my_all = wysum / splat(side.wsum);
  bool plain = false;
  for (int64_t gi = 0; gi < ngroups; ++gi) {
    const std::vector<int32_t>& cs = groups[gi];
    Group& g = gs[gi];
    plain = plain || cols.gaps(cs[0]).n == 0;
    for (int c = 0; c < kGroup; ++c) {
      const int32_t pos = cs[c < static_cast<int>(cs.size()) ? c : 0];
      const WeightedStat& st = a.stat[pos];
      // W y and W y^2 over the usable pairs: all pairs less those of the
      // gapped proteins (the pairs of two gapped ones were taken twice).
      v8d sum = wysum, sum2 = wyysum;
      usable_from_totals(
          cols.gaps(pos),
          [&](int32_t p) {
            sum -= side.w[p] * lane_load(rowwy + p * kLanes);
            sum2 -= side.w[p] * lane_load(rowwyy + p * kLanes);
          },
          [&](int32_t p, int32_t q) {
            v8d v;
            for (int l = 0; l < kLanes; ++l) v[l] = y.at(l, p, q);
            sum += (side.w[p] * side.w[q]) * v;
            sum2 += (side.w[p] * side.w[q]) * (v * v);
          });
      lane_store(g.my[c], sum / splat(st.wsum));
      lane_store(g.syy[c], sum2);
    }
  }
  // The second walk, for the columns without gaps: the spread over all pairs.
  if (plain)
    walk_tiles(n, a.tile_pairs, log, fill,
               [&](const LaneTile& t) { VORN_ISA_CALL(tile_syy, side.w, n, t, lanes, my_all, syy_all); });
  if (log.stopping()) return;
  for (int64_t gi = 0; gi < ngroups; ++gi) {
    const std::vector<int32_t>& cs = groups[gi];
    const Group& g = gs[gi];
    const bool gapped = cols.gaps(cs[0]).n > 0;
    for (int c = 0; c < static_cast<int>(cs.size()); ++c) {
      const int32_t pos = cs[c];
      const WeightedStat& st = a.stat[pos];
      for (int l = 0; l < nl; ++l) {
        const double syy = gapped ? g.syy[c][l] - g.my[c][l] * g.my[c][l] * st.wsum : syy_all[l];
        const bool flat = gapped ? !(syy > 1e-12 * g.syy[c][l]) && lane_flat(g.codes[c], n, y, l) : side.y_flat;
        const double r = weighted_score(g.sxy[c][l], st.sxx, flat ? 0.0 : syy, st.n, false, flat);
        a.rndcorr[pos][s0 + l] = static_cast<float>(r);
        if (a.exact) a.exact[(pos - 1) * a.nsuffl + s0 + l - 1] = r;
      }
    }
  }
}

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
  const int64_t nblocks = (a.nsuffl + kLanes - 1) / kLanes;
  std::vector<char> done(static_cast<size_t>(nblocks), 0);
  int64_t reported = 0;
  // The blocks shared among the threads, each walked whole by one: one
  // parallel region, no waiting inside it.
#pragma omp parallel num_threads(a.concurrent)
  {
    const int t = omp_get_thread_num();
    std::vector<Group> gs(groups.size());
#pragma omp for schedule(dynamic, 1)
    for (int64_t b = 0; b < nblocks; ++b) {
      if (log.stopping()) continue;
      weighted_block(cols, spearman, side, a, groups, 1 + b * kLanes, a.lanes + t * a.lane_stride,
                     a.lane_rank + t * a.rank_stride, a.lane_rowwy + t * 16 * static_cast<int64_t>(n + 2),
                     a.inverse + t * 8 * static_cast<int64_t>(n + 2), gs, log);
      // The progress of the blocks done, in block order.
#pragma omp critical(vorn_weighted_progress)
      {
        done[static_cast<size_t>(b)] = 1;
        for (; reported < nblocks && done[static_cast<size_t>(reported)]; ++reported) {
          const int64_t r0 = 1 + reported * kLanes, r1 = std::min(a.nsuffl, r0 + kLanes - 1);
          log.meter(Log::kRandom, r1, a.nsuffl);
          for (int64_t s = r0; s <= r1; ++s)
            for (int32_t pos = 1; pos <= alnlen; ++pos)
              log.progress("> Scores for random alns... Pos:%4d/%d  Rnd. aln:%4lld/%lld       \r", pos, alnlen,
                           static_cast<long long>(s), static_cast<long long>(a.nsuffl));
        }
      }
    }
  }
  log.checkpoint();
}

}  // namespace vorn
