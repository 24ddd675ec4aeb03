// Micro-benchmarks of the hot procedures on the emitted Pkinase families.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "input/alignment.hpp"
#include "input/matrix.hpp"
#include "scoring/position.hpp"
#include "scoring/ranking.hpp"
#include "scoring/similarity.hpp"
#include "shuffle/lanes.hpp"
#include "plan.hpp"
#include "views.hpp"
#include "plan.hpp"
#include "workspace.hpp"

namespace vorn {
namespace {

// A family read and prepared up to the scoring pass, with shuffling arrays.
struct Family {
  AaMat aamat{};
  Workspace ws;
  Allocator alloc{Allocator::machine_memory()};
  SimilaritySide side;
  std::vector<float> similarities;  // in pair order, before the ranks took their place
};

Family& family(int n) {
  static std::map<int, std::unique_ptr<Family>> cache;
  auto& slot = cache[n];
  if (slot) return *slot;
  slot = std::make_unique<Family>();
  Family& f = *slot;
  Log quiet(nullptr);
  read_matrix(std::string(VORN_SHARED_DATA) + "/matrices/raw_blosum62_tri.txt", f.aamat, quiet);
  AlignmentSource src;
  alignment_dimensions(std::string(VORN_SHARED_DATA) + "/large/Pkinase_emit_N" + std::to_string(n) + ".fa", src, quiet);
  Workspace& ws = f.ws;
  ws.nprot = static_cast<int32_t>(src.nprot);
  ws.alnlen = static_cast<int32_t>(src.alnlen);
  ws.npairs = src.nprot * (src.nprot - 1) / 2;
  ws.nsuffl = kLanes;
  ws.ntree = 1;  // the square beside the pair order, so that both stay readable
  f.alloc.allocate(plan_group1(ws));
  ws.pairs.place(pair_shape(ws));
  f.alloc.allocate(plan_group2(ws));
  f.alloc.allocate(plan_group3(ws));
  f.alloc.allocate(plan_group4(ws));
  alignment_residues(src, alignment_arrays(ws));
  column_codes(ws.aln.rows(), ws.nprot, ws.alnlen, ws.alncol.data());
  gap_percentages(ws.alncol.data(), ws.nprot, ws.alnlen, ws.gapperc.data());
  gap_lists(ws.alncol.data(), ws.gapperc.data(), ws.nprot, ws.alnlen, ws.gaplist.data(), ws.gapstart.data());
  similarity_matrix(ws.aln.rows(), ws.alncol.data(), ws.nprot, ws.alnlen, f.aamat, ws.pairs.identities.data(), quiet);
  f.similarities.assign(ws.pairs.values(), ws.pairs.values() + ws.npairs + 1);
  sort_and_rank(ws.pairs.ranks(), ws.npairs, ws.pairs.scratch(), ws.rankdone.data(), ws.rankscratch.data());
  prepare_similarity_side(ws.pairs.ranks(), ws.nprot, ws.npairs, ws.rowsum.data(), f.side);
  return f;
}

// The first column without gaps, and the first with some.
int32_t column_with(const Workspace& ws, bool gapped) {
  for (int32_t pos = 1; pos <= ws.alnlen; ++pos)
    if (scored(ws.gapperc[pos]) && (columns(ws).gaps(pos).n > 0) == gapped) return pos;
  return 1;
}

void BM_SimilarityMatrix(benchmark::State& st) {
  Family& f = family(static_cast<int>(st.range(0)));
  Log quiet(nullptr);
  std::vector<float*> rows(f.ws.nprot + 2);
  std::vector<float> tri(f.ws.npairs + 5);
  triangle_rows(tri.data(), f.ws.nprot, rows.data());
  for (auto _ : st) similarity_matrix(f.ws.aln.rows(), f.ws.alncol.data(), f.ws.nprot, f.ws.alnlen, f.aamat, rows.data(), quiet);
  st.counters["pairs*cols/s"] = benchmark::Counter(static_cast<double>(f.ws.npairs) * f.ws.alnlen,
                                                   benchmark::Counter::kIsIterationInvariantRate);
}

void BM_SortAndRankSimilarities(benchmark::State& st) {
  Family& f = family(static_cast<int>(st.range(0)));
  Log quiet(nullptr);
  Workspace& ws = f.ws;
  std::vector<float> v(ws.npairs + 5), scratch(ws.npairs + 5);
  for (auto _ : st) {
    st.PauseTiming();
    std::copy(f.similarities.begin() + 1, f.similarities.end(), v.begin() + 1);
    st.ResumeTiming();
    sort_and_rank(v.data(), ws.npairs, scratch.data(), ws.rankdone.data(), ws.rankscratch.data());
  }
}

void BM_ScoreColumn(benchmark::State& st) {
  Family& f = family(static_cast<int>(st.range(0)));
  const int32_t pos = column_with(f.ws, st.range(1) != 0);
  for (auto _ : st) {
    ColumnPrep prep;
    prepare_column(columns(f.ws).column(pos), f.ws.nprot, columns(f.ws).gaps(pos), f.aamat, true, prep);
    benchmark::DoNotOptimize(score_column(columns(f.ws).column(pos), prep, f.side, &f.ws.colstat[pos]));
  }
  st.counters["pairs/s"] = benchmark::Counter(static_cast<double>(f.ws.npairs), benchmark::Counter::kIsIterationInvariantRate);
  st.counters["GB/s"] = benchmark::Counter(4.0 * f.ws.npairs / 1e9, benchmark::Counter::kIsIterationInvariantRate);
}

// The grouped real pass: the first eight scored columns without gaps (or
// with some) in one pass over the pairs, as the raw pass and the tree null's
// library columns are scored. (In the emitted families of 1,000 and more
// every column has a gap.)
void BM_ColumnGroup(benchmark::State& st) {
  Family& f = family(static_cast<int>(st.range(0)));
  const Workspace& ws = f.ws;
  const bool gapped = st.range(1) != 0;
  int32_t pos[kColumnLanes];
  int nl = 0;
  for (int32_t p = 1; p <= ws.alnlen && nl < kColumnLanes; ++p)
    if (scored(ws.gapperc[p]) && (columns(ws).gaps(p).n > 0) == gapped) pos[nl++] = p;
  std::vector<uint8_t> codes8(static_cast<size_t>(kColumnLanes) * ws.nprot);
  float score[kColumnLanes];
  if (nl == 0) st.SkipWithError("no such column");
  for (auto _ : st) {
    score_column_group(columns(ws), pos, nl, f.aamat, true, f.side, codes8.data(), nullptr, score);
    benchmark::DoNotOptimize(score[0]);
  }
  st.counters["pair-columns/s"] = benchmark::Counter(static_cast<double>(ws.npairs) * nl,
                                                     benchmark::Counter::kIsIterationInvariantRate);
}

void BM_LaneColumn(benchmark::State& st) {
  Family& f = family(static_cast<int>(st.range(0)));
  Workspace& ws = f.ws;
  const int32_t pos = column_with(ws, st.range(1) != 0);
  ColumnPrep prep;
  prepare_column(columns(ws).column(pos), ws.nprot, columns(ws).gaps(pos), f.aamat, true, prep);
  score_column(columns(ws).column(pos), prep, f.side, &ws.colstat[pos]);
  LaneBlock block;
  block.nl = kLanes;
  for (int l = 0; l < kLanes; ++l) {
    for (int32_t p = 1; p <= ws.nprot; ++p) ws.sufix[l + 1][p] = (p + 37 * l) % ws.nprot + 1;
    block.perms[l] = ws.sufix[l + 1];
  }
  float* sq = ws.pairs.square_copy.data();
  fill_rank_square(ws.pairs.ranks(), ws.nprot, sq);
  Log quiet(nullptr);
  lane_group_codes(columns(ws), &pos, 1, ws.groupcodes.data());
  for (auto _ : st) {
    block_sums(columns(ws), &pos, 1, 0, 1, ws.groupcodes.data(), ws.colstat.data(), f.side, sq, block, lane_tile_pairs(ws.nprot), ws.lanesim.data(),
               ws.lanegroups.data(), quiet);
    benchmark::DoNotOptimize(ws.lanegroups[0].sxy[0][0]);
  }
  st.counters["pair-steps/s"] = benchmark::Counter(static_cast<double>(ws.npairs) * kLanes,
                                                   benchmark::Counter::kIsIterationInvariantRate);
  st.counters["GB/s"] = benchmark::Counter(4.0 * kLanes * ws.npairs / 1e9, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_SimilarityMatrix)->Arg(1000)->Arg(3000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SortAndRankSimilarities)->Arg(1000)->Arg(3000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScoreColumn)->Args({1000, 0})->Args({3000, 0})->Args({3000, 1})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColumnGroup)->Args({300, 0})->Args({1000, 1})->Args({3000, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LaneColumn)->Args({300, 0})->Args({1000, 0})->Args({1000, 1})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vorn

BENCHMARK_MAIN();
