#include "tree/likelihood.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>

#include "tree/gamma.hpp"

namespace vorn {

namespace {

// Felsenstein's pruning of one column at one rate: the partials of the
// internal nodes (in join order, children first), each kept near 1 by a
// power of two whose logarithm is summed. p: each node's P(t) above it.
double prune(const uint8_t* codes, const TreeView& tree, const AaModel& m, const std::vector<StateMatrix>& p,
             std::vector<double>& part) {
  const int32_t n = tree.n;
  double log_scale = 0;
  for (int32_t v = n; v < 2 * n - 1; ++v) {
    double* out = part.data() + static_cast<int64_t>(v - n) * kStates;
    for (int i = 0; i < kStates; ++i) out[i] = 1.0;
    for (const int32_t c : {tree.left[v], tree.right[v]}) {
      const StateMatrix& pc = p[static_cast<size_t>(c)];
      if (c < n) {
        const int b = codes[c];
        if (b == 0) continue;  // a gap: missing data
        for (int i = 0; i < kStates; ++i) out[i] *= pc[i * kStates + (b - 1)];
        continue;
      }
      const double* in = part.data() + static_cast<int64_t>(c - n) * kStates;
      for (int i = 0; i < kStates; ++i) {
        double s = 0;
        for (int j = 0; j < kStates; ++j) s += pc[i * kStates + j] * in[j];
        out[i] *= s;
      }
    }
    double top = 0;
    for (int i = 0; i < kStates; ++i) top = std::max(top, out[i]);
    if (top > 0 && top < 0x1p-256) {
      for (int i = 0; i < kStates; ++i) out[i] *= 0x1p256;
      log_scale -= 256 * std::log(2.0);
    }
  }
  const double* root = part.data() + static_cast<int64_t>(n - 2) * kStates;  // node 2n - 2
  double l = 0;
  for (int i = 0; i < kStates; ++i) l += m.pi[i] * root[i];
  return std::log(l) + log_scale;
}

double mean_loglik(const std::vector<double>& ll, int32_t npos, int k) {
  double total = 0;
  for (int32_t c = 0; c < npos; ++c) {
    const double* x = ll.data() + static_cast<int64_t>(c) * k;
    const double top = *std::max_element(x, x + k);
    double s = 0;
    for (int i = 0; i < k; ++i) s += std::exp(x[i] - top);
    total += top + std::log(s / k);
  }
  return total;
}

// The maximum of f over log x in [lo, hi], by golden sections to a step of tol.
template <class F>
double golden(F f, double lo, double hi, double tol) {
  const double g = 0.5 * (std::sqrt(5.0) - 1);
  double a = lo, b = hi, x1 = b - g * (b - a), x2 = a + g * (b - a);
  double f1 = f(std::exp(x1)), f2 = f(std::exp(x2));
  while (b - a > tol) {
    if (f1 < f2) {
      a = x1, x1 = x2, f1 = f2, x2 = a + g * (b - a), f2 = f(std::exp(x2));
    } else {
      b = x2, x2 = x1, f2 = f1, x1 = b - g * (b - a), f1 = f(std::exp(x1));
    }
  }
  return std::exp(0.5 * (a + b));
}

// The columns the fits see: up to count of positions, spread evenly.
std::vector<int32_t> spread(const int32_t* positions, int32_t npos, int32_t count) {
  std::vector<int32_t> some;
  for (int32_t c = 0; c < std::min(npos, count); ++c)
    some.push_back(positions[static_cast<int64_t>(c) * npos / std::min(npos, count)]);
  return some;
}

// One column's likelihood through each branch, at each of the rate
// categories: per[(v * k + c) * 3 ..] = its log, and its first and second
// derivatives by v's length over it. w.e[(v * k + c) * 20 + s] =
// exp(lambda_s * rates[c] * t_v).
struct BranchWork {
  std::vector<double> down, out, e;  // per category: down (2n - 1) x 20, outside (2n - 1) x 20
  std::vector<double> down_log, out_log;
};

// Kept whole: the down and the outside passes share each category's partials and their scaling logs.
void branch_derivatives(const uint8_t* codes, const TreeView& tree, const AaModel& m, const std::vector<double>& rates,
                        BranchWork& w, std::vector<double>& per) {
  const int32_t n = tree.n, nodes = 2 * n - 1, k = static_cast<int>(rates.size());
  const size_t stride = static_cast<size_t>(nodes) * kStates;
  w.down.assign(stride * k, 0.0), w.out.assign(stride * k, 0.0);
  w.down_log.assign(static_cast<size_t>(nodes) * k, 0.0), w.out_log.assign(static_cast<size_t>(nodes) * k, 0.0);
  // P(t) x in the eigenbasis: R diag(e) L x.
  auto apply = [&](const double* e, const double* x, double* y, bool transpose) {
    double t[kStates];
    for (int s = 0; s < kStates; ++s) {
      double a = 0;
      for (int j = 0; j < kStates; ++j)
        a += (transpose ? m.right[j * kStates + s] : m.left[s * kStates + j]) * x[j];
      t[s] = a * e[s];
    }
    for (int i = 0; i < kStates; ++i) {
      double a = 0;
      for (int s = 0; s < kStates; ++s) a += (transpose ? m.left[s * kStates + i] : m.right[i * kStates + s]) * t[s];
      y[i] = a;
    }
  };
  auto rescale = [&](double* x, double& lg) {
    double top = 0;
    for (int i = 0; i < kStates; ++i) top = std::max(top, x[i]);
    if (top > 0 && top < 0x1p-256) {
      for (int i = 0; i < kStates; ++i) x[i] *= 0x1p256;
      lg -= 256 * std::log(2.0);
    }
  };
  for (int c = 0; c < k; ++c) {
    double* down = w.down.data() + c * stride;
    double* out = w.out.data() + c * stride;
    double* dl = w.down_log.data() + static_cast<size_t>(c) * nodes;
    double* ol = w.out_log.data() + static_cast<size_t>(c) * nodes;
    for (int32_t p = 0; p < n; ++p)
      for (int i = 0; i < kStates; ++i) down[p * kStates + i] = codes[p] == 0 || codes[p] - 1 == i ? 1.0 : 0.0;
    // Down: each internal node's partials from its children's, through P of their branches.
    for (int32_t v = n; v < nodes; ++v) {
      double* d = down + static_cast<size_t>(v) * kStates;
      for (int i = 0; i < kStates; ++i) d[i] = 1.0;
      dl[v] = 0;
      for (const int32_t ch : {tree.left[v], tree.right[v]}) {
        double y[kStates];
        apply(w.e.data() + (static_cast<size_t>(ch) * k + c) * kStates, down + static_cast<size_t>(ch) * kStates, y, false);
        for (int i = 0; i < kStates; ++i) d[i] *= y[i];
        dl[v] += dl[ch];
      }
      rescale(d, dl[v]);
    }
    // Outside: the root's is pi; a child's at its parent's end of its branch
    // is the parent's outside times its sibling's subtree.
    for (int i = 0; i < kStates; ++i) out[static_cast<size_t>(nodes - 1) * kStates + i] = m.pi[i];
    ol[nodes - 1] = 0;
    for (int32_t v = nodes - 1; v >= n; --v) {
      for (const int32_t ch : {tree.left[v], tree.right[v]}) {
        const int32_t sib = ch == tree.left[v] ? tree.right[v] : tree.left[v];
        double y[kStates], a[kStates];
        apply(w.e.data() + (static_cast<size_t>(sib) * k + c) * kStates, down + static_cast<size_t>(sib) * kStates, y, false);
        for (int i = 0; i < kStates; ++i) a[i] = out[static_cast<size_t>(v) * kStates + i] * y[i];
        // The outside at the child's own end: through its branch, transposed.
        double* o = out + static_cast<size_t>(ch) * kStates;
        double lg = ol[v] + dl[sib];
        apply(w.e.data() + (static_cast<size_t>(ch) * k + c) * kStates, a, o, true);
        rescale(o, lg);
        ol[ch] = lg;
        // The branch's derivatives need a (parent end) and the child's down: f(t) = a^T P(t) down.
        double xl[kStates], ya[kStates];
        const double* dch = down + static_cast<size_t>(ch) * kStates;
        for (int s = 0; s < kStates; ++s) {
          double p = 0, q = 0;
          for (int j = 0; j < kStates; ++j) p += m.left[s * kStates + j] * dch[j], q += a[j] * m.right[j * kStates + s];
          xl[s] = p, ya[s] = q;
        }
        double f = 0, f1 = 0, f2 = 0;
        const double* e = w.e.data() + (static_cast<size_t>(ch) * k + c) * kStates;
        for (int s = 0; s < kStates; ++s) {
          const double g = ya[s] * e[s] * xl[s], lam = m.lambda[s] * rates[c];
          f += g, f1 += lam * g, f2 += lam * lam * g;
        }
        double* at = per.data() + static_cast<size_t>(ch) * 3 * k + c * 3;
        at[0] = std::log(std::max(f, 1e-300)) + ol[v] + dl[sib] + dl[ch];
        at[1] = f > 0 ? f1 / f : 0;
        at[2] = f > 0 ? f2 / f : 0;
      }
    }
  }
}

}  // namespace

void fit_branch_lengths(const Columns& cols, const int32_t* positions, int32_t npos, const TreeView& tree,
                        const AaModel& m, double scale, double alpha, int passes, Log& log) {
  const int32_t n = tree.n, nodes = 2 * n - 1;
  if (n < 3) return;
  const std::vector<int32_t> some = spread(positions, npos, 64);
  const std::vector<double> rates = gamma_rates(alpha, kFitCategories);
  const int k = kFitCategories;
  std::vector<double> t(static_cast<size_t>(nodes), 0.0);
  for (int32_t v = 0; v < nodes - 1; ++v) t[v] = std::clamp(scale * tree.length[v], 1e-4, 10.0);
  for (int pass = 0; pass < passes; ++pass) {
    log.checkpoint();
    std::vector<double> g(static_cast<size_t>(nodes), 0.0), h(static_cast<size_t>(nodes), 0.0);
#pragma omp parallel
    {
      BranchWork w;
      w.e.resize(static_cast<size_t>(nodes) * k * kStates);
      for (int32_t v = 0; v < nodes - 1; ++v)
        for (int c = 0; c < k; ++c)
          for (int s = 0; s < kStates; ++s)
            w.e[(static_cast<size_t>(v) * k + c) * kStates + s] = std::exp(m.lambda[s] * rates[c] * t[v]);
      std::vector<double> per(static_cast<size_t>(nodes) * 3 * k), mine_g(static_cast<size_t>(nodes), 0.0),
          mine_h(static_cast<size_t>(nodes), 0.0);
#pragma omp for schedule(dynamic, 1)
      for (size_t col = 0; col < some.size(); ++col) {
        branch_derivatives(cols.column(some[col]), tree, m, rates, w, per);
        for (int32_t v = 0; v < nodes - 1; ++v) {
          // The mixture over the categories: L = sum w_c f_c; d log L / dt and d2.
          const double* x = per.data() + static_cast<size_t>(v) * 3 * k;
          double top = -INFINITY;
          for (int c = 0; c < k; ++c) top = std::max(top, x[c * 3]);
          double sum = 0, s1 = 0, s2 = 0;
          for (int c = 0; c < k; ++c) {
            const double wt = std::exp(x[c * 3] - top);
            sum += wt, s1 += wt * x[c * 3 + 1], s2 += wt * x[c * 3 + 2];
          }
          const double d1 = s1 / sum;
          mine_g[v] += d1, mine_h[v] += s2 / sum - d1 * d1;
        }
      }
#pragma omp critical(vorn_branch_sums)
      for (int32_t v = 0; v < nodes - 1; ++v) g[v] += mine_g[v], h[v] += mine_h[v];
    }
    // Every branch one Newton step (a doubling or halving where the curvature is not negative).
    for (int32_t v = 0; v < nodes - 1; ++v) {
      double next = h[v] < 0 ? t[v] - g[v] / h[v] : g[v] > 0 ? 2 * t[v] : 0.5 * t[v];
      next = std::clamp(next, 0.25 * t[v], 4 * t[v]);
      t[v] = std::clamp(next, 1e-6, 20.0);
    }
  }
  for (int32_t v = 0; v < nodes - 1; ++v) tree.length[v] = t[v];
}

void column_logliks(const Columns& cols, const int32_t* positions, int32_t npos, const TreeView& tree,
                    const AaModel& m, double scale, const std::vector<double>& rates, std::vector<double>& loglik) {
  const int32_t n = tree.n;
  const int k = static_cast<int>(rates.size());
  loglik.assign(static_cast<size_t>(npos) * k, 0.0);
  if (n < 2) return;
  std::vector<StateMatrix> p(static_cast<size_t>(2 * n - 1));
#pragma omp parallel
  {
    std::vector<double> part(static_cast<size_t>(n) * kStates);
    for (int i = 0; i < k; ++i) {
#pragma omp for schedule(static)
      for (int32_t v = 0; v < 2 * n - 2; ++v) transition(m, rates[i] * scale * std::max(0.0, tree.length[v]), p[v]);
#pragma omp for schedule(dynamic, 1)
      for (int32_t c = 0; c < npos; ++c)
        loglik[static_cast<size_t>(c) * k + i] = prune(cols.column(positions[c]), tree, m, p, part);
    }
  }
}

RateFit fit_rates(const Columns& cols, const int32_t* positions, int32_t npos, const TreeView& tree,
                  const AaModel& m, Log& log) {
  // A few dozen columns spread over the alignment carry the two parameters.
  const std::vector<int32_t> some = spread(positions, npos, 24);
  RateFit fit;
  if (some.empty()) return fit;
  std::vector<double> ll;
  auto total = [&](double scale, double alpha) {
    column_logliks(cols, some.data(), static_cast<int32_t>(some.size()), tree, m, scale,
                   gamma_rates(alpha, kFitCategories), ll);
    return mean_loglik(ll, static_cast<int32_t>(some.size()), kFitCategories);
  };
  // A rough scale of the joined tree's lengths first (the branch lengths
  // are fitted one by one next), then the shape on them.
  log.checkpoint();
  fit.scale = golden([&](double x) { return total(x, fit.alpha); }, -3.0, 3.0, 0.2);
  fit_branch_lengths(cols, positions, npos, tree, m, fit.scale, fit.alpha, 3, log);
  fit.scale = 1;
  log.checkpoint();
  fit.alpha = golden([&](double a) { return total(1.0, a); }, std::log(0.05), std::log(50.0), 0.1);
  fit.loglik = total(fit.scale, fit.alpha);
  return fit;
}

std::vector<ColumnRate> column_rates(const Columns& cols, const int32_t* positions, int32_t npos, const TreeView& tree,
                                     const AaModel& m, const RateFit& fit, std::vector<double>& rates) {
  rates = gamma_rates(fit.alpha, kRateCategories);
  std::vector<double> ll;
  column_logliks(cols, positions, npos, tree, m, fit.scale, rates, ll);
  std::vector<ColumnRate> out(static_cast<size_t>(npos));
  for (int32_t c = 0; c < npos; ++c) {
    const double* x = ll.data() + static_cast<int64_t>(c) * kRateCategories;
    const double top = *std::max_element(x, x + kRateCategories);
    double w = 0, wr = 0;
    ColumnRate& r = out[static_cast<size_t>(c)];
    for (int i = 0; i < kRateCategories; ++i) {
      const double e = std::exp(x[i] - top);
      r.posterior[i] = e, w += e, wr += e * rates[i];
    }
    for (double& p : r.posterior) p /= w;
    r.mean = wr / w;
  }
  return out;
}

}  // namespace vorn
