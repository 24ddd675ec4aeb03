// Runs of the built binary: exact standard output, standard error and exit
// status for the command-line rules, the phase sequence and the failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "settings.hpp"
#include "support/harness.hpp"

namespace vorn::test {
namespace {

std::string fmt(const char* f, long long a, long long b = 0, long long c = 0, long long d = 0) {
  char buf[256];
  std::snprintf(buf, sizeof buf, f, a, b, c, d);
  return buf;
}

// The standard error of a successful run, phase by phase.
struct ErrModel {
  int nprot = 12, alnlen = 3;
  std::vector<int> scored = {1, 3};
  std::string matrix_lines = "AA. MATRIX. Type: Raw\n";
  bool entropy = true, pearson = false, imported = false;
  long long nsuffl = 0;

  std::string text() const {
    std::string e = "Vorn-Kalbrith v. 3.4\n" + matrix_lines;
    e += fmt("ALIGNMENT. File type: pir; %lld prots. X %lld len.\n", nprot, alnlen);
    e += "Mem...";
    if (nsuffl == 0) {
      e += "\rNo background distribution. Raw scores.\n";
    } else {
      e += fmt("\rBackground distribution with %lld random alns.\n", nsuffl);
      for (long long s = 1; s <= nsuffl; ++s) e += fmt("\rVector: %lld", s) + std::string(37, ' ');
    }
    e += pearson ? "\rRaw score: Pearson's linear correlation.\n"
                 : "\rRaw score: Spearman's non-parametric rank correlation.\n";
    e += "\rReading aln...";
    for (int i = 1; i < nprot; ++i) e += fmt("\rProtein sim. matrix (%lld/%lld)...  ", i, nprot);
    if (entropy)
      for (int p = 1; p <= alnlen; ++p) e += fmt("\rEntropy pos: %lld/%lld    ", p, alnlen);
    if (imported) e += "\rExternal protein 'similarity' matrix imported.                     \n";
    e += "\rSorting/Ranking protein sim. matrix...          \r";
    for (int p : scored) e += fmt("> Raw scores. pos: %lld/%lld", p, alnlen) + std::string(31, ' ') + "\r";
    for (long long s = 1; s <= nsuffl; ++s)
      for (int p = 1; p <= alnlen; ++p)
        e += fmt("> Scores for random alns... Pos:%4lld/%lld  Rnd. aln:%4lld/%lld       \r", p, alnlen, s, nsuffl);
    e += "Done." + std::string(99, ' ') + "\n";
    return e;
  }
};

// Twelve proteins, three positions; position 2 has two gaps (16.7 %) and is skipped.
const char* kTiny =
    ">a\nAVL\n>b\nAVL\n>c\nAVI\n>d\nSVI\n>e\nS-I\n>f\nTVW\n>g\nT-W\n>h\nGVY\n>i\nGVY\n>j\nGVF\n>k\nPVF\n>l\nPVM\n";

class Cli : public ::testing::Test {
 protected:
  TempDir dir;
  std::string aln = dir.write("tiny.fa", kTiny);
  std::string mat = test_data("raw_blosum62_tri.txt");
};

TEST_F(Cli, UsageWithFewerThanTwoArguments) {
  for (auto args : {std::vector<std::string>{}, std::vector<std::string>{"only_one"}}) {
    Outcome r = run_vorn(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage_text());
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(Cli, StandardErrorFollowsThePhases) {
  struct Case {
    std::vector<std::string> opts;
    ErrModel model;
    const char* why;
  };
  ErrModel plain, no_entropy, pearson, imported, shuffled;
  no_entropy.entropy = false;
  pearson.pearson = true;
  imported.imported = true;
  shuffled.nsuffl = 2;
  std::string sim;
  for (int i = 1; i <= 12; ++i)
    for (int j = i + 1; j <= 12; ++j) sim += std::to_string(i) + "\t" + std::to_string(j) + "\t" + ((i + j) % 3 ? "1" : "0") + "\n";
  const std::string simfile = dir.write("classes.sim", sim);
  const Case cases[] = {
      {{}, plain, "defaults"},
      {{"-E"}, no_entropy, "-E: no entropy progress"},
      {{"-N"}, pearson, "-N"},
      {{"-M=" + simfile}, imported, "-M"},
      {{"-M=" + dir.path() + "/------x"}, plain, "six '-' in the -M path: not read"},
      {{"-S=2"}, shuffled, "-S=2"},
      {{"-4"}, plain, "-4 changes nothing"},
  };
  const std::string fake = dir.fake_date("Sun Dec  6 19:47:29 UTC 2026");
  for (const Case& c : cases) {
    std::vector<std::string> args = {aln, mat};
    args.insert(args.end(), c.opts.begin(), c.opts.end());
    RunOptions ro;
    ro.path_prefix = fake;
    Outcome r = run_vorn(args, ro);
    EXPECT_EQ(r.status, 0) << c.why << r.out;
    EXPECT_EQ(r.err, c.model.text()) << c.why;
  }
}

TEST_F(Cli, FailuresInTheirOrder) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
    const char* why;
  };
  const std::string missing = dir.path() + "/missing";
  const Case cases[] = {
      {{missing, missing}, "** Error: Can't read matrix file: " + missing + "\n", "matrix opened first"},
      {{missing, missing, "-S=-1"}, "** Invalid 'nsuffl' (-1)\n", "-S checked before any file"},
      {{missing, mat}, "** Error: Can't read alignment file: " + missing + "\n", "alignment"},
      {{"-N", aln, mat}, "** Error: Can't read alignment file: -N\n", "an option before the paths is a path"},
      {{dir.path(), mat}, "** Error: Can't read alignment file: " + dir.path() + "\n", "a directory"},
      {{aln, dir.path()}, "** Error: Can't read matrix file: " + dir.path() + "\n", "a directory as matrix"},
      {{aln, mat, "-M=" + missing},
       "** Can't r-open '" + missing + "'.\n** Error 1 importing external protein matrix '" + missing + "'.\n",
       "similarity file"},
  };
  for (const Case& c : cases) {
    Outcome r = run_vorn(c.args);
    EXPECT_EQ(r.status, 1) << c.why;
    EXPECT_EQ(r.out, c.out) << c.why;
    EXPECT_EQ(r.err.rfind("Vorn-Kalbrith v. 3.4\n", 0), 0u) << c.why;
  }
}

TEST_F(Cli, SeedFailureWhenDateGivesNothing) {
  RunOptions ro;
  ro.path_prefix = dir.fake_date("");
  Outcome r = run_vorn({aln, mat, "-S=3"}, ro);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "** Couldn't set seed for RND using 'date'.\n");
}

TEST_F(Cli, ResultsThatCannotBeWrittenFailTheRun) {
  RunOptions full;
  full.stdout_file = "/dev/full";
  Outcome r = run_vorn({aln, mat}, full);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("** Error: can't write the results to standard output"), std::string::npos);
  EXPECT_EQ(r.err.find("Done."), std::string::npos);
  RunOptions closed;
  closed.close_stdout = true;
  Outcome c = run_vorn({aln, mat}, closed);
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.err.find("standard output is closed"), std::string::npos);
}

TEST_F(Cli, MemoryShortageStopsBeforeAnyResult) {
#ifdef VORN_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than any useful limit";
#endif
  RunOptions ro;
  ro.ulimit_kb = "100000";
  Outcome r = run_vorn({shared_data("large/Pkinase_emit_N3000.fa"), mat}, ro);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("\n\n** Memory asignation error. Step: ", 0), 0u) << r.out;
  EXPECT_EQ(r.out.find(" xx "), std::string::npos);
  EXPECT_EQ(r.err.find("Reading aln"), std::string::npos) << "stopped in phase 4 or 5";
}

// Other forms of the same data give the same result lines.
TEST(Forms, EquivalentFilesGiveTheSameLines) {
  const std::string blosum = test_data("raw_blosum62_tri.txt");
  const struct {
    std::vector<std::string> a, b;
  } cases[] = {
      {{shared_data("families/fn3.sto"), blosum}, {shared_data("families/fn3.fa"), blosum}},
      {{shared_data("families/Pkinase.sto"), blosum}, {shared_data("families/Pkinase.fa"), blosum}},
      {{shared_data("families/LuxC.sto"), blosum}, {shared_data("families/LuxC.fa"), blosum}},
      {{shared_data("families/globins4.sto"), blosum}, {shared_data("families/globins4.fa"), blosum}},
      {{test_data("globins45.clustalo.aln"), blosum}, {test_data("globins45.clustalo.fa"), blosum}},
      {{test_data("fn3.fa"), test_data("EBLOSUM62")}, {test_data("fn3.fa"), blosum}},
      {{test_data("fn3.fa"), blosum, "-S=20", "-R=79", "-T=1"}, {test_data("fn3.fa"), blosum, "-S=20"}},
  };
  TempDir dir;
  RunOptions ro;
  ro.path_prefix = dir.fake_date("Sun Dec  6 19:47:29 UTC 2026");  // seed 79
  for (const auto& c : cases) {
    Outcome a = run_vorn(c.a, ro), b = run_vorn(c.b, ro);
    ASSERT_EQ(a.status, 0) << c.a[0] << a.out;
    EXPECT_GT(a.out.size(), 0u);
    EXPECT_EQ(a.out, b.out) << c.a[0] << " " << c.a[1];
  }
}

TEST(Golden, Fn3MatchesTheIndependentRecomputation) {
  for (auto [opt, file] : {std::pair<const char*, const char*>{"-4", "golden/fn3_blosum62_spearman.out"},
                           {"-N", "golden/fn3_blosum62_pearson.out"}}) {
    Outcome r = run_vorn({test_data("fn3.fa"), test_data("raw_blosum62_tri.txt"), opt});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, read_file(test_data(file))) << file;
  }
}

// Both streams byte-identical for one and two threads, shuffling included.
TEST(Threads, OutputDoesNotDependOnTheThreadCount) {
  TempDir dir;
  const std::string fake = dir.fake_date("Sun Dec  6 19:47:29 UTC 2026");
  for (auto opts : {std::vector<std::string>{}, std::vector<std::string>{"-S=20"}, std::vector<std::string>{"-S=9", "-N"}}) {
    std::vector<std::string> args = {test_data("fn3.fa"), test_data("maxhom_blosum62_asym.metric")};
    args.insert(args.end(), opts.begin(), opts.end());
    Outcome one, two;
    for (auto [threads, out] : {std::pair<const char*, Outcome*>{"OMP_NUM_THREADS=1", &one}, {"OMP_NUM_THREADS=2", &two}}) {
      RunOptions ro;
      ro.path_prefix = fake;
      ro.env = {threads};
      *out = run_vorn(args, ro);
    }
    ASSERT_EQ(one.status, 0);
    EXPECT_EQ(one.out, two.out);
    EXPECT_EQ(one.err, two.err);
  }
}

}  // namespace
}  // namespace vorn::test
