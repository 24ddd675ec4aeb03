#include "shuffle/random_passes.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <parallel/algorithm>

#include "fail.hpp"
#include "input/residue.hpp"
#include "report/result_line.hpp"
#include "scoring/position.hpp"
#include "scoring/similarity.hpp"
#include "shuffle/significance.hpp"

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

// usable[a*21+b] = 1 when both codes are residues.
struct UsableTable {
  double u[kCells];
  UsableTable() {
    for (int a = 0; a < kCodes; ++a)
      for (int b = 0; b < kCodes; ++b) u[a * kCodes + b] = (a != 0 && b != 0) ? 1.0 : 0.0;
  }
};
const UsableTable kUsable;

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
      const double* urow = kUsable.u + a * kCodes;
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
void lane_totals(const float* lanes, int64_t npairs, v8d* sy, v8d* syy) {
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

// The block's relabelled similarity vectors, pair-major: lane l of pair k
// holds y(perm_l(i), perm_l(j)). Unused lanes repeat lane 0.
void fill_lanes(const Workspace& ws, const int32_t* const* perms, int nlanes, const float* ysq, float* lanes) {
  const int32_t n = ws.nprot;
#pragma omp parallel for schedule(dynamic, 16)
  for (int32_t i = 1; i < n; ++i) {
    float* out = lanes + (pair_index(i, i + 1, n) - 1) * kLanes;
    int32_t u[kLanes];
    for (int l = 0; l < kLanes; ++l) u[l] = perms[l < nlanes ? l : 0][i];
    for (int32_t j = i + 1; j <= n; ++j, out += kLanes) {
      for (int l = 0; l < kLanes; ++l) {
        const int32_t v = perms[l < nlanes ? l : 0][j];
        out[l] = ysq ? ysq[static_cast<int64_t>(u[l] - 1) * n + (v - 1)] : ws.identities[u[l]][v];
      }
    }
  }
}

float lane_score(double sxx, double syy, int64_t n, double sxy) {
  if (sxx == 0) return -2.0f;
  if (syy == 0) return -2.0f;
  if (n <= 10) return -3.0f;
  return static_cast<float>(sxy / (std::sqrt(syy) * std::sqrt(sxx)));
}

bool active(const Workspace& ws, int32_t pos) { return scored(ws.gapperc[pos]) && !(ws.icorr[pos] < -1.0f); }

}  // namespace

void random_passes(Workspace& ws, const AaMat& aamat, int rankcorr, Log& log) {
  (void)aamat;
  const int32_t n = ws.nprot, alnlen = ws.alnlen;
  const int64_t npairs = ws.npairs, nsuffl = ws.nsuffl;
  const bool spearman = rankcorr == 1;

  // The relabelled ranks are the real ranks re-indexed: a permutation of the
  // proteins permutes the pairs, so the similarities keep their multiset and
  // each value keeps its rank. No sort per permutation.
  const float* ysq = nullptr;
  if (spearman) {
    float* sq = ws.ranksq.data();
#pragma omp parallel for schedule(dynamic, 16)
    for (int32_t i = 1; i <= n; ++i) {
      sq[static_cast<int64_t>(i - 1) * n + (i - 1)] = 0.0f;
      for (int32_t j = i + 1; j <= n; ++j) {
        const float r = ws.idenrank[pair_index(i, j, n)];
        sq[static_cast<int64_t>(i - 1) * n + (j - 1)] = r;
        sq[static_cast<int64_t>(j - 1) * n + (i - 1)] = r;
      }
    }
    ysq = sq;
  }
  SimilaritySide side;
  prepare_similarity_side(spearman ? ws.idenrank.data() : ws.idelino.data(), n, npairs, ws.rowsum.data(), side);

  float* lanes = ws.lanesim.data();
  for (int64_t s0 = 1; s0 <= nsuffl; s0 += kLanes) {
    const int nl = static_cast<int>(std::min<int64_t>(kLanes, nsuffl - s0 + 1));
    const int32_t* perms[kLanes];
    for (int l = 0; l < kLanes; ++l) perms[l] = ws.sufix[s0 + (l < nl ? l : 0)];
    fill_lanes(ws, perms, nl, ysq, lanes);
    v8d sy_all, syy_all;
    lane_totals(lanes, npairs, &sy_all, &syy_all);

    int64_t bad_pos = 0, bad_pairs = 0;
#pragma omp parallel for schedule(dynamic, 1)
    for (int32_t pos = 1; pos <= alnlen; ++pos) {
      if (!active(ws, pos)) continue;
      const ColumnStat& st = ws.colstat[pos];
      const uint8_t* codes = ws.column(pos);
      const GapList gaps = ws.gaps(pos);
      const double cn = static_cast<double>(st.n);
      v8d sy, sxy, syy;
      if (gaps.n == 0) {
        sy = sy_all;
      } else if (side.exact) {
        for (int l = 0; l < kLanes; ++l) sy[l] = usable_sum_y(codes, gaps, side, perms[l < nl ? l : 0], ysq);
      } else {
        lane_usable_sum(codes, n, lanes, &sy);
      }
      const v8d my = sy / SPLAT(cn);
      const int64_t pairs = gaps.n == 0 ? lane_pass_plain(codes, n, st.d, lanes, &my, &sxy, &syy)
                                        : lane_pass_gapped(codes, n, st.d, lanes, &my, &sxy, &syy);
      if (gaps.n == 0) syy = syy_all;
      if (pairs != npairs) {
#pragma omp critical(random_pass_check)
        if (bad_pos == 0) bad_pos = pos, bad_pairs = pairs;
      }
      for (int l = 0; l < nl; ++l) ws.rndcorr[pos][s0 + l] = lane_score(st.sxx, syy[l], st.n, sxy[l]);
    }
    if (bad_pos != 0) {
      fail("** Internal error 1.1 %lld %lld %d %lld\n", static_cast<long long>(bad_pairs),
           static_cast<long long>(npairs), static_cast<int>(bad_pos), static_cast<long long>(s0));
    }
    for (int l = 0; l < nl; ++l) {
      const int64_t s = s0 + l;
      for (int32_t pos = 1; pos <= alnlen; ++pos) {
        log.progress("> Scores for random alns... Pos:%4d/%d  Rnd. aln:%4lld/%lld       \r", pos, alnlen,
                     static_cast<long long>(s), static_cast<long long>(nsuffl));
        if (scored(ws.gapperc[pos]) && ws.icorr[pos] < -1.0f) ws.rndcorr[pos][s] = ws.icorr[pos];
      }
    }
  }

  // The pool, permutation after permutation, positions in ascending order.
  float* pool = ws.globdist();
  int64_t& count = ws.globcount();
  count = 0;
  for (int64_t s = 1; s <= nsuffl; ++s)
    for (int32_t pos = 1; pos <= alnlen; ++pos)
      if (active(ws, pos)) pool[++count] = ws.rndcorr[pos][s];
}

void final_report(Workspace& ws, FILE* out) {
  const int64_t count = ws.globcount(), nsuffl = ws.nsuffl;
  const float* pool = ws.globdist();
  float* sorted = ws.globsorted.data();
  std::copy(pool + 1, pool + 1 + count, sorted + 1);
  __gnu_parallel::sort(sorted + 1, sorted + 1 + count, std::greater<float>());
  const ZStats global = count > 0 ? zstats(pool, count) : ZStats{0, 0};

  // " %9.4f" of a double can run to over 300 characters.
  char zpos[400], ppos[64], zglob[400], pglob[64];
  for (int32_t pos = 1; pos <= ws.alnlen; ++pos) {
    if (!scored(ws.gapperc[pos])) continue;
    const float x = ws.icorr[pos];
    if (x < -1.0f) {
      std::snprintf(zpos, sizeof zpos, "        []");
      std::snprintf(ppos, sizeof ppos, " %e", 2.0);
      std::snprintf(zglob, sizeof zglob, "        []");
      std::snprintf(pglob, sizeof pglob, " %e", 2.0);
    } else {
      const float* own = ws.rndcorr[pos];
      std::snprintf(zpos, sizeof zpos, " %9.4f", fzscore(own, nsuffl, x));
      std::snprintf(ppos, sizeof ppos, " %e", fpval(own, nsuffl, x));
      std::snprintf(zglob, sizeof zglob, " %9.4f", zscore(global, x));
      std::snprintf(pglob, sizeof pglob, " %e", fpval_sorted(sorted, count, x));
    }
    write_extended_line(out,
                        LineFields{pos, aa_indexback(ws.aln[1][pos]), ws.pdbnum[pos], ws.chain[pos], ws.acc[pos],
                                   ws.entrop[pos], ws.sec_str[pos], ws.var[pos], x},
                        zpos, ppos, zglob, pglob);
  }
}

}  // namespace vorn
