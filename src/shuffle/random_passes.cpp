#include "shuffle/random_passes.hpp"

#include <algorithm>

#include "fail.hpp"
#include "shuffle/lanes.hpp"

namespace vorn {

namespace {

bool active(const Columns& cols, const float* icorr, int32_t pos) { return cols.scored(pos) && !(icorr[pos] < -1.0f); }

}  // namespace

void random_passes(const Columns& cols, const SimilaritySide& side, const RandomPassArrays& a, Log& log) {
  const int32_t alnlen = cols.alnlen;
  const int64_t nsuffl = a.nsuffl;
  int32_t nactive = 0;
  for (int32_t pos = 1; pos <= alnlen; ++pos)
    if (active(cols, a.icorr, pos)) a.active[nactive++] = pos;
  const int32_t ngroups = lane_groups(nactive);
  lane_group_codes(cols, a.active, nactive, a.codes8);

  for (int64_t s0 = 1; s0 <= nsuffl; s0 += kLanes) {
    LaneBlock block;
    block.nl = static_cast<int>(std::min<int64_t>(kLanes, nsuffl - s0 + 1));
    for (int l = 0; l < kLanes; ++l) block.perms[l] = a.sufix[s0 + (l < block.nl ? l : 0)];
    block_sums(cols, a.active, nactive, a.codes8, a.colstat, side, a.ysq, block, a.tile_pairs, a.lanesim, a.groups, log);
    log.checkpoint();
    for (int32_t g = 0; g < ngroups; ++g) {
      const LaneGroup& G = a.groups[g];
      if (G.pairs != side.npairs) {
        fail("** Internal error 1.1 %lld %lld %d %lld\n", static_cast<long long>(G.pairs),
             static_cast<long long>(side.npairs), G.pos[0], static_cast<long long>(s0));
      }
      for (int c = 0; c < G.nc; ++c)
        for (int l = 0; l < block.nl; ++l)
          a.rndcorr[G.pos[c]][s0 + l] = score_from_sums(lane_sums(G, c, l, block, a.colstat, cols));
    }
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
