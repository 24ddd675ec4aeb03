#include <cmath>
#include <cstring>

#include "fail.hpp"
#include "input/residue.hpp"
#include "report/exports.hpp"

namespace vorn {

char residue_letter(const RunRecord& record, const Site& site, const LineFields& f) {
  if (record.reference_row == 1) return f.aa;
  return site.has ? aa_indexback(aa_index(static_cast<unsigned char>(site.aa))) : '.';
}

// The result line's fields, then the residue number of the one numbering
// and, for shuffled runs, the honest P- and q-values.
TableRow table_row(const Results& r, size_t i) {
  const ResultRow& row = r.rows[i];
  const LineFields& f = row.f;
  TableRow t{};
  t.nr = f.pos, t.pdbn = f.pdbnum, t.acc = f.acc, t.var = f.var, t.secstr = f.sec_str;
  t.entrop = f.entrop, t.score = f.score;
  // A blank chain is an empty field, not a blank that whitespace splitting
  // would lose; a quote would open a quoted field for CSV readers.
  if (f.chain > ' ' && f.chain < 127 && f.chain != '"') t.chain.assign(1, f.chain);
  if (r.record.nsuffl > 0) {
    // A sentinel score has no Z-score (the line's "[]"); its P fields keep the line's 2.
    t.p_pos = row.p_pos, t.p_glob = row.p_glob;
    if (!row.sentinel()) t.z_pos = row.z_pos, t.z_glob = row.z_glob, t.p1 = r.honest[i].p1, t.q = r.honest[i].q;
  }
  const Site& s = r.sites[static_cast<size_t>(f.pos)];
  if (s.has) t.resnum = s.num;
  t.aa = residue_letter(r.record, s, f);
  if (i < r.grade.size() && r.grade[i] > 0) t.grade = r.grade[i];
  if (i < r.insufficient.size()) t.insufficient = r.insufficient[i];
  if (i < r.residues.size()) t.residues = r.residues[i];
  if (!r.tree.empty() && r.tree[i].has) {
    const TreeNullValue& v = r.tree[i];
    t.z_tree = v.z, t.p_tree = v.p, t.q_tree = v.q, t.m_tree = v.m;
  }
  return t;
}

namespace {

bool always(const RunRecord&) { return true; }
bool shuffled(const RunRecord& r) { return r.nsuffl > 0; }
bool tree(const RunRecord& r) { return r.ntree > 0; }

Field number(double v) { return Field{false, v, {}}; }
Field text(std::string t) { return Field{false, 0, std::move(t)}; }
template <class T>
Field optional(const std::optional<T>& v) {
  return v ? number(static_cast<double>(*v)) : Field{};
}

using F = ColumnFormat;
const TableColumn kSchema[] = {
    {"nr", F::Int, false, always, [](const TableRow& t) { return number(t.nr); }},
    {"aa", F::Text, false, always, [](const TableRow& t) { return text(std::string(1, t.aa)); }},
    {"pdbn", F::Int, false, always, [](const TableRow& t) { return number(t.pdbn); }},
    {"chain", F::Text, false, always, [](const TableRow& t) { return text(t.chain); }},
    {"acc", F::Int, false, always, [](const TableRow& t) { return number(t.acc); }},
    {"entrop", F::Fixed3, false, always, [](const TableRow& t) { return number(t.entrop); }},
    {"secstr", F::Text, false, always, [](const TableRow& t) { return text(std::string(1, t.secstr)); }},
    {"var", F::Int, false, always, [](const TableRow& t) { return number(t.var); }},
    {"xx", F::Text, false, always, [](const TableRow&) { return text("xx"); }},
    {"KLB_VAL", F::Fixed4, false, always, [](const TableRow& t) { return number(t.score); }},
    {"Zscr_pos", F::Fixed4, true, shuffled, [](const TableRow& t) { return optional(t.z_pos); }},
    {"Pval_pos", F::Exp, false, shuffled, [](const TableRow& t) { return number(t.p_pos); }},
    {"Zscr_glob", F::Fixed4, true, shuffled, [](const TableRow& t) { return optional(t.z_glob); }},
    {"Pval_glob", F::Exp, false, shuffled, [](const TableRow& t) { return number(t.p_glob); }},
    {"resnum", F::Int, true, always, [](const TableRow& t) { return optional(t.resnum); }},
    {"Pval_pos_p1", F::Exp, true, shuffled, [](const TableRow& t) { return optional(t.p1); }},
    {"qval_pos", F::Exp, true, shuffled, [](const TableRow& t) { return optional(t.q); }},
    {"Zscr_tree", F::Fixed4, true, tree, [](const TableRow& t) { return optional(t.z_tree); }},
    {"Pval_tree", F::Exp, true, tree, [](const TableRow& t) { return optional(t.p_tree); }},
    {"qval_tree", F::Exp, true, tree, [](const TableRow& t) { return optional(t.q_tree); }},
    {"m", F::Int, true, tree, [](const TableRow& t) { return optional(t.m_tree); }},
    {"grade", F::Int, true, always, [](const TableRow& t) { return optional(t.grade); }},
    {"insufficient", F::Int, false, always, [](const TableRow& t) { return number(t.insufficient); }},
    {"residues", F::Text, false, always, [](const TableRow& t) { return text(t.residues); }},
};

}  // namespace

std::vector<const TableColumn*> table_columns(const RunRecord& record) {
  std::vector<const TableColumn*> c;
  for (const TableColumn& col : kSchema)
    if (col.present(record)) c.push_back(&col);
  return c;
}

size_t table_column(const std::vector<const TableColumn*>& columns, const char* name) {
  for (size_t k = 0; k < columns.size(); ++k)
    if (std::strcmp(columns[k]->name, name) == 0) return k;
  fail("** Internal error: the table of this run has no column '%s'.\n", name);
}

// Not-a-number prints as "nan" or "-nan" depending on its sign bit; every
// reader takes "nan", and the sign means nothing.
std::string field_text(const TableColumn& c, const Field& f) {
  if (f.empty) return "";
  if (c.format == ColumnFormat::Text) return f.text;
  if (std::isnan(f.number)) return "nan";
  switch (c.format) {
    case ColumnFormat::Int: return strformat("%lld", static_cast<long long>(f.number));
    case ColumnFormat::Fixed3: return strformat("%.3f", f.number);
    case ColumnFormat::Fixed4: return strformat("%.4f", f.number);
    default: return strformat("%e", f.number);
  }
}

std::vector<std::string> table_fields(const Results& r, size_t i) {
  const TableRow t = table_row(r, i);
  std::vector<std::string> v;
  for (const TableColumn* c : table_columns(r.record)) v.push_back(field_text(*c, c->value(t)));
  return v;
}

void write_tsv(FILE* out, const Results& r) {
  const std::vector<const TableColumn*> columns = table_columns(r.record);
  for (size_t k = 0; k < columns.size(); ++k) std::fprintf(out, "%s%s", k ? "\t" : "", columns[k]->name);
  std::fputc('\n', out);
  for (size_t i = 0; i < r.rows.size(); ++i) {
    const std::vector<std::string> v = table_fields(r, i);
    for (size_t k = 0; k < v.size(); ++k) std::fprintf(out, "%s%s", k ? "\t" : "", v[k].c_str());
    std::fputc('\n', out);
  }
}

}  // namespace vorn
