// What the phases are handed of the workspace: views of its arrays in the
// argument types of the readers and passes. The driver builds them; the
// workspace itself only holds the arrays.
#pragma once

#include "input/alignment.hpp"
#include "report/result_line.hpp"
#include "scoring/position.hpp"
#include "scoring/similarity.hpp"
#include "shuffle/random_passes.hpp"
#include "shuffle/weighted_random.hpp"
#include "workspace.hpp"

namespace vorn {

AlignmentArrays alignment_arrays(const Workspace& ws);
inline Columns columns(const Workspace& ws) {
  return Columns{ws.alncol.data(), ws.gapperc.data(), ws.gaplist.data(), ws.gapstart.data(), ws.nprot, ws.alnlen};
}
inline LineSource lines(const Workspace& ws) {
  return LineSource{ws.aln[1],      ws.pdbnum.data(), ws.chain.data(), ws.acc.data(),
                    ws.entrop.data(), ws.sec_str.data(), ws.var.data()};
}
// What the random passes read and write, unweighted and weighted.
RandomPassArrays random_pass_arrays(Workspace& ws);
WeightedRandom weighted_random(Workspace& ws);
// A result line kept for the results of the run.
inline void keep_result(Workspace& ws, const ResultRow& row) {
  ws.results[++ws.nresults] = row;
}

}  // namespace vorn
