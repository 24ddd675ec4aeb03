// The alignment file: HSSP or '>'-headed (PIR/FASTA-like). Read in two
// phases on one open file: the dimensions first, the residues after the
// working arrays have been allocated from them.
#pragma once

#include <cstdint>
#include <string>

#include "input/blocked.hpp"
#include "input/lineinput.hpp"
#include "log.hpp"

namespace vorn {

struct AlignmentSource {
  InputFile file;
  std::string filetype = "-----";  // "hssp", "pir", "stockholm", "clustal", or "-----" when unrecognised
  int64_t nprot = 0;
  int64_t alnlen = 0;
  BlockedRows blocked;  // the row names of Stockholm and Clustal files
};

// Where the residue phase stores what it reads. Rows and vectors are 1-based.
struct AlignmentArrays {
  int32_t* const* aln = nullptr;  // aln[p][pos], p = 1..nprot, pos = 1..alnlen
  int32_t* var = nullptr;
  int32_t* acc = nullptr;
  char* sec_str = nullptr;
  int32_t* pdbnum = nullptr;
  char* chain = nullptr;
  uint8_t* res1 = nullptr;  // 1 where protein 1 has a residue letter (not a gap or an HSSP chain break)
};

// Dimensions phase: opens path, detects the form, sets nprot and alnlen and
// writes the summary line. The file stays open.
void alignment_dimensions(const std::string& path, AlignmentSource& src, Log& log);
// The same on a file already open (fuzzing and tests).
void alignment_dimensions(AlignmentSource& src, Log& log);

// Residue phase: fills the arrays (annotation defaults already set by the
// caller) and closes the file.
void alignment_residues(AlignmentSource& src, const AlignmentArrays& out);

}  // namespace vorn
