// The counting score against the literal fill-sort-rank-correlate, bit for bit.
#include "scoring/position.hpp"

#include <gtest/gtest.h>

#include <random>

#include "scoring/ranking.hpp"
#include "support/inputs.hpp"
#include "support/literal.hpp"

namespace vorn {
namespace {

using literal::bits;

// Scores every column of a with the fast path against y, and checks each
// against the literal procedure.
void check_columns(const literal::Alignment& a, const AaMat& m, bool spearman, const std::vector<float>& idenrank,
                   const std::vector<float>& idelino, const std::string& what) {
  const int32_t n = a.nprot;
  const int64_t npairs = static_cast<int64_t>(n) * (n - 1) / 2;
  std::vector<int64_t> rowsum(n + 2);
  SimilaritySide side;
  prepare_similarity_side(spearman ? idenrank.data() : idelino.data(), n, npairs, rowsum.data(), side);
  std::vector<uint8_t> codes;
  std::vector<int32_t> gaps;
  for (int32_t pos = 1; pos <= a.alnlen; ++pos) {
    literal::column_of(a, pos, codes, gaps);
    ColumnPrep prep;
    prepare_column(codes.data(), n, GapList{gaps.data(), static_cast<int32_t>(gaps.size())}, m, spearman, prep);
    CorrelationSums got;
    literal::Sums want;
    const float fast = score_column(codes.data(), prep, side, nullptr, &got);
    const float slow = literal::position_score(a, m, pos, idenrank, idelino, spearman, &want);
    ASSERT_EQ(bits(fast), bits(slow)) << what << " position " << pos << ": " << fast << " vs " << slow;
    // The printed digits hide most slips in the double sums: compare those.
    ASSERT_EQ(got.n, want.n) << what << " position " << pos;
    if (want.n == 0) continue;  // no sums are formed
    ASSERT_EQ(bits(got.sx), bits(want.sx)) << what << " position " << pos;
    ASSERT_EQ(bits(got.sy), bits(want.sy)) << what << " position " << pos;
    ASSERT_EQ(bits(got.sxy), bits(want.sxy)) << what << " position " << pos;
    ASSERT_EQ(bits(got.sxx), bits(want.sxx)) << what << " position " << pos;
    ASSERT_EQ(bits(got.syy), bits(want.syy)) << what << " position " << pos;
  }
}

TEST(PositionScore, CountingMatchesLiteralBitForBit) {
  std::mt19937 rng(2024);
  const AaMat blosum = test::blosum62();
  struct Kind {
    const char* name;
    int lo, hi;  // matrix values drawn from lo..hi, divided by scale
    float scale;
    float gap_cell;
  };
  const Kind kinds[] = {{"blosum", 0, 0, 1, 0},
                        {"tenths", -40, 60, 10, 0},
                        {"thirds, gap cell", -9, 12, 3, -1.5f},
                        {"huge spread", -1000000, 1000000, 0.001f, 0}};
  for (const Kind& kind : kinds) {
    for (int trial = 0; trial < 25; ++trial) {
      AaMat m = blosum;
      if (kind.lo != kind.hi) {
        for (int r = 1; r <= 20; ++r)
          for (int c = 1; c <= 20; ++c)
            m[r][c] = static_cast<float>(std::uniform_int_distribution<int>(kind.lo, kind.hi)(rng)) / kind.scale;
      }
      m[0][0] = kind.gap_cell;
      const int n = std::uniform_int_distribution<int>(1, 40)(rng);
      const std::string alphabet = trial % 3 == 0 ? "AV" : (trial % 3 == 1 ? "AVLIG" : "ACDEFGHIKLMNPQRSTVWY");
      const literal::Alignment a = literal::make_alignment(test::random_rows(rng, n, 12, alphabet));
      std::vector<float> idenrank, idelino;
      literal::pair_vectors(literal::similarity(a, m), n, idenrank, idelino);
      for (bool spearman : {true, false}) check_columns(a, m, spearman, idenrank, idelino, kind.name);
      // Imported similarities: class labels (exact sums) and random fractions.
      std::vector<std::vector<float>> imported(n + 1, std::vector<float>(n + 1, 0));
      for (int i = 1; i <= n; ++i)
        for (int j = i + 1; j <= n; ++j)
          imported[i][j] = imported[j][i] =
              trial % 2 ? static_cast<float>(std::uniform_int_distribution<int>(0, 1)(rng))
                        : std::uniform_real_distribution<float>(-3, 3)(rng);
      literal::pair_vectors(imported, n, idenrank, idelino);
      for (bool spearman : {true, false}) check_columns(a, m, spearman, idenrank, idelino, "imported");
    }
  }
}

}  // namespace
}  // namespace vorn
