// Every sped-up procedure against its literal twin (support/literal.cpp), on
// the cases of one random generator: ties, gapped columns, matrices whose
// sums round, imported similarities, and families above 363 proteins, where
// the similarity ranks take the parallel path; the ranks by sorted pairs are
// checked against the sort and rank, which the literal ones check. (The
// pool's statistics are checked against the literal ones by every shuffled
// run of the pipeline test.) Doubles are compared bit for bit: the printed
// digits hide most slips in them.
#include <gtest/gtest.h>

#include "workspace.hpp"
#include <omp.h>

#include "isa.hpp"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <numeric>
#include <random>

#include "scoring/position.hpp"
#include "scoring/ranking.hpp"
#include "scoring/similarity.hpp"
#include "shuffle/lanes.hpp"
#include "shuffle/permutations.hpp"
#include "support/inputs.hpp"
#include "support/literal.hpp"

namespace vorn {
namespace {

using literal::bits;

// Family sizes: mostly small (the literal ranks are quadratic), some large.
std::vector<int> sizes(std::mt19937& rng, int n, int max_small) {
  std::vector<int> v;
  for (int i = 0; i < n; ++i) v.push_back(std::uniform_int_distribution<int>(1, max_small)(rng));
  return v;
}

struct Family {
  test::RandomCase c;
  literal::Alignment a;
  std::vector<std::vector<float>> sim;  // the similarities the pair vectors come from
};

Family family(std::mt19937& rng, int nprot, int alnlen, int matrix_kind = -1) {
  Family f{test::random_case(rng, nprot, alnlen, matrix_kind), {}, {}};
  f.a = literal::make_alignment(f.c.rows);
  f.sim = f.c.imported ? f.c.sim : literal::similarity(f.a, f.c.m);
  return f;
}

TEST(Twins, SortAndRank) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 60; ++trial) {
    const bool large = trial % 10 == 0;  // past 65,536 pairs: the parallel ranking
    const Family f = family(rng, large ? 363 + trial / 10 * 12 : std::uniform_int_distribution<int>(1, 60)(rng), 4);
    std::vector<float> v, ignored;
    literal::pair_vectors(f.sim, f.a.nprot, ignored, v, false);
    if (trial % 2 || large) v[1] = -0.0f, v[2] = 0.0f;  // signed zeros tie with zeros
    if (large && trial % 20 == 0)  // few values, one of them in most pairs: a bucket larger than any round
      for (int64_t i = 3; i < static_cast<int64_t>(v.size()); ++i) v[i] = i % 7 == 0 ? 2.5f : i % 5 == 0 ? -1.0f : 0.75f;
    const int64_t count = static_cast<int64_t>(v.size()) - 5;
    std::vector<float> sorted = v, ranks = v;
    // The tables the plan gives a run on this many threads, and a guard after them that no sort may touch.
    const int64_t size = rank_scratch_size(omp_get_max_threads()), guard = kRankScratch;
    std::vector<int64_t> tables(size + guard, -7);
    ordena(sorted.data(), count, tables.data());
    rankit(sorted.data(), count, ranks.data(), tables.data());
    // Rounds as large as the scratch allows, and small ones: many rounds, and buckets larger than a round.
    for (int64_t cap : {int64_t{0}, int64_t{4099}, int64_t{61}}) {
      if (!large && cap > 0) continue;
      std::vector<float> by_pairs = v, scratch(v.size(), 0.0f);
      std::vector<uint64_t> done(count / 64 + 1);
      rank_values(by_pairs.data(), scratch.data(), done.data(), count, tables.data(), cap);
      ASSERT_EQ(std::count(tables.begin() + size, tables.end(), -7), guard) << "the sorts wrote past their tables";
      for (int64_t i = 1; i <= count; ++i)
        ASSERT_EQ(bits(by_pairs[i]), bits(ranks[i])) << f.c.what << " at " << i << ", rounds of " << cap;
    }
    if (!large) {
      std::vector<float> slow_sorted = v, slow_ranks = v;
      literal::ordena(slow_sorted.data(), count);
      literal::rankit(slow_sorted.data(), count, slow_ranks.data());
      // Equal values (a zero and a negative zero) may trade places.
      for (int64_t i = 1; i <= count; ++i) ASSERT_EQ(sorted[i], slow_sorted[i]) << f.c.what << " at " << i;
      for (int64_t i = 1; i <= count; ++i) ASSERT_EQ(bits(ranks[i]), bits(slow_ranks[i])) << f.c.what << " at " << i;
      continue;
    }
    // Large: the order and the multiset, and the literal rank of a sample.
    ASSERT_TRUE(std::is_sorted(sorted.begin() + 1, sorted.begin() + 1 + count, std::greater<float>())) << f.c.what;
    std::map<float, int64_t> in, out;
    for (int64_t i = 1; i <= count; ++i) ++in[v[i]], ++out[sorted[i]];
    ASSERT_EQ(in, out) << f.c.what;
    for (int k = 0; k < 300; ++k) {
      const int64_t i = k < 2 ? k + 1 : std::uniform_int_distribution<int64_t>(1, count)(rng);  // the zeros first
      ASSERT_EQ(bits(ranks[i]), bits(literal::rank_of(sorted.data(), count, v[i]))) << f.c.what << " at " << i;
    }
  }
  // Tie groups whose place sums exceed 2^24: the sum rounds once, to float.
  const struct {
    int64_t first, m;
  } groups[] = {{1, 1}, {1, 4}, {3, 2}, {1, 5793}, {1, 4498500}, {2000001, 2498500}, {123457, 1000003}};
  for (auto g : groups) {
    int64_t t = 0;
    for (int64_t j = g.first; j < g.first + g.m; ++j) t += j;
    EXPECT_EQ(bits(tie_rank(g.first, g.m)), bits(static_cast<float>(t) / static_cast<float>(g.m))) << g.m;
  }
}

TEST(Twins, SimilarityBlocks) {
  std::mt19937 rng(5);
  for (int n : {1, 2, 9, 17, 33, 65, 80, 420}) {
    const Family f = family(rng, n, 40);
    const test::ColumnData cd(f.a);
    const auto want = literal::similarity(f.a, f.c.m);
    for (const uint8_t* alncol : {static_cast<const uint8_t*>(nullptr), cd.codes.data()}) {  // by 8 or 16 proteins
      // Into the pair-order vector a run gives it, with guards on both sides.
      const int64_t npairs = static_cast<int64_t>(n) * (n - 1) / 2;
      std::vector<float> tri(npairs + 8, -7.0f);
      std::vector<float*> idrows(n + 2);
      triangle_rows(tri.data() + 2, n, idrows.data());
      Log quiet(nullptr);
      similarity_matrix(const_cast<int32_t* const*>(cd.rows.data()), alncol, n, f.a.alnlen, f.c.m, idrows.data(), quiet);
      for (int i = 1; i <= n; ++i)
        for (int j = i + 1; j <= n; ++j)
          ASSERT_EQ(bits(tri[2 + pair_index(i, j, n)]), bits(want[i][j])) << f.c.what << ": " << i << "," << j;
      for (int64_t k : {int64_t{0}, int64_t{1}, int64_t{2}, npairs + 3, npairs + 7})
        ASSERT_EQ(tri[k], -7.0f) << "written outside the pairs, n " << n;
    }
  }
}

struct Side {
  std::vector<float> idenrank, idelino;
  std::vector<int64_t> rowsum;
  SimilaritySide side;
  Side(const Family& f, bool spearman) : rowsum(f.a.nprot + 2) {
    const int32_t n = f.a.nprot;
    literal::pair_vectors(f.sim, n, idenrank, idelino, spearman);
    prepare_similarity_side(spearman ? idenrank.data() : idelino.data(), n, static_cast<int64_t>(n) * (n - 1) / 2,
                            rowsum.data(), side);
  }
};

void expect_sums(const CorrelationSums& got, const literal::Sums& want, const std::string& what) {
  ASSERT_EQ(got.n, want.n) << what;
  if (want.n == 0) return;  // no sums are formed
  ASSERT_EQ(bits(got.sy), bits(want.sy)) << what;
  ASSERT_EQ(bits(got.sxy), bits(want.sxy)) << what;
  ASSERT_EQ(bits(got.sxx), bits(want.sxx)) << what;
  ASSERT_EQ(bits(got.syy), bits(want.syy)) << what;
}

// The counting score of each column against the literal fill-sort-rank-correlate.
TEST(Twins, ColumnScores) {
  std::mt19937 rng(2024);
  std::vector<int> ns = sizes(rng, 80, 40);
  ns.insert(ns.end(), {400, 420});  // Pearson only: the literal ranks would take minutes
  for (int n : ns) {
    const Family f = family(rng, n, 12, n == 420 ? 4 : -1);  // sums of x too large to be exact from the counts
    for (bool spearman : {true, false}) {
      if (spearman && n > 60) continue;
      const Side s(f, spearman);
      std::vector<uint8_t> codes;
      std::vector<int32_t> gaps;
      // The columns one by one and, in a shuffled order, eight at a time
      // (the last group smaller).
      const test::ColumnData cd(f.a);
      std::vector<int32_t> order(f.a.alnlen);
      std::iota(order.begin(), order.end(), 1);
      std::shuffle(order.begin(), order.end(), rng);
      std::vector<uint8_t> codes8(static_cast<size_t>(kColumnLanes) * n);
      std::vector<ColumnStat> stat(f.a.alnlen + 1);
      float group_score[kColumnLanes];
      CorrelationSums group_sums[kColumnLanes];
      for (int32_t k = 0; k < f.a.alnlen; ++k) {
        const int32_t pos = order[k];
        const int lane = k % kColumnLanes;
        if (lane == 0 && (active_isa() == Isa::Avx512))
          score_column_group(cd.cols, &order[k], std::min<int32_t>(kColumnLanes, f.a.alnlen - k), f.c.m, spearman,
                             s.side, codes8.data(), stat.data(), group_score, group_sums);
        literal::column_of(f.a, pos, codes, gaps);
        ColumnPrep prep;
        prepare_column(codes.data(), n, GapList{gaps.data(), static_cast<int32_t>(gaps.size())}, f.c.m, spearman, prep);
        CorrelationSums got;
        literal::Sums want;
        const float fast = score_column(codes.data(), prep, s.side, nullptr, &got);
        const float slow = literal::position_score(f.a, f.c.m, pos, s.idenrank, s.idelino, spearman, &want);
        const std::string what = f.c.what + (spearman ? ", Spearman" : ", Pearson") + ", column " + std::to_string(pos);
        ASSERT_EQ(bits(fast), bits(slow)) << what;
        ASSERT_EQ(bits(got.sx), bits(want.sx)) << what;
        expect_sums(got, want, what);
        if (!(active_isa() == Isa::Avx512)) continue;
        ASSERT_EQ(bits(group_score[lane]), bits(slow)) << what << ", in a group";
        expect_sums(group_sums[lane], want, what + ", in a group");
        ASSERT_EQ(bits(stat[pos].mx), bits(want.n ? want.sx / static_cast<double>(want.n) : 0.0)) << what;
      }
    }
  }
}

// Columns against eight permutations at once, tile by tile, against the
// literal relabel-sort-rank-score of each permutation; tiles of one row each
// (every row a tile edge), of a few rows, and of all pairs at once.
TEST(Twins, PermutationLanes) {
  std::mt19937 rng(99);
  std::vector<int> ns = sizes(rng, 30, 30);
  ns.push_back(380);
  Log quiet(nullptr);
  for (int n : ns) {
    n = std::max(n, 2);
    const Family f = family(rng, n, 10);
    const int64_t npairs = static_cast<int64_t>(n) * (n - 1) / 2;
    for (bool spearman : {true, false}) {
      if (spearman && n > 60) continue;
      const Side s(f, spearman);
      // The square formed in place over the pair order (as a run forms it) against the one copied from it.
      const std::vector<float>& tri = spearman ? s.idenrank : s.idelino;
      std::vector<float> ysq(static_cast<size_t>(n) * n), in_place(std::max<size_t>(ysq.size(), tri.size() + 2));
      fill_rank_square(tri.data(), n, ysq.data());
      std::copy(tri.begin(), tri.end(), in_place.begin() + 2);
      expand_square(in_place.data(), 2, n);
      for (size_t k = 0; k < ysq.size(); ++k) ASSERT_EQ(bits(in_place[k]), bits(ysq[k])) << "square, n " << n << " at " << k;
      std::vector<std::vector<int32_t>> perms(kLanes, std::vector<int32_t>(n + 1));
      LaneBlock block;
      block.nl = std::uniform_int_distribution<int>(1, kLanes)(rng);
      for (int l = 0; l < kLanes; ++l) {
        std::iota(perms[l].begin() + 1, perms[l].end(), 1);
        std::shuffle(perms[l].begin() + 1, perms[l].end(), rng);
        block.perms[l] = perms[l].data();
      }
      // The columns without a sentinel, in a shuffled order.
      const test::ColumnData cd(f.a);
      std::vector<ColumnStat> stat(f.a.alnlen + 1);
      std::vector<int32_t> order;
      for (int32_t pos = 1; pos <= f.a.alnlen; ++pos) {
        ColumnPrep prep;
        prepare_column(cd.cols.column(pos), n, cd.cols.gaps(pos), f.c.m, spearman, prep);
        if (score_column(cd.cols.column(pos), prep, s.side, &stat[pos]) >= -1.0f) order.push_back(pos);
      }
      std::shuffle(order.begin(), order.end(), rng);
      const int32_t nactive = static_cast<int32_t>(order.size());
      std::vector<std::vector<literal::Sums>> want(order.size(), std::vector<literal::Sums>(kLanes));
      for (size_t k = 0; k < order.size(); ++k)
        for (int l = 0; l < block.nl; ++l) {
          std::vector<std::vector<float>> relabelled(n + 1, std::vector<float>(n + 1, 0));
          for (int i = 1; i <= n; ++i)
            for (int j = 1; j <= n; ++j)
              if (i != j) relabelled[i][j] = f.sim[perms[l][i]][perms[l][j]];
          std::vector<float> rr, ro;
          literal::pair_vectors(relabelled, n, rr, ro, spearman);
          literal::position_score(f.a, f.c.m, order[k], rr, ro, spearman, &want[k][l]);
        }
      for (int64_t tile : {int64_t{1}, int64_t{3 * n}, npairs}) {
        std::vector<double> lanes(std::max<int64_t>(tile, n - 1) * kLanes + kLanes);
        std::vector<LaneGroup> groups(lane_groups(nactive) + 1);
        std::vector<uint8_t> codes8((nactive + kColumnsPerRead) * n);
        lane_group_codes(cd.cols, order.data(), nactive, codes8.data());
        // The groups in two shares, each from its own walk, as two threads would take them.
        const int32_t ngroups = lane_groups(nactive), half = ngroups / 2;
        for (const auto& [g0, g1] : {std::pair{0, half}, std::pair{half, ngroups}})
          block_sums(cd.cols, order.data(), nactive, g0, g1, codes8.data(), stat.data(), s.side, ysq.data(), block, tile,
                     lanes.data(), groups.data(), quiet);
        for (int32_t k = 0; k < nactive; ++k) {
          const LaneGroup& g = groups[k / kColumnsPerRead];
          ASSERT_EQ(g.pairs, npairs);
          for (int l = 0; l < block.nl; ++l)
            expect_sums(lane_sums(g, k % kColumnsPerRead, l, block, stat.data(), cd.cols), want[k][l],
                        f.c.what + ", column " + std::to_string(order[k]) + ", lane " + std::to_string(l) +
                            ", tiles of " + std::to_string(tile));
        }
      }
    }
  }
}

// The exact sums over the pairs of two gapped proteins, each column's from
// its neighbour's, against the double loop: neighbours that share most,
// some or none of their gapped proteins, and empty gap lists.
TEST(Twins, GappedPairSums) {
  std::mt19937 rng(29);
  for (int trial = 0; trial < 300; ++trial) {
    const int32_t n = std::uniform_int_distribution<int32_t>(2, 60)(rng);
    const int change = trial % 3 == 0 ? 1 : trial % 3 == 1 ? 4 : n;  // proteins that flip between neighbours
    std::vector<float> sq(static_cast<size_t>(n) * n);
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = i; j < n; ++j)
        sq[i * n + j] = sq[j * n + i] = i == j ? 0.0f : 0.5f * std::uniform_int_distribution<int>(-99, 99)(rng);
    std::vector<int32_t> perm(n + 1);
    std::iota(perm.begin() + 1, perm.end(), 1);
    std::shuffle(perm.begin() + 1, perm.end(), rng);
    std::vector<char> in(n + 1, 0);
    std::vector<std::vector<int32_t>> lists(kColumnsPerRead);
    std::vector<GapList> gaps(kColumnsPerRead);
    for (int c = 0; c < kColumnsPerRead; ++c) {
      for (int k = 0; k < change; ++k) {
        const int32_t p = std::uniform_int_distribution<int32_t>(1, n)(rng);
        in[p] = !in[p];
      }
      for (int32_t p = 1; p <= n; ++p)
        if (in[p]) lists[c].push_back(p);
      gaps[c] = GapList{lists[c].data(), static_cast<int32_t>(lists[c].size())};
    }
    int64_t got[kColumnsPerRead];
    gapped_pair_sums(gaps.data(), kColumnsPerRead, perm.data(), sq.data(), n, -1, got);
    for (int c = 0; c < kColumnsPerRead; ++c) {
      int64_t want = 0;
      for (size_t i = 0; i < lists[c].size(); ++i)
        for (size_t j = i + 1; j < lists[c].size(); ++j)
          want += static_cast<int64_t>(2 * sq[(perm[lists[c][i]] - 1) * n + perm[lists[c][j]] - 1]);
      ASSERT_EQ(got[c], want) << "trial " << trial << ", column " << c << ", " << lists[c].size() << " gapped";
    }
  }
}

// The tree draw against shifting the list, rand() call for rand() call.
TEST(Twins, PermutationDraw) {
  for (int nprot : {1, 2, 3, 7, 64, 65, 300, 420}) {
    const int64_t nsuffl = 6;
    const unsigned seed = 79 + nprot;
    const auto want = literal::draw_permutations(seed, nsuffl, nprot);
    std::vector<std::vector<int32_t>> rows(nsuffl + 1, std::vector<int32_t>(nprot + 2, 0));
    std::vector<int32_t*> sufix(nsuffl + 1);
    for (int64_t s = 0; s <= nsuffl; ++s) sufix[s] = rows[s].data();
    std::vector<int32_t> scratch(nprot + 3);
    Rand rng(seed);
    Log quiet(nullptr);
    draw_permutations(rng, nsuffl, nprot, sufix.data(), scratch.data(), quiet);
    for (int64_t s = 1; s <= nsuffl; ++s)
      for (int i = 1; i <= nprot; ++i) ASSERT_EQ(rows[s][i], want[s][i]) << nprot << " perm " << s << " at " << i;
    const int next_fast = rng.next();  // exactly nprot draws per permutation
    literal::draw_permutations(seed, nsuffl, nprot);
    EXPECT_EQ(next_fast, std::rand());
  }
}

// The run's own generator against the C library's srand and rand.
TEST(Twins, GeneratorIsTheCLibrarys) {
  for (unsigned seed : {0u, 1u, 2u, 79u, 127773u, 2147483647u, 2147483648u, 4294967291u, 4294967295u}) {
    std::srand(seed);
    Rand rng(seed);
    for (int k = 0; k < 5000; ++k) ASSERT_EQ(rng.next(), std::rand()) << "seed " << seed << " draw " << k;
  }
}

}  // namespace
}  // namespace vorn
