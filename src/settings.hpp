// What a run is asked to do: its inputs and choices as values, the same
// whichever face (the command line, the Python module) filled them in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "input/source.hpp"

namespace vorn {

inline constexpr const char* kVersion = "3.4";

// The correlation a column is scored by.
enum class Score { Spearman, Pearson };

// The largest counts a run takes (-S, -B): one more than a 32-bit count
// would not fit the permutation tables' indices.
inline constexpr int64_t kMaxCount = 2147483647;
inline constexpr int64_t kMaxThreads = 256;

struct RunSettings {
  std::string aln_path;
  std::string matrix_path;  // a path, or the name of a shipped matrix (blosum62)
  Score score = Score::Spearman;
  bool entropy = true;
  int64_t nsuffl = 0;  // random permutations of the proteins
  int64_t ntree = 0;   // library columns of the tree null
  std::string tree_model = "lg";  // the tree null's replacement model: lg, wag, jtt or equal
  std::optional<std::string> simfile;  // similarities from this file instead of the alignment
  // ... or given as numbers (the Python module): an array of this shape,
  // row-major, whose pairs i < j are read (the diagonal never).
  struct Similarities {
    std::vector<int64_t> shape;
    std::vector<double> values;
  };
  std::optional<Similarities> similarities;
  std::optional<int64_t> seed;         // the generator's seed; none: from the clock
  int64_t threads = 0;                 // worker threads; 0: all available cores
  std::string outprefix;   // also write prefix.tsv, .svg, .pml, .defattr, .jalview, .json and .html
  std::string structure;   // PDB or mmCIF, for the residue check and the page's 3D view
  bool weighted = false;   // sequence weights
  std::string weight_file; // ... from this file; empty: Henikoff weights
  std::string reference;   // the sequence whose numbering the exports use; empty: the first
  std::string colours = "grades";  // the exports' colours: by grade, or "classic" (those of earlier versions)
  bool keep_report = false;  // keep with the results what writing their export files later takes (write_report)
  // The words that started the run, when a command line did: the record
  // keeps them as typed. Otherwise the record gives command_line().
  std::vector<std::string> invocation;
  GivenInputs given;  // inputs handed over as bytes, by the paths above that name them
  // Where the shipped files (matrices, the viewer) are, unless VORN_SHARE says; empty: beside the program.
  std::vector<std::string> share_dirs;
};

// What a run prints to its output besides the result lines.
struct Listings {
  bool similarity = false;    // -1
  bool classes = false;       // -2
  bool permutations = false;  // -3
  bool alignment = false;     // -5
};

// The checks of the values a face may set, each with the command line's
// message; validate runs them all. They throw Failure.
void check_permutations(int64_t n, const std::string& as_given);
void check_seed(int64_t seed, const std::string& as_given);
void check_tree(int64_t n, const std::string& as_given);
void check_threads(int64_t n, const std::string& as_given);
void check_tree_model(const std::string& name);
void check_colours(const std::string& name);
void validate(const RunSettings& s);

// The command line that repeats the run: vorn, the two paths and the options
// that differ from the defaults (-T and -q change no result and are left out).
std::vector<std::string> command_line(const RunSettings& s);

}  // namespace vorn
