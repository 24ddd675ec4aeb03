#include "plan.hpp"

#include <omp.h>

#include <limits>

#include "report/result_line.hpp"
#include "scoring/position.hpp"
#include "scoring/ranking.hpp"
#include "tree/joining.hpp"
#include "shuffle/lanes.hpp"
#include "shuffle/tiles.hpp"
#include "shuffle/weighted_random.hpp"

namespace vorn {

namespace {

// n + k for element counts, saturating instead of wrapping.
int64_t plus(int64_t n, int64_t k) {
  int64_t r;
  return __builtin_add_overflow(n, k, &r) ? std::numeric_limits<int64_t>::max() : r;
}
int64_t times(int64_t a, int64_t b) {
  int64_t r;
  return __builtin_mul_overflow(a, b, &r) ? std::numeric_limits<int64_t>::max() : r;
}

template <class T>
PlanItem single(int64_t step, int64_t count, Vec<T>& v) {
  return PlanItem{step, 0, count, sizeof(T), [&v, count](int64_t, void* mem) { v.adopt(mem, count); }};
}

// The pair vectors of the literal sort-and-rank scoring: kept in the plan
// (their step codes and their share of memory), never touched by the
// counting algorithms.
template <class T>
PlanItem reserved(int64_t step, int64_t count, Vec<T>& v) {
  PlanItem it = single(step, count, v);
  it.prefault = false;
  return it;
}

template <class T>
PlanItem table(int64_t step, int64_t count, Table<T>& t) {
  return PlanItem{step, 0, count, sizeof(T*), [&t, count](int64_t, void* mem) {
                    t.refs().adopt(mem, count);
                    for (int64_t i = 0; i < count; ++i) t.refs()[i] = nullptr;
                  }};
}

template <class T>
PlanItem rows(int64_t step, int64_t nrows, int64_t count, Table<T>& t) {
  return PlanItem{step, nrows, count, sizeof(T), [&t](int64_t r, void* mem) { t.refs()[r] = static_cast<T*>(mem); }};
}

}  // namespace

bool tree_joined_early(const Workspace& ws) { return ws.ntree > 0 && ws.nprot > kTreeNjProteins; }

PairBlock::Shape pair_shape(const Workspace& ws) {
  // Kept for the joining, or (-S) so that the square is not formed over them.
  const bool keep = ws.ntree > 0 && (!tree_joined_early(ws) || ws.nsuffl > 0);
  return PairBlock::Shape{ws.nprot, ws.npairs, ws.spearman, ws.nsuffl > 0, keep};
}

std::vector<PlanItem> plan_group1(Workspace& ws) {
  const int64_t np = ws.nprot, len = ws.alnlen, pairs = ws.npairs;
  return {
      table(-1, plus(np, 2), ws.aln),
      rows(0, np, plus(len, 2), ws.aln),
      single(-2, plus(len, 2), ws.var),
      single(-2, plus(len, 2), ws.acc),
      single(-2, plus(len, 2), ws.sec_str),
      single(-2, plus(len, 2), ws.entrop),
      single(-2, plus(len, 2), ws.pdbnum),
      single(-2, plus(len, 2), ws.chain),
      single(-2, plus(len, 2), ws.res1),
      reserved(1000, plus(pairs, 5), ws.corrlin1),
      reserved(1000, plus(pairs, 5), ws.corrlin1o),
      reserved(1100, plus(pairs, 5), ws.corrrank1),
      reserved(2000, plus(pairs, 5), ws.gaps1),
      single(500, plus(len, 2), ws.gapperc),
      single(3200, plus(np, 2), ws.pairs.identities),
      single(3000, PairBlock::block_floats(pair_shape(ws)), ws.pairs.block),
      single(3000, PairBlock::copy_floats(pair_shape(ws)), ws.pairs.copy),
      single(-3710, ws.spearman && pairs >= kRankValuesFrom ? plus(pairs, 5) / 64 + 1 : 1, ws.rankdone),
      single(-3700, pairs >= kRankValuesFrom ? rank_scratch_size(omp_get_max_threads()) : 1, ws.rankscratch),
      single(-3, plus(times(len, np), 1), ws.alncol),
      single(-3, plus(times(len, max_scored_gaps(np)), 1), ws.gaplist),
      single(-3, plus(len, 3), ws.gapstart),
      single(-3600, plus(len, kColumnLanes), ws.grouppos),
      single(-3600, plus(times(plus(len, kColumnLanes), np), 1), ws.groupcodes),
      single(-8100, ws.weighted ? plus(np, 2) : 1, ws.weights),
      // -8200: the weighted ranks, claimed with their size once the similarities are ranked.
      single(-8400, ws.weighted ? plus(np, 2) : 1, ws.rowwy),
  };
}

std::vector<PlanItem> plan_group2(Workspace& ws) {
  const int64_t np = ws.nprot, ns = ws.nsuffl;
  return {
      table(5000, plus(ns, 3), ws.sufix),
      single(-5000, plus(np, 3), ws.drawlist),
      rows(5000, ns, plus(np, 2), ws.sufix),
  };
}

std::vector<PlanItem> plan_group3(Workspace& ws) {
  const int64_t np = ws.nprot, len = ws.alnlen, ns = ws.nsuffl;
  std::vector<PlanItem> items = {
      single(6000, plus(len, 2), ws.icorr),
      table(7000, plus(len, 3), ws.rndcorr),
      rows(7000, len, plus(ns, 3), ws.rndcorr),
      single(-7100, PairBlock::square_floats(pair_shape(ws)), ws.pairs.square_copy),
      single(-7200, times(lane_tile_doubles(ws.nprot), ws.threads), ws.lanesim),
      single(-7250, times(plus(lane_groups(ws.alnlen), 1), ws.threads), ws.lanegroups),
      single(-7300, plus(len, 2), ws.colstat),
      single(-8500, ws.weighted ? times(lane_tile_doubles(ws.nprot), ws.threads) : 1, ws.wlanes),
      single(-8550, ws.weighted ? times(times(plus(np, 2), 16), ws.threads) : 1, ws.lane_rowwy),
      // -8610: each thread's weighted ranks of a block, claimed likewise.
      single(-8700, ws.weighted ? times(times(plus(np, 2), 8), ws.threads) : 1, ws.inverse),
      single(-8800, ws.weighted ? plus(len, 2) : 1, ws.wstat),
  };
  return items;
}

std::vector<PlanItem> plan_group4(Workspace& ws) {
  const int64_t pool = plus(times(ws.nsuffl, ws.alnlen), 10);
  std::vector<PlanItem> items = {
      table(9000, 2, ws.globtable),
      PlanItem{9001, 0, pool, sizeof(float),
               [&ws](int64_t, void* mem) { ws.globtable.refs()[1] = static_cast<float*>(mem); }},
      single(-9000, 2, ws.globcounts),
      single(-9002, pool, ws.globsorted),
      single(-9003, plus(ws.nprot, 2), ws.rowsum),
      single(-9100, plus(ws.alnlen, 1), ws.results),
  };
  if (tree_joined_early(ws)) {
    const int64_t nodes = plus(times(ws.nprot, 2), 1);
    items.insert(items.end(), {single(9503, nodes, ws.treeleft), single(9504, nodes, ws.treeright),
                               single(9505, nodes, ws.treelength), single(9502, times(ws.nprot, 3), ws.njslot),
                               single(9506, ws.spearman ? 1 : plus(ws.npairs, 1), ws.njtri)});
  }
  return items;
}

std::vector<PlanItem> plan_group5(Workspace& ws) {
  const int64_t np = ws.nprot, nb = ws.libroom, nodes = plus(times(np, 2), 1);
  if (ws.ntree == 0) return {};
  std::vector<PlanItem> items;
  if (!tree_joined_early(ws)) {
    items = {single(9500, times(np, np), ws.njdist), single(9501, plus(np, 1), ws.njrsum),
             single(9502, plus(np, 1), ws.njslot), single(9503, nodes, ws.treeleft),
             single(9504, nodes, ws.treeright), single(9505, nodes, ws.treelength)};
  }
  const std::vector<PlanItem> library = {
      single(9510, plus(times(nb, np), 1), ws.libcodes),
      single(9513, plus(nb, 2), ws.libscore),
      single(9514, times(nodes, omp_get_max_threads()), ws.libsets),
      single(9515, plus(nb, 2), ws.libgapperc),
      single(9516, plus(times(nb, max_scored_gaps(np)), 1), ws.libgaplist),
      single(9517, plus(nb, 3), ws.libgapstart),
      single(9518, plus(nb, kColumnLanes), ws.libgrouppos),
      single(9519, plus(times(plus(nb, kColumnLanes), np), 1), ws.libgroupcodes),
  };
  items.insert(items.end(), library.begin(), library.end());
  return items;
}

}  // namespace vorn
