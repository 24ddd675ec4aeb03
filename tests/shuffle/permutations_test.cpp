#include "shuffle/permutations.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "support/literal.hpp"

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

TEST(Permutations, TreeDrawMatchesShiftingTheList) {
  for (int nprot : {1, 2, 3, 7, 64, 65, 300}) {
    const int64_t nsuffl = 6;
    const unsigned seed = 79 + nprot;
    const auto want = literal::draw_permutations(seed, nsuffl, nprot);
    std::vector<std::vector<int32_t>> rows(nsuffl + 1, std::vector<int32_t>(nprot + 2, 0));
    std::vector<int32_t*> sufix(nsuffl + 1);
    for (int64_t s = 0; s <= nsuffl; ++s) sufix[s] = rows[s].data();
    std::vector<int32_t> scratch(nprot + 3);
    std::srand(seed);
    Log quiet(nullptr);
    draw_permutations(nsuffl, nprot, sufix.data(), scratch.data(), quiet);
    for (int64_t s = 1; s <= nsuffl; ++s) {
      for (int i = 1; i <= nprot; ++i) ASSERT_EQ(rows[s][i], want[s][i]) << nprot << " perm " << s << " at " << i;
      std::vector<int32_t> sorted(rows[s].begin() + 1, rows[s].begin() + 1 + nprot);
      std::sort(sorted.begin(), sorted.end());
      for (int i = 0; i < nprot; ++i) ASSERT_EQ(sorted[i], i + 1);
    }
    // Exactly nprot draws per permutation: the next value is the same.
    const int next_fast = std::rand();
    literal::draw_permutations(seed, nsuffl, nprot);
    EXPECT_EQ(next_fast, std::rand());
  }
}

TEST(Permutations, DrawnIndexStaysInRange) {
  EXPECT_EQ(draw_index(1, 10, 0), 1);
  EXPECT_EQ(draw_index(1, 10, 2147483646), 10);
  EXPECT_EQ(draw_index(1, 10, 2147483647), 10) << "the top value of rand";
  EXPECT_EQ(draw_index(1, 1, 2147483646), 1);
}

TEST(Permutations, Listing) {
  int32_t r1[] = {0, 2, 1, 3}, r2[] = {0, 3, 2, 1};
  const int32_t* sufix[] = {nullptr, r1, r2};
  char* buf = nullptr;
  size_t len = 0;
  FILE* out = open_memstream(&buf, &len);
  print_permutations(out, 2, 3, sufix);
  std::fclose(out);
  EXPECT_EQ(std::string(buf, len), "Vectors of random indices (2):\n   1:   2   1   3 \n   2:   3   2   1 \n------------\n");
  std::free(buf);
}

}  // namespace
}  // namespace vorn
