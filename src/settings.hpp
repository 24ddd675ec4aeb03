// The run settings: set once from the command line, only read afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/source.hpp"

namespace vorn {

inline constexpr const char* kVersion = "3.4";

// The correlation a column is scored by.
enum class Score { Spearman, Pearson };

struct RunSettings {
  std::string aln_path;
  std::string matrix_path;
  Score score = Score::Spearman;  // Pearson with -N
  int doentrop = 1;   // 0 with -E
  int64_t nsuffl = 0; // -S=n random alignments
  int64_t ntree = 0;  // -B=n library columns of the tree null
  std::string simfile = "-------";  // -M=file; six '-' in a row mean "none"
  int printsim = 0;   // -1
  int printclass = 0; // -2
  int printrnd = 0;   // -3
  int printaln = 0;   // -5
  bool fixed_seed = false;  // -R=n: seed the generator with n instead of `date`
  int32_t seed = 0;
  int threads = 0;    // -T=n worker threads; 0: all available cores
  std::string outprefix;  // -O=prefix: also write prefix.tsv, .svg, .pml, .defattr, .json and .html
  std::string structure;  // -P=file: PDB or mmCIF, for the residue check and the page's 3D view
  bool quiet = false;     // -q: no progress texts
  bool weighted = false;  // -W: sequence weights
  std::string weight_file;  // -W=file; empty: Henikoff weights
  std::string reference;    // -F=name: the sequence whose numbering the exports use; empty: the first
  // One line per argument the loop ignored or read only in part, for
  // standard error: the loop itself stays as lenient as it always was.
  std::vector<std::string> warnings;
  std::vector<std::string> command;  // the whole command line, for the run record
  GivenInputs given;  // inputs handed over as bytes (the Python module), by the paths above that name them
};

std::string usage_text();
// The full help of `vorn --help`: every option, the fixed ones and the newer.
std::string help_text();

// The options after the two paths (argv[3] on). Throws Failure for a
// negative or oversized -S value, at once, leaving later options unread.
void parse_options(const std::vector<std::string>& args, RunSettings& s);

}  // namespace vorn
