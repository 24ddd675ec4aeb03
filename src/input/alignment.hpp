// The alignment file: HSSP, '>'-headed (PIR/FASTA-like), A3M, Stockholm or
// Clustal. Read in two phases from one copy in memory: the dimensions first
// (with every check that can be made on the text), the residues after the
// working arrays have been allocated from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/blocked.hpp"
#include "input/lineinput.hpp"
#include "log.hpp"

namespace vorn {

enum class AlnForm { Unknown, Hssp, Pir, A3m, Stockholm, Clustal };
// The form's name in the summary line; "-----" when unrecognised.
const char* form_name(AlnForm form);

// Letters seen in the sequences, for telling a nucleotide alignment.
struct ResidueTally {
  int64_t letters = 0, nucleotides = 0;
  int64_t rare = 0;  // U (selenocysteine) and O (pyrrolysine): read as gaps
  void see(unsigned char c);
};

struct AlignmentSource {
  InputText text;
  AlnForm form = AlnForm::Unknown;
  int64_t nprot = 0;
  int64_t alnlen = 0;
  BlockedRows blocked;  // the row names of Stockholm and Clustal files
  ResidueTally tally;
  std::vector<std::string> names;  // every sequence's name ('>' and A3M files; the block forms keep theirs in blocked)
};

// The row (1-based) of the sequence called name, for the forms that name
// their rows; throws Failure when no row, or more than one, has the name.
int64_t sequence_by_name(const AlignmentSource& src, const std::string& name);
const std::string& sequence_name(const AlignmentSource& src, int64_t row);

// Where the residues of one row fall: for every column (1..alnlen) the
// ordinal of the row's residue there among all its residues, insert states
// of A3M rows included (they are residues of the sequence, only not
// columns), or 0 where the row has a gap. Not for HSSP files, which number
// their residues themselves.
std::vector<int64_t> residue_ordinals(const AlignmentSource& src, int64_t row, std::string* letters = nullptr);

// The number of U and O residues in each column (1..alnlen), for the forms
// that name their rows.
std::vector<int32_t> rare_residue_counts(const AlignmentSource& src);

// The number of the first residue of a sequence named "NAME/start-end" (as
// Pfam and HMMER name them), or 1.
int32_t first_residue_number(const std::string& name);

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

// Dimensions phase: reads path, detects the form, sets nprot and alnlen and
// writes the summary line and any warning.
void alignment_dimensions(const std::string& path, AlignmentSource& src, Log& log,
                          const GivenInputs* given = nullptr);
// The same on a text already loaded (fuzzing and tests).
void alignment_dimensions(AlignmentSource& src, Log& log);

// Residue phase: fills the arrays (annotation defaults already set by the
// caller, who keeps them for the forms without structure).
void alignment_residues(const AlignmentSource& src, const AlignmentArrays& out);

}  // namespace vorn
