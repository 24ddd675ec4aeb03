// The export files of -O=prefix: a table for spreadsheets and pandas, the
// score profile as SVG, and scripts that put the scores on a structure in
// PyMOL and ChimeraX. Standard output is not touched by any of them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "report/result_line.hpp"

namespace vorn {

struct ExportInfo {
  std::string aln_name;  // shown in titles and comments
  bool spearman = true;
  int64_t nsuffl = 0;
  int32_t alnlen = 0;
};

// Where a column's residue of protein 1 sits in a structure.
struct Site {
  bool has = false;  // false: protein 1 has a gap (or a chain break) here
  int32_t num = 0;
  char chain = ' ';  // ' ': no chain, the number alone addresses the residue
};

// HSSP files number their residues themselves (PDB number and chain); other
// forms count protein 1's own residues, its gaps skipped. Index 1..alnlen.
std::vector<Site> residue_sites(bool hssp, const uint8_t* res1, const int32_t* pdbnum, const char* chain,
                                int32_t alnlen);

// rows[0..n): the result lines in the order they were printed. extended: a
// shuffled run, whose table has the significance columns even without rows.
void write_tsv(FILE* out, const ResultRow* rows, int32_t n, bool extended);
void write_svg(FILE* out, const ResultRow* rows, int32_t n, const ExportInfo& info);
void write_pml(FILE* out, const ResultRow* rows, int32_t n, const std::vector<Site>& sites, const ExportInfo& info);
void write_defattr(FILE* out, const ResultRow* rows, int32_t n, const std::vector<Site>& sites,
                   const ExportInfo& info);

// The export files are written to "<prefix>.<ext>.part" and renamed when
// complete, so a failed or interrupted run never leaves a file that looks
// finished. The parts are created at once, so that an unwritable prefix stops
// the run before any work; those not committed are removed on destruction.
class ExportFiles {
 public:
  explicit ExportFiles(const std::string& prefix);
  ExportFiles(const ExportFiles&) = delete;
  ExportFiles& operator=(const ExportFiles&) = delete;
  ~ExportFiles();
  // Writes every file through its writer and renames it; throws Failure.
  void write(const ResultRow* rows, int32_t n, const std::vector<Site>& sites, const ExportInfo& info);

 private:
  struct Part {
    std::string path;
    FILE* f = nullptr;
  };
  std::vector<Part> parts_;
};

}  // namespace vorn
