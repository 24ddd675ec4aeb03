#include "report/result_line.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace vorn {
namespace {

std::string raw(const LineFields& f) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* out = open_memstream(&buf, &len);
  write_raw_line(out, f);
  std::fclose(out);
  std::string s(buf, len);
  std::free(buf);
  return s;
}

std::string extended(const LineFields& f, const char* a, const char* b, const char* c, const char* d) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* out = open_memstream(&buf, &len);
  write_extended_line(out, f, a, b, c, d);
  std::fclose(out);
  std::string s(buf, len);
  std::free(buf);
  return s;
}

TEST(ResultLine, TheFourSampleLines) {
  const LineFields l1{12, 'L', 12, ' ', -1, 1.234f, '-', -1, 0.5432f};
  const LineFields l2{45, 'K', 145, 'A', 35, 0.693f, 'H', 17, -2.0f};
  const LineFields l4{13, '.', 13, ' ', -1, -1.0f, '-', -1, -3.0f};
  EXPECT_EQ(raw(l1), "  12    L   12      -1   1.234   -  -1  xx    0.5432 \n");
  EXPECT_EQ(raw(l1).size(), 54u);
  EXPECT_EQ(raw(l2), "  45    K  145 A    35   0.693   H  17  xx   -2.0000 \n");
  char z1[32], p1[32], z2[32], p2[32];
  std::snprintf(z1, sizeof z1, " %9.4f", 2.5);
  std::snprintf(p1, sizeof p1, " %e", 0.01);
  std::snprintf(z2, sizeof z2, " %9.4f", 3.1);
  std::snprintf(p2, sizeof p2, " %e", 0.002);
  const std::string e3 = extended(l1, z1, p1, z2, p2);
  EXPECT_EQ(e3, "  12    L   12      -1   1.234   -  -1  xx    0.5432     2.5000  1.000000e-02     3.1000  2.000000e-03\n");
  EXPECT_EQ(e3.size(), 103u);
  std::snprintf(p1, sizeof p1, " %e", 2.0);
  EXPECT_EQ(extended(l4, "        []", p1, "        []", p1),
            "  13    .   13      -1  -1.000   -  -1  xx   -3.0000         []  2.000000e+00         []  2.000000e+00\n");
}

TEST(ResultLine, WidthsGrowAndNothingIsCut) {
  const LineFields wide{7, 'A', 12345, 'B', 1000, 4.3219f, 'E', 5, 1.0f};
  const std::string s = raw(wide);
  EXPECT_EQ(s, "   7    A 12345 B   1000   4.322   E   5  xx    1.0000 \n");
  char z[32];
  std::snprintf(z, sizeof z, " %9.4f", -NAN);
  EXPECT_EQ(std::string(z), "      -nan");
  std::snprintf(z, sizeof z, " %9.4f", INFINITY);
  EXPECT_EQ(std::string(z), "       inf");
}

}  // namespace
}  // namespace vorn
