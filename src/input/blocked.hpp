// Alignments written in interleaved blocks: Stockholm and Clustal. Each
// block holds one line per sequence ("name  residues"); the rows are the
// names in order of first appearance.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "input/lineinput.hpp"

namespace vorn {

struct AlignmentArrays;
struct ResidueTally;

enum class BlockedForm { Stockholm, Clustal };

struct BlockedRows {
  std::vector<std::string> names;
  std::unordered_map<std::string, int64_t> index;  // name -> row (0-based)
  std::vector<int64_t> length;                      // positions per row
  // Stockholm's "#=GC RF" marks the match columns (any character but '.',
  // '-', '_' and '~'); the others are insert columns, left out as A3M inserts
  // are. column_of[k] is the position of the file's column k (from 1), 0 for
  // an insert column; empty without RF (every column is a position).
  std::vector<int64_t> column_of;
  int64_t left_out = 0;
  bool unclosed = false;  // Stockholm whose family no "//" line ends: perhaps cut short
  int64_t position(int64_t k) const { return column_of.empty() ? k : column_of[static_cast<size_t>(k)]; }
};

// Reads the whole text, checks every block, the row lengths and (Stockholm)
// that it holds one family, and gives the dimensions; tally sees every
// residue character. Throws Failure naming the file and line on bad input.
void blocked_dimensions(const InputText& text, BlockedForm form, BlockedRows& rows, int64_t& nprot, int64_t& alnlen,
                        ResidueTally& tally);
// Calls visit(row, position, character) for every character of every residue
// field, rows and positions from 1.
void blocked_cells(const InputText& text, BlockedForm form, const BlockedRows& rows,
                   const std::function<void(int64_t, int64_t, unsigned char)>& visit);
// Reads the text again into aln.
void blocked_residues(const InputText& text, BlockedForm form, const BlockedRows& rows, const AlignmentArrays& out);

}  // namespace vorn
