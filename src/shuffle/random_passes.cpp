#include "shuffle/random_passes.hpp"

#include <omp.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fail.hpp"
#include "shuffle/lanes.hpp"

namespace vorn {

namespace {

bool active(const Columns& cols, const float* icorr, int32_t pos) { return cols.scored(pos) && !(icorr[pos] < -1.0f); }

// The random scores of the groups g0 .. g1 - 1 under the block of
// permutations from s0 on, into rndcorr; what broke, if the sums missed pairs.
std::string block_scores(const Columns& cols, const SimilaritySide& side, const RandomPassArrays& a, int32_t nactive,
                         int32_t g0, int32_t g1, int64_t s0, double* lanes, LaneGroup* groups, const Log& log) {
  LaneBlock block;
  block.nl = static_cast<int>(std::min<int64_t>(kLanes, a.nsuffl - s0 + 1));
  for (int l = 0; l < kLanes; ++l) block.perms[l] = a.sufix[s0 + (l < block.nl ? l : 0)];
  block_sums(cols, a.active, nactive, g0, g1, a.codes8, a.colstat, side, a.ysq, block, a.tile_pairs, lanes, groups,
             log);
  for (int32_t g = g0; g < g1 && !log.stopping(); ++g) {
    const LaneGroup& G = groups[g];
    if (G.pairs != side.npairs)
      return strformat("** Internal error 1.1: the random pass of column %d, permutations %lld-%lld, summed %lld of "
                       "its %lld pairs.\n",
                       G.pos[0], static_cast<long long>(s0), static_cast<long long>(s0 + block.nl - 1),
                       static_cast<long long>(G.pairs), static_cast<long long>(side.npairs));
    for (int c = 0; c < G.nc; ++c)
      for (int l = 0; l < block.nl; ++l)
        a.rndcorr[G.pos[c]][s0 + l] = score_from_sums(lane_sums(G, c, l, block, a.colstat, cols));
  }
  return "";
}

}  // namespace

void random_passes(const Columns& cols, const SimilaritySide& side, const RandomPassArrays& a, Log& log) {
  const int32_t alnlen = cols.alnlen;
  const int64_t nsuffl = a.nsuffl;
  int32_t nactive = 0;
  for (int32_t pos = 1; pos <= alnlen; ++pos)
    if (active(cols, a.icorr, pos)) a.active[nactive++] = pos;
  const int32_t ngroups = lane_groups(nactive);
  lane_group_codes(cols, a.active, nactive, a.codes8);
  if (ngroups == 0) return fill_pool(cols, a.icorr, a.rndcorr, nsuffl, a.pool, a.count);

  // Work items: a block with all its groups, or with a share of them when
  // the blocks are fewer than the threads (each share fills its own tiles).
  const int64_t nblocks = (nsuffl + kLanes - 1) / kLanes;
  const int threads = omp_get_max_threads();
  const int64_t shares = nblocks >= threads ? 1 : std::min<int64_t>(ngroups, (threads + nblocks - 1) / nblocks);
  std::vector<int64_t> left(static_cast<size_t>(nblocks), shares);
  int64_t reported = 0;
  std::string broken;
#pragma omp parallel
  {
    const int t = omp_get_thread_num();
    double* lanes = a.lanesim + t * a.lane_stride;
    LaneGroup* groups = a.groups + t * a.group_stride;
#pragma omp for schedule(dynamic, 1)
    for (int64_t item = 0; item < nblocks * shares; ++item) {
      if (log.stopping()) continue;
      const int64_t b = item / shares, share = item % shares;
      const int32_t g0 = static_cast<int32_t>(ngroups * share / shares);
      const int32_t g1 = static_cast<int32_t>(ngroups * (share + 1) / shares);
      const std::string wrong = block_scores(cols, side, a, nactive, g0, g1, 1 + b * kLanes, lanes, groups, log);
      if (!wrong.empty()) {
#pragma omp critical(vorn_random_broken)
        if (broken.empty()) broken = wrong;
      }
      // The progress of the blocks done, in block order.
#pragma omp critical(vorn_random_progress)
      {
        --left[static_cast<size_t>(b)];
        for (; reported < nblocks && left[static_cast<size_t>(reported)] == 0; ++reported) {
          const int64_t r0 = 1 + reported * kLanes, r1 = std::min(nsuffl, r0 + kLanes - 1);
          log.meter(Log::kRandom, r1, nsuffl);
          for (int64_t s = r0; s <= r1; ++s)
            for (int32_t pos = 1; pos <= alnlen; ++pos)
              log.progress("> Scores for random alns... Pos:%4d/%d  Rnd. aln:%4lld/%lld       \r", pos, alnlen,
                           static_cast<long long>(s), static_cast<long long>(nsuffl));
        }
      }
    }
  }
  log.checkpoint();
  if (!broken.empty()) fail("%s", broken.c_str());
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
