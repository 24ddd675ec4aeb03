#include "input/matrix.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fail.hpp"
#include "input/residue.hpp"
#include "support/harness.hpp"

namespace vorn {
namespace {

struct Read {
  AaMat m{};
  std::string err;     // standard error
  std::string failure; // the Failure message, if any
};

Read read_text(const std::string& text) {
  Read r;
  test::Reading got = test::read_with(text, "m.txt", [&](const InputText& in, FILE* sink) {
    Log log(sink);
    read_matrix(in, r.m, log);
  });
  r.err = got.messages;
  r.failure = got.failure;
  return r;
}

// The expected tables were computed from the source scores, not by reading
// the files back.
TEST(Matrix, SharedFilesGiveTheirExpectedTables) {
  for (const char* name : {"maxhom_blosum62.metric", "maxhom_blosum62_asym.metric", "maxhom_pam250.metric",
                           "raw_blosum45_square.txt", "raw_blosum45_tri.txt", "raw_blosum62_gapcell_X.txt",
                           "raw_blosum62_gapcell_dash.txt", "raw_blosum62_lower.txt"}) {
    Read r = read_text(test::read_file(test::shared_data(std::string("matrices/") + name)));
    ASSERT_EQ(r.failure, "") << name;
    std::ifstream want(test::shared_data(std::string("matrices/expected/") + name + ".aamat.tsv"));
    std::string line;
    int row = -1;
    while (std::getline(want, line)) {
      if (line.empty() || line[0] == '#' || line[0] == '\t') continue;
      std::istringstream cells(line);
      std::string label;
      cells >> label;
      const int r_code = label == "-" ? 0 : aa_index(static_cast<unsigned char>(label[0]));
      for (int c = 0; c < 21; ++c) {
        double v;
        cells >> v;
        EXPECT_EQ(r.m[r_code][c], static_cast<float>(v)) << name << " [" << label << "][" << c << "]";
      }
      ++row;
    }
    EXPECT_EQ(row, 20) << name;
  }
}

TEST(Matrix, RawLineRules) {
  const struct {
    std::string text;
    int r, c;
    float v;
    const char* why;
  } cases[] = {
      {"A R 1.5\n", 1, 19, 1.5f, "letters at 0 and 2"},
      {"a r 1.5\n", 19, 1, 1.5f, "lower case, other triangle"},
      {"A  R 1.5\n", 1, 19, 0.0f, "blank at offset 2 stores in column 0, cleared"},
      {"X X -1\n", 0, 0, -1.0f, "cell [0][0] stays"},
      {"B Z 3\n", 0, 0, 3.0f, "B and Z are code 0"},
      {"H X 2\nA A 1\n", 20, 0, 0.0f, "the last residue's gap cells are cleared too"},
      {"A A 4\nA A 5\n", 1, 1, 5.0f, "later line wins"},
      {"X X -1\n\n", 0, 0, -1.0f, "a blank line is too short to store anything"},
      {"A A 4\nA A\n", 1, 1, 0.0f, "four characters with the newline: value field empty"},
      {"A A 4\nA A", 1, 1, 4.0f, "three characters at end of file: skipped"},
      {"A R -2\r\n", 19, 1, -2.0f, "CRLF"},
      {"A A 16777217.0000000000000000016777217\n", 1, 1, 16777218.0f, "one rounding, as strtof: above the midpoint"},
      {"A A 16777217\n", 1, 1, 16777216.0f, "the midpoint itself rounds to even"},
  };
  for (const auto& c : cases) {
    Read r = read_text(c.text);
    EXPECT_EQ(r.m[c.r][c.c], c.v) << c.why;
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(r.m[0][k] + r.m[k][0], 0.0f) << c.why;
    // A matrix without a nonzero residue score (the gap cell does not count) is refused.
    bool any = false;
    for (int i = 1; i <= 20; ++i)
      for (int j = 1; j <= 20; ++j) any = any || r.m[i][j] != 0.0f;
    EXPECT_EQ(r.err, "AA. MATRIX. Type: Raw\n") << c.why;
    EXPECT_EQ(r.failure.empty(), any) << c.why << ": " << r.failure;
  }
}

TEST(Matrix, MaxhomFormAndItsFailures) {
  const std::string header = " AA STR I/O     V     L     I     M     F     W     Y     G     A     P     S     T     C"
                             "     H     R     K     Q     E     N     D\n";
  std::string row = " V" + std::string(9, ' ');  // values right-aligned under their letters
  for (int k = 0; k < 20; ++k) row += "  1.50";
  row += "\n";
  const std::string marker = "#****************\n";
  const struct {
    std::string text;
    std::string err, failure;
    const char* why;
  } cases[] = {
      {marker + header + row, "AA. MATRIX. Type: Maxhom\n", "", "marker on the first line"},
      {"A A 4\n" + marker + header + row, "AA. MATRIX. Type: Raw\nAA. MATRIX. Type: Maxhom\n", "", "Raw lines first"},
      {marker + " AA STR I/O     V     L\n" + row, "AA. MATRIX. Type: Maxhom\n",
       "** Error: the column header of Maxhom matrix 'm.txt' (line 2) has no column for residue A.\n",
       "letters inside the key do not count as columns"},
      {marker + header + " V     1.0\n", "AA. MATRIX. Type: Maxhom\n",
       "** Error: row V of Maxhom matrix 'm.txt' (line 3) ends before the column of residue A.\n", "short row"},
      {"A A 1e39\n", "AA. MATRIX. Type: Raw\n",
       "** Error: value '1e39' at line 1 of matrix file 'm.txt' is too large for single precision.\n", "overflow"},
  };
  for (const auto& c : cases) {
    Read r = read_text(c.text);
    EXPECT_EQ(r.err, c.err) << c.why;
    EXPECT_EQ(r.failure, c.failure) << c.why;
    if (c.failure.empty()) {
      EXPECT_EQ(r.m[2][4], 1.5f) << c.why;
    }
  }
}


TEST(Matrix, NcbiGridAndItsFailures) {
  std::string header = "#  a comment\n   A  R  N  D  C  Q  E  G  H  I  L  K  M  F  P  S  T  W  Y  V  B  Z  X  *\n";
  std::string rows;
  for (const char* r : {"A", "R", "N", "D", "C", "Q", "E", "G", "H", "I", "L", "K", "M", "F", "P", "S", "T", "W", "Y", "V", "*"}) {
    rows += r;
    for (int k = 0; k < 24; ++k) rows.append(" ").append(std::to_string(k % 7 - 3));
    rows += "\n";
  }
  Read ok = read_text(header + rows);
  EXPECT_EQ(ok.failure, "");
  EXPECT_EQ(ok.err, "AA. MATRIX. Type: NCBI\n");
  EXPECT_EQ(ok.m[aa_index('R')][aa_index('N')], -1.0f) << "row R, third column";
  EXPECT_EQ(ok.m[0][0], 0.0f) << "the '*' row and column are ignored";
  const struct {
    std::string text, failure;
    const char* why;
  } cases[] = {
      {"  A R N D\nA 1 2 3 4\n", "** Error: the header of NCBI matrix 'm.txt' (line 1) lacks residue V.\n", "few residues"},
      {header + "A 1 2\n", "** Error: row A of NCBI matrix 'm.txt' (line 3) has 2 values; the header has 24 columns.\n",
       "short row"},
      {header + "A" + std::string(23, ' ') + " x 1 2 3 4 5 6 7 8 9 1 2 3 4 5 6 7 8 9 1 2 3 4 5\n",
       "** Error: 'x' in row A of NCBI matrix 'm.txt' (line 3) is not a number.\n", "a word for a value"},
      {header, "** Error: NCBI matrix 'm.txt' has no row for residue A.\n", "no rows"},
  };
  for (const auto& c : cases) EXPECT_EQ(read_text(c.text).failure, c.failure) << c.why;
}

}  // namespace
}  // namespace vorn
