#include "scoring/similarity.hpp"

#include <gtest/gtest.h>

#include "support/harness.hpp"
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
