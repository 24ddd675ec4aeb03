#include "scoring/similarity.hpp"

#include <gtest/gtest.h>

#include <random>

#include "support/harness.hpp"
#include "support/inputs.hpp"
#include "support/literal.hpp"

namespace vorn {
namespace {

using test::capture;

struct Rows {
  std::vector<std::vector<int32_t>> data;
  std::vector<int32_t*> refs;
  explicit Rows(const literal::Alignment& a) : data(a.aln), refs(a.nprot + 1) {
    for (int p = 0; p <= a.nprot; ++p) refs[p] = data[p].data();
  }
};

TEST(Similarity, BlockedSumsMatchTheLiteralMatrix) {
  std::mt19937 rng(5);
  AaMat m = test::blosum62();
  for (float gap_cell : {0.0f, -1.0f}) {
    m[0][0] = gap_cell;
    for (int n : {1, 2, 9, 17, 33}) {
      const literal::Alignment a = literal::make_alignment(test::random_rows(rng, n, 50, "ACDEFGHIKLMNPQRSTVWY"));
      Rows rows(a);
      std::vector<std::vector<float>> id(n + 1, std::vector<float>(n + 1, 0));
      std::vector<float*> idrows(n + 1);
      for (int i = 0; i <= n; ++i) idrows[i] = id[i].data();
      Log quiet(nullptr);
      similarity_matrix(rows.refs.data(), n, a.alnlen, m, idrows.data(), quiet);
      const auto want = literal::similarity(a, m);
      for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) {
          if (i != j) {
            ASSERT_EQ(id[i][j], want[i][j]) << n << ": " << i << "," << j;
          }
        }
    }
  }
}

TEST(Similarity, Listings) {
  EXPECT_EQ(capture([](FILE* f) { print_two_groups(f, 5); }),
            "1\t2\t0\n1\t3\t0\n1\t4\t0\n1\t5\t0\n2\t3\t0\n2\t4\t0\n2\t5\t0\n3\t4\t0\n3\t5\t0\n4\t5\t0\n");
  const std::string ten = capture([](FILE* f) { print_two_groups(f, 10); });
  EXPECT_NE(ten.find("3\t4\t1\n"), std::string::npos);
  EXPECT_NE(ten.find("1\t5\t0\n"), std::string::npos);
  EXPECT_NE(ten.find("6\t7\t0\n"), std::string::npos);
  size_t ones = 0;
  for (size_t at = ten.find("\t1\n"); at != std::string::npos; at = ten.find("\t1\n", at + 1)) ++ones;
  EXPECT_EQ(ones, 6u) << "the pairs among proteins 1 to 4";
  EXPECT_EQ(capture([](FILE* f) { print_two_groups(f, 1); }), "");

  std::vector<float> r1 = {0, 0, 1.5f}, r2 = {0, 1.5f, 0};
  const float* idrows[] = {nullptr, r1.data(), r2.data()};
  EXPECT_EQ(capture([&](FILE* f) { print_similarity(f, idrows, 2); }), "\nSim. matrix:\n1\t2\t1.500000\n");

  const literal::Alignment a = literal::make_alignment({"AC-", "x.h"});
  Rows rows(a);
  EXPECT_EQ(capture([&](FILE* f) { print_alignment(f, rows.refs.data(), 2, 3); }),
            "Alignment (2x3):\n----------------------\n   1:  AC.\n   2:  ..H\n");
}

TEST(Similarity, GapPercentageReachesTenExactly) {
  std::vector<uint8_t> col(10, 1);
  col[0] = 0;
  float g[3];
  gap_percentages(col.data(), 10, 1, g);
  EXPECT_EQ(g[1], 10.0f);
  EXPECT_FALSE(scored(g[1]));
  std::vector<uint8_t> col11(11, 1);
  col11[3] = 0;
  gap_percentages(col11.data(), 11, 1, g);
  EXPECT_TRUE(scored(g[1]));
}

}  // namespace
}  // namespace vorn
