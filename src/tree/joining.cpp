#include "tree/joining.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "input/residue.hpp"
#include "scoring/similarity.hpp"

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

// The largest similarity, and the distance of the smallest (the largest distance).
struct Span {
  double top = 0, span = 0;
};
Span distance_span(const float* const* identities, int32_t n, const DistanceTransform& how) {
  float smin = identities[1][2], smax = identities[1][2];
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = i + 1; j <= n; ++j) smin = std::min(smin, identities[i][j]), smax = std::max(smax, identities[i][j]);
  const double top = static_cast<double>(smax);
  return {top, tree_distance(static_cast<double>(smin), top, how)};
}

// The distances d / dmax in units of 2^-20 (every later sum exact), each
// slot holding its protein, and the row sums.
void scaled_distances(const float* const* identities, int32_t n, const DistanceTransform& how, int64_t* dist,
                      int64_t* rsum, int32_t* slot) {
  const auto [top, span] = distance_span(identities, n, how);  // span: the largest distance
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

// Kept whole: each join updates the distances, row sums and slots that the next one's choice reads.
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

void distance_triangle(const float* const* identities, int32_t n, const DistanceTransform& how, float* tri) {
  if (n < 2) return;
  // Plain copies: OpenMP regions may not capture structured bindings (clang refuses).
  const Span s = distance_span(identities, n, how);
  const double top = s.top, span = s.span;
#pragma omp parallel for schedule(dynamic, 64)
  for (int32_t i = 1; i < n; ++i) {
    float* row = tri + pair_index(i, i + 1, n) - (i + 1);
    for (int32_t j = i + 1; j <= n; ++j) {
      const double d = tree_distance(static_cast<double>(identities[i][j]), top, how);
      row[j] = span > 0 ? static_cast<float>(d / span) : 0.0f;
    }
  }
}

// Kept whole: the chains' joins and their numbering by height share the join list.
void average_linkage_tree(float* tri, int32_t n, int32_t* scratch, TreeView tree) {
  for (int32_t v = 0; v < 2 * n - 1; ++v) tree.left[v] = tree.right[v] = -1, tree.length[v] = 0;
  if (n < 2) return;
  // Slots 0..n-1 are the clusters; a join keeps the lower slot.
  int32_t* chain = scratch;       // slots, the chain's links
  int32_t* node = scratch + n;    // the node in each slot: a leaf, or n + the join's number in chain order
  int32_t* active = scratch + 2 * n;  // the slots still in use, in no order
  std::vector<int32_t> size(static_cast<size_t>(n), 1);
  auto at = [&](int32_t a, int32_t b) -> float& {
    const int32_t lo = std::min(a, b) + 1, hi = std::max(a, b) + 1;
    return tri[pair_index(lo, hi, n)];
  };
  for (int32_t a = 0; a < n; ++a) node[a] = active[a] = a;
  struct Joined {
    int32_t a, b;  // nodes in chain numbering
    float d;
  };
  std::vector<Joined> joins;
  joins.reserve(static_cast<size_t>(n) - 1);
  int32_t nactive = n, links = 0;
  while (nactive > 1) {
    if (links == 0) chain[links++] = *std::min_element(active, active + nactive);
    const int32_t a = chain[links - 1], prev = links > 1 ? chain[links - 2] : -1;
    // The previous link first, so that a tie never turns the chain back into a cycle.
    int32_t best = prev;
    float bd = prev >= 0 ? at(a, prev) : std::numeric_limits<float>::infinity();
    for (int32_t k = 0; k < nactive; ++k) {
      const int32_t b = active[k];
      if (b == a || b == prev) continue;
      const float d = at(a, b);
      if (d < bd || (d == bd && best != prev && b < best) || best < 0) best = b, bd = d;
    }
    if (best != prev) {
      chain[links++] = best;
      continue;
    }
    // a and prev are each other's nearest: joined into the lower slot.
    links -= 2;
    const int32_t x = std::min(a, prev), y = std::max(a, prev);
    const double sx = size[x], sy = size[y];
    for (int32_t k = 0; k < nactive; ++k) {
      const int32_t c = active[k];
      if (c == x || c == y) continue;
      at(x, c) = static_cast<float>((sx * at(x, c) + sy * at(y, c)) / (sx + sy));
    }
    joins.push_back(Joined{node[x], node[y], bd});
    node[x] = n + static_cast<int32_t>(joins.size()) - 1;
    size[x] += size[y];
    *std::find(active, active + nactive, y) = active[nactive - 1];
    --nactive;
  }
  // Numbered by height: a child never stands above its parent (an average
  // of distances no less than d is no less than d), and the stable sort
  // keeps the chains' order among equal heights, children first.
  std::vector<int32_t> order(joins.size()), final_of(joins.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int32_t>(k);
  std::stable_sort(order.begin(), order.end(), [&](int32_t p, int32_t q) { return joins[p].d < joins[q].d; });
  for (size_t k = 0; k < order.size(); ++k) final_of[order[k]] = n + static_cast<int32_t>(k);
  auto id = [&](int32_t v) { return v < n ? v : final_of[v - n]; };
  std::vector<double> height(static_cast<size_t>(2 * n - 1), 0.0);
  for (const int32_t k : order) {
    const int32_t u = final_of[k], l = std::min(id(joins[k].a), id(joins[k].b)), r = std::max(id(joins[k].a), id(joins[k].b));
    tree.left[u] = l, tree.right[u] = r;
    height[u] = 0.5 * static_cast<double>(joins[k].d);
    tree.length[l] = height[u] - height[l], tree.length[r] = height[u] - height[r];
  }
}

}  // namespace vorn
