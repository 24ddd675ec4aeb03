// The likelihood of the alignment's columns on the family's tree under the
// tree null's model, a branch-length scale and a discrete gamma of rates
// fitted to it by maximum likelihood, and each column's rate as the
// empirical-Bayes posterior mean over the gamma's categories.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "log.hpp"
#include "scoring/position.hpp"
#include "tree/joining.hpp"
#include "tree/model.hpp"

namespace vorn {

// Branch v's length in the model's time: scale * max(0, tree.length[v]).
// loglik[c * k + i]: the log-likelihood of column positions[c] at rate
// rates[i] (gaps are missing data), each column's on its own thread.
void column_logliks(const Columns& cols, const int32_t* positions, int32_t npos, const TreeView& tree,
                    const AaModel& m, double scale, const std::vector<double>& rates, std::vector<double>& loglik);

struct RateFit {
  double scale = 1;  // the joined tree's lengths times scale are expected substitutions
  double alpha = 1;  // the gamma's shape
  double loglik = 0; // of the columns the fit saw
};
// Scale and shape that maximise the likelihood of (up to a few dozen of)
// the columns positions[0..npos) under discrete gamma rates.
RateFit fit_rates(const Columns& cols, const int32_t* positions, int32_t npos, const TreeView& tree,
                  const AaModel& m, Log& log);
inline constexpr int kFitCategories = 4, kRateCategories = 8;

// Maximum-likelihood branch lengths on the joined topology, from the
// lengths scale * tree.length (written back into tree.length, in the
// model's time): Newton steps of every branch at once, in passes, over (up
// to a few dozen of) the columns, under the gamma of shape alpha.
void fit_branch_lengths(const Columns& cols, const int32_t* positions, int32_t npos, const TreeView& tree,
                        const AaModel& m, double scale, double alpha, int passes, Log& log);

// Each column's rate under the fit: the posterior probability of each of
// kRateCategories (rates: the categories' rates) and the posterior mean.
struct ColumnRate {
  double mean = 1;
  std::array<double, kRateCategories> posterior{};
};
std::vector<ColumnRate> column_rates(const Columns& cols, const int32_t* positions, int32_t npos, const TreeView& tree,
                                     const AaModel& m, const RateFit& fit, std::vector<double>& rates);

}  // namespace vorn
