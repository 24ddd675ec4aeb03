// The export files of -O=prefix: a table for spreadsheets and pandas, the
// score profile as SVG, scripts that put the scores on a structure in PyMOL
// and ChimeraX, and a record of the run. Standard output is not touched by
// any of them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "results.hpp"

namespace vorn {

struct PageExtras;

// What a column shows in the plot and the structure scripts.
enum class ColumnClass { Scored, Conserved, Unscored };
// A sentinel of -2 has no spread: in practice an invariant column.
inline ColumnClass column_class(const ResultRow& r) {
  return !r.sentinel() ? ColumnClass::Scored : r.f.score == -2.0f ? ColumnClass::Conserved : ColumnClass::Unscored;
}

// A column's residue as the exports show it: protein 1's, as the result line
// gives it, or with another reference (-F) that sequence's own, in the same
// convention ('.' for a gap or a letter vorn reads as one).
char residue_letter(const RunRecord& record, const Site& site, const LineFields& f);


// One line of the table (prefix.tsv) as values: what the TSV prints and the
// Python frame holds. An empty optional is an empty field.
struct TableRow {
  int32_t nr, pdbn, acc, var;
  char aa, secstr;
  std::string chain;  // empty for a blank chain (or one no reader would keep)
  double entrop, score;
  std::optional<double> z_pos, z_glob;  // shuffled runs, but never for a sentinel score
  double p_pos = 0, p_glob = 0;         // shuffled runs
  std::optional<int32_t> resnum;        // empty where the reference has no residue
  std::optional<double> p1, q;          // shuffled runs, but never for a sentinel score
  std::optional<double> z_tree, p_tree, q_tree;  // -B, but never for a sentinel score
  std::optional<int64_t> m_tree;
  std::optional<int32_t> grade;  // empty for a column without a score
  int32_t insufficient = 0;
  std::string residues;
};
TableRow table_row(const Results& r, size_t i);

// The one schema of the table's columns: the TSV, the page's data and the
// Python frame are all made from it. A column's format says how the TSV
// prints it (and so what type a reader gives it); a field may be empty.
enum class ColumnFormat { Int, Text, Fixed3, Fixed4, Exp };
struct Field {
  bool empty = true;
  double number = 0;  // Int, Fixed and Exp columns
  std::string text;   // Text columns
};
struct TableColumn {
  const char* name;
  ColumnFormat format;
  bool may_be_empty;
  bool (*present)(const RunRecord&);
  Field (*value)(const TableRow&);
};
// The columns of a run, in order: ten, the four significance fields with -S,
// resnum, the honest P and q with -S, and the tree null's four with -B.
std::vector<const TableColumn*> table_columns(const RunRecord& record);
// The column called name among those of the run; throws Failure when it is none.
size_t table_column(const std::vector<const TableColumn*>& columns, const char* name);
// A field as the TSV prints it.
std::string field_text(const TableColumn& c, const Field& f);
// Row i of the table as the TSV prints its fields, one per column.
std::vector<std::string> table_fields(const Results& r, size_t i);

void write_tsv(FILE* out, const Results& r);
void write_svg(FILE* out, const Results& r);
void write_pml(FILE* out, const Results& r);
void write_defattr(FILE* out, const Results& r);
void write_jalview(FILE* out, const Results& r);
void write_record(FILE* out, const RunRecord& info);

// Text helpers shared by the writers.
std::string xml_text(const std::string& s);
// JSON text of a value, bytes that are not UTF-8 as U+FFFD; indent < 0: on one line.
std::string json_text(const nlohmann::ordered_json& j, int indent = -1);
std::string score_name(const RunRecord& info);
std::string run_line(const RunRecord& info);  // "vorn 3.4, seed 79 (-R): vorn fn3.fa ..."

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
  void write(const Results& r, const PageExtras& page);

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
