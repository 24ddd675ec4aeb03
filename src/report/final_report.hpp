// The report of a shuffled run: every scored column's line with its Z-scores
// and P-values against its own random scores and against the pool.
#pragma once

#include <cstdint>
#include <functional>

#include "report/result_line.hpp"
#include "scoring/similarity.hpp"

namespace vorn {

// sorted needs room for count + 1 values. emit gets every row in column order.
void final_report(const Columns& cols, const LineSource& lines, const float* icorr, const float* const* rndcorr,
                  int64_t nsuffl, const float* pool, int64_t count, float* sorted,
                  const std::function<void(const ResultRow&)>& emit);

}  // namespace vorn
