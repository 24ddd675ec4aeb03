#include "support/literal.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "input/residue.hpp"

namespace vorn::literal {

void ordena(float* v, int64_t count) {
  for (int64_t i = 1; i < count; ++i)
    for (int64_t j = i; j <= count; ++j)
      if (v[j] >= v[i]) std::swap(v[i], v[j]);
}

float rank_of(const float* sorted, int64_t count, float value) {
  int64_t t = 0, m = 0;
  for (int64_t j = 1; j <= count; ++j)
    if (sorted[j] == value) {
      t += j;
      m += 1;
    }
  return static_cast<float>(t) / static_cast<float>(m);
}

void rankit(const float* sorted, int64_t count, float* ranks) {
  for (int64_t i = 1; i <= count; ++i) ranks[i] = rank_of(sorted, count, ranks[i]);
}

static Sums correlation_sums(const float* x, const float* y, int64_t len, const char* gaps1) {
  Sums t;
  int n = 0;
  for (int64_t j = 1; j <= len; ++j)
    if (gaps1[j] != 'G') {
      t.sx += x[j];
      t.sy += y[j];
      n++;
    }
  double mx = t.sx / n, my = t.sy / n;
  for (int64_t j = 1; j <= len; ++j)
    if (gaps1[j] != 'G') {
      double dx = x[j] - mx, dy = y[j] - my;
      t.sxy += dx * dy;
      t.sxx += dx * dx;
      t.syy += dy * dy;
    }
  t.n = n;
  return t;
}

static float correlation(const float* x, const float* y, int64_t len, const char* gaps1) {
  Sums t = correlation_sums(x, y, len, gaps1);
  if (t.sxx == 0) return -2;
  if (t.syy == 0) return -2;
  if (t.n <= 10) return -3;
  return static_cast<float>(t.sxy / (std::sqrt(t.syy) * std::sqrt(t.sxx)));
}

Alignment make_alignment(const std::vector<std::string>& rows) {
  Alignment a;
  a.nprot = static_cast<int32_t>(rows.size());
  a.alnlen = rows.empty() ? 0 : static_cast<int32_t>(rows[0].size());
  a.aln.assign(a.nprot + 1, std::vector<int32_t>(a.alnlen + 2, 0));
  for (int32_t p = 1; p <= a.nprot; ++p)
    for (int32_t pos = 1; pos <= a.alnlen && pos <= static_cast<int32_t>(rows[p - 1].size()); ++pos)
      a.aln[p][pos] = aa_index(static_cast<unsigned char>(rows[p - 1][pos - 1]));
  return a;
}

void column_of(const Alignment& a, int32_t pos, std::vector<uint8_t>& codes, std::vector<int32_t>& gaps) {
  codes.assign(a.nprot, 0);
  gaps.clear();
  for (int32_t p = 1; p <= a.nprot; ++p) {
    codes[p - 1] = static_cast<uint8_t>(a.aln[p][pos]);
    if (codes[p - 1] == 0) gaps.push_back(p);
  }
}

uint32_t bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

uint64_t bits(double f) {
  uint64_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

static std::vector<float> gap_percentages(const Alignment& a) {
  std::vector<float> g(a.alnlen + 2, 0);
  for (int32_t pos = 1; pos <= a.alnlen; ++pos) {
    int gaps = 0;
    for (int32_t p = 1; p <= a.nprot; ++p)
      if (a.aln[p][pos] == 0) gaps++;
    g[pos] = ((float)gaps / (float)a.nprot) * 100.0f;
  }
  return g;
}

std::vector<std::vector<float>> similarity(const Alignment& a, const AaMat& aamat) {
  std::vector<std::vector<float>> id(a.nprot + 1, std::vector<float>(a.nprot + 1, 0));
  for (int32_t i = 1; i < a.nprot; ++i)
    for (int32_t j = i + 1; j <= a.nprot; ++j) {
      float s = 0;
      int n = 0;
      for (int32_t p = 1; p <= a.alnlen; ++p) {
        if (a.aln[i][p] != 0 && a.aln[j][p] != 0) n++;
        s += aamat[a.aln[i][p]][a.aln[j][p]];
      }
      id[i][j] = id[j][i] = (s == 0.0f || n == 0) ? 0.0f : s / (float)n;
    }
  return id;
}

static float entropy(const Alignment& a, int32_t pos) {
  int gaps = 0, residues = 0, n[21] = {0};
  for (int32_t p = 1; p <= a.nprot; ++p) {
    int c = a.aln[p][pos];
    if (c == 0) gaps++;
    else {
      residues++;
      n[c]++;
    }
  }
  float h = 0;
  for (int c = 1; c <= 20; ++c)
    if (n[c] > 0) {
      float p = (float)n[c] / (float)residues;
      float l = (float)(std::log10((double)p) / 0.3010299956639812);
      h = h - l * p;
    }
  float q = (float)gaps / (float)residues;
  return ((double)q <= 0.1 && residues > 0) ? h : -1.0f;
}

float position_score(const Alignment& a, const AaMat& aamat, int32_t pos, const std::vector<float>& idenrank,
                     const std::vector<float>& idelino, bool spearman, Sums* sums) {
  const int64_t npairs = (int64_t)a.nprot * (a.nprot - 1) / 2;
  std::vector<float> corrlin1(npairs + 5), corrlin1o(npairs + 5), corrrank1(npairs + 5);
  std::vector<char> gaps1(npairs + 5);
  int64_t k = 0;
  for (int32_t i = 1; i <= a.nprot; ++i)
    for (int32_t j = i + 1; j <= a.nprot; ++j) {
      int x = a.aln[i][pos], y = a.aln[j][pos];
      k++;
      corrlin1[k] = aamat[x][y];
      corrlin1o[k] = corrlin1[k];
      gaps1[k] = (x != 0 && y != 0) ? ' ' : 'G';
    }
  for (int64_t m = 1; m <= k; ++m) corrrank1[m] = corrlin1[m];
  if (spearman) {
    ordena(corrlin1.data(), k);
    rankit(corrlin1.data(), k, corrrank1.data());
  }
  const float* x = spearman ? corrrank1.data() : corrlin1o.data();
  const float* y = spearman ? idenrank.data() : idelino.data();
  if (sums) *sums = correlation_sums(x, y, k, gaps1.data());
  return correlation(x, y, k, gaps1.data());
}

void pair_vectors(const std::vector<std::vector<float>>& id, int32_t n, std::vector<float>& idenrank,
                  std::vector<float>& idelino, bool ranked) {
  const int64_t npairs = static_cast<int64_t>(n) * (n - 1) / 2;
  std::vector<float> idelin(npairs + 5);
  int64_t k = 0;
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = i + 1; j <= n; ++j) idelin[++k] = id[i][j];
  idenrank = idelino = idelin;
  if (!ranked) return;
  ordena(idelin.data(), npairs);
  rankit(idelin.data(), npairs, idenrank.data());
}

std::vector<std::vector<int32_t>> draw_permutations(unsigned seed, int64_t nsuffl, int32_t nprot) {
  std::srand(seed);
  std::vector<std::vector<int32_t>> sufix(nsuffl + 1, std::vector<int32_t>(nprot + 2, 0));
  std::vector<int32_t> list(nprot + 3);
  for (int64_t s = 1; s <= nsuffl; ++s) {
    int lo = 1, hi = nprot;
    for (int i = 1; i <= nprot; ++i) list[i] = i;
    list[nprot + 1] = -1;
    for (int i = 1; i <= nprot; ++i) {
      int span = hi - lo + 1;
      int r = std::rand();
      int idx = lo + (int)(((double)r * (double)span) / 2147483647.0);
      if (idx > hi) idx = hi;
      sufix[s][i] = list[idx];
      for (int m = 1; m <= nprot; ++m)
        if (m >= idx) list[m] = list[m + 1];
      list[hi] = -1;
      hi--;
    }
  }
  return sufix;
}

static double fzscore(const float* values, int64_t count, float x) {
  double mean = 0;
  for (int64_t i = 1; i <= count; ++i) mean += values[i];
  mean /= count;
  double ss = 0;
  for (int64_t i = 1; i <= count; ++i) ss += (values[i] - mean) * (values[i] - mean);
  double sd = std::sqrt(ss / (count - 1));
  return (x - mean) / sd;
}

static double fpval(const float* values, int64_t count, float x) {
  int64_t n = 0;
  for (int64_t i = 1; i <= count; ++i)
    if (values[i] >= x) n++;
  return (double)n / count;
}

static std::vector<double> weighted_ranks(const std::vector<double>& v, const std::vector<double>& wt) {
  std::vector<double> r(v.size(), 0);
  for (size_t k = 1; k < v.size(); ++k)
    for (size_t l = 1; l < v.size(); ++l) {
      if (v[l] < v[k]) r[k] += wt[l];
      if (v[l] == v[k]) r[k] += wt[l] / 2;
    }
  return r;
}

double weighted_score(const Alignment& a, const AaMat& aamat, int32_t pos, const std::vector<double>& w,
                      const std::vector<float>& sim, bool spearman) {
  std::vector<double> x(1), y(1), wt(1);
  std::vector<bool> usable(1);
  for (int32_t i = 1; i <= a.nprot; ++i)
    for (int32_t j = i + 1; j <= a.nprot; ++j) {
      x.push_back(aamat[a.aln[i][pos]][a.aln[j][pos]]);
      y.push_back(sim[x.size() - 1]);
      wt.push_back(w[i] * w[j]);
      usable.push_back(a.aln[i][pos] != 0 && a.aln[j][pos] != 0);
    }
  if (spearman) {
    x = weighted_ranks(x, wt);
    y = weighted_ranks(y, wt);
  }
  double sw = 0, sx = 0, sy = 0;
  int n = 0;
  bool x_differs = false, y_differs = false;
  double x0 = 0, y0 = 0;
  for (size_t k = 1; k < x.size(); ++k) {
    if (!usable[k]) continue;
    if (n == 0) x0 = x[k], y0 = y[k];
    x_differs = x_differs || x[k] != x0;
    y_differs = y_differs || y[k] != y0;
    n++;
    sw += wt[k];
    sx += wt[k] * x[k];
    sy += wt[k] * y[k];
  }
  if (n == 0 || sw == 0 || !x_differs || !y_differs) return -2;
  double mx = sx / sw, my = sy / sw, sxy = 0, sxx = 0, syy = 0;
  for (size_t k = 1; k < x.size(); ++k) {
    if (!usable[k]) continue;
    sxy += wt[k] * (x[k] - mx) * (y[k] - my);
    sxx += wt[k] * (x[k] - mx) * (x[k] - mx);
    syy += wt[k] * (y[k] - my) * (y[k] - my);
  }
  if (sxx == 0 || syy == 0) return -2;
  if (n <= 10) return -3;
  return sxy / std::sqrt(sxx * syy);
}

std::string expected_stdout(const Alignment& a, const AaMat& aamat, const RunHow& how) {
  const int32_t n = a.nprot, len = a.alnlen;
  const std::vector<float> gapperc = gap_percentages(a);
  const std::vector<std::vector<float>> id = how.imported ? *how.imported : similarity(a, aamat);
  std::vector<float> idenrank, idelino;
  pair_vectors(id, n, idenrank, idelino);

  auto line_head = [&](int32_t pos, float score) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%4d %4c %4d %c   %3d  %6.3f   %c %3d  xx %9.4f", pos, aa_indexback(a.aln[1][pos]),
                  pos, ' ', -1, (double)(how.entropy ? entropy(a, pos) : -1.0f), '-', -1, (double)score);
    return std::string(buf);
  };

  std::string out;
  std::vector<float> icorr(len + 2, 0);
  for (int32_t pos = 1; pos <= len; ++pos) {
    if (gapperc[pos] >= 10.0f) continue;
    icorr[pos] = position_score(a, aamat, pos, idenrank, idelino, how.spearman);
    if (how.nsuffl == 0) out += line_head(pos, icorr[pos]) + " \n";
  }
  if (how.nsuffl == 0) return out;

  // Each permutation relabels the similarity matrix; sentinel columns keep their score.
  auto sufix = draw_permutations(how.seed, how.nsuffl, n);
  std::vector<std::vector<float>> rndcorr(len + 2, std::vector<float>(how.nsuffl + 3, 0));
  std::vector<float> glob(1, 0);
  for (int64_t s = 1; s <= how.nsuffl; ++s) {
    std::vector<std::vector<float>> relabelled = id;
    for (int32_t i = 1; i <= n; ++i)
      for (int32_t j = 1; j <= n; ++j) relabelled[i][j] = id[sufix[s][i]][sufix[s][j]];
    pair_vectors(relabelled, n, idenrank, idelino);
    for (int32_t pos = 1; pos <= len; ++pos) {
      if (gapperc[pos] >= 10.0f) continue;
      rndcorr[pos][s] = icorr[pos] < -1 ? icorr[pos] : position_score(a, aamat, pos, idenrank, idelino, how.spearman);
      if (icorr[pos] >= -1) glob.push_back(rndcorr[pos][s]);
    }
  }
  const int64_t gcount = (int64_t)glob.size() - 1;
  for (int32_t pos = 1; pos <= len; ++pos) {
    if (gapperc[pos] >= 10.0f) continue;
    char tail[1024];
    if (icorr[pos] < -1) {
      std::snprintf(tail, sizeof tail, "         []  %e         []  %e\n", 2.0, 2.0);
    } else {
      std::snprintf(tail, sizeof tail, "  %9.4f  %e  %9.4f  %e\n", fzscore(rndcorr[pos].data(), how.nsuffl, icorr[pos]),
                    fpval(rndcorr[pos].data(), how.nsuffl, icorr[pos]), fzscore(glob.data(), gcount, icorr[pos]),
                    fpval(glob.data(), gcount, icorr[pos]));
    }
    out += line_head(pos, icorr[pos]) + tail;
  }
  return out;
}

Tree nj_tree(const std::vector<std::vector<float>>& sim, int32_t n, const DistanceTransform& how) {
  const int32_t nodes = 2 * n - 1;
  Tree t{std::vector<int32_t>(nodes, -1), std::vector<int32_t>(nodes, -1), std::vector<double>(nodes, 0)};
  if (n < 2) return t;
  float lo = sim[1][2], hi = sim[1][2];
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = i + 1; j <= n; ++j) lo = std::min(lo, sim[i][j]), hi = std::max(hi, sim[i][j]);
  const double span = tree_distance(static_cast<double>(lo), static_cast<double>(hi), how);
  std::vector<std::vector<int64_t>> d(nodes, std::vector<int64_t>(nodes, 0));
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j)
      if (i != j)
        d[i][j] = span > 0 ? std::llround(tree_distance(static_cast<double>(sim[i + 1][j + 1]), static_cast<double>(hi),
                                                        how) / span * static_cast<double>(int64_t{1} << 20))
                           : 0;
  std::vector<int32_t> active;
  for (int32_t i = 0; i < n; ++i) active.push_back(i);
  int32_t next = n;
  while (active.size() > 2) {
    const int64_t r = static_cast<int64_t>(active.size());
    std::vector<int64_t> sum(nodes, 0);
    for (int32_t i : active)
      for (int32_t j : active) sum[i] += d[i][j];
    int32_t bi = -1, bj = -1;
    int64_t best = 0;
    for (size_t x = 0; x < active.size(); ++x)
      for (size_t y = x + 1; y < active.size(); ++y) {
        const int32_t i = active[x], j = active[y];
        const int64_t q = (r - 2) * d[i][j] - sum[i] - sum[j];
        if (bi < 0 || q < best) best = q, bi = i, bj = j;
      }
    const int32_t u = next++;
    const double li = 0.5 * static_cast<double>(d[bi][bj]) +
                      static_cast<double>(sum[bi] - sum[bj]) / (2.0 * static_cast<double>(r - 2));
    t.left[u] = bi, t.right[u] = bj;
    t.length[bi] = li / static_cast<double>(int64_t{1} << 20);
    t.length[bj] = (static_cast<double>(d[bi][bj]) - li) / static_cast<double>(int64_t{1} << 20);
    for (int32_t k : active)
      if (k != bi && k != bj) d[u][k] = d[k][u] = (d[bi][k] + d[bj][k] - d[bi][bj]) >> 1;
    std::erase(active, bi);
    std::erase(active, bj);
    active.push_back(u);
    std::sort(active.begin(), active.end());
  }
  const int32_t root = next;
  t.left[root] = active[0], t.right[root] = active[1];
  t.length[active[0]] = t.length[active[1]] = 0.5 * static_cast<double>(d[active[0]][active[1]]) /
                                               static_cast<double>(int64_t{1} << 20);
  return t;
}

int32_t parsimony(const Tree& t, int32_t n, const std::vector<uint8_t>& codes) {
  const int32_t nodes = 2 * n - 1;
  const int32_t big = 1 << 20;
  std::vector<std::array<int32_t, 21>> cost(nodes);
  for (int32_t v = 0; v < nodes; ++v) {
    for (int s = 1; s <= 20; ++s) {
      if (v < n) {
        cost[v][s] = codes[v] == 0 || codes[v] == s ? 0 : big;
        continue;
      }
      int32_t total = 0;
      for (const int32_t c : {t.left[v], t.right[v]}) {
        int32_t m = big;
        for (int u = 1; u <= 20; ++u) m = std::min(m, cost[c][u] + (u == s ? 0 : 1));
        total += m;
      }
      cost[v][s] = total;
    }
  }
  int32_t m = big;
  for (int s = 1; s <= 20; ++s) m = std::min(m, cost[nodes - 1][s]);
  return m;
}

}  // namespace vorn::literal
