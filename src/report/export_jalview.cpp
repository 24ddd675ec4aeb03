// prefix.jalview: the scores as annotation rows that Jalview lays onto the
// alignment file itself (File > Load Features / Annotations): the score and
// the grade as bar graphs in the page's colours and, with -S or -B, the
// q-values as -log10 q with a line at q = 0.05. Jalview's grammar: one row
// per line, tab-separated; its values separated by '|', one per column of
// the file, each "number,tooltip,[rrggbb]" and empty where nothing is known.
#include <cmath>

#include "fail.hpp"
#include "report/exports.hpp"
#include "report/palette.hpp"

namespace vorn {

namespace {

// Tooltips and labels: no character that Jalview reads as a separator.
std::string jalview_text(const std::string& s) {
  std::string r = printable(s);
  for (char& c : r)
    if (c == '|' || c == ',' || c == '\t' || c == '[' || c == ']') c = ' ';
  return r;
}

std::string colour(const char* hex) { return strformat("[%s]", hex + 1); }

// One annotation row: value(i) gives the field of result line i, or "".
template <class Field>
void row(FILE* out, const Results& r, const char* label, const std::string& description, Field field) {
  std::vector<std::string> at(static_cast<size_t>(r.file_columns) + 1);
  for (size_t i = 0; i < r.rows.size(); ++i) {
    const int32_t pos = r.rows[i].f.pos;
    if (pos >= 1 && static_cast<size_t>(pos) < r.file_column.size() && r.file_column[pos] > 0)
      at[static_cast<size_t>(r.file_column[pos])] = field(i);
  }
  std::fprintf(out, "BAR_GRAPH\t%s\t%s\t", label, jalview_text(description).c_str());
  for (int32_t k = 1; k <= r.file_columns; ++k) std::fprintf(out, "%s|", at[static_cast<size_t>(k)].c_str());
  std::fputs("\n", out);
}

const char* grade_colour(const Results& r, size_t i) {
  const ColumnClass cls = column_class(r.rows[i]);
  if (cls == ColumnClass::Conserved) return r.record.classic_colours ? kClassicConserved : kGradePalette.conserved;
  if (cls == ColumnClass::Unscored || r.grade[i] < 1) return kGradePalette.none;
  return kGradePalette.grade[static_cast<size_t>(r.grade[i] - 1)];
}

void q_row(FILE* out, const Results& r, const char* label, const char* what, bool tree) {
  row(out, r, label, strformat("-log10 of the %s q-value; the line marks q = 0.05", what), [&](size_t i) -> std::string {
    const double q = tree ? (r.tree[i].has ? r.tree[i].q : NAN) : r.honest[i].q;
    if (!std::isfinite(q) || q <= 0) return "";
    return strformat("%.4f,q %.3g,%s", -std::log10(q), q, colour(grade_colour(r, i)).c_str());
  });
  std::fprintf(out, "GRAPHLINE\t%s\t%.4f\tq 0.05\tblack\n", label, -std::log10(0.05));
}

}  // namespace

void write_jalview(FILE* out, const Results& r) {
  const RunRecord& info = r.record;
  std::fprintf(out, "JALVIEW_ANNOTATION\n# vorn scores (%s) of %s.\n# %s\n", score_name(info).c_str(),
               printable(info.aln_name).c_str(), printable(run_line(info)).c_str());
  std::fputs("# In Jalview, with the same alignment file open: File > Load Features / Annotations, this file.\n", out);
  if (info.form == "a3m")
    std::fputs("# A3M: one value per match state (upper-case letters and '-'), as the alignment without its inserts.\n",
               out);
  row(out, r, "vorn score", score_name(info) + " per column; conserved columns 0 in their colour", [&](size_t i) {
    const ResultRow& row = r.rows[i];
    const ColumnClass cls = column_class(row);
    if (cls == ColumnClass::Unscored) return std::string();
    const std::string tip = cls == ColumnClass::Conserved ? std::string("conserved")
                                                         : strformat("score %.4f grade %d", static_cast<double>(row.f.score), r.grade[i]);
    return strformat("%.4f,%s,%s", cls == ColumnClass::Conserved ? 0.0 : static_cast<double>(row.f.score), tip.c_str(),
                     colour(grade_colour(r, i)).c_str());
  });
  row(out, r, "vorn grade", "grade 1 to 9 (9: follows the similarity most); insufficient data marked *", [&](size_t i) {
    if (r.grade[i] < 1) return std::string();
    return strformat("%d,grade %d%s,%s", r.grade[i], r.grade[i], r.insufficient[i] ? " insufficient data *" : "",
                     colour(grade_colour(r, i)).c_str());
  });
  if (!r.honest.empty()) q_row(out, r, "vorn q", "random-alignment", false);
  if (!r.tree.empty()) q_row(out, r, "vorn tree q", "tree-null", true);
}

}  // namespace vorn
