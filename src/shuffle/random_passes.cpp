#include "shuffle/random_passes.hpp"

#include <algorithm>
#include <cmath>

#include "fail.hpp"
#include "input/residue.hpp"
#include "report/result_line.hpp"
#include "scoring/position.hpp"
#include "scoring/similarity.hpp"
#include "shuffle/lanes.hpp"
#include "shuffle/significance.hpp"

namespace vorn {

namespace {

bool active(const Workspace& ws, int32_t pos) { return scored(ws.gapperc[pos]) && !(ws.icorr[pos] < -1.0f); }

}  // namespace

void random_passes(Workspace& ws, int rankcorr, const SimilaritySide& side, Log& log) {
  const int32_t n = ws.nprot, alnlen = ws.alnlen;
  const int64_t npairs = ws.npairs, nsuffl = ws.nsuffl;
  const bool spearman = rankcorr == 1;

  // The relabelled ranks are the real ranks re-indexed: a permutation of the
  // proteins permutes the pairs, so the similarities keep their multiset and
  // each value keeps its rank. No sort per permutation.
  const float* ysq = nullptr;
  if (spearman) {
    fill_rank_square(ws.idenrank.data(), n, ws.ranksq.data());
    ysq = ws.ranksq.data();
  }

  for (int64_t s0 = 1; s0 <= nsuffl; s0 += kLanes) {
    LaneBlock block;
    block.nl = static_cast<int>(std::min<int64_t>(kLanes, nsuffl - s0 + 1));
    for (int l = 0; l < kLanes; ++l) block.perms[l] = ws.sufix[s0 + (l < block.nl ? l : 0)];
    fill_lanes(n, ysq, ws.identities.rows(), block, ws.lanesim.data());
    lane_totals(npairs, block);

    int32_t bad_pos = 0;
    int64_t bad_pairs = 0;
#pragma omp parallel for schedule(dynamic, 1)
    for (int32_t pos = 1; pos <= alnlen; ++pos) {
      if (!active(ws, pos)) continue;
      CorrelationSums sums[kLanes];
      int64_t pairs = 0;
      lane_column_sums(ws.column(pos), ws.gaps(pos), ws.colstat[pos], side, ysq, block, sums, pairs);
      if (pairs != npairs) {
#pragma omp critical(random_pass_check)
        if (bad_pos == 0) bad_pos = pos, bad_pairs = pairs;
      }
      for (int l = 0; l < block.nl; ++l) ws.rndcorr[pos][s0 + l] = score_from_sums(sums[l]);
    }
    if (bad_pos != 0) {
      fail("** Internal error 1.1 %lld %lld %d %lld\n", static_cast<long long>(bad_pairs),
           static_cast<long long>(npairs), bad_pos, static_cast<long long>(s0));
    }
    for (int l = 0; l < block.nl; ++l) {
      const int64_t s = s0 + l;
      for (int32_t pos = 1; pos <= alnlen; ++pos) {
        log.progress("> Scores for random alns... Pos:%4d/%d  Rnd. aln:%4lld/%lld       \r", pos, alnlen,
                     static_cast<long long>(s), static_cast<long long>(nsuffl));
        if (scored(ws.gapperc[pos]) && ws.icorr[pos] < -1.0f) ws.rndcorr[pos][s] = ws.icorr[pos];
      }
    }
  }

  // The pool, permutation after permutation, positions in ascending order.
  float* pool = ws.globdist();
  int64_t& count = ws.globcount();
  count = 0;
  for (int64_t s = 1; s <= nsuffl; ++s)
    for (int32_t pos = 1; pos <= alnlen; ++pos)
      if (active(ws, pos)) pool[++count] = ws.rndcorr[pos][s];
}

void final_report(Workspace& ws, FILE* out) {
  const int64_t count = ws.globcount(), nsuffl = ws.nsuffl;
  const float* pool = ws.globdist();
  float* sorted = ws.globsorted.data();
  std::copy(pool + 1, pool + 1 + count, sorted + 1);
  std::sort(sorted + 1, sorted + 1 + count, std::greater<float>());
  const ZStats global = count > 0 ? zstats(pool, count) : ZStats{0, 0};

  // " %9.4f" of a double can run to over 300 characters.
  char zpos[400], ppos[64], zglob[400], pglob[64];
  for (int32_t pos = 1; pos <= ws.alnlen; ++pos) {
    if (!scored(ws.gapperc[pos])) continue;
    const float x = ws.icorr[pos];
    ResultRow row{LineFields{pos, aa_indexback(ws.aln[1][pos]), ws.pdbnum[pos], ws.chain[pos], ws.acc[pos],
                             ws.entrop[pos], ws.sec_str[pos], ws.var[pos], x}};
    if (x < -1.0f) {
      std::snprintf(zpos, sizeof zpos, "        []");
      std::snprintf(ppos, sizeof ppos, " %e", 2.0);
      std::snprintf(zglob, sizeof zglob, "        []");
      std::snprintf(pglob, sizeof pglob, " %e", 2.0);
      row.p_pos = row.p_glob = 2.0;
    } else {
      const float* own = ws.rndcorr[pos];
      row.z_pos = fzscore(own, nsuffl, x);
      row.p_pos = fpval(own, nsuffl, x);
      row.z_glob = zscore(global, x);
      row.p_glob = fpval_sorted(sorted, count, x);
      std::snprintf(zpos, sizeof zpos, " %9.4f", row.z_pos);
      std::snprintf(ppos, sizeof ppos, " %e", row.p_pos);
      std::snprintf(zglob, sizeof zglob, " %9.4f", row.z_glob);
      std::snprintf(pglob, sizeof pglob, " %e", row.p_glob);
    }
    write_extended_line(out, row.f, zpos, ppos, zglob, pglob);
    ws.keep(row);
  }
}

}  // namespace vorn
