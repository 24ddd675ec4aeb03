#include "report/result_line.hpp"

#include <gtest/gtest.h>

#include "support/harness.hpp"

namespace vorn {
namespace {

std::string raw(const LineFields& f) {
  return test::capture([&](FILE* out) { write_raw_line(out, f); });
}
std::string extended(const LineFields& f, const char* z1, const char* p1, const char* z2, const char* p2) {
  return test::capture([&](FILE* out) { write_extended_line(out, f, z1, p1, z2, p2); });
}

TEST(ResultLine, SampleLinesAndWideFields) {
  const LineFields l1{12, 'L', 12, ' ', -1, 1.234f, '-', -1, 0.5432f};
  EXPECT_EQ(raw(l1), "  12    L   12      -1   1.234   -  -1  xx    0.5432 \n");
  EXPECT_EQ(raw({45, 'K', 145, 'A', 35, 0.693f, 'H', 17, -2.0f}), "  45    K  145 A    35   0.693   H  17  xx   -2.0000 \n");
  EXPECT_EQ(extended(l1, "    2.5000", " 1.000000e-02", "    3.1000", " 2.000000e-03"),
            "  12    L   12      -1   1.234   -  -1  xx    0.5432     2.5000  1.000000e-02     3.1000  2.000000e-03\n");
  EXPECT_EQ(extended({13, '.', 13, ' ', -1, -1.0f, '-', -1, -3.0f}, "        []", " 2.000000e+00", "        []",
                     " 2.000000e+00"),
            "  13    .   13      -1  -1.000   -  -1  xx   -3.0000         []  2.000000e+00         []  2.000000e+00\n");
  // Widths are minimums: nothing is cut.
  EXPECT_EQ(raw({7, 'A', 12345, 'B', 1000, 4.3219f, 'E', 5, 1.0f}),
            "   7    A 12345 B   1000   4.322   E   5  xx    1.0000 \n");
}

}  // namespace
}  // namespace vorn
