// Z-scores and empirical P-values of a score against a set of random scores.
#pragma once

#include <cstdint>

namespace vorn {

// Mean and sample standard deviation, summed in index order in double precision.
struct ZStats {
  double mean;
  double sd;
};
ZStats zstats(const float* values, int64_t count);  // values[1..count]
inline double zscore(const ZStats& z, float x) { return (static_cast<double>(x) - z.mean) / z.sd; }

// fzscore(values, count, x) = (x - mean) / sd, with no guard: one value gives
// 0/0, no spread gives an infinity or 0/0.
double fzscore(const float* values, int64_t count, float x);
// fpval = (number of values >= x, compared in single precision) / count.
double fpval(const float* values, int64_t count, float x);
// The same count from a copy sorted into non-increasing order (NaN-free).
double fpval_sorted(const float* sorted, int64_t count, float x);

}  // namespace vorn
