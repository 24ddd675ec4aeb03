#include "input/simfile.hpp"

#include <gtest/gtest.h>

#include "support/harness.hpp"

namespace vorn {
namespace {

struct Read {
  int code;
  std::string out;
  std::vector<std::vector<float>> id;
};

Read read_sim(const std::string& text, int32_t nprot) {
  Read r;
  r.id.assign(nprot + 1, std::vector<float>(nprot + 1, 99.0f));
  std::vector<float*> rows(nprot + 1);
  for (int i = 0; i <= nprot; ++i) rows[i] = r.id[i].data();
  r.out = test::read_with(text, "s.sim", [&](const InputText& in, FILE* out) {
            r.code = read_sim_mat(in, nprot, rows.data(), out);
          }).messages;
  return r;
}

TEST(SimFile, ResultCodesAndMessages) {
  const struct {
    std::string text;
    int nprot, code;
    std::string out;
    const char* why;
  } cases[] = {
      {"1\t2\t0.5\n", 2, 0, "", "one pair"},
      {"2\t1\t0.5\n1\t2\t0.25\n", 2, 0, "", "reversed, then replaced"},
      {"1\t2\n", 2, 3, "** No <TAB> (ii) in 's.sim'.\n", "one TAB"},
      {"1\t2\t1\n\n", 2, 2, "** No <TAB> in 's.sim'.\n", "empty trailing line"},
      {"x\t-3\t1\n", 2, 4, "** Pair 0 -3 out of range [1-2].\n", "no digits, negative"},
      {"3\t1\t1\n", 2, 4, "** Pair 3 1 out of range [1-2].\n", "first number one past the last protein"},
      {"1\t3\t1\n", 2, 4, "** Pair 1 3 out of range [1-2].\n", "above nprot"},
      {"1\t2\t1\n", 3, 5, "(1,3) (2,3) \n** The above 2 pairs of proteins are missing in 's.sim'.\n", "missing pairs"},
      {"1\t2\t-10000\n", 2, 5, "(1,2) \n** The above 1 pairs of proteins are missing in 's.sim'.\n", "the mark itself"},
      {"1\t2\t1e39\n", 2, 6, "** Value of pair 1 2 at line 1 of 's.sim' is not a finite single-precision number.\n",
       "overflow"},
      {"1\t2\tnan\n", 2, 6, "** Value of pair 1 2 at line 1 of 's.sim' is not a finite single-precision number.\n", "NaN"},
      {"1\t1\t7\n1\t2\t3\tjunk\r\n", 2, 0, "", "diagonal, extra field, CRLF"},
  };
  for (const auto& c : cases) {
    Read r = read_sim(c.text, c.nprot);
    EXPECT_EQ(r.code, c.code) << c.why;
    EXPECT_EQ(r.out, c.out) << c.why;
  }
  Read r = read_sim("2\t1\t0.5\n1\t2\t0.25\n", 2);
  EXPECT_EQ(r.id[1][2], 0.25f);
  EXPECT_EQ(r.id[2][1], 99.0f) << "only i < j is kept";
  const std::string long_line = "1\t2\t" + std::string(20000, ' ') + "0.75\n";
  EXPECT_EQ(read_sim(long_line, 2).id[1][2], 0.75f) << "a line of any length";
}

}  // namespace
}  // namespace vorn
