#include "plan.hpp"

#include <gtest/gtest.h>

#include "fail.hpp"

namespace vorn {
namespace {

std::string failure_of(Allocator& a, const std::vector<PlanItem>& items) {
  try {
    a.allocate(items);
  } catch (const Failure& f) {
    // The fixed line, then what was asked for against which limit.
    const size_t detail = f.message.find("** The run needs ");
    EXPECT_NE(detail, std::string::npos) << f.message;
    return f.message.substr(0, detail);
  }
  return "";
}

std::string step(long long code) { return "\n\n** Memory asignation error. Step: " + std::to_string(code) + ".\n\n"; }

Workspace& sized(Workspace& w, int64_t nprot, int64_t alnlen, int64_t npairs, int64_t nsuffl) {
  w.nprot = nprot, w.alnlen = alnlen, w.npairs = npairs, w.nsuffl = nsuffl;
  return w;
}

// A memory ceiling placed inside the plan makes the step code name the first
// array or row that does not fit.
TEST(AllocationPlan, StepCodeNamesTheFirstArrayThatDoesNotFit) {
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
    Allocator a(c.ceiling);
    EXPECT_EQ(failure_of(a, plan_group1(sized(w, 10, 100, 45, 4))), c.message) << c.why;
  }
  // Shuffling groups: permutation 3's row.
  Workspace ws, w2;
  Allocator a(1 << 20);
  ASSERT_EQ(failure_of(a, plan_group1(sized(ws, 10, 100, 45, 4))), "");
  Allocator tight(a.reserved() + 7 * sizeof(int32_t*) + 13 * sizeof(int32_t) + 2 * 12 * sizeof(int32_t) + 1);
  ASSERT_EQ(failure_of(tight, plan_group1(sized(w2, 10, 100, 45, 4))), "");
  EXPECT_EQ(failure_of(tight, plan_group2(w2)), step(5003));
  // Tables reserved untouched and claimed later (the weighted ranks): the
  // claim that crosses the ceiling names its step.
  Allocator later(100);
  std::string claimed;
  try {
    later.claim(-8200, 60);
    later.claim(-8610, 60);  // 60 bytes more than the 40 left
  } catch (const Failure& f) {
    claimed = f.message;
  }
  EXPECT_EQ(claimed.substr(0, step(-8610).size()), step(-8610));
  EXPECT_NE(claimed.find("needs 0 KB more for the array of step -8610, beside the 0 KB it holds"), std::string::npos);
}

TEST(AllocationPlan, SizesNeverWrap) {
  Workspace ws, w;
  Allocator a(uint64_t{1} << 30);
  EXPECT_EQ(failure_of(a, plan_group1(sized(ws, 2000000000, 2000000000, int64_t{2000000000} * 1999999999 / 2, 2000000000))), step(-1)) << "a table of 16 GB against 1 GB";
  Allocator b(uint64_t{1} << 40);
  EXPECT_EQ(failure_of(b, plan_group4(sized(w, 3, 2000000000, 3, 2000000000))), step(9001)) << "a pool of 4e18 values";
}

}  // namespace
}  // namespace vorn
