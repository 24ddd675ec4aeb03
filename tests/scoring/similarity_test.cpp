#include "scoring/similarity.hpp"

#include <gtest/gtest.h>

namespace vorn {
namespace {

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
