#include "input/residue.hpp"

#include <gtest/gtest.h>

namespace vorn {
namespace {

TEST(ResidueCodes, TwentyLettersInTheirOrderAndEverythingElseZero) {
  const std::string order = "AVLIPFWMGSTCYNQDEKRH";
  for (int c = 0; c < 256; ++c) {
    const unsigned char ch = static_cast<unsigned char>(c);
    const size_t at = order.find(static_cast<char>(ascii_upper(ch)));
    const int want = (c != 0 && at != std::string::npos) ? static_cast<int>(at) + 1 : 0;
    EXPECT_EQ(aa_index(ch), want) << "character " << c;
    EXPECT_EQ(aa_indexback(aa_index(ch)), want ? order[want - 1] : '.') << "character " << c;
  }
  EXPECT_EQ(aa_index('a'), 1);
  EXPECT_EQ(aa_index('h'), 20);
  for (char c : std::string("BZXJOU-. *\n")) EXPECT_EQ(aa_index(static_cast<unsigned char>(c)), 0) << c;
  EXPECT_EQ(aa_indexback(0), '.');
  EXPECT_EQ(aa_indexback(21), 'X');
  EXPECT_EQ(aa_indexback(-1), 'X');
}

TEST(ResidueCodes, SecondaryStructureInThreeStates) {
  const struct {
    char in, out;
  } cases[] = {{'H', 'H'}, {'g', 'H'}, {'I', 'H'}, {'E', 'E'}, {'b', 'E'},
               {' ', 'C'}, {'T', 'C'}, {'S', 'C'}, {'-', 'C'}, {'\0', 'C'}};
  for (auto c : cases) EXPECT_EQ(secstr3(static_cast<unsigned char>(c.in)), c.out) << c.in;
}

}  // namespace
}  // namespace vorn
