// The per-position result line, in its raw and extended shapes.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vorn {

struct LineFields {
  int32_t pos;
  char aa;       // residue of protein 1, '.' for a gap
  int32_t pdbnum;
  char chain;
  int32_t acc;
  float entrop;
  char sec_str;
  int32_t var;
  float score;
};

// Where a line's fields come from: protein 1's codes and the annotation
// vectors, all 1-based by position.
struct LineSource {
  const int32_t* res1 = nullptr;  // aln[1]
  const int32_t* pdbnum = nullptr;
  const char* chain = nullptr;
  const int32_t* acc = nullptr;
  const float* entrop = nullptr;
  const char* sec_str = nullptr;
  const int32_t* var = nullptr;
  LineFields fields(int32_t pos, float score) const;
};

// A result line as its values: what the extended line and the export files
// are made from. The significance values are set in shuffled runs only.
struct ResultRow {
  LineFields f;
  double z_pos = 0, p_pos = 0, z_glob = 0, p_glob = 0;
  bool sentinel() const { return f.score < -1.0f; }
};

void write_raw_line(FILE* out, const LineFields& f);
// The four significance fields follow the score: " %9.4f" Z-scores and " %e"
// P-values, or for a sentinel score "[]" in place of each Z and 2.0 as each P.
void write_extended_line(FILE* out, const ResultRow& row);

}  // namespace vorn
