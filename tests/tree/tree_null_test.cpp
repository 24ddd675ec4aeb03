// The tree null: the joining against the textbook one, the likelihood by
// hand, the fits against what made the columns, the library and its growth,
// and whole runs whose values do not depend on threads or on -S (calibration
// and power: bench/tree_null_study.py).
#include "tree/tree_null.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "input/residue.hpp"
#include "run.hpp"
#include "support/harness.hpp"
#include "support/inputs.hpp"
#include "support/literal.hpp"

namespace vorn {
namespace {

struct Built {
  std::vector<int32_t> left, right;
  std::vector<double> length;
  TreeView view;
};

Built join(const std::vector<std::vector<float>>& sim, int32_t n, const DistanceTransform& how = {}) {
  std::vector<float*> rows(static_cast<size_t>(n) + 1, nullptr);
  for (int32_t i = 1; i <= n; ++i) rows[i] = const_cast<float*>(sim[i].data());
  Built b{std::vector<int32_t>(2 * n - 1), std::vector<int32_t>(2 * n - 1), std::vector<double>(2 * n - 1), {}};
  std::vector<int64_t> dist(static_cast<size_t>(n) * n), rsum(n);
  std::vector<int32_t> slot(n);
  b.view = TreeView{n, b.left.data(), b.right.data(), b.length.data()};
  nj_tree(rows.data(), n, how, dist.data(), rsum.data(), slot.data(), b.view);
  return b;
}

std::vector<std::vector<float>> random_similarities(std::mt19937& rng, int32_t n, int levels) {
  std::vector<std::vector<float>> s(n + 1, std::vector<float>(n + 1, 0));
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = i + 1; j <= n; ++j) s[i][j] = s[j][i] = static_cast<float>(rng() % levels) * 0.37f - 1.0f;
  return s;
}

TEST(TreeNull, JoiningMatchesTheTextbookOnesBitForBit) {
  std::mt19937 rng(11);
  // Few similarity levels make ties, which both must break the same way.
  for (const int32_t n : {2, 3, 4, 5, 8, 17, 40, 97})
    for (const int levels : {2, 5, 1000})
      for (const int threads : {1, 2}) {
        const auto sim = random_similarities(rng, n, levels);
        omp_set_num_threads(threads);
        // Linear, and scores read as evolutionary distances.
        const DistanceTransform how = threads == 1 ? DistanceTransform{} : DistanceTransform{true, -1.5, 4.0};
        const Built fast = join(sim, n, how);
        const literal::Tree slow = literal::nj_tree(sim, n, how);
        const std::string what = "n=" + std::to_string(n) + " levels=" + std::to_string(levels);
        EXPECT_EQ(fast.left, slow.left) << what;
        EXPECT_EQ(fast.right, slow.right) << what;
        for (int32_t v = 0; v < 2 * n - 1; ++v)
          EXPECT_EQ(literal::bits(fast.length[v]), literal::bits(slow.length[v])) << what << " node " << v;
      }
  omp_set_num_threads(omp_get_num_procs());
}

// Average linkage by nearest-neighbour chains against the textbook join of
// the closest pair first, on distances without ties.
TEST(TreeNull, AverageLinkageMatchesTheClosestPairFirst) {
  std::mt19937 rng(5);
  for (const int32_t n : {2, 3, 4, 9, 40, 150}) {
    std::vector<std::vector<double>> d(n, std::vector<double>(n, 0));
    std::vector<float> tri(static_cast<size_t>(n) * (n - 1) / 2 + 1);
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = i + 1; j < n; ++j)
        d[i][j] = d[j][i] = tri[pair_index(i + 1, j + 1, n)] = std::uniform_real_distribution<float>(0, 1)(rng);
    Built fast{std::vector<int32_t>(2 * n - 1), std::vector<int32_t>(2 * n - 1), std::vector<double>(2 * n - 1), {}};
    fast.view = TreeView{n, fast.left.data(), fast.right.data(), fast.length.data()};
    std::vector<int32_t> scratch(3 * n);
    average_linkage_tree(tri.data(), n, scratch.data(), fast.view);
    std::vector<int32_t> node(n), size(n, 1);
    std::vector<double> height(2 * n - 1, 0);
    for (int32_t a = 0; a < n; ++a) node[a] = a;
    for (int32_t u = n; u < 2 * n - 1; ++u) {
      int32_t x = -1, y = -1;
      for (int32_t a = 0; a < n; ++a)
        for (int32_t b = a + 1; b < n; ++b)
          if (size[a] && size[b] && (x < 0 || d[a][b] < d[x][y])) x = a, y = b;
      height[u] = d[x][y] / 2;
      const std::string what = "n=" + std::to_string(n) + " node " + std::to_string(u);
      EXPECT_EQ(fast.left[u], std::min(node[x], node[y])) << what;
      EXPECT_EQ(fast.right[u], std::max(node[x], node[y])) << what;
      EXPECT_NEAR(fast.length[node[x]], height[u] - height[node[x]], 1e-6) << what;
      for (int32_t c = 0; c < n; ++c) d[x][c] = d[c][x] = (size[x] * d[x][c] + size[y] * d[y][c]) / (size[x] + size[y]);
      size[x] += size[y], size[y] = 0, node[x] = u;
    }
  }
}

// A caterpillar tree over n leaves, every branch of length t.
Built caterpillar(int32_t n, double t) {
  Built b{std::vector<int32_t>(2 * n - 1, -1), std::vector<int32_t>(2 * n - 1, -1), std::vector<double>(2 * n - 1, t), {}};
  int32_t last = 0;
  for (int32_t u = n; u < 2 * n - 1; ++u) b.left[u] = last, b.right[u] = u - n + 1, last = u;
  b.length[2 * n - 2] = 0;
  b.view = TreeView{n, b.left.data(), b.right.data(), b.length.data()};
  return b;
}

// Columns of the given rows as the passes read them.
test::ColumnData columns_of(const std::vector<std::string>& rows) { return test::ColumnData(literal::make_alignment(rows)); }

// The equal-input process has P_ij(t) = pi_j (1 - e^-bt) + [i = j] e^-bt
// (b = 1 / (1 - sum pi^2)), so two and three leaves have likelihoods by
// hand; a gamma's categories average them.
TEST(TreeNull, LikelihoodOfSmallTreesByHand) {
  double freq[kCodes] = {0};
  for (int a = 1; a < kCodes; ++a) freq[a] = (a % 5 + 1) / 60.0;
  const AaModel m = make_model(ModelKind::EqualInput, freq);
  double h = 0;
  for (double p : m.pi) h += p * p;
  const double beta = 1 / (1 - h);
  auto p = [&](int i, int j, double t) { return m.pi[j] * (1 - std::exp(-beta * t)) + (i == j ? std::exp(-beta * t) : 0); };
  const int a = aa_index('A') - 1, c = aa_index('C') - 1;
  for (const double t : {0.05, 0.4, 2.0}) {
    const Built two = caterpillar(2, t), three = caterpillar(3, t);
    const test::ColumnData d2 = columns_of({"AA", "AC"}), d3 = columns_of({"A", "C", "A"});
    const int32_t cols2[] = {1, 2}, col3[] = {1};
    for (const std::vector<double>& rates : {std::vector<double>{1.0}, {0.3, 1.7}}) {
      std::vector<double> ll;
      column_logliks(d2.cols, cols2, 2, two.view, m, 1.0, rates, ll);
      for (size_t k = 0; k < rates.size(); ++k) {
        EXPECT_NEAR(ll[k * 0 + k], std::log(m.pi[a] * p(a, a, 2 * t * rates[k])), 1e-9) << "AA, t " << t;
        EXPECT_NEAR(ll[rates.size() + k], std::log(m.pi[a] * p(a, c, 2 * t * rates[k])), 1e-9) << "AC, t " << t;
      }
      // Three leaves: ((1, 2), 3), all branches t: sum over the two internal states.
      column_logliks(d3.cols, col3, 1, three.view, m, 1.0, rates, ll);
      for (size_t k = 0; k < rates.size(); ++k) {
        const double r = t * rates[k];
        double want = 0;
        for (int x = 0; x < kStates; ++x)      // the root
          for (int y = 0; y < kStates; ++y)    // the node above leaves 1 and 2
            want += m.pi[x] * p(x, y, r) * p(y, a, r) * p(y, c, r) * p(x, a, r);
        EXPECT_NEAR(ll[k], std::log(want), 1e-9) << "ACA, t " << t;
      }
    }
  }
}

// Columns evolved at known rates along a tree: the posterior mean rate of
// each grows with the rate it had, and the fitted branch lengths recover the
// tree's; the library at a rate has the Fitch counts of an independent
// simulation at that rate.
TEST(TreeNull, RatesAndBranchLengthsRecoveredLibraryAsSimulated) {
  const int32_t n = 60;
  std::mt19937 rng(4);
  const Built tree = join(random_similarities(rng, n, 1000), n);
  for (int32_t v = 0; v < 2 * n - 2; ++v) tree.view.length[v] = 0.02 + 0.2 * (rng() % 100) / 100.0;
  double freq[kCodes] = {0};
  for (int a = 1; a < kCodes; ++a) freq[a] = 1.0 / 20;
  const AaModel m = make_model(ModelKind::Lg, freq);
  const std::vector<double> rates = {0.2, 0.5, 1, 1.3, 2};  // mean 1, as the fit's gamma
  const int per = 40;
  std::vector<std::string> rows(n, std::string(rates.size() * per, 'A'));
  std::vector<uint32_t> state(2 * n - 1);
  std::vector<uint8_t> col(n);
  for (size_t r = 0; r < rates.size(); ++r)
    for (int k = 0; k < per; ++k) {
      evolve_column(tree.view, m, rates[r], 77, static_cast<int32_t>(r), k, GapList{}, state.data(), col.data());
      for (int32_t p = 0; p < n; ++p) rows[p][r * per + k] = aa_indexback(col[p]);
    }
  const test::ColumnData d = columns_of(rows);
  std::vector<int32_t> pos;
  for (int32_t c = 1; c <= d.cols.alnlen; ++c) pos.push_back(c);
  const std::vector<double> truth(tree.length);
  for (int32_t v = 0; v < 2 * n - 2; ++v) tree.view.length[v] = 1.0;  // the fit starts from nothing
  Log quiet(nullptr);
  const RateFit fit = fit_rates(d.cols, pos.data(), static_cast<int32_t>(pos.size()), tree.view, m, quiet);
  double total = 0, want = 0, sxy = 0, sxx = 0, syy = 0;
  for (int32_t v = 0; v < 2 * n - 2; ++v) total += tree.length[v], want += truth[v];
  for (int32_t v = 0; v < 2 * n - 2; ++v) {
    const double x = tree.length[v] - total / (2 * n - 2), y = truth[v] - want / (2 * n - 2);
    sxy += x * y, sxx += x * x, syy += y * y;
  }
  std::vector<double> cat;
  const std::vector<ColumnRate> got = column_rates(d.cols, pos.data(), static_cast<int32_t>(pos.size()), tree.view, m, fit, cat);
  std::vector<double> mean(rates.size(), 0);
  for (size_t r = 0; r < rates.size(); ++r)
    for (int k = 0; k < per; ++k) mean[r] += got[r * per + k].mean / per;
  for (size_t r = 1; r < rates.size(); ++r) EXPECT_GT(mean[r], mean[r - 1]) << "rate " << rates[r];
  EXPECT_NEAR(mean[2] / mean[0], rates[2] / rates[0], 0.5 * rates[2] / rates[0]) << "middle against slow rates";
  EXPECT_NEAR(total, want, 0.25 * want) << "the fitted tree's length";
  EXPECT_GT(sxy / std::sqrt(sxx * syy), 0.7) << "correlation of the fitted branch lengths with the true ones";
  // Fitch counts of the library at rate 1 against an independent simulation
  // with P(t) from the model's eigensystem.
  const literal::Tree lt{tree.left, tree.right, tree.length};
  double fitch_lib = 0, fitch_ref = 0;
  std::mt19937 sim(9);
  for (int k = 0; k < 400; ++k) {
    evolve_column(tree.view, m, 1.0, 5, 0, k, GapList{}, state.data(), col.data());
    fitch_lib += literal::parsimony(lt, n, col) / 400.0;
    std::vector<int> st(2 * n - 1);
    std::discrete_distribution<int> root(m.pi.begin(), m.pi.end());
    st[2 * n - 2] = root(sim);
    for (int32_t v = 2 * n - 2; v >= n; --v)
      for (const int32_t ch : {tree.left[v], tree.right[v]}) {
        StateMatrix pt;
        transition(m, tree.length[ch], pt);
        std::discrete_distribution<int> next(pt.begin() + st[v] * kStates, pt.begin() + (st[v] + 1) * kStates);
        st[ch] = next(sim);
      }
    std::vector<uint8_t> ref(n);
    for (int32_t p = 0; p < n; ++p) ref[p] = static_cast<uint8_t>(st[p] + 1);
    fitch_ref += literal::parsimony(lt, n, ref) / 400.0;
  }
  EXPECT_NEAR(fitch_lib, fitch_ref, 0.05 * fitch_ref) << "mean Fitch count of the library and of the simulation";
}

// Library columns take their real column's gap pattern; a column meets its
// own library, Z against its mean and sample spread, P = (b + 1) / (m + 1);
// a column that beats every library column gets more of them, to P below
// 1e-4, while the others keep their first library.
TEST(TreeNull, OwnGapsOwnLibraryAndGrowthWhereEarned) {
  std::mt19937 rng(8);
  const int32_t n = 30, len = 40;
  std::vector<std::string> rows = test::random_rows(rng, n, len, "ACDEFGHIKLMNPQRSTVWY");
  for (int32_t c = 0; c < len; ++c)
    for (int g = 0; g < 1 + c % 2; ++g) rows[rng() % n][c] = '-';  // every column gapped
  const test::ColumnData data = columns_of(rows);
  const Built tree = join(random_similarities(rng, n, 100), n);
  const int64_t room = 500;
  std::vector<uint8_t> codes(room * n);
  std::vector<float> score(room + 2);
  std::vector<uint32_t> sets((2 * n - 1) * omp_get_max_threads());
  const TreeLibrary lib{room, codes.data(), score.data(), sets.data()};
  std::vector<int32_t> pos;
  std::vector<float> real_score;
  for (int32_t c = 1; c <= len; ++c) pos.push_back(c), real_score.push_back(c == 7 ? 2.0f : 0.01f * static_cast<float>(c % 13));
  std::vector<TreeNullValue> out;
  Log quiet(nullptr);
  double freq[kCodes];
  residue_frequencies(data.cols, freq);
  const AaModel m = make_model(ModelKind::Lg, freq);
  TreeFitReport report;
  std::vector<std::vector<float>> seen(len + 1);
  tree_null(data.cols, tree.view, m, 1, RealColumns{pos.data(), real_score.data(), len}, len * 25, lib,
            [&](int64_t count) {
              for (int64_t j = 1; j <= count; ++j) {
                std::vector<int32_t> gaps;
                for (int32_t p = 0; p < n; ++p)
                  if (codes[(j - 1) * n + p] == 0) gaps.push_back(p + 1);
                // Which real column's member this is: the one of the same gaps.
                int32_t owner = 0;
                for (int32_t c = 1; c <= len && !owner; ++c) {
                  const GapList g = data.cols.gaps(c);
                  if (std::vector<int32_t>(g.p, g.p + g.n) == gaps) owner = c;
                }
                ASSERT_GT(owner, 0) << "library column " << j << " has the gaps of no real column";
                score[j] = 0.01f * static_cast<float>(rng() % 25);
                seen[owner].push_back(score[j]);
              }
            },
            out, report, quiet);
  for (int32_t i = 0; i < len; ++i) {
    if (seen[pos[i]].size() != static_cast<size_t>(out[i].m)) continue;  // shared gap patterns: owners unknown
    double sum = 0, ss = 0;
    int64_t b = 0;
    for (float v : seen[pos[i]]) sum += v, b += v >= real_score[i];
    const double mean = sum / out[i].m;
    for (float v : seen[pos[i]]) ss += (v - mean) * (v - mean);
    EXPECT_NEAR(out[i].z, (real_score[i] - mean) / std::sqrt(ss / (out[i].m - 1)), 1e-6) << "column " << pos[i];
    EXPECT_EQ(out[i].p, (b + 1.0) / (out[i].m + 1.0)) << "column " << pos[i];
  }
  EXPECT_EQ(out[6].m, kTreeMostLibrary);
  EXPECT_LT(out[6].p, 1e-4);
  int64_t grown = 0;
  for (int32_t i = 0; i < len; ++i) grown += i != 6 && out[i].m > 25;
  EXPECT_EQ(grown, 0) << "columns that lost to many library columns at once were given more";
}

// The library is scored by the real pass: each library column gets, to the
// bit, the literal score of that column in the family's similarity.
TEST(TreeNull, LibraryColumnsScoredAsRealColumns) {
  std::mt19937 rng(13);
  for (const bool spearman : {true, false}) {
    const int32_t n = 24;
    test::RandomCase c = test::random_case(rng, n, 30, 0);
    const literal::Alignment a = literal::make_alignment(c.rows);
    const auto sim = literal::similarity(a, c.m);
    std::vector<float> idenrank, idelino;
    literal::pair_vectors(sim, n, idenrank, idelino, spearman);
    std::vector<int64_t> rowsum(n + 2);
    SimilaritySide side;
    prepare_similarity_side(spearman ? idenrank.data() : idelino.data(), n, int64_t{n} * (n - 1) / 2, rowsum.data(),
                            side);
    const Built tree = join(sim, n);
    const int64_t nb = 60;
    std::vector<uint8_t> codes(nb * n);
    std::vector<int32_t> gaplist(nb * max_scored_gaps(n) + 1), pos(nb + kColumnLanes);
    std::vector<float> score(nb + 2), gapperc(nb + 2);
    std::vector<int64_t> gapstart(nb + 3);
    std::vector<uint8_t> groupcodes((nb + kColumnLanes) * n + 1);
    std::vector<uint32_t> sets((2 * n - 1) * omp_get_max_threads());
    const TreeLibrary lib{nb, codes.data(), score.data(), sets.data()};
    std::vector<uint32_t> state(2 * n - 1);
    double freq[kCodes] = {0};
    for (int k = 1; k < kCodes; ++k) freq[k] = 0.05;
    const AaModel m = make_model(ModelKind::Wag, freq);
    for (int64_t j = 0; j < nb; ++j)
      evolve_column(tree.view, m, 0.5, 3, 1, j, GapList{}, state.data(), codes.data() + j * n);
    Log quiet(nullptr);
    const LibraryArrays at{gapperc.data(), gaplist.data(), gapstart.data(), ColumnGroups{pos.data(), groupcodes.data()}};
    score_library_columns(lib, nb, n, at, c.m, spearman, side, nullptr, quiet);
    std::vector<std::string> rows(n, std::string(nb, '-'));
    for (int64_t j = 0; j < nb; ++j)
      for (int32_t p = 0; p < n; ++p) rows[p][j] = aa_indexback(codes[j * n + p]);
    const literal::Alignment library = literal::make_alignment(rows);
    for (int32_t j = 1; j <= nb; ++j)
      EXPECT_EQ(literal::bits(score[j]),
                literal::bits(literal::position_score(library, c.m, j, idenrank, idelino, spearman)))
          << "library column " << j << (spearman ? " Spearman" : " Pearson");
  }
}

// A run of the library on FASTA text with the given options.
Results run_on(const std::string& fasta, std::vector<std::string> options) {
  RunSettings s = test::settings_of("simulated.fa", test::test_data("raw_blosum62_tri.txt"), options);
  s.given[s.aln_path] = fasta;
  Log quiet(nullptr);
  return run(s, Output{}, quiet);
}

TEST(TreeNull, SameValuesForAnyThreadsAndWithShuffling) {
  const std::string fasta = test::read_file(test::test_data("fn3.fa"));
  const Results one = run_on(fasta, {"-B=200", "-R=3", "-T=1"});
  for (const auto& options : {std::vector<std::string>{"-B=200", "-R=3", "-T=2"}, {"-B=200", "-R=3", "-S=20"}}) {
    const Results other = run_on(fasta, options);
    ASSERT_EQ(other.tree.size(), one.tree.size());
    for (size_t i = 0; i < one.tree.size(); ++i) {
      EXPECT_EQ(literal::bits(other.tree[i].z), literal::bits(one.tree[i].z)) << i;
      EXPECT_EQ(other.tree[i].p, one.tree[i].p);
      EXPECT_EQ(other.tree[i].m, one.tree[i].m);
    }
  }
  omp_set_num_threads(omp_get_num_procs());
}

}  // namespace
}  // namespace vorn
