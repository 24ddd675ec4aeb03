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

}  // namespace
}  // namespace vorn::test
