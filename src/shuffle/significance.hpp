// Z-scores and empirical P-values of a score against a set of random scores.
#pragma once

#include <cstdint>
#include <vector>

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

// Honest significance of a shuffled run, per column: the own P-value with a
// pseudo-count, (b + 1) / (n + 1) with b the random scores at least as high
// (p_pos = b / n), and the Benjamini-Hochberg q-value of that P over the
// columns with a score; p_pos NaN marks a column without one, which gets NaN.
struct Honest {
  double p1, q;
};
std::vector<Honest> honest_p_and_q(const std::vector<double>& p_pos, int64_t nsuffl);
// Benjamini-Hochberg q-values of the P-values that are not NaN (NaN stays).
std::vector<double> bh_qvalues(const std::vector<double>& p);

}  // namespace vorn
