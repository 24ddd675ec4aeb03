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

// A result line as the export files (-O) need it: the values, not the text;
// the significance values are set in shuffled runs only.
struct ResultRow {
  LineFields f;
  double z_pos = 0, p_pos = 0, z_glob = 0, p_glob = 0;
  bool sentinel() const { return f.score < -1.0f; }
};

void write_raw_line(FILE* out, const LineFields& f);
// z_pos, p_pos, z_glob, p_glob each begin with their own blank.
void write_extended_line(FILE* out, const LineFields& f, const char* z_pos, const char* p_pos, const char* z_glob,
                         const char* p_glob);

}  // namespace vorn
