#include "shuffle/permutations.hpp"

#include <gtest/gtest.h>

namespace vorn {
namespace {

TEST(Seed, FromTheDateLine) {
  const struct {
    std::string line;
    int seed;
    const char* why;
  } cases[] = {
      {"Sun Dec  6 10:47:29 UTC 2026\n", 79, "minutes and seconds last digits"},
      {"Sun Dec  6 10:4 :24 UTC 2026\n", 4, "a blank at offset 15"},
      {"Sun Dec  6 10:4x:29 UTC 2026\n", 0, "a letter at offset 15"},
      {"Sun Dec  6 10:47\n", 7, "the line ends before offset 18"},
      {"short\n", 0, "shorter than 16"},
      {"", 0, "empty"},
  };
  for (const auto& c : cases) EXPECT_EQ(seed_from_date_line(c.line), c.seed) << c.why;
}

TEST(Permutations, DrawnIndexStaysInRange) {
  EXPECT_EQ(draw_index(1, 10, 0), 1);
  EXPECT_EQ(draw_index(1, 10, 2147483646), 10);
  EXPECT_EQ(draw_index(1, 10, 2147483647), 10) << "the top value of rand";
  EXPECT_EQ(draw_index(1, 1, 2147483646), 1);
}

}  // namespace
}  // namespace vorn
