#include "scoring/entropy.hpp"

#include <gtest/gtest.h>

#include "input/residue.hpp"

namespace vorn {
namespace {

std::vector<uint8_t> codes(const std::string& column) {
  std::vector<uint8_t> c;
  for (char ch : column) c.push_back(static_cast<uint8_t>(aa_index(static_cast<unsigned char>(ch))));
  return c;
}

TEST(Entropy, Cases) {
  const struct {
    std::string column;
    std::string printed;  // "%6.3f"
    const char* why;
  } cases[] = {
      {"AAAAAAAA", " 0.000", "conserved"},
      {"AAAAVVVV", " 1.000", "two residues, equal numbers"},
      {"ACDEFGHIKLMNPQRSTVWY", " 4.322", "all twenty"},
      {"AAAAAAAAAA-", "-1.000", "1 gap in 11: quotient exactly a tenth"},
      {"AAAAAAAAAAV-", " 0.439", "1 gap in 12: entropy of the 11 residues"},
      {"----", "-1.000", "gaps only"},
      {"AAAAXBZ", "-1.000", "X, B, Z count as gaps"},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> col = codes(c.column);
    char buf[32];
    const float e = column_entropy(col.data(), static_cast<int32_t>(col.size()));
    std::snprintf(buf, sizeof buf, "%6.3f", static_cast<double>(e));
    EXPECT_EQ(std::string(buf), c.printed) << c.why;
  }
}

}  // namespace
}  // namespace vorn
