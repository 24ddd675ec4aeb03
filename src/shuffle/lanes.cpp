#include "shuffle/lanes.hpp"

#include <cstring>

#include "input/residue.hpp"
#include "isa.hpp"
#include "scoring/similarity.hpp"

// Lane vectors are returned from always-inlined helpers only, never across a call.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace vorn {

namespace {

static_assert(kLanes == 8);

// Each lane carries one permutation and its own accumulation in pair order:
//   sxy += d(a,b) * (y - my)      and, in gapped columns,
//   syy += usable(a,b) * (y - my)^2
// Gapped pairs have d = 0 and usable = 0: their terms add exactly nothing.
// kColumnsPerRead columns go against one block, the block read once for all
// of them, each with its own sums. A
// column whose protein i is gapped adds exact zeros for the row (its d and
// usable rows of code 0 are 0) instead of skipping it.
template <bool Gapped>
inline __attribute__((always_inline)) int64_t group_body(const uint8_t* const* codes, int32_t nprot,
                                                         const double* const* d, const float* lanes, const v8d* my_in,
                                                         v8d* sxy, v8d* syy) {
  constexpr int C = kColumnsPerRead;
  v8d axy[C], ayy[C], my[C];
  for (int c = 0; c < C; ++c) axy[c] = ayy[c] = splat(0.0), my[c] = my_in[c];
  lane_walk<C>(
      codes, nprot, d, lanes, true, [](int32_t, int32_t) __attribute__((always_inline)) { return 0; },
      [&](int c, double dx, double u, const v8d& y, int) __attribute__((always_inline)) {
        const v8d dy = y - my[c];
        axy[c] += dx * dy;
        if constexpr (Gapped) ayy[c] += u * (dy * dy);
      });
  const int64_t pairs = static_cast<int64_t>(nprot) * (nprot - 1) / 2;
  for (int c = 0; c < C; ++c) sxy[c] = axy[c], syy[c] = ayy[c];
  return pairs;
}

VORN_ISA_CLONES(int64_t, group_pass_plain,
                (const uint8_t* const* codes, int32_t nprot, const double* const* d, const float* lanes, const v8d* my,
                 v8d* sxy, v8d* syy),
                { return group_body<false>(codes, nprot, d, lanes, my, sxy, syy); })
VORN_ISA_CLONES(int64_t, group_pass_gapped,
                (const uint8_t* const* codes, int32_t nprot, const double* const* d, const float* lanes, const v8d* my,
                 v8d* sxy, v8d* syy),
                { return group_body<true>(codes, nprot, d, lanes, my, sxy, syy); })

// Per lane, the sum of y over the usable pairs, in pair order.
void lane_usable_sum(const uint8_t* codes, int32_t nprot, const float* lanes, v8d* sy_out) {
  v8d sy = splat(0.0);
  for (PairRows r(nprot); r; ++r) {
    const int32_t i = r.i, len = r.len();
    const float* yrow = lanes + r.start * kLanes;  // the pairs of protein i
    if (codes[i] != 0) {
      for (int32_t t = 0; t < len; ++t) {
        if (codes[i + 1 + t] == 0) continue;
        v8d y;
        y = lane_load(yrow + static_cast<int64_t>(t) * kLanes);
        sy += y;
      }
    }
  }
  *sy_out = sy;
}

// Sums over all pairs, for columns without gaps: sy, and syy around sy / npairs.
void totals(const float* lanes, int64_t npairs, v8d* sy, v8d* syy) {
  v8d s = splat(0.0), y;
  for (int64_t k = 0; k < npairs; ++k) {
    y = lane_load(lanes + k * kLanes);
    s += y;
  }
  const double np = static_cast<double>(npairs);
  const v8d my = s / splat(np);
  v8d ss = splat(0.0);
  for (int64_t k = 0; k < npairs; ++k) {
    y = lane_load(lanes + k * kLanes);
    const v8d dy = y - my;
    ss += dy * dy;
  }
  *sy = s;
  *syy = ss;
}

}  // namespace

void fill_rank_square(const float* idenrank, int32_t n, float* sq) {
#pragma omp parallel for schedule(dynamic, 16)
  for (int32_t i = 1; i <= n; ++i) {
    sq[static_cast<int64_t>(i - 1) * n + (i - 1)] = 0.0f;
    for (int32_t j = i + 1; j <= n; ++j) {
      const float r = idenrank[pair_index(i, j, n)];
      sq[static_cast<int64_t>(i - 1) * n + (j - 1)] = r;
      sq[static_cast<int64_t>(j - 1) * n + (i - 1)] = r;
    }
  }
}

void fill_lanes(int32_t n, const float* ysq, const float* const* identities, LaneBlock& block, float* lanes) {
  const int32_t* perms[kLanes];
  for (int l = 0; l < kLanes; ++l) perms[l] = block.perms[l < block.nl ? l : 0];
#pragma omp parallel for schedule(dynamic, 16)
  for (int32_t i = 1; i < n; ++i) {
    float* out = lanes + (pair_index(i, i + 1, n) - 1) * kLanes;
    int32_t u[kLanes];
    for (int l = 0; l < kLanes; ++l) u[l] = perms[l][i];
    for (int32_t j = i + 1; j <= n; ++j, out += kLanes) {
      for (int l = 0; l < kLanes; ++l) {
        const int32_t v = perms[l][j];
        out[l] = ysq ? ysq[static_cast<int64_t>(u[l] - 1) * n + (v - 1)] : identities[u[l]][v];
      }
    }
  }
  block.lanes = lanes;
}

void lane_totals(int64_t npairs, LaneBlock& block) {
  v8d sy, syy;
  totals(block.lanes, npairs, &sy, &syy);
  for (int l = 0; l < kLanes; ++l) {
    block.sy_all[l] = sy[l];
    block.syy_all[l] = syy[l];
  }
}

void lane_group_sums(const Columns& cols, const int32_t* pos, int nc, const ColumnStat* colstat,
                     const SimilaritySide& side, const float* ysq, const LaneBlock& block,
                     CorrelationSums (*out)[kLanes], int64_t& pairs) {
  const int32_t n = side.nprot;
  const uint8_t* codes[kColumnsPerRead];
  const double* d[kColumnsPerRead];
  v8d my[kColumnsPerRead], sy[kColumnsPerRead], sxy[kColumnsPerRead], syy[kColumnsPerRead];
  bool gapped = false;
  for (int c = 0; c < kColumnsPerRead; ++c) {
    const int32_t p = pos[c < nc ? c : 0];  // unused places repeat the first column
    const GapList gaps = cols.gaps(p);
    codes[c] = cols.column(p);
    d[c] = colstat[p].d;
    gapped = gapped || gaps.n > 0;
    if (gaps.n == 0) {
      for (int l = 0; l < kLanes; ++l) sy[c][l] = block.sy_all[l];
    } else if (side.exact) {
      for (int l = 0; l < kLanes; ++l)
        sy[c][l] = usable_sum_y(codes[c], gaps, side, block.perms[l < block.nl ? l : 0], ysq);
    } else {
      lane_usable_sum(codes[c], n, block.lanes, &sy[c]);
    }
    my[c] = sy[c] / splat(static_cast<double>(colstat[p].n));
  }
  pairs = gapped ? VORN_ISA_CALL(group_pass_gapped, codes, n, d, block.lanes, my, sxy, syy)
                 : VORN_ISA_CALL(group_pass_plain, codes, n, d, block.lanes, my, sxy, syy);
  for (int c = 0; c < nc; ++c) {
    const ColumnStat& st = colstat[pos[c]];
    const bool plain = cols.gaps(pos[c]).n == 0;
    for (int l = 0; l < kLanes; ++l) {
      out[c][l].sx = 0;
      out[c][l].sy = sy[c][l];
      out[c][l].sxy = sxy[c][l];
      out[c][l].sxx = st.sxx;
      out[c][l].syy = plain ? block.syy_all[l] : syy[c][l];
      out[c][l].n = st.n;
    }
  }
}

}  // namespace vorn
