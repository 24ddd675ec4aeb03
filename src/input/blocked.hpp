// Alignments written in interleaved blocks: Stockholm and Clustal. Each
// block holds one line per sequence ("name  residues"); the rows are the
// names in order of first appearance.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "input/lineinput.hpp"

namespace vorn {

struct AlignmentArrays;

enum class BlockedForm { Stockholm, Clustal };

struct BlockedRows {
  std::vector<std::string> names;
  std::unordered_map<std::string, int64_t> index;  // name -> row (0-based)
  std::vector<int64_t> length;                      // positions per row; reused as a counter when reading residues
};

// Reads the whole file, checks every block and the row lengths, and gives
// the dimensions. Throws Failure naming the file and line on bad input.
void blocked_dimensions(InputFile& file, BlockedForm form, BlockedRows& rows, int64_t& nprot, int64_t& alnlen);
// Reads the file again into aln.
void blocked_residues(InputFile& file, BlockedForm form, BlockedRows& rows, const AlignmentArrays& out);

}  // namespace vorn
