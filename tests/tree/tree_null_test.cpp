// The tree null: the joining against the textbook one and against a tree it
// must recover, Fitch against a full parsimony count, and whole runs: no
// signal gives uniform P-values, planted subfamily positions come out on top,
// and the values do not depend on threads or on -S.
#include "tree/tree_null.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <sstream>

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

// The leaves below each node of a tree given by child lists.
std::set<std::vector<int32_t>> splits(const std::vector<int32_t>& left, const std::vector<int32_t>& right, int32_t n) {
  std::vector<std::vector<int32_t>> below(left.size());
  std::set<std::vector<int32_t>> out;
  for (size_t v = 0; v < left.size(); ++v) {
    if (left[v] < 0) {
      below[v] = {static_cast<int32_t>(v)};
      continue;
    }
    below[v] = below[left[v]];
    below[v].insert(below[v].end(), below[right[v]].begin(), below[right[v]].end());
    std::sort(below[v].begin(), below[v].end());
    // A split and its complement are one split of the unrooted tree.
    std::vector<int32_t> other;
    for (int32_t leaf = 0; leaf < n; ++leaf)
      if (!std::binary_search(below[v].begin(), below[v].end(), leaf)) other.push_back(leaf);
    if (below[v].size() > 1 && other.size() > 1) out.insert(std::min(below[v], other));
  }
  return out;
}

TEST(TreeNull, JoiningRecoversTheTreeOfAdditiveDistances) {
  std::mt19937 rng(5);
  for (const int32_t n : {4, 9, 30}) {
    // A random binary tree: join random pairs of the remaining nodes.
    std::vector<int32_t> left(2 * n - 1, -1), right(2 * n - 1, -1), up(2 * n - 1, -1), pool;
    std::vector<double> len(2 * n - 1, 0);
    for (int32_t i = 0; i < n; ++i) pool.push_back(i);
    for (int32_t u = n; u < 2 * n - 1; ++u) {
      std::shuffle(pool.begin(), pool.end(), rng);
      const int32_t a = pool.back();
      pool.pop_back();
      const int32_t b = pool.back();
      pool.back() = u;
      left[u] = a, right[u] = b, up[a] = up[b] = u;
      len[a] = 0.1 + (rng() % 1000) / 1000.0, len[b] = 0.1 + (rng() % 1000) / 1000.0;
    }
    auto depth = [&](int32_t v) {
      std::vector<double> d(2 * n - 1, -1);
      for (double sum = 0; v >= 0; sum += len[v], v = up[v]) d[v] = sum;
      return d;
    };
    std::vector<std::vector<float>> sim(n + 1, std::vector<float>(n + 1, 0));
    for (int32_t i = 0; i < n; ++i) {
      const std::vector<double> di = depth(i);
      for (int32_t j = i + 1; j < n; ++j) {
        int32_t v = j;
        double dj = 0;
        while (di[v] < 0) dj += len[v], v = up[v];
        sim[i + 1][j + 1] = sim[j + 1][i + 1] = static_cast<float>(-(di[v] + dj));  // similar = near
      }
    }
    const Built b = join(sim, n);
    EXPECT_EQ(splits(b.left, b.right, n), splits(left, right, n)) << "n=" << n;
  }
}

TEST(TreeNull, FitchCountsTheLeastChanges) {
  std::mt19937 rng(3);
  for (const int32_t n : {2, 3, 6, 25, 80}) {
    const auto sim = random_similarities(rng, n, 50);
    const Built b = join(sim, n);
    const literal::Tree t{b.left, b.right, b.length};
    std::vector<uint32_t> sets(2 * n - 1);
    for (const int states : {1, 2, 4, 20})
      for (int c = 0; c < 30; ++c) {
        std::vector<uint8_t> codes(n);
        for (auto& x : codes) x = rng() % 7 == 0 ? 0 : static_cast<uint8_t>(1 + rng() % states);  // gaps too
        EXPECT_EQ(fitch_count(codes.data(), b.view, sets.data()), literal::parsimony(t, n, codes))
            << "n=" << n << " states=" << states;
      }
  }
}

// Library columns take the gap patterns of the real ones; with fewer library
// columns than a column is compared with at least, each real column meets
// them all: Z against their mean and sample spread, P = (b + 1) / (m + 1).
TEST(TreeNull, LibraryColumnsTakeTheGapsOfRealColumnsAndJudgeThem) {
  std::mt19937 rng(8);
  const int32_t n = 30, len = 40;
  std::vector<std::string> rows = test::random_rows(rng, n, len, "ACDEFGHIKLMNPQRSTVWY");
  for (int32_t c = 0; c < len; ++c)
    for (int g = 0; g < 1 + c % 2; ++g) rows[rng() % n][c] = '-';  // every column gapped
  const literal::Alignment a = literal::make_alignment(rows);
  const test::ColumnData data(a);
  std::set<std::vector<int32_t>> real;
  for (int32_t c = 1; c <= len; ++c) {
    const GapList g = data.cols.gaps(c);
    real.insert(std::vector<int32_t>(g.p, g.p + g.n));
  }
  const Built tree = join(random_similarities(rng, n, 100), n);
  const int64_t nb = kTreeMinMatched - 10;
  std::vector<uint8_t> codes(nb * n);
  std::vector<int32_t> count(nb + 2), rate(nb + 2);
  std::vector<float> score(nb + 2);
  std::vector<uint32_t> sets((2 * n - 1) * omp_get_max_threads());
  const TreeLibrary lib{nb, codes.data(), count.data(), score.data(), rate.data(), sets.data()};
  std::vector<int32_t> pos;
  std::vector<float> real_score;
  for (int32_t c = 1; c <= len; ++c) pos.push_back(c), real_score.push_back(0.05f * static_cast<float>(c % 13));
  std::vector<TreeNullValue> out;
  Log quiet(nullptr);
  double freq[kCodes];
  residue_frequencies(data.cols, freq);
  tree_null(data.cols, tree.view, freq, 1, RealColumns{pos.data(), real_score.data(), len}, lib,
            [&] {
              for (int64_t j = 1; j <= nb; ++j) {
                std::vector<int32_t> gaps;
                for (int32_t p = 0; p < n; ++p)
                  if (codes[(j - 1) * n + p] == 0) gaps.push_back(p + 1);
                EXPECT_EQ(real.count(gaps), 1u) << "library column " << j;
                score[j] = 0.1f + 0.03f * static_cast<float>(j % 17);
              }
            },
            out, quiet);
  double sum = 0, ss = 0;
  for (int64_t j = 1; j <= nb; ++j) sum += score[j];
  for (int64_t j = 1; j <= nb; ++j) ss += (score[j] - sum / nb) * (score[j] - sum / nb);
  for (int32_t i = 0; i < len; ++i) {
    int64_t b = 0;
    for (int64_t j = 1; j <= nb; ++j) b += score[j] >= real_score[i];
    EXPECT_EQ(out[i].m, nb);
    EXPECT_NEAR(out[i].z, (real_score[i] - sum / nb) / std::sqrt(ss / (nb - 1)), 1e-9) << "column " << pos[i];
    EXPECT_EQ(out[i].p, (b + 1.0) / (nb + 1.0)) << "column " << pos[i];
  }
}

// The library is scored by the real pass: each library column gets, to the
// bit, the literal score of that column in the family's similarity.
TEST(TreeNull, LibraryColumnsScoredAsRealColumns) {
  std::mt19937 rng(13);
  for (const bool spearman : {true, false}) {
    const int32_t n = 24;
    test::RandomCase c = test::random_case(rng, n, 30, 0);
    // Gap patterns come from scored columns only: at most two gaps of 24.
    for (size_t col = 0; col < c.rows[0].size(); ++col)
      for (int32_t p = 0, gaps = 0; p < n; ++p)
        if (!std::isalpha(static_cast<unsigned char>(c.rows[p][col])) && ++gaps > 2) c.rows[p][col] = 'A';
    const literal::Alignment a = literal::make_alignment(c.rows);
    const auto sim = literal::similarity(a, c.m);
    std::vector<float> idenrank, idelino;
    literal::pair_vectors(sim, n, idenrank, idelino, spearman);
    std::vector<int64_t> rowsum(n + 2);
    SimilaritySide side;
    prepare_similarity_side(spearman ? idenrank.data() : idelino.data(), n, int64_t{n} * (n - 1) / 2, rowsum.data(),
                            side);
    const test::ColumnData data(a);
    const Built tree = join(sim, n);
    const int64_t nb = 60;
    std::vector<uint8_t> codes(nb * n);
    std::vector<int32_t> count(nb + 2), rate(nb + 2), gaplist(nb * max_scored_gaps(n) + 1), pos(nb + kColumnLanes);
    std::vector<float> score(nb + 2), gapperc(nb + 2);
    std::vector<int64_t> gapstart(nb + 3);
    std::vector<uint8_t> groupcodes((nb + kColumnLanes) * n + 1);
    std::vector<uint32_t> sets((2 * n - 1) * omp_get_max_threads());
    const TreeLibrary lib{nb, codes.data(), count.data(), score.data(), rate.data(), sets.data()};
    std::vector<TreeNullValue> out;
    Log quiet(nullptr);
    const LibraryArrays at{gapperc.data(), gaplist.data(), gapstart.data(), ColumnGroups{pos.data(), groupcodes.data()}};
    double freq[kCodes];
    residue_frequencies(data.cols, freq);
    tree_null(data.cols, tree.view, freq, 9, RealColumns{}, lib,
              [&] { score_library_columns(lib, n, at, c.m, spearman, side, nullptr, quiet); }, out, quiet);
    std::vector<std::string> rows(n, std::string(nb, '-'));
    for (int64_t j = 0; j < nb; ++j)
      for (int32_t p = 0; p < n; ++p) rows[p][j] = codes[j * n + p] ? aa_indexback(codes[j * n + p]) : '-';
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

// Columns evolved along a random tree at rates from e^-spread to e^(spread/2),
// with no position that follows anything but the tree.
std::string neutral_family(std::mt19937& rng, int32_t n, int32_t len, double spread) {
  std::vector<int32_t> up(2 * n - 1, -1), pool;
  std::vector<double> branch(2 * n - 1, 0);
  for (int32_t i = 0; i < n; ++i) pool.push_back(i);
  for (int32_t u = n; u < 2 * n - 1; ++u) {
    std::shuffle(pool.begin(), pool.end(), rng);
    for (int k = 0; k < 2; ++k) {
      up[pool.back()] = u;
      branch[pool.back()] = std::exponential_distribution<double>(4.0)(rng);
      pool.pop_back();
    }
    pool.push_back(u);
  }
  const std::string letters = "ACDEFGHIKLMNPQRSTVWY";
  std::vector<std::string> rows(n, std::string(len, 'A'));
  for (int32_t c = 0; c < len; ++c) {
    const double rate = std::exp(std::uniform_real_distribution<double>(-spread, spread / 2)(rng));
    std::vector<char> state(2 * n - 1);
    state[2 * n - 2] = letters[rng() % 20];
    for (int32_t v = 2 * n - 3; v >= 0; --v)
      state[v] = std::uniform_real_distribution<double>(0, 1)(rng) < std::exp(-rate * branch[v] * 20.0 / 19.0)
                     ? state[up[v]]
                     : letters[rng() % 20];
    for (int32_t p = 0; p < n; ++p) rows[p][c] = state[p];
  }
  return test::fasta_text(rows);
}

TEST(TreeNull, UniformWithoutSignalOnTopWithPlantedPositions) {
  std::mt19937 rng(2026);
  // Rates within a factor of 4.5, and of 55.
  for (const double spread : {1.0, 2.67}) {
  std::vector<double> p;
  const Results r = run_on(neutral_family(rng, 40, 600, spread), {"-B=3000", "-R=7"});
  for (const TreeNullValue& v : r.tree)
    if (v.has) p.push_back(v.p);
  ASSERT_GT(p.size(), 200u);
  std::sort(p.begin(), p.end());
  double ks = 0;
  for (size_t i = 0; i < p.size(); ++i)
    ks = std::max({ks, std::fabs(p[i] - static_cast<double>(i) / p.size()),
                   std::fabs(p[i] - static_cast<double>(i + 1) / p.size())});
  const double low = static_cast<double>(std::upper_bound(p.begin(), p.end(), 0.05) - p.begin()) / p.size();
  EXPECT_LT(ks, 0.15) << "Kolmogorov-Smirnov distance from uniform";
  std::printf("rates e^-%.2f..: KS %.3f, P <= 0.05 %.3f\n", spread, ks, low);
  EXPECT_LE(low, 0.08) << "share of neutral columns at P <= 0.05";
  }

  // The HIV protease family with its planted subfamily positions.
  const RunSettings s = test::settings_of(test::shared_data("hssp/1hpv_n25.hssp"),
                                          test::test_data("raw_blosum62_tri.txt"), {"-B=4000", "-R=1"});
  Log quiet(nullptr);
  const Results h = run(s, Output{}, quiet);
  std::set<int32_t> planted;
  std::istringstream truth(test::read_file(test::shared_data("families/redundant/1hpv_n25.truth.tsv")));
  for (std::string line; std::getline(truth, line);)
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) planted.insert(std::stoi(line));
  std::vector<double> in, out;
  for (size_t i = 0; i < h.rows.size(); ++i)
    if (h.tree[i].has) (planted.count(h.rows[i].f.pos) ? in : out).push_back(h.tree[i].z);
  ASSERT_EQ(in.size(), planted.size());
  double above = 0;
  for (double a : in)
    for (double b : out) above += a > b ? 1 : a == b ? 0.5 : 0;
  EXPECT_GE(above / (in.size() * out.size()), 0.97) << "AUC of the planted positions";
}

TEST(TreeNull, SameValuesForAnyThreadsAndWithShuffling) {
  const std::string fasta = test::read_file(test::test_data("fn3.fa"));
  const Results one = run_on(fasta, {"-B=700", "-R=3", "-T=1"});
  for (const auto& options : {std::vector<std::string>{"-B=700", "-R=3", "-T=2"}, {"-B=700", "-R=3", "-S=20"}}) {
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
