#include "shuffle/random_passes.hpp"

#include <algorithm>

#include "fail.hpp"
#include "shuffle/lanes.hpp"

namespace vorn {

namespace {

bool active(const Columns& cols, const float* icorr, int32_t pos) { return cols.scored(pos) && !(icorr[pos] < -1.0f); }

}  // namespace

void random_passes(const Columns& cols, const SimilaritySide& side, bool spearman, const RandomPassArrays& a,
                   Log& log) {
  const int32_t n = cols.nprot, alnlen = cols.alnlen;
  const int64_t npairs = side.npairs, nsuffl = a.nsuffl;

  // The relabelled ranks are the real ranks re-indexed: a permutation of the
  // proteins permutes the pairs, so the similarities keep their multiset and
  // each value keeps its rank. No sort per permutation.
  const float* ysq = nullptr;
  if (spearman) {
    fill_rank_square(a.idenrank, n, a.ranksq);
    ysq = a.ranksq;
  }

  int32_t nactive = 0;
  for (int32_t pos = 1; pos <= alnlen; ++pos)
    if (active(cols, a.icorr, pos)) a.active[nactive++] = pos;
  const int32_t ngroups = (nactive + kColumnsPerRead - 1) / kColumnsPerRead;

  for (int64_t s0 = 1; s0 <= nsuffl; s0 += kLanes) {
    LaneBlock block;
    block.nl = static_cast<int>(std::min<int64_t>(kLanes, nsuffl - s0 + 1));
    for (int l = 0; l < kLanes; ++l) block.perms[l] = a.sufix[s0 + (l < block.nl ? l : 0)];
    fill_lanes(n, ysq, a.identities, block, a.lanesim);
    lane_totals(npairs, block);

    int32_t bad_pos = 0;
    int64_t bad_pairs = 0;
#pragma omp parallel for schedule(dynamic, 1)
    for (int32_t g = 0; g < ngroups; ++g) {
      if (log.stopping()) continue;  // checkpoint() below ends the run
      const int32_t* pos = a.active + static_cast<int64_t>(g) * kColumnsPerRead;
      const int nc = static_cast<int>(std::min<int32_t>(kColumnsPerRead, nactive - g * kColumnsPerRead));
      CorrelationSums sums[kColumnsPerRead][kLanes];
      int64_t pairs = 0;
      lane_group_sums(cols, pos, nc, a.colstat, side, ysq, block, sums, pairs);
      if (pairs != npairs) {
#pragma omp critical(random_pass_check)
        if (bad_pos == 0) bad_pos = pos[0], bad_pairs = pairs;
      }
      for (int c = 0; c < nc; ++c)
        for (int l = 0; l < block.nl; ++l) a.rndcorr[pos[c]][s0 + l] = score_from_sums(sums[c][l]);
    }
    if (bad_pos != 0) {
      fail("** Internal error 1.1 %lld %lld %d %lld\n", static_cast<long long>(bad_pairs),
           static_cast<long long>(npairs), bad_pos, static_cast<long long>(s0));
    }
    log.checkpoint();
    log.meter(Log::kRandom, s0 + block.nl - 1, nsuffl);
    for (int l = 0; l < block.nl; ++l)
      for (int32_t pos = 1; pos <= alnlen; ++pos)
        log.progress("> Scores for random alns... Pos:%4d/%d  Rnd. aln:%4lld/%lld       \r", pos, alnlen,
                     static_cast<long long>(s0 + l), static_cast<long long>(nsuffl));
  }

  fill_pool(cols, a.icorr, a.rndcorr, nsuffl, a.pool, a.count);
}

void fill_pool(const Columns& cols, const float* icorr, const float* const* rndcorr, int64_t nsuffl, float* pool,
               int64_t* count) {
  *count = 0;
  for (int64_t s = 1; s <= nsuffl; ++s)
    for (int32_t pos = 1; pos <= cols.alnlen; ++pos)
      if (active(cols, icorr, pos)) pool[++*count] = rndcorr[pos][s];
}

}  // namespace vorn
