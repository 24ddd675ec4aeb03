#include "tree/gamma.hpp"

#include <cmath>

namespace vorn {

double gamma_p(double a, double x) {
  if (x <= 0) return 0;
  const double lead = a * std::log(x) - x - std::lgamma(a);
  if (x < a + 1) {
    // The series, which converges fast below a + 1.
    double term = 1 / a, sum = term;
    for (int n = 1; n < 10000; ++n) {
      term *= x / (a + n);
      sum += term;
      if (std::fabs(term) < std::fabs(sum) * 1e-16) break;
    }
    return sum * std::exp(lead);
  }
  // The continued fraction of the upper function (Lentz).
  const double tiny = 1e-300;
  double b = x + 1 - a, c = 1 / tiny, d = 1 / b, h = d;
  for (int i = 1; i < 10000; ++i) {
    const double an = -i * (i - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1 / d;
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1) < 1e-16) break;
  }
  return 1 - std::exp(lead) * h;
}

double gamma_p_inverse(double a, double p) {
  // Bisection on a bracket, then it is exact to the last digits that matter.
  double lo = 0, hi = std::max(1.0, a);
  while (gamma_p(a, hi) < p) hi *= 2;
  for (int i = 0; i < 200 && hi - lo > 1e-14 * hi; ++i) {
    const double mid = 0.5 * (lo + hi);
    (gamma_p(a, mid) < p ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

std::vector<double> gamma_rates(double alpha, int k) {
  // Category i holds the quantiles (i/k, (i+1)/k] of gamma(alpha, rate
  // alpha); its mean is k times the integral of x f(x) over them, where
  // x f(x; alpha) = f(x; alpha + 1) for the scaled variable.
  std::vector<double> cut(static_cast<size_t>(k) + 1, 0), rates(static_cast<size_t>(k));
  for (int i = 1; i < k; ++i) cut[i] = gamma_p_inverse(alpha, static_cast<double>(i) / k) / alpha;
  double below = 0;
  for (int i = 0; i < k; ++i) {
    const double upto = i + 1 < k ? gamma_p(alpha + 1, cut[i + 1] * alpha) : 1.0;
    rates[i] = (upto - below) * k;
    below = upto;
  }
  return rates;
}

}  // namespace vorn
