// The export files of -O=prefix: a table for spreadsheets and pandas, the
// score profile as SVG, scripts that put the scores on a structure in PyMOL
// and ChimeraX, and a record of the run. Standard output is not touched by
// any of them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "report/result_line.hpp"
#include "shuffle/significance.hpp"

namespace vorn {

struct ExportInfo {
  std::string aln_name;  // shown in titles and comments
  bool spearman = true;
  int64_t nsuffl = 0;
  int32_t alnlen = 0;
  // The run record: enough to repeat the run.
  std::string version;
  std::vector<std::string> command;  // the command line, word by word
  bool has_seed = false;
  int32_t seed = 0;
  std::string seed_from;  // "-R" or "the clock"
  std::string reference;  // the sequence the residues are numbered by, and how
  std::string weights;    // "" without -W; else its kind
};

// Where a column's residue of protein 1 sits in a structure: one numbering
// for every export.
struct Site {
  bool has = false;  // false: protein 1 has a gap (or a chain break) here
  int32_t num = 0;
  char chain = ' ';  // ' ': no chain, the number alone addresses the residue
};

// HSSP files number their residues themselves (PDB number and chain; res1
// marks protein 1's residues). Other forms number the reference sequence's
// own residues (ordinal: 1 for its first residue, 0 at a gap) from first, the
// start of a "/start-end" name suffix, else 1. Index 1..alnlen.
std::vector<Site> hssp_sites(const uint8_t* res1, const int32_t* pdbnum, const char* chain, int32_t alnlen);
std::vector<Site> reference_sites(const std::vector<int64_t>& ordinal, int32_t first);

// What a column shows in the plot and the structure scripts.
enum class ColumnClass { Scored, Conserved, Unscored };
// A sentinel of -2 has no spread: in practice an invariant column.
inline ColumnClass column_class(const ResultRow& r) {
  return !r.sentinel() ? ColumnClass::Scored : r.f.score == -2.0f ? ColumnClass::Conserved : ColumnClass::Unscored;
}

// The honest P and q of every result line (honest_p_and_q), NaN for sentinel lines.
std::vector<Honest> honest_significance(const ResultRow* rows, int32_t n, int64_t nsuffl);

// rows[0..n): the result lines in the order they were printed.
void write_tsv(FILE* out, const ResultRow* rows, int32_t n, const std::vector<Site>& sites, const ExportInfo& info);
void write_svg(FILE* out, const ResultRow* rows, int32_t n, const std::vector<Site>& sites, const ExportInfo& info);
void write_pml(FILE* out, const ResultRow* rows, int32_t n, const std::vector<Site>& sites, const ExportInfo& info);
void write_defattr(FILE* out, const ResultRow* rows, int32_t n, const std::vector<Site>& sites,
                   const ExportInfo& info);
void write_record(FILE* out, const ExportInfo& info);

// Text helpers shared by the writers.
std::string printable(const std::string& s);  // bytes outside printable ASCII as '?'
std::string xml_text(const std::string& s);
std::string score_name(const ExportInfo& info);
std::string run_line(const ExportInfo& info);  // "vorn 3.4, seed 79 (-R): vorn fn3.fa ..."
// A column's residue as the exports name it: "A:K70", "R11", or "column 7"
// where protein 1 has no residue.
std::string site_label(const Site& s, char aa, int32_t pos);

// The files are written under unique temporary names in the prefix's folder
// and renamed into place together, under a lock on the folder, only when
// every one is complete: the set a run leaves is whole, from one run that
// succeeded, or absent. The temporary files are created at once, so that an
// unwritable prefix stops the run before any work, and removed when the run
// fails or is interrupted by a signal.
class ExportFiles {
 public:
  explicit ExportFiles(const std::string& prefix);
  ExportFiles(const ExportFiles&) = delete;
  ExportFiles& operator=(const ExportFiles&) = delete;
  ~ExportFiles();
  // Writes every file through its writer and commits the set; throws Failure.
  void write(const ResultRow* rows, int32_t n, const std::vector<Site>& sites, const ExportInfo& info);

 private:
  struct Part {
    std::string final_path, temp_path;
    FILE* f = nullptr;
    int slot = -1;  // its entry for the signal handler
  };
  std::string prefix_;
  std::vector<Part> parts_;
  void commit();
};

}  // namespace vorn
