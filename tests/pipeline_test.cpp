// Whole runs of the binary against the literal procedures, on random small
// alignments: every printed digit must agree.
#include <gtest/gtest.h>

#include <random>

#include "support/harness.hpp"
#include "support/inputs.hpp"
#include "support/literal.hpp"

namespace vorn::test {
namespace {

// A date line whose offsets 15 and 18 hold '7' and '9': seed 79.
constexpr const char* kDateLine = "Sun Dec  6 19:47:29 UTC 2026";
constexpr unsigned kSeed = 79;

// A float as the similarity file gives it: nine digits, which read back exactly.
std::string strformat_g(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
  return buf;
}

TEST(Pipeline, MatchesLiteralProceduresOnRandomAlignments) {
  std::mt19937 rng(12345);
  TempDir dir;
  const std::string date_dir = dir.fake_date(kDateLine);
  for (int run = 0; run < 33; ++run) {
    const int nprot = run % 11 == 5 ? 1 : std::uniform_int_distribution<int>(2, 20)(rng);
    // Matrices whose sums round and imported similarities (two classes, or
    // fractions) among them: the exact shortcuts must step aside.
    RandomCase c = random_case(rng, nprot, std::uniform_int_distribution<int>(8, 40)(rng));
    c.m[0][0] = 0;  // a Maxhom file has no gap cell
    if (run % 4 == 1)
      for (std::string& r : c.rows) r[0] = 'W';  // a conserved column: -2, kept out of the random pool
    const std::string aln = dir.write("a" + std::to_string(run) + ".fa", fasta_text(c.rows));
    const std::string mat = dir.write("m" + std::to_string(run) + ".metric", maxhom_text(c.m));
    const literal::Alignment a = literal::make_alignment(c.rows);
    std::string sim;
    for (int i = 1; i <= nprot; ++i)
      for (int j = i + 1; j <= nprot; ++j) {
        c.sim[i][j] = c.sim[j][i] = static_cast<float>(std::strtod(strformat_g(c.sim[i][j]).c_str(), nullptr));
        sim += std::to_string(j) + "\t" + std::to_string(i) + "\t" + strformat_g(c.sim[i][j]) + "\n";
      }
    const std::string simfile = "-M=" + dir.write("s" + std::to_string(run) + ".sim", sim);
    // Options and how the literal run goes: Spearman?, permutations, imported.
    const struct {
      std::vector<std::string> opts;
      bool spearman;
      int64_t nsuffl;
      bool imported;
    } modes[] = {{{}, true, 0, false},       {{"-N"}, false, 0, false},          {{"-S=9"}, true, 9, false},
                 {{"-S=3", "-N"}, false, 3, false}, {{"-S=9", simfile}, true, 9, true}, {{"-N", simfile}, false, 0, true}};
    for (const auto& mode : modes) {
      literal::RunHow how;
      how.spearman = mode.spearman, how.nsuffl = mode.nsuffl, how.seed = kSeed;
      how.imported = mode.imported ? &c.sim : nullptr;
      std::vector<std::string> args = {aln, mat};
      args.insert(args.end(), mode.opts.begin(), mode.opts.end());
      Outcome got = run_vorn(args, {"PATH=" + date_dir + ":$PATH", ""});
      ASSERT_EQ(got.status, 0) << got.out << got.err;
      ASSERT_EQ(got.out, literal::expected_stdout(a, c.m, how)) << c.what << ", options " << (mode.opts.empty() ? "" : mode.opts[0]);
    }
  }
}

// Alignments built so that the answer is known without computing it: a
// column that is the whole alignment correlates perfectly with the
// similarities it alone defines; constant columns have no spread; five
// proteins give only ten pairs.
TEST(Pipeline, ConstructedColumnsWithKnownScores) {
  const struct {
    std::vector<std::string> rows;
    std::vector<std::string> opts;
    std::string scores;  // the score field of each result line, in order
    const char* why;
  } cases[] = {
      {{"A", "A", "A", "V", "V", "V", "L", "L", "L", "W", "W", "W"}, {}, "1.0000", "the column defines the similarities"},
      {{"A", "A", "A", "V", "V", "V", "L", "L", "L", "W", "W", "W"}, {"-N"}, "1.0000", "same under Pearson"},
      {{"AW", "AW", "AW", "AW", "AW", "AW", "AW", "AW", "AW", "AW", "AW", "AW"}, {}, "-2.0000-2.0000", "no spread"},
      {{"AW", "AW", "AW", "AW", "AW", "AW", "AW", "AW", "AW", "AW", "AW", "AW"}, {"-N"}, "-2.0000-2.0000", "no spread"},
      {{"AV", "VL", "LI", "IP", "PF"}, {}, "-3.0000-3.0000", "five proteins: ten pairs"},
      {{"ACDE"}, {}, "-2.0000-2.0000-2.0000-2.0000", "one protein: no pairs"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    std::vector<std::string> args = {dir.write("c.fa", fasta_text(c.rows)), test_data("raw_blosum62_tri.txt")};
    args.insert(args.end(), c.opts.begin(), c.opts.end());
    Outcome r = run_vorn(args);
    ASSERT_EQ(r.status, 0) << c.why;
    std::string scores;
    for (size_t at = 0; at + 53 <= r.out.size(); at = r.out.find('\n', at) + 1) {
      std::string field = r.out.substr(at + 43, 10);
      scores += field.substr(field.find_first_not_of(' '), field.find_last_not_of(' ') - field.find_first_not_of(' ') + 1);
    }
    EXPECT_EQ(scores, c.scores) << c.why;
  }
  // Protein 1 gapped at a scored position shows '.'.
  std::vector<std::string> rows(12, "AV");
  rows[0] = "-V";
  Outcome r = run_vorn({dir.write("g.fa", fasta_text(rows)), test_data("raw_blosum62_tri.txt")});
  EXPECT_EQ(r.out.substr(0, 10), "   1    . ");
}

}  // namespace
}  // namespace vorn::test
