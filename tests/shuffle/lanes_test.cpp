// Columns scored against eight permutations at once, against the literal
// relabel-sort-rank-score of each permutation: the double sums bit for bit.
#include "shuffle/lanes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "scoring/similarity.hpp"
#include "support/inputs.hpp"
#include "support/literal.hpp"

namespace vorn {
namespace {

using literal::bits;

void check_block(std::mt19937& rng, const literal::Alignment& a, const AaMat& m,
                 const std::vector<std::vector<float>>& id, bool spearman, int nl) {
  const int32_t n = a.nprot;
  const int64_t npairs = static_cast<int64_t>(n) * (n - 1) / 2;
  std::vector<float> idenrank, idelino;
  literal::pair_vectors(id, n, idenrank, idelino);
  std::vector<int64_t> rowsum(n + 2);
  SimilaritySide side;
  prepare_similarity_side(spearman ? idenrank.data() : idelino.data(), n, npairs, rowsum.data(), side);

  // Square sources of the relabelled similarities.
  std::vector<float> ranksq(static_cast<size_t>(n) * n, 0.0f);
  for (int i = 1; i <= n; ++i)
    for (int j = i + 1; j <= n; ++j)
      ranksq[(i - 1) * n + (j - 1)] = ranksq[(j - 1) * n + (i - 1)] = idenrank[pair_index(i, j, n)];
  std::vector<const float*> idrows(n + 1);
  for (int i = 1; i <= n; ++i) idrows[i] = id[i].data();

  std::vector<std::vector<int32_t>> perms(kLanes, std::vector<int32_t>(n + 1));
  LaneBlock block;
  block.nl = nl;
  for (int l = 0; l < kLanes; ++l) {
    std::iota(perms[l].begin() + 1, perms[l].end(), 1);
    std::shuffle(perms[l].begin() + 1, perms[l].end(), rng);
    block.perms[l] = perms[l].data();
  }
  std::vector<float> lanes(npairs * kLanes + kLanes);
  const float* ysq = spearman ? ranksq.data() : nullptr;
  fill_lanes(n, ysq, const_cast<float* const*>(idrows.data()), block, lanes.data());
  lane_totals(npairs, block);

  std::vector<uint8_t> codes;
  std::vector<int32_t> gaps;
  for (int32_t pos = 1; pos <= a.alnlen; ++pos) {
    literal::column_of(a, pos, codes, gaps);
    const GapList gl{gaps.data(), static_cast<int32_t>(gaps.size())};
    ColumnPrep prep;
    prepare_column(codes.data(), n, gl, m, spearman, prep);
    ColumnStat stat;
    if (score_column(codes.data(), prep, side, &stat) < -1.0f) continue;  // sentinels are never re-scored
    CorrelationSums got[kLanes];
    int64_t pairs = 0;
    lane_column_sums(codes.data(), gl, stat, side, ysq, block, got, pairs);
    ASSERT_EQ(pairs, npairs);
    for (int l = 0; l < nl; ++l) {
      // The literal way: relabel, sort and rank the similarities again.
      std::vector<std::vector<float>> relabelled(n + 1, std::vector<float>(n + 1, 0));
      for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j)
          if (i != j) relabelled[i][j] = id[perms[l][i]][perms[l][j]];
      std::vector<float> rr, ro;
      literal::pair_vectors(relabelled, n, rr, ro);
      literal::Sums want;
      literal::position_score(a, m, pos, rr, ro, spearman, &want);
      ASSERT_EQ(bits(got[l].sy), bits(want.sy)) << "pos " << pos << " lane " << l;
      ASSERT_EQ(bits(got[l].sxy), bits(want.sxy)) << "pos " << pos << " lane " << l;
      ASSERT_EQ(bits(got[l].sxx), bits(want.sxx)) << "pos " << pos << " lane " << l;
      ASSERT_EQ(bits(got[l].syy), bits(want.syy)) << "pos " << pos << " lane " << l;
    }
  }
}

TEST(Lanes, EveryLaneMatchesTheLiteralRandomPass) {
  std::mt19937 rng(99);
  const AaMat blosum = test::blosum62();
  for (int trial = 0; trial < 30; ++trial) {
    const int n = std::uniform_int_distribution<int>(2, 30)(rng);
    const literal::Alignment a =
        literal::make_alignment(test::random_rows(rng, n, 10, trial % 2 ? "AVLG" : "ACDEFGHIKLMNPQRSTVWY"));
    std::vector<std::vector<float>> id = literal::similarity(a, blosum);
    if (trial % 3 == 2) {  // imported classes: ties everywhere, exact sums
      for (int i = 1; i <= n; ++i)
        for (int j = i + 1; j <= n; ++j) id[i][j] = id[j][i] = static_cast<float>((i + j) % 2);
    }
    for (bool spearman : {true, false}) check_block(rng, a, blosum, id, spearman, 1 + trial % kLanes);
  }
}

}  // namespace
}  // namespace vorn
