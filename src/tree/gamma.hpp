// Rates across columns: the discrete gamma of Yang (1994), K categories of
// equal probability, each at the mean rate of its share of a gamma of shape
// alpha and mean 1.
#pragma once

#include <vector>

namespace vorn {

// The regularised lower incomplete gamma function P(a, x).
double gamma_p(double a, double x);
// x with P(a, x) = p, for 0 < p < 1.
double gamma_p_inverse(double a, double p);
// The K category rates (their mean is 1).
std::vector<double> gamma_rates(double alpha, int k);

}  // namespace vorn
