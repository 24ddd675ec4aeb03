#include "scoring/similarity.hpp"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fail.hpp"
#include "isa.hpp"
#include "input/residue.hpp"
#include "scoring/ranking.hpp"

// GCC 12 takes the intrinsics' deliberately undefined upper lanes for uninitialised values.
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace vorn {

void gap_percentages(const uint8_t* alncol, int32_t nprot, int32_t alnlen, float* gapperc) {
  for (int32_t pos = 1; pos <= alnlen; ++pos) {
    const uint8_t* col = alncol + static_cast<int64_t>(pos - 1) * nprot;
    int32_t g = 0;
    for (int32_t p = 0; p < nprot; ++p) g += col[p] == 0;
    gapperc[pos] = (static_cast<float>(g) / static_cast<float>(nprot)) * 100.0f;
  }
}

void column_codes(const int32_t* const* aln, int32_t nprot, int32_t alnlen, uint8_t* alncol) {
  for (int32_t p = 1; p <= nprot; ++p)
    for (int32_t pos = 1; pos <= alnlen; ++pos)
      alncol[static_cast<int64_t>(pos - 1) * nprot + (p - 1)] = static_cast<uint8_t>(aln[p][pos]);
}

void gap_lists(const uint8_t* alncol, const float* gapperc, int32_t nprot, int32_t alnlen, int32_t* gaplist,
               int64_t* gapstart) {
  int64_t at = 0;
  for (int32_t pos = 1; pos <= alnlen; ++pos) {
    gapstart[pos] = at;
    if (!scored(gapperc[pos])) continue;
    const uint8_t* col = alncol + static_cast<int64_t>(pos - 1) * nprot;
    for (int32_t p = 1; p <= nprot; ++p)
      if (col[p - 1] == 0) gaplist[at++] = p;
  }
  gapstart[alnlen + 1] = at;
}

namespace {

constexpr int kBlock = 8;  // pairs summed side by side: independent chains hide the add latency

// Similarities of protein i with proteins j0 .. j0+nb-1, each summed over the
// positions in ascending order, in single precision.
void similarity_block(const int32_t* const* aln, int32_t alnlen, const AaMat& aamat, int32_t i, int32_t j0, int nb,
                      float* const* identities) {
  float s[kBlock] = {0};
  int32_t n[kBlock] = {0};
  const int32_t* ri = aln[i];
  const int32_t* rj[kBlock];
  for (int b = 0; b < nb; ++b) rj[b] = aln[j0 + b];
  for (int32_t p = 1; p <= alnlen; ++p) {
    const int32_t a = ri[p];
    const float* row = aamat[a].data();
    for (int b = 0; b < nb; ++b) {
      const int32_t c = rj[b][p];
      n[b] += (a != 0) & (c != 0);
      s[b] = s[b] + row[c];
    }
  }
  for (int b = 0; b < nb; ++b) {
    const int32_t j = j0 + b;
    const float v = (s[b] == 0.0f || n[b] == 0) ? 0.0f : s[b] / static_cast<float>(n[b]);
    identities[i][j] = v;
  }
}

}  // namespace

namespace {

constexpr int kWide = 4;  // vectors of 16 proteins summed side by side per row

// identities[i][j] for every j > i: protein i against 64 proteins at a time,
// sixteen per vector, each lane summing its pair over the positions in
// ascending order in single precision, as similarity_block does; the matrix
// row of protein i's residue is looked up for sixteen codes at once.
#define VORN_ROW_PARAMS                                                                                      \
  (const int32_t* const* aln, const uint8_t* alncol, int32_t nprot, int32_t alnlen, const AaMat& aamat,         \
   const float(*tab)[32], int32_t i, float* const* identities)
__attribute__((target("avx512f,avx512bw,avx512vl"))) void similarity_row_avx512 VORN_ROW_PARAMS {
  count_isa_call(Isa::Avx512);
  (void)aamat;
  const int32_t* ri = aln[i];
  float* out = identities[i];
  for (int32_t j0 = i + 1; j0 <= nprot; j0 += 16 * kWide) {
    __m512 s[kWide];
    __m512i n[kWide];
    __mmask16 in[kWide];
    for (int v = 0; v < kWide; ++v) {
      s[v] = _mm512_setzero_ps();
      n[v] = _mm512_setzero_si512();
      const int32_t left = nprot - (j0 + 16 * v) + 1;  // proteins from this vector's first on
      in[v] = left >= 16 ? 0xFFFF : left > 0 ? static_cast<__mmask16>((1u << left) - 1) : 0;
    }
    const __m512i one = _mm512_set1_epi32(1);
    for (int32_t p = 1; p <= alnlen; ++p) {
      const int32_t a = ri[p];
      const __m512 lo = _mm512_loadu_ps(tab[a]), hi = _mm512_loadu_ps(tab[a] + 16);
      const __mmask16 residue = a != 0 ? 0xFFFF : 0;
      const uint8_t* codes = alncol + static_cast<int64_t>(p - 1) * nprot + (j0 - 1);
      for (int v = 0; v < kWide; ++v) {
        const __m512i c = _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(in[v], codes + 16 * v));
        s[v] = _mm512_add_ps(s[v], _mm512_permutex2var_ps(lo, c, hi));
        n[v] = _mm512_mask_add_epi32(n[v], residue & _mm512_test_epi32_mask(c, c), n[v], one);
      }
    }
    for (int v = 0; v < kWide; ++v) {
      const __mmask16 zero = _mm512_cmp_ps_mask(s[v], _mm512_setzero_ps(), _CMP_EQ_OQ) |
                             _mm512_cmpeq_epi32_mask(n[v], _mm512_setzero_si512());
      const __m512 mean = _mm512_maskz_div_ps(static_cast<__mmask16>(~zero), s[v], _mm512_cvtepi32_ps(n[v]));
      _mm512_mask_storeu_ps(out + j0 + 16 * v, in[v], mean);
    }
  }
}

// The same with eight proteins a vector, the row looked up by three
// in-register permutes and two blends (quicker than a gather of eight).
__attribute__((target("avx2"))) void similarity_row_avx2 VORN_ROW_PARAMS {
  count_isa_call(Isa::Avx2);
  (void)aamat;
  constexpr int kAvx2Wide = 8;
  const int32_t* ri = aln[i];
  float* out = identities[i];
  for (int32_t j0 = i + 1; j0 <= nprot; j0 += 8 * kAvx2Wide) {
    __m256 s[kAvx2Wide];
    __m256i n[kAvx2Wide];
    int left[kAvx2Wide];
    for (int v = 0; v < kAvx2Wide; ++v) {
      s[v] = _mm256_setzero_ps();
      n[v] = _mm256_setzero_si256();
      left[v] = std::clamp(nprot - (j0 + 8 * v) + 1, 0, 8);  // proteins from this vector's first on
    }
    const __m256i seven = _mm256_set1_epi32(7), fifteen = _mm256_set1_epi32(15);
    for (int32_t p = 1; p <= alnlen; ++p) {
      const int32_t a = ri[p];
      const __m256i residue = _mm256_set1_epi32(a != 0 ? -1 : 0);
      const __m256 t0 = _mm256_loadu_ps(tab[a]), t1 = _mm256_loadu_ps(tab[a] + 8), t2 = _mm256_loadu_ps(tab[a] + 16);
      const uint8_t* codes = alncol + static_cast<int64_t>(p - 1) * nprot + (j0 - 1);
      for (int v = 0; v < kAvx2Wide && left[v] > 0; ++v) {
        uint8_t part[8] = {0};
        const uint8_t* at = codes + 8 * v;
        if (left[v] < 8) std::memcpy(part, at, static_cast<size_t>(left[v])), at = part;
        const __m256i c = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)));
        const __m256 x01 = _mm256_blendv_ps(_mm256_permutevar8x32_ps(t0, c), _mm256_permutevar8x32_ps(t1, c),
                                            _mm256_castsi256_ps(_mm256_cmpgt_epi32(c, seven)));
        const __m256 x = _mm256_blendv_ps(x01, _mm256_permutevar8x32_ps(t2, c),
                                          _mm256_castsi256_ps(_mm256_cmpgt_epi32(c, fifteen)));
        s[v] = _mm256_add_ps(s[v], x);
        const __m256i both = _mm256_and_si256(residue, _mm256_cmpgt_epi32(c, _mm256_setzero_si256()));
        n[v] = _mm256_sub_epi32(n[v], both);  // both is -1 where a pair is counted
      }
    }
    for (int v = 0; v < kAvx2Wide && left[v] > 0; ++v) {
      const __m256 nf = _mm256_cvtepi32_ps(n[v]);
      const __m256 zero = _mm256_or_ps(_mm256_cmp_ps(s[v], _mm256_setzero_ps(), _CMP_EQ_OQ),
                                       _mm256_cmp_ps(nf, _mm256_setzero_ps(), _CMP_EQ_OQ));
      const __m256 mean = _mm256_blendv_ps(_mm256_div_ps(s[v], nf), _mm256_setzero_ps(), zero);
      float lanes[8];
      _mm256_storeu_ps(lanes, mean);
      std::memcpy(out + j0 + 8 * v, lanes, sizeof(float) * static_cast<size_t>(left[v]));
    }
  }
}

// Eight pairs side by side, from the rows of codes.
void similarity_row_generic VORN_ROW_PARAMS {
  count_isa_call(Isa::Generic);
  (void)alncol, (void)tab;
  for (int32_t j0 = i + 1; j0 <= nprot; j0 += kBlock)
    similarity_block(aln, alnlen, aamat, i, j0, std::min(kBlock, nprot - j0 + 1), identities);
}
#undef VORN_ROW_PARAMS

}  // namespace

void similarity_matrix(const int32_t* const* aln, const uint8_t* alncol, int32_t nprot, int32_t alnlen,
                       const AaMat& aamat, float* const* identities, Log& log) {
  // The lanes read the codes by column; without them, the rows of codes.
  const bool by_column = alncol != nullptr;
  float tab[kCodes][32] = {};  // each matrix row padded to 32 entries: one two-register lookup
  for (int a = 0; a < kCodes; ++a)
    for (int c = 0; c < kCodes; ++c) tab[a][c] = aamat[a][c];
  // Rows are computed in parallel in chunks and announced in order, so that
  // standard error reads the same for any number of threads.
  const int32_t chunk = 64;
  for (int32_t i0 = 1; i0 <= nprot - 1; i0 += chunk) {
    log.checkpoint();
    log.meter(Log::kSimilarity, i0 - 1, nprot - 1);
    const int32_t i1 = std::min(nprot - 1, i0 + chunk - 1);
#pragma omp parallel for schedule(dynamic, 1)
    for (int32_t i = i0; i <= i1; ++i) {
      if (by_column) {
        VORN_ISA_CALL(similarity_row, aln, alncol, nprot, alnlen, aamat, tab, i, identities);
      } else {
        similarity_row_generic(aln, alncol, nprot, alnlen, aamat, tab, i, identities);
      }
    }
    for (int32_t i = i0; i <= i1; ++i) {
      log.progress("\rProtein sim. matrix (%d/%d)...  ", i, nprot);
      // Scores near the top of single precision can overflow the sums; every
      // later step needs finite similarities.
      for (int32_t j = i + 1; j <= nprot; ++j) {
        if (!std::isfinite(identities[i][j])) {
          fail("** Error: the similarity of proteins %d and %d overflows single precision: the matrix scores are "
               "too large.\n",
               i, j);
        }
      }
    }
  }
}

void print_similarity(FILE* out, const float* const* identities, int32_t nprot) {
  std::fprintf(out, "\nSim. matrix:\n");
  for (int32_t i = 1; i <= nprot; ++i)
    for (int32_t j = i + 1; j <= nprot; ++j) std::fprintf(out, "%d\t%d\t%f\n", i, j, identities[i][j]);
}

void print_two_groups(FILE* out, int32_t nprot) {
  const int32_t h = nprot / 2;
  for (int32_t i = 1; i <= nprot; ++i)
    for (int32_t j = i + 1; j <= nprot; ++j) std::fprintf(out, "%d\t%d\t%d\n", i, j, (i < h && j < h) ? 1 : 0);
}

void print_alignment(FILE* out, const int32_t* const* aln, int32_t nprot, int32_t alnlen) {
  std::fprintf(out, "Alignment (%dx%d):\n----------------------\n", nprot, alnlen);
  for (int32_t p = 1; p <= nprot; ++p) {
    std::fprintf(out, "%4d:  ", p);
    for (int32_t pos = 1; pos <= alnlen; ++pos) std::fputc(aa_indexback(aln[p][pos]), out);
    std::fputc('\n', out);
  }
}

void sort_and_rank(float* values, int64_t npairs, float* scratch, uint64_t* done, int64_t* rank_scratch) {
  if (npairs >= kRankValuesFrom && npairs < (int64_t{1} << 32)) {
    rank_values(values, scratch, done, npairs, rank_scratch);
  } else {
    std::copy(values + 1, values + npairs + 1, scratch + 1);
    ordena(scratch, npairs, rank_scratch);
    rankit(scratch, npairs, values, rank_scratch);
  }
}

}  // namespace vorn
