#include "tree/tree_null.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "input/residue.hpp"
#include "shuffle/significance.hpp"

namespace vorn {

namespace {

// Which of two candidate joins comes first: the smaller Q, then the smaller
// pair of node numbers, so that the tree does not depend on how the scan is
// split among threads.
struct Join {
  int64_t q = std::numeric_limits<int64_t>::max();
  int32_t lo = 0, hi = 0;  // node numbers, lo < hi
  int32_t a = -1, b = -1;  // their slots
  bool before(const Join& o) const { return q != o.q ? q < o.q : lo != o.lo ? lo < o.lo : hi < o.hi; }
};

// Every residue state: a gap fits any of them.
constexpr uint32_t kAnyState = ((1u << 21) - 1) & ~1u;

// splitmix64: one independent stream per library column, whatever thread
// evolves it.
struct Stream {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  uint64_t below(uint64_t n) { return static_cast<uint64_t>((static_cast<unsigned __int128>(next()) * n) >> 64); }
};

constexpr int kRates = 32;
constexpr int64_t kParallelJoin = int64_t{512} * 512;  // r^2 of the smallest joining step done in parallel

}  // namespace

double tree_distance(double s, double smax, const DistanceTransform& t) {
  if (!t.scores || !(t.self > t.random)) return smax - s;
  // Columns evolve at different rates: the gamma distance of shape 2 keeps
  // the long distances from being compressed (the plain -ln r is the limit of
  // equal rates).
  const double ratio = std::clamp((s - t.random) / (t.self - t.random), kTreeSaturated, 1.0);
  return kTreeShape * (std::pow(ratio, -1.0 / kTreeShape) - 1.0);
}

void residue_frequencies(const Columns& cols, double* freq) {
  std::fill(freq, freq + kCodes, 0.0);
  const int64_t cells = static_cast<int64_t>(cols.alnlen) * cols.nprot;
  for (int64_t k = 0; k < cells; ++k) freq[cols.codes[k]] += 1;
  double total = 0;
  for (int a = 1; a < kCodes; ++a) total += freq[a];
  freq[0] = 0;
  for (int a = 1; a < kCodes; ++a) freq[a] = total > 0 ? freq[a] / total : 0;
}

DistanceTransform score_transform(const double* freq, const AaMat& aamat) {
  DistanceTransform t;
  for (int a = 1; a < kCodes; ++a) {
    t.scores = t.scores || freq[a] > 0;
    t.self += freq[a] * aamat[a][a];
    for (int b = 1; b < kCodes; ++b) t.random += freq[a] * freq[b] * aamat[a][b];
  }
  return t;
}

namespace {

// The distances d / dmax in units of 2^-20 (every later sum exact), each
// slot holding its protein, and the row sums.
void scaled_distances(const float* const* identities, int32_t n, const DistanceTransform& how, int64_t* dist,
                      int64_t* rsum, int32_t* slot) {
  float smin = identities[1][2], smax = identities[1][2];
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = i + 1; j <= n; ++j) smin = std::min(smin, identities[i][j]), smax = std::max(smax, identities[i][j]);
  const double top = static_cast<double>(smax);
  const double span = tree_distance(static_cast<double>(smin), top, how);  // the largest distance
  const int64_t ld = n;
  for (int32_t a = 0; a < n; ++a) {
    slot[a] = a;
    dist[a * ld + a] = 0;
    for (int32_t b = a + 1; b < n; ++b) {
      const double d = tree_distance(static_cast<double>(identities[a + 1][b + 1]), top, how);
      dist[a * ld + b] = dist[b * ld + a] = span > 0 ? std::llround(d / span * kTreeScale) : 0;
    }
  }
  for (int32_t a = 0; a < n; ++a) {
    int64_t sum = 0;
    for (int32_t b = 0; b < n; ++b) sum += dist[a * ld + b];
    rsum[a] = sum;
  }
}

}  // namespace

void nj_tree(const float* const* identities, int32_t n, const DistanceTransform& how, int64_t* dist, int64_t* rsum,
             int32_t* slot, TreeView tree) {
  for (int32_t v = 0; v < 2 * n - 1; ++v) tree.left[v] = tree.right[v] = -1, tree.length[v] = 0;
  if (n < 2) return;
  scaled_distances(identities, n, how, dist, rsum, slot);
  const int64_t ld = n;
  int32_t next = n;
  for (int32_t r = n; r > 2; --r) {
    // The best join of the slots a in [a0, a1) with every later slot.
    auto scan = [&](int32_t a0, int32_t a1, Join& mine) {
      for (int32_t a = a0; a < a1; ++a) {
        const int64_t* row = dist + a * ld;
        const int64_t ra = rsum[a];
        for (int32_t b = a + 1; b < r; ++b) {
          const int64_t q = (r - 2) * row[b] - ra - rsum[b];
          if (q > mine.q) continue;
          Join c{q, std::min(slot[a], slot[b]), std::max(slot[a], slot[b]), a, b};
          if (c.before(mine)) mine = c;
        }
      }
    };
    Join best;
    // A step of fewer pairs takes less time than the threads take to meet.
    if (static_cast<int64_t>(r) * r < kParallelJoin) {
      scan(0, r - 1, best);
    } else {
#pragma omp parallel
      {
        Join mine;
#pragma omp for schedule(dynamic, 16) nowait
        for (int32_t a = 0; a < r - 1; ++a) scan(a, a + 1, mine);
#pragma omp critical(nj_join)
        if (mine.before(best)) best = mine;
      }
    }
    // x holds the lower node number: the branch lengths are assigned by node.
    const int32_t x = slot[best.a] == best.lo ? best.a : best.b, y = x == best.a ? best.b : best.a;
    const int64_t dxy = dist[x * ld + y];
    const double lx = 0.5 * static_cast<double>(dxy) +
                      static_cast<double>(rsum[x] - rsum[y]) / (2.0 * static_cast<double>(r - 2));
    const int32_t u = next++;
    tree.left[u] = slot[x], tree.right[u] = slot[y];
    tree.length[slot[x]] = lx / kTreeScale;
    tree.length[slot[y]] = (static_cast<double>(dxy) - lx) / kTreeScale;
    // u takes slot x; slot y goes to the last active node.
    int64_t su = 0;
    for (int32_t k = 0; k < r; ++k) {
      if (k == x || k == y) continue;
      const int64_t dxk = dist[x * ld + k], dyk = dist[y * ld + k];
      const int64_t duk = (dxk + dyk - dxy) >> 1;
      rsum[k] += duk - dxk - dyk;
      dist[x * ld + k] = dist[k * ld + x] = duk;
      su += duk;
    }
    rsum[x] = su;
    slot[x] = u;
    dist[x * ld + y] = dist[y * ld + x] = 0;
    const int32_t last = r - 1;
    if (y != last) {
      for (int32_t k = 0; k < r; ++k) dist[y * ld + k] = dist[last * ld + k];
      for (int32_t k = 0; k < r; ++k) dist[k * ld + y] = dist[k * ld + last];
      dist[y * ld + y] = 0;
      rsum[y] = rsum[last];
      slot[y] = slot[last];
    }
  }
  // The last two nodes meet at the root, halfway.
  const int32_t lo = std::min(slot[0], slot[1]), hi = std::max(slot[0], slot[1]);
  const int32_t root = next;
  tree.left[root] = lo, tree.right[root] = hi;
  tree.length[lo] = tree.length[hi] = 0.5 * static_cast<double>(dist[1]) / kTreeScale;
}

int32_t fitch_count(const uint8_t* codes, const TreeView& tree, uint32_t* sets) {
  const int32_t n = tree.n;
  for (int32_t v = 0; v < n; ++v) sets[v] = codes[v] == 0 ? kAnyState : 1u << codes[v];
  int32_t changes = 0;
  for (int32_t v = n; v < 2 * n - 1; ++v) {
    const uint32_t a = sets[tree.left[v]], b = sets[tree.right[v]];
    const uint32_t both = a & b;
    sets[v] = both ? both : a | b;
    changes += both == 0;
  }
  return changes;
}

void score_library_columns(const TreeLibrary& lib, int32_t n, LibraryArrays at, const AaMat& aamat, bool spearman,
                           const SimilaritySide& side, const WeightedSide* wside, Log& log) {
  const int32_t len = static_cast<int32_t>(lib.ncols);
  for (int64_t c = 0; c <= lib.ncols + 1; ++c) lib.score[c] = -3.0f;
  gap_percentages(lib.codes, n, len, at.gapperc);
  gap_lists(lib.codes, at.gapperc, n, len, at.gaplist, at.gapstart);
  const Columns lc{lib.codes, at.gapperc, at.gaplist, at.gapstart, n, len};
  auto emit = [&](int32_t c, float v) { lib.score[c] = v; };
  if (wside) {
    weighted_scoring_pass(lc, aamat, spearman, *wside, nullptr, at.groups, emit, log);
  } else {
    scoring_pass(lc, aamat, spearman, side, nullptr, at.groups, emit, log);
  }
}

namespace {

// The equal-input process along the tree at kRates rates: a change happens
// at rate mu and draws from the frequencies, so that one unit of branch
// holds one expected substitution; rates from 0.2 to 2n expected
// substitutions per column, log-spaced.
struct RateGrid {
  int64_t nodes = 0;
  std::vector<double> stay;  // stay[k * nodes + v]: no change on the branch above v at rate k
  double cum[kCodes] = {};   // the frequencies' running sums, for drawing a residue
  uint32_t draw(Stream& s) const {
    const double u = s.uniform() * cum[kCodes - 1];
    int k = 1;
    while (k < kCodes - 1 && cum[k] <= u) ++k;
    return static_cast<uint32_t>(k);
  }
};

RateGrid rate_grid(const TreeView& tree, const double* freq) {
  RateGrid g;
  const int32_t n = tree.n;
  g.nodes = 2 * static_cast<int64_t>(n) - 1;
  double homozygosity = 0;
  for (int k = 1; k < kCodes; ++k) {
    homozygosity += freq[k] * freq[k];
    g.cum[k] = g.cum[k - 1] + freq[k];
  }
  const double mu = homozygosity < 1 ? 1 / (1 - homozygosity) : 0;
  double length = 0;
  for (int64_t v = 0; v < g.nodes - 1; ++v) length += std::max(0.0, tree.length[v]);
  g.stay.assign(static_cast<size_t>(kRates * g.nodes), 1.0);
  for (int k = 0; k < kRates; ++k) {
    const double expected = 0.2 * std::pow(10.0 * n, static_cast<double>(k) / (kRates - 1));
    const double rate = length > 0 ? expected / length : 0;
    for (int64_t v = 0; v < g.nodes - 1; ++v)
      g.stay[k * g.nodes + v] = std::exp(-mu * rate * std::max(0.0, tree.length[v]));
  }
  return g;
}

// Library columns j0 .. j1 at their rates (lib.rate), each from a stream of
// its own, with the gap pattern of a random scored real column, and their
// Fitch counts.
void evolve(const Columns& cols, const TreeView& tree, const RateGrid& g, const std::vector<int32_t>& patterns,
            uint64_t base, const TreeLibrary& lib, int64_t j0, int64_t j1) {
  const int32_t n = tree.n;
  const int64_t nodes = g.nodes;
#pragma omp parallel for schedule(static)
  for (int64_t j = j0; j <= j1; ++j) {
    uint32_t* state = lib.sets + static_cast<int64_t>(omp_get_thread_num()) * nodes;
    Stream s{base + static_cast<uint64_t>(j) * 0xD1B54A32D192ED03ull};
    const int k = lib.rate[j];
    state[nodes - 1] = g.draw(s);
    for (int64_t v = nodes - 1; v >= n; --v) {
      for (const int32_t c : {tree.left[v], tree.right[v]})
        state[c] = s.uniform() < g.stay[k * nodes + c] ? state[v] : g.draw(s);
    }
    uint8_t* col = lib.codes + (j - 1) * n;
    for (int32_t p = 0; p < n; ++p) col[p] = static_cast<uint8_t>(state[p]);
    if (!patterns.empty()) {
      const GapList gaps = cols.gaps(patterns[s.below(patterns.size())]);
      for (int32_t i = 0; i < gaps.n; ++i) col[gaps.p[i] - 1] = 0;
    }
    lib.count[j] = fitch_count(col, tree, state);
  }
}

// The rates of library columns pilot + 1 .. ncols: shares of the rates that
// give the real columns' Fitch counts (real_count, -1 for none), as the
// pilot columns (spread evenly over the rates) show them.
void assign_rates(const TreeLibrary& lib, int64_t pilot, const std::vector<int32_t>& real_count) {
  int32_t top = 0;
  for (int64_t j = 1; j <= pilot; ++j) top = std::max(top, lib.count[j]);
  for (const int32_t c : real_count) top = std::max(top, c);
  std::vector<double> hits(static_cast<size_t>(top + 1) * kRates, 0), mean(kRates, 0), seen(kRates, 0), want(kRates, 0);
  for (int64_t j = 1; j <= pilot; ++j) {
    hits[static_cast<size_t>(lib.count[j]) * kRates + lib.rate[j]] += 1;
    mean[lib.rate[j]] += lib.count[j], seen[lib.rate[j]] += 1;
  }
  for (int k = 0; k < kRates; ++k) mean[k] = seen[k] > 0 ? mean[k] / seen[k] : 0;
  for (const int32_t c : real_count) {
    if (c < 0) continue;
    double h = 0;
    for (int k = 0; k < kRates; ++k) h += hits[static_cast<size_t>(c) * kRates + k];
    if (h > 0) {
      for (int k = 0; k < kRates; ++k) want[k] += hits[static_cast<size_t>(c) * kRates + k] / h;
    } else {
      int nearest = 0;
      for (int k = 1; k < kRates; ++k)
        if (std::fabs(mean[k] - c) < std::fabs(mean[nearest] - c)) nearest = k;
      want[nearest] += 1;
    }
  }
  double wsum = 0;
  for (int k = 0; k < kRates; ++k) wsum += want[k];
  if (wsum == 0) std::fill(want.begin(), want.end(), 1.0), wsum = kRates;
  const int64_t rest = lib.ncols - pilot;
  std::vector<int64_t> quota(kRates);
  std::vector<std::pair<double, int>> remainder;
  int64_t given = 0;
  for (int k = 0; k < kRates; ++k) {
    const double share = static_cast<double>(rest) * want[k] / wsum;
    quota[k] = static_cast<int64_t>(std::floor(share));
    given += quota[k];
    remainder.push_back({share - static_cast<double>(quota[k]), k});
  }
  std::stable_sort(remainder.begin(), remainder.end(), [](auto a, auto b) { return a.first > b.first; });
  for (int64_t i = 0; given < rest; ++i, ++given) ++quota[remainder[static_cast<size_t>(i % kRates)].second];
  int64_t j = pilot;
  for (int k = 0; k < kRates; ++k)
    for (int64_t c = 0; c < quota[k]; ++c) lib.rate[++j] = k;
}

// A real column of score x and Fitch count c against the scored library
// columns (order: by count), those of its own count or, where fewer than
// kTreeMinMatched have it, of the nearest counts as well, a whole count at a time.
TreeNullValue compare(float x, int32_t c, const std::vector<int64_t>& order, const TreeLibrary& lib) {
  const int64_t need = std::min<int64_t>(kTreeMinMatched, static_cast<int64_t>(order.size()));
  auto at = [&](int64_t k) { return lib.count[order[static_cast<size_t>(k)]]; };
  int64_t lo = std::lower_bound(order.begin(), order.end(), c, [&](int64_t a, int32_t v) { return lib.count[a] < v; }) -
               order.begin();
  int64_t hi = lo;
  while (hi < static_cast<int64_t>(order.size()) && at(hi) == c) ++hi;
  while (hi - lo < need) {
    const bool down = lo > 0, up = hi < static_cast<int64_t>(order.size());
    if (down && (!up || c - at(lo - 1) <= at(hi) - c)) {
      const int32_t v = at(lo - 1);
      while (lo > 0 && at(lo - 1) == v) --lo;
    } else {
      const int32_t v = at(hi);
      while (hi < static_cast<int64_t>(order.size()) && at(hi) == v) ++hi;
    }
  }
  const int64_t m = hi - lo;
  std::vector<float> scores(static_cast<size_t>(m) + 1);
  int64_t above = 0;
  for (int64_t k = lo; k < hi; ++k) {
    scores[static_cast<size_t>(k - lo + 1)] = lib.score[order[static_cast<size_t>(k)]];
    above += scores[static_cast<size_t>(k - lo + 1)] >= x;
  }
  TreeNullValue o;
  o.has = true;
  o.m = m;
  o.z = m > 1 ? zscore(zstats(scores.data(), m), x) : NAN;
  o.p = static_cast<double>(above + 1) / static_cast<double>(m + 1);
  return o;
}

}  // namespace

void tree_null(const Columns& cols, const TreeView& tree, const double* freq, uint32_t seed, const RealColumns& real,
               TreeLibrary lib, const std::function<void()>& score_library, std::vector<TreeNullValue>& out,
               Log& log) {
  out.assign(static_cast<size_t>(real.n), TreeNullValue{});
  // The real scored columns lend their gap patterns.
  std::vector<int32_t> patterns;
  for (int32_t c = 1; c <= cols.alnlen; ++c)
    if (cols.scored(c)) patterns.push_back(c);
  const RateGrid grid = rate_grid(tree, freq);
  const uint64_t base = (static_cast<uint64_t>(seed) << 32) ^ 0x7472656563u;  // "treec"
  std::vector<int32_t> real_count(static_cast<size_t>(real.n), -1);
#pragma omp parallel for schedule(static)
  for (int64_t i = 0; i < real.n; ++i) {
    if (real.score[i] < -1.0f) continue;
    real_count[i] = fitch_count(cols.column(real.pos[i]), tree, lib.sets + static_cast<int64_t>(omp_get_thread_num()) * grid.nodes);
  }
  // A quarter of the library spread evenly over the rates shows which rates
  // give which counts; the rest goes to the rates that give the real columns' counts.
  const int64_t pilot = std::min(lib.ncols, std::max<int64_t>(kRates, lib.ncols / 4));
  for (int64_t j = 1; j <= pilot; ++j) lib.rate[j] = static_cast<int32_t>((j - 1) % kRates);
  log.progress("\rTree null: evolving %lld library columns...", static_cast<long long>(lib.ncols));
  evolve(cols, tree, grid, patterns, base, lib, 1, pilot);
  log.checkpoint();
  assign_rates(lib, pilot, real_count);
  evolve(cols, tree, grid, patterns, base, lib, pilot + 1, lib.ncols);
  log.checkpoint();
  score_library();
  log.checkpoint();
  // The scored library columns by count.
  std::vector<int64_t> order;
  for (int64_t c = 1; c <= lib.ncols; ++c)
    if (lib.score[c] >= -1.0f) order.push_back(c);
  std::stable_sort(order.begin(), order.end(), [&](int64_t a, int64_t b) { return lib.count[a] < lib.count[b]; });
  std::vector<double> p(static_cast<size_t>(real.n), NAN);
  for (int64_t i = 0; i < real.n; ++i) {
    if (real_count[i] < 0 || order.empty()) continue;
    out[static_cast<size_t>(i)] = compare(real.score[i], real_count[i], order, lib);
    p[static_cast<size_t>(i)] = out[static_cast<size_t>(i)].p;
  }
  const std::vector<double> q = bh_qvalues(p);
  for (int64_t i = 0; i < real.n; ++i) out[static_cast<size_t>(i)].q = q[static_cast<size_t>(i)];
}

}  // namespace vorn
