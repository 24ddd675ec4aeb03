// The allocation plan: every array of the workspace, group by group, with
// its step code and size, computed in 64 bits without wrapping. The plan
// knows what each phase needs; the workspace only holds the arrays.
#pragma once

#include <vector>

#include "workspace.hpp"

namespace vorn {

PairBlock::Shape pair_shape(const Workspace& ws);
// -B on more proteins than neighbour joining takes: the tree is joined by
// average linkage before the similarities are ranked, over the sort's
// scratch (Spearman) or an array of its own (Pearson), so that no copy of
// the similarities is kept for it.
bool tree_joined_early(const Workspace& ws);

std::vector<PlanItem> plan_group1(Workspace& ws);
std::vector<PlanItem> plan_group2(Workspace& ws);
std::vector<PlanItem> plan_group3(Workspace& ws);
std::vector<PlanItem> plan_group4(Workspace& ws);
std::vector<PlanItem> plan_group5(Workspace& ws);

}  // namespace vorn
