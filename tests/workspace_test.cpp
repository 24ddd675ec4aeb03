#include "workspace.hpp"

#include <gtest/gtest.h>

#include "fail.hpp"

namespace vorn {
namespace {

std::string failure_of(Allocator& a, const std::vector<PlanItem>& items) {
  try {
    a.allocate(items);
  } catch (const Failure& f) {
    return f.message;
  }
  return "";
}

std::string step(long long code) { return "\n\n** Memory asignation error. Step: " + std::to_string(code) + ".\n\n"; }

// A memory ceiling placed inside the plan makes the step code name the first
// array or row that does not fit.
TEST(AllocationPlan, StepCodeNamesTheFirstArrayThatDoesNotFit) {
  Workspace ws;
  ws.nprot = 10;
  ws.alnlen = 100;
  ws.npairs = 45;
  ws.nsuffl = 4;
  const uint64_t table = 12 * sizeof(int32_t*), row = 102 * sizeof(int32_t);
  const struct {
    uint64_t ceiling;
    std::string message;
    const char* why;
  } cases[] = {
      {table - 1, step(-1), "the aln table"},
      {table + 6 * row, step(7), "the seventh aln row"},
      {table + 10 * row, step(-2), "the annotation vectors"},
      {1 << 20, "", "everything fits"},
  };
  for (const auto& c : cases) {
    Workspace w;
    w.nprot = ws.nprot, w.alnlen = ws.alnlen, w.npairs = ws.npairs, w.nsuffl = ws.nsuffl;
    Allocator a(c.ceiling);
    EXPECT_EQ(failure_of(a, plan_group1(w)), c.message) << c.why;
  }
  // Shuffling groups: permutation 3's row.
  Allocator a(1 << 20);
  ASSERT_EQ(failure_of(a, plan_group1(ws)), "");
  Allocator tight(a.reserved() + 7 * sizeof(int32_t*) + 13 * sizeof(int32_t) + 2 * 12 * sizeof(int32_t) + 1);
  Workspace w2;
  w2.nprot = 10, w2.alnlen = 100, w2.npairs = 45, w2.nsuffl = 4;
  ASSERT_EQ(failure_of(tight, plan_group1(w2)), "");
  EXPECT_EQ(failure_of(tight, plan_group2(w2)), step(5003));
}

TEST(AllocationPlan, SizesNeverWrap) {
  Workspace ws;
  ws.nprot = 2000000000;
  ws.alnlen = 2000000000;
  ws.npairs = int64_t{2000000000} * 1999999999 / 2;
  ws.nsuffl = 2000000000;
  Allocator a(uint64_t{1} << 30);
  EXPECT_EQ(failure_of(a, plan_group1(ws)), step(-1)) << "a table of 16 GB against 1 GB";
  Workspace w;
  w.nprot = 3;
  w.alnlen = 2000000000;
  w.npairs = 3;
  w.nsuffl = 2000000000;
  Allocator b(uint64_t{1} << 40);
  EXPECT_EQ(failure_of(b, plan_group4(w)), step(9001)) << "a pool of 4e18 values";
}

}  // namespace
}  // namespace vorn
