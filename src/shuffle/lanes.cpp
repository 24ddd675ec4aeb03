#include "shuffle/lanes.hpp"

#include <cstring>

#include "input/residue.hpp"
#include "scoring/similarity.hpp"

namespace vorn {

namespace {

typedef double v8d __attribute__((vector_size(64)));
typedef float v8f __attribute__((vector_size(32)));
static_assert(kLanes == 8);

// Vectors of 8 doubles are passed through memory, never by value: the
// calling convention for them differs between instruction sets.
#define LANE_LOAD(dst, src)                  \
  do {                                       \
    v8f lane_f_;                             \
    std::memcpy(&lane_f_, (src), sizeof lane_f_); \
    (dst) = __builtin_convertvector(lane_f_, v8d); \
  } while (0)
#define SPLAT(v) (v8d{(v), (v), (v), (v), (v), (v), (v), (v)})

// Each lane carries one permutation and its own accumulation in pair order:
//   sxy += d(a,b) * (y - my)      and, in gapped columns,
//   syy += usable(a,b) * (y - my)^2
// Gapped pairs have d = 0 and usable = 0: their terms add exactly nothing.
template <bool Gapped>
inline __attribute__((always_inline)) int64_t lane_body(const uint8_t* codes, int32_t nprot, const double* d,
                                                        const float* lanes, const v8d* my_in, v8d* sxy, v8d* syy) {
  const v8d my = *my_in;
  v8d axy = SPLAT(0.0), ayy = SPLAT(0.0);
  const float* yrow = lanes;
  int64_t pairs = 0;
  for (int32_t i = 0; i < nprot - 1; ++i) {
    const int a = codes[i];
    const int32_t len = nprot - 1 - i;
    if (a != 0) {
      const double* drow = d + a * kCodes;
      const double* urow = kUsablePair.data() + a * kCodes;
      const uint8_t* cj = codes + i + 1;
      for (int32_t t = 0; t < len; ++t) {
        const int b = cj[t];
        v8d y;
        LANE_LOAD(y, yrow + static_cast<int64_t>(t) * kLanes);
        const v8d dy = y - my;
        axy += drow[b] * dy;
        if constexpr (Gapped) ayy += urow[b] * (dy * dy);
      }
    }
    yrow += static_cast<int64_t>(len) * kLanes;
    pairs += len;
  }
  *sxy = axy;
  *syy = ayy;
  return pairs;
}

__attribute__((target_clones("avx512f", "avx2", "default"))) int64_t lane_pass_plain(
    const uint8_t* codes, int32_t nprot, const double* d, const float* lanes, const v8d* my, v8d* sxy, v8d* syy) {
  return lane_body<false>(codes, nprot, d, lanes, my, sxy, syy);
}

__attribute__((target_clones("avx512f", "avx2", "default"))) int64_t lane_pass_gapped(
    const uint8_t* codes, int32_t nprot, const double* d, const float* lanes, const v8d* my, v8d* sxy, v8d* syy) {
  return lane_body<true>(codes, nprot, d, lanes, my, sxy, syy);
}

// Per lane, the sum of y over the usable pairs, in pair order.
void lane_usable_sum(const uint8_t* codes, int32_t nprot, const float* lanes, v8d* sy_out) {
  v8d sy = SPLAT(0.0);
  const float* yrow = lanes;
  for (int32_t i = 0; i < nprot - 1; ++i) {
    const int32_t len = nprot - 1 - i;
    if (codes[i] != 0) {
      for (int32_t t = 0; t < len; ++t) {
        if (codes[i + 1 + t] == 0) continue;
        v8d y;
        LANE_LOAD(y, yrow + static_cast<int64_t>(t) * kLanes);
        sy += y;
      }
    }
    yrow += static_cast<int64_t>(len) * kLanes;
  }
  *sy_out = sy;
}

// Sums over all pairs, for columns without gaps: sy, and syy around sy / npairs.
void totals(const float* lanes, int64_t npairs, v8d* sy, v8d* syy) {
  v8d s = SPLAT(0.0), y;
  for (int64_t k = 0; k < npairs; ++k) {
    LANE_LOAD(y, lanes + k * kLanes);
    s += y;
  }
  const double np = static_cast<double>(npairs);
  const v8d my = s / SPLAT(np);
  v8d ss = SPLAT(0.0);
  for (int64_t k = 0; k < npairs; ++k) {
    LANE_LOAD(y, lanes + k * kLanes);
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

void lane_column_sums(const uint8_t* codes, GapList gaps, const ColumnStat& st, const SimilaritySide& side,
                      const float* ysq, const LaneBlock& block, CorrelationSums out[kLanes], int64_t& pairs) {
  const int32_t n = side.nprot;
  v8d sy, sxy, syy;
  if (gaps.n == 0) {
    for (int l = 0; l < kLanes; ++l) sy[l] = block.sy_all[l];
  } else if (side.exact) {
    for (int l = 0; l < kLanes; ++l)
      sy[l] = usable_sum_y(codes, gaps, side, block.perms[l < block.nl ? l : 0], ysq);
  } else {
    lane_usable_sum(codes, n, block.lanes, &sy);
  }
  const double cn = static_cast<double>(st.n);
  const v8d my = sy / SPLAT(cn);
  if (gaps.n == 0) {
    pairs = lane_pass_plain(codes, n, st.d, block.lanes, &my, &sxy, &syy);
    for (int l = 0; l < kLanes; ++l) syy[l] = block.syy_all[l];
  } else {
    pairs = lane_pass_gapped(codes, n, st.d, block.lanes, &my, &sxy, &syy);
  }
  for (int l = 0; l < kLanes; ++l) {
    out[l].sx = 0;
    out[l].sy = sy[l];
    out[l].sxy = sxy[l];
    out[l].sxx = st.sxx;
    out[l].syy = syy[l];
    out[l].n = st.n;
  }
}

}  // namespace vorn
