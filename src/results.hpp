// What a run returns: its result lines as values, where each column's residue
// sits, the honest significance of shuffled runs and the record of the run.
// The result lines on standard output, the export files and the Python
// frame are all formatted from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "input/numbering.hpp"
#include "report/result_line.hpp"
#include "shuffle/significance.hpp"

namespace vorn {

// What the tree null (-B) gives a result line with a score.
struct TreeNullValue {
  double z = 0, p = 0, q = 0;
  int64_t m = 0;  // the library columns it was compared with
  bool has = false;
};

struct RunRecord {
  std::string aln_name;  // shown in titles and comments
  std::string form;      // the alignment's form, as the summary line names it
  int64_t nprot = 0;
  int32_t alnlen = 0;
  bool spearman = true;
  int64_t nsuffl = 0;
  int64_t ntree = 0;  // -B
  // Enough to repeat the run.
  std::string version;
  std::vector<std::string> command;  // the command line, word by word
  bool has_seed = false;
  int32_t seed = 0;
  std::string seed_from;  // "-R" or "the clock"
  std::string reference;  // the sequence the residues are numbered by, and how
  int64_t reference_row = 1;  // its row; the exports give its residues, the result lines protein 1's
  std::string weights;    // "" without -W; else its kind
  std::vector<std::string> warnings;  // every "** Warning" of the run, as written
  bool classic_colours = false;       // -C=classic
  // -P: how many of the residues the exports address the structure has as
  // the same amino acid. Below half, the structure is not the family's (or
  // not numbered as it) and no export colours it.
  int32_t structure_addressed = -1, structure_same = 0;  // -1: no structure
  std::string structure_name;
  bool wrong_structure() const {
    return structure_addressed >= 0 && int64_t{structure_same} * 2 < int64_t{structure_addressed};
  }
  // -B: how the tree null fitted the family: its model, the tree's length in
  // expected substitutions, the gamma's shape, the median Zscr_tree.
  struct TreeFit {
    std::string model;
    double length = 0, alpha = 0, median_z = 0;
    int64_t library = 0;
    int32_t rounds = 0;
  } tree_fit;
};

struct ReportParts;

struct Results {
  RunRecord record;
  std::vector<ResultRow> rows;  // the result lines in the order they are printed
  std::vector<Site> sites;      // 1..alnlen
  std::vector<Honest> honest;   // per row, shuffled runs only: NaN for sentinel lines
  std::vector<TreeNullValue> tree;  // per row, with -B only
  std::vector<int> grade;            // per row: 1..9, 0 for a column without a score
  std::vector<char> insufficient;    // per row: the score rests on too few pairs or too many gaps
  std::vector<std::string> residues; // per row: the column's residues and their counts
  // Where each column (1..alnlen) sits among the file's own columns, for an
  // annotation laid onto the file (Stockholm's RF leaves insert columns out);
  // file_columns: how many the file has. For A3M, the match states.
  std::vector<int32_t> file_column;
  // With -O: the proteins the page's alignment view shows, in display order,
  // with their names and their residues at every column ('-' for a gap).
  struct PanelRow {
    int32_t protein;
    std::string name, residues;
  };
  std::vector<PanelRow> panel;
  int32_t file_columns = 0;
  std::vector<float> similarity;  // nprot x nprot, row-major, for protein_similarity only
  // With RunSettings::keep_report: what the page needs beyond the rows (the structure and its check).
  std::shared_ptr<const ReportParts> report;
};

}  // namespace vorn
