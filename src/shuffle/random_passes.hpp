// The random passes (every scored position against every permutation of the
// proteins) and the final report with Z-scores and P-values.
#pragma once

#include <cstdio>

#include "log.hpp"
#include "scoring/position.hpp"
#include "workspace.hpp"

namespace vorn {

// Fills rndcorr, globdist and globcount from sufix, icorr and colstat.
void random_passes(Workspace& ws, int rankcorr, const SimilaritySide& side, Log& log);
// Prints the extended result line of every scored position.
void final_report(Workspace& ws, FILE* out);

}  // namespace vorn
