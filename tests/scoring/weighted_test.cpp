// Sequence weights: Henikoff's weights of a hand-worked alignment and the
// fast weighted scores against the literal weighted correlation (what the
// weights bring back on a redundant family: bench/weights_planted.py).
#include "scoring/weighted.hpp"
#include "shuffle/weighted_random.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include "isa.hpp"
#include "scoring/ranking.hpp"

#include <numeric>
#include <random>

#include "support/inputs.hpp"
#include "support/literal.hpp"

namespace vorn {
namespace {

TEST(Weights, HenikoffByHand) {
  // Column 1: A A V V (two codes, two each): 1/4 each. Column 2: all A: 1/4
  // each. Column 3: C D C - : 1/4, 1/2, 1/4, 0. Sums 3/4, 1, 3/4, 1/2; mean 1.
  const literal::Alignment a = literal::make_alignment({"AAC", "AAD", "VAC", "VA-"});
  test::ColumnData c(a);
  std::vector<double> w(6, -1);
  henikoff_weights(c.cols, w.data());
  const double want[] = {1.0, 4.0 / 3, 1.0, 2.0 / 3};
  for (int p = 1; p <= 4; ++p) EXPECT_NEAR(w[p], want[p - 1], 1e-15) << p;
  const literal::Alignment gaps = literal::make_alignment({"--", "--"});
  henikoff_weights(test::ColumnData(gaps).cols, w.data());
  EXPECT_EQ(w[1] + w[2], 2.0) << "no residue anywhere: every weight 1";
}

std::vector<double> weights_of(std::mt19937& rng, int n, int kind) {
  std::vector<double> w(n + 2, 1.0);
  for (int p = 1; p <= n; ++p) {
    switch (kind) {
      case 0: w[p] = std::uniform_real_distribution<double>(0.05, 3)(rng); break;  // random
      case 1: w[p] = 0.7; break;                                                    // all equal
      case 2: w[p] = p == 1 ? 50.0 : 0.1; break;                                    // one dominant
      default: w[p] = p % 3 == 0 ? 0.0 : 1.0 + p % 2;                               // some zero
    }
  }
  return w;
}

// The column scores and the permutation scores against the literal weighted
// correlation, to 1e-12, on cases with heavy ties and gaps.
TEST(Weights, FastPathMatchesTheLiteralCorrelation) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 48; ++trial) {
    const int n = std::uniform_int_distribution<int>(2, 24)(rng);
    const test::RandomCase c = test::random_case(rng, n, 12);
    const literal::Alignment a = literal::make_alignment(c.rows);
    const auto sim = c.imported ? c.sim : literal::similarity(a, c.m);
    std::vector<float> v, ignored;
    literal::pair_vectors(sim, n, ignored, v, false);
    const std::vector<double> w = weights_of(rng, n, trial % 4);
    const bool spearman = trial % 2 == 0;
    const int64_t npairs = static_cast<int64_t>(n) * (n - 1) / 2;
    std::vector<uint32_t> group(npairs + 1);
    std::vector<double> rank(npairs + 2), rowwy(n + 2);
    WeightedSide side;
    std::vector<int64_t> tables(kRankScratch);
    const int64_t ngroups = spearman ? similarity_groups(v.data(), npairs, group.data(), tables.data()) : 0;
    prepare_weighted_side(v.data(), spearman, w.data(), n, npairs, group.data(), ngroups, rank.data(), rowwy.data(),
                          side);
    test::ColumnData cd(a);
    std::vector<WeightedStat> stat(a.alnlen + 2);
    std::vector<float> icorr(a.alnlen + 2);
    // Eight columns at a time (the last group smaller) give the bits of one at a time.
    std::vector<int32_t> all(a.alnlen);
    std::iota(all.begin(), all.end(), 1);
    std::vector<uint8_t> codes8(8 * static_cast<size_t>(n));
    std::vector<double> grouped(a.alnlen + 1);
    float ignored_scores[8];
    for (int32_t k = 0; k < a.alnlen; k += 8)
      weighted_column_group(cd.cols, &all[k], std::min(8, a.alnlen - k), c.m, spearman, side, codes8.data(), nullptr,
                            ignored_scores, &grouped[k + 1]);
    for (int32_t pos = 1; pos <= a.alnlen; ++pos) {
      double got = 0;
      icorr[pos] = weighted_column(cd.cols.column(pos), cd.cols.gaps(pos), c.m, spearman, side, &stat[pos], &got);
      const double want = literal::weighted_score(a, c.m, pos, w, v, spearman);
      ASSERT_NEAR(got, want, 1e-12) << c.what << ", weights " << trial % 4 << ", column " << pos;
      if (!(active_isa() == Isa::Avx512)) continue;
      ASSERT_EQ(literal::bits(grouped[pos]), literal::bits(got)) << c.what << ", column " << pos;
    }
    // Three permutations; the weights stay with the rows.
    const int64_t nsuffl = 3;
    std::vector<std::vector<int32_t>> perms(nsuffl + 1, std::vector<int32_t>(n + 1));
    std::vector<const int32_t*> sufix(nsuffl + 1);
    for (int64_t s = 1; s <= nsuffl; ++s) {
      std::iota(perms[s].begin() + 1, perms[s].end(), 1);
      std::shuffle(perms[s].begin() + 1, perms[s].end(), rng);
      sufix[s] = perms[s].data();
    }
    std::vector<std::vector<float>> rnd(a.alnlen + 2, std::vector<float>(nsuffl + 2));
    std::vector<float*> rndrows;
    for (auto& r : rnd) rndrows.push_back(r.data());
    // A tile of one row, of about three rows, and of all pairs give the same bits.
    std::vector<double> exact;
    for (const int64_t tile : {npairs + 1, int64_t{1}, 3 * static_cast<int64_t>(n)}) {
      const int64_t stride = (tile + n) * 8 + 8;  // a tile's lanes for each thread
      std::vector<double> lanes(stride * omp_get_max_threads()), got(a.alnlen * nsuffl), rw((n + 2) * 16);
      const int threads = omp_get_max_threads();
      std::vector<double> lane_rank(8 * (npairs + 1) * threads);
      std::vector<int32_t> inverse((n + 2) * 8 * threads);
      rw.resize(rw.size() * threads);
      WeightedRandom wr{sufix.data(), nsuffl, icorr.data(), stat.data(), lanes.data(), stride, tile, threads,
                        lane_rank.data(), 8 * (npairs + 1), rw.data(), inverse.data(), rndrows.data(), got.data()};
      Log quiet(nullptr);
      weighted_random_passes(cd.cols, spearman, side, wr, quiet);
      if (exact.empty()) exact = got;
      for (size_t k = 0; k < got.size(); ++k)
        ASSERT_EQ(literal::bits(got[k]), literal::bits(exact[k])) << c.what << ", tiles of " << tile << ", score " << k;
    }
    for (int64_t s = 1; s <= nsuffl; ++s) {
      std::vector<float> relabelled(npairs + 1);
      int64_t k = 0;
      for (int i = 1; i <= n; ++i)
        for (int j = i + 1; j <= n; ++j) relabelled[++k] = sim[perms[s][i]][perms[s][j]];
      for (int32_t pos = 1; pos <= a.alnlen; ++pos) {
        if (icorr[pos] < -1) continue;  // sentinels are never re-scored
        ASSERT_NEAR(exact[(pos - 1) * nsuffl + s - 1], literal::weighted_score(a, c.m, pos, w, relabelled, spearman),
                    1e-12)
            << c.what << ", permutation " << s << ", column " << pos;
      }
    }
  }
}

}  // namespace
}  // namespace vorn
