// The report of a shuffled run: every scored column's line with its Z-scores
// and P-values against its own random scores and against the pool.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "report/result_line.hpp"
#include "scoring/similarity.hpp"
#include "shuffle/significance.hpp"

namespace vorn {

// sorted needs room for count + 1 values. emit gets every row in column order.
void final_report(const Columns& cols, const LineSource& lines, const float* icorr, const float* const* rndcorr,
                  int64_t nsuffl, const float* pool, int64_t count, float* sorted,
                  const std::function<void(const ResultRow&)>& emit);

// The honest P and q of every result line (honest_p_and_q), NaN for sentinel lines.
std::vector<Honest> honest_significance(const ResultRow* rows, int32_t n, int64_t nsuffl);

}  // namespace vorn
