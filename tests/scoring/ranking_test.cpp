#include "scoring/ranking.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "support/literal.hpp"

namespace vorn {
namespace {

using literal::bits;

// Random vectors with heavy ties (few distinct values, signed zeros among
// them), sorted and ranked both ways.
TEST(Ranking, FastSortAndRankMatchLiteralOnTiedVectors) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 400; ++trial) {
    const int count = std::uniform_int_distribution<int>(0, 300)(rng);
    const int distinct = std::uniform_int_distribution<int>(1, 12)(rng);
    std::vector<float> values(distinct);
    for (float& v : values) v = std::uniform_int_distribution<int>(-6, 6)(rng) * 0.75f;
    values[0] = -0.0f;
    std::vector<float> v(count + 1);
    for (int i = 1; i <= count; ++i) v[i] = values[std::uniform_int_distribution<int>(0, distinct - 1)(rng)];

    std::vector<float> fast_sorted = v, fast_ranks = v, slow_sorted = v, slow_ranks = v;
    ordena(fast_sorted.data(), count);
    literal::ordena(slow_sorted.data(), count);
    for (int i = 1; i <= count; ++i) ASSERT_EQ(fast_sorted[i], slow_sorted[i]) << trial << " at " << i;
    rankit(fast_sorted.data(), count, fast_ranks.data());
    literal::rankit(slow_sorted.data(), count, slow_ranks.data());
    for (int i = 1; i <= count; ++i) ASSERT_EQ(bits(fast_ranks[i]), bits(slow_ranks[i])) << trial << " at " << i;
  }
}

// Ranks of large tie groups go through float(t) / float(m) with t far above
// 2^24: the rounding of t must be that of the exact place sum.
TEST(Ranking, TieRankRoundsTheExactPlaceSum) {
  const struct {
    int64_t first, m;
  } groups[] = {{1, 1}, {1, 4}, {3, 2}, {1, 4498500}, {2000001, 2498500}, {123457, 1000003}};
  for (auto g : groups) {
    int64_t t = 0;
    for (int64_t j = g.first; j < g.first + g.m; ++j) t += j;
    EXPECT_EQ(bits(tie_rank(g.first, g.m)), bits(static_cast<float>(t) / static_cast<float>(g.m)));
  }
}

struct CorrCase {
  std::vector<float> x, y;
  std::string gaps;
  float want;
  const char* why;
};

TEST(Correlation, SentinelsAndPerfectCorrelation) {
  auto up = [](int n) {
    std::vector<float> v(n + 1);
    for (int i = 1; i <= n; ++i) v[i] = static_cast<float>(i);
    return v;
  };
  auto down = [](int n) {
    std::vector<float> v(n + 1);
    for (int i = 1; i <= n; ++i) v[i] = static_cast<float>(n - i);
    return v;
  };
  const CorrCase cases[] = {
      {up(12), up(12), std::string(13, ' '), 1.0f, "y = x with spread"},
      {up(12), down(12), std::string(13, ' '), -1.0f, "y falls as x rises"},
      {up(10), down(10), std::string(11, ' '), -3.0f, "10 usable pairs"},
      {up(10), std::vector<float>(11, 2.0f), std::string(11, ' '), -2.0f, "10 pairs, y constant: spread first"},
      {up(12), up(12), std::string(" GGGGGGGGGGGG"), -2.0f, "every pair gapped"},
      {{0}, {0}, " ", -2.0f, "no pairs"},
      {up(13), up(13), std::string(" GG           "), 1.0f, "gapped pairs left out"},
  };
  for (const CorrCase& c : cases) {
    const int64_t len = static_cast<int64_t>(c.x.size()) - 1;
    EXPECT_EQ(correlation(c.x.data(), c.y.data(), len, c.gaps.data()), c.want) << c.why;
    EXPECT_EQ(literal::correlation(c.x.data(), c.y.data(), len, c.gaps.data()), c.want) << c.why;
  }
}

}  // namespace
}  // namespace vorn
