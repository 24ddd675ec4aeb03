// The alignment reader on arbitrary bytes, both phases, and for small
// alignments the scoring that follows, through the run's own workspace.
#include <cstdint>
#include <cstdio>

#include <omp.h>

#include "fail.hpp"
#include "input/alignment.hpp"
#include "report/result_line.hpp"
#include "scoring/entropy.hpp"
#include "scoring/position.hpp"
#include "scoring/similarity.hpp"
#include "views.hpp"
#include "plan.hpp"
#include "workspace.hpp"

namespace {

vorn::AaMat blosum_like() {
  vorn::AaMat m{};
  for (int r = 1; r <= 20; ++r)
    for (int c = 1; c <= 20; ++c) m[r][c] = r == c ? 4.0f : static_cast<float>((r * 7 + c * 3) % 5 - 2);
  m[0][0] = -1;
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  omp_set_num_threads(1);  // threads add nothing to what a fuzzer can find here, only time
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const vorn::AaMat aamat = blosum_like();
  static FILE* sink = std::fopen("/dev/null", "w");
  vorn::Log quiet(nullptr);
  vorn::AlignmentSource src;
  try {
    vorn::load_memory(data, size, size % 3 ? "fuzz" : "fuzz.a3m", src.text);
    vorn::alignment_dimensions(src, quiet);
    vorn::Workspace ws;
    ws.nprot = static_cast<int32_t>(src.nprot);
    ws.alnlen = static_cast<int32_t>(src.alnlen);
    ws.npairs = src.nprot * (src.nprot - 1) / 2;
    vorn::Allocator alloc(uint64_t{2} << 20);  // absurd header counts stop in the plan
    alloc.allocate(vorn::plan_group1(ws));
    vorn::PairBlock::Shape shape{ws.nprot, ws.npairs, true, false, false};
    ws.pairs.place(shape);
    alloc.allocate(vorn::plan_group4(ws));
    for (int32_t pos = 1; pos <= ws.alnlen; ++pos) {
      ws.var[pos] = ws.acc[pos] = -1;
      ws.sec_str[pos] = '-';
      ws.pdbnum[pos] = pos;
      ws.chain[pos] = ' ';
    }
    vorn::alignment_residues(src, vorn::alignment_arrays(ws));
    if (ws.npairs * static_cast<int64_t>(ws.alnlen) > 200000 || ws.alnlen > 400) return 0;
    vorn::column_codes(ws.aln.rows(), ws.nprot, ws.alnlen, ws.alncol.data());
    vorn::gap_percentages(ws.alncol.data(), ws.nprot, ws.alnlen, ws.gapperc.data());
    vorn::gap_lists(ws.alncol.data(), ws.gapperc.data(), ws.nprot, ws.alnlen, ws.gaplist.data(), ws.gapstart.data());
    vorn::similarity_matrix(ws.aln.rows(), ws.alncol.data(), ws.nprot, ws.alnlen, aamat, ws.pairs.identities.data(), quiet);
    vorn::calc_entrop(ws.alncol.data(), ws.alnlen, ws.nprot, ws.entrop.data(), quiet);
    const int rankcorr = size % 2 ? 1 : 0;
    if (rankcorr) vorn::sort_and_rank(ws.pairs.ranks(), ws.npairs, ws.pairs.scratch(), ws.rankdone.data(), ws.rankscratch.data());
    vorn::SimilaritySide side;
    vorn::prepare_similarity_side(ws.pairs.values(), ws.nprot, ws.npairs, ws.rowsum.data(), side);
    const vorn::LineSource line_source = vorn::lines(ws);
    const vorn::ColumnGroups groups{ws.grouppos.data(), ws.groupcodes.data()};
    vorn::scoring_pass(vorn::columns(ws), aamat, rankcorr, side, nullptr, groups,
                       [&](int32_t pos, float score) { vorn::write_raw_line(sink, line_source.fields(pos, score)); }, quiet);
  } catch (const vorn::Failure&) {
  }
  return 0;
}
