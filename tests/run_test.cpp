// A run is a library call: two in a row, or two at once on two threads, in
// one process give the bytes the command line gives for each.
#include "run.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "fail.hpp"
#include "isa.hpp"
#include "support/harness.hpp"

namespace vorn {
namespace {

struct Case {
  std::vector<std::string> args;  // alignment, matrix, options
};

// The result lines and the table of one run in this process.
std::pair<std::string, std::string> in_process(const Case& c, const std::string& prefix) {
  std::vector<std::string> options(c.args.begin() + 2, c.args.end());
  options.push_back("-O=" + prefix);
  RunSettings s = test::settings_of(c.args[0], c.args[1], options);
  s.invocation = {"vorn"};
  FILE* out = std::tmpfile();
  Log log(nullptr);
  run(s, Output{out, {}}, log);
  std::rewind(out);
  std::string text;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
  std::fclose(out);
  return {text, test::read_file(prefix + ".tsv")};
}

TEST(Run, TwoRunsInOneProcessInARowAndAtOnce) {
  const std::string M = test::test_data("raw_blosum62_tri.txt");
  const std::vector<Case> cases = {
      {{test::test_data("fn3.fa"), M, "-S=40", "-R=3"}},
      // The same family twice with other seeds, so that the two go through the
      // same steps (draws, large-vector sorts) at the same time; then weighted.
      {{test::shared_data("large/Pkinase_emit_N1000.fa"), M, "-S=4", "-R=1", "-E"}},
      {{test::shared_data("large/Pkinase_emit_N1000.fa"), M, "-S=4", "-R=2", "-E"}},
      {{test::shared_data("large/Pkinase_emit_N1000.fa"), M, "-W", "-S=3", "-R=2"}},
  };
  test::TempDir dir;
  std::vector<std::pair<std::string, std::string>> want;
  for (size_t k = 0; k < cases.size(); ++k) {
    const std::string prefix = dir.path() + "/cli" + std::to_string(k);
    std::vector<std::string> args = cases[k].args;
    args.push_back("-O=" + prefix);
    const test::Outcome r = test::run_vorn(args);
    ASSERT_EQ(r.status, 0) << r.out;
    want.emplace_back(r.out, test::read_file(prefix + ".tsv"));
  }
  for (size_t k = 0; k < cases.size(); ++k)
    EXPECT_EQ(in_process(cases[k], dir.path() + "/row" + std::to_string(k)), want[k]) << "in a row, case " << k;
  std::vector<std::pair<std::string, std::string>> got(cases.size());
  std::vector<std::thread> threads;
  for (size_t k = 0; k < cases.size(); ++k)
    threads.emplace_back([&, k] { got[k] = in_process(cases[k], dir.path() + "/once" + std::to_string(k)); });
  for (std::thread& t : threads) t.join();
  for (size_t k = 0; k < cases.size(); ++k) EXPECT_EQ(got[k], want[k]) << "at once, case " << k;
}

// Every instruction-set path the processor has runs its own clones, and
// only those, in every pass that has clones (similarities, scores, the plain
// and the weighted random passes).
TEST(Run, EachPathRunsItsOwnClones) {
  const std::string aln = test::shared_data("families/Pkinase.fa"), m = test::test_data("raw_blosum62_tri.txt");
  for (const Isa isa : {Isa::Generic, Isa::Avx2, Isa::Avx512}) {
    if (static_cast<int>(isa) > static_cast<int>(machine_isa())) continue;
    set_isa_limit(isa);
    uint64_t before[3];
    for (int k = 0; k < 3; ++k) before[k] = isa_calls(static_cast<Isa>(k));
    for (const auto& options : {std::vector<std::string>{"-S=9", "-R=1"}, {"-W", "-S=9", "-R=1"}}) {
      Log quiet(nullptr);
      run(test::settings_of(aln, m, options), Output{}, quiet);
    }
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(isa_calls(static_cast<Isa>(k)) > before[k], k == static_cast<int>(isa))
          << isa_name(isa) << " path, " << isa_name(static_cast<Isa>(k)) << " clones";
  }
  set_isa_limit(Isa::Avx512);
}

// Asked to stop, a run ends with the interruption, never with results: the
// passes skip their work once asked, so what they leave is not a result.
TEST(Run, AStoppedRunGivesNoResults) {
  const RunSettings s = test::settings_of(test::shared_data("large/Pkinase_emit_N1000.fa"),
                                          test::test_data("raw_blosum62_tri.txt"), {"-S=3000", "-R=1"});
  BackgroundRun r(s, BackgroundRun::Kind::Scores);
  EXPECT_FALSE(r.wait(0.3));
  r.stop();
  EXPECT_TRUE(r.wait(5.0));
  try {
    r.take();
    ADD_FAILURE() << "a stopped run gave results";
  } catch (const Failure& f) {
    EXPECT_NE(f.message.find("Interrupted"), std::string::npos) << f.message;
  }
}

}  // namespace
}  // namespace vorn
