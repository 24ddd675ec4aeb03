#include "input/residue.hpp"

#include <gtest/gtest.h>

namespace vorn {
namespace {

TEST(ResidueCodes, SecondaryStructureInThreeStates) {
  const struct {
    char in, out;
  } cases[] = {{'H', 'H'}, {'g', 'H'}, {'I', 'H'}, {'E', 'E'}, {'b', 'E'},
               {' ', 'C'}, {'T', 'C'}, {'S', 'C'}, {'-', 'C'}, {'\0', 'C'}};
  for (auto c : cases) EXPECT_EQ(secstr3(static_cast<unsigned char>(c.in)), c.out) << c.in;
}

}  // namespace
}  // namespace vorn
