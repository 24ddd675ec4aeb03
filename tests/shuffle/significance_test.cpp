#include "shuffle/significance.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "support/literal.hpp"

namespace vorn {
namespace {

std::string z_text(double z) {
  char buf[400];
  std::snprintf(buf, sizeof buf, " %9.4f", z);
  return buf;
}

TEST(Significance, DegenerateDistributionsPrintAsTheLibraryPrintsThem) {
  const float one[] = {0, 0.3f};
  EXPECT_EQ(z_text(fzscore(one, 1, 0.3f)), "      -nan") << "one value: 0/0";
  const float flat[] = {0, 0.2f, 0.2f, 0.2f};
  EXPECT_EQ(z_text(fzscore(flat, 3, 0.5f)), "       inf");
  EXPECT_EQ(z_text(fzscore(flat, 3, 0.1f)), "      -inf");
  EXPECT_EQ(z_text(fzscore(flat, 3, 0.2f)), "      -nan");
  EXPECT_EQ(fpval(flat, 3, 0.2f), 1.0) << "equal values count";
  EXPECT_EQ(fpval(flat, 3, 0.25f), 0.0);
}

// The pool's mean and deviation are taken once and its P-values by binary
// search in a sorted copy: the same doubles as the scan per position.
TEST(Significance, OnceComputedStatisticsEqualThePerCallOnes) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 200; ++trial) {
    const int count = std::uniform_int_distribution<int>(1, 500)(rng);
    std::vector<float> v(count + 1);
    for (int i = 1; i <= count; ++i) v[i] = std::uniform_int_distribution<int>(-20, 20)(rng) / 20.0f;
    std::vector<float> sorted = v;
    std::sort(sorted.begin() + 1, sorted.end(), std::greater<float>());
    const ZStats z = zstats(v.data(), count);
    for (float x : {-1.0f, -0.5f, 0.0f, 0.05f, 0.5f, 1.0f, v[1]}) {
      const double a = zscore(z, x), b = literal::fzscore(v.data(), count, x);
      EXPECT_TRUE((std::isnan(a) && std::isnan(b)) || a == b) << trial;
      EXPECT_EQ(fpval_sorted(sorted.data(), count, x), literal::fpval(v.data(), count, x)) << trial;
      EXPECT_EQ(fpval(v.data(), count, x), literal::fpval(v.data(), count, x)) << trial;
    }
  }
}

}  // namespace
}  // namespace vorn
