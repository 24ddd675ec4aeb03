#include <cmath>

#include "fail.hpp"
#include "input/residue.hpp"
#include "report/exports.hpp"

namespace vorn {

namespace {

// Not-a-number prints as "nan" or "-nan" depending on its sign bit; every
// reader takes "nan", and the sign means nothing.
std::string number(const char* fmt, double v) { return std::isnan(v) ? std::string("nan") : strformat(fmt, v); }

std::string field(const char* fmt, const std::optional<double>& v) { return v ? number(fmt, *v) : std::string(); }

}  // namespace

char residue_letter(const RunRecord& record, const Site& site, const LineFields& f) {
  if (record.reference_row == 1) return f.aa;
  return site.has ? aa_indexback(aa_index(static_cast<unsigned char>(site.aa))) : '.';
}

// The result line's fields, then the residue number of the one numbering
// and, for shuffled runs, the honest P- and q-values.
TableRow table_row(const Results& r, size_t i) {
  const ResultRow& row = r.rows[i];
  const LineFields& f = row.f;
  TableRow t{f.pos, f.pdbnum, f.acc, f.var, f.aa, f.sec_str, "", f.entrop, f.score, {}, {}, 0, 0, {}, {}, {}};
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
  if (!r.tree.empty() && r.tree[i].has) {
    const TreeNullValue& v = r.tree[i];
    t.z_tree = v.z, t.p_tree = v.p, t.q_tree = v.q, t.m_tree = v.m;
  }
  return t;
}

std::vector<const char*> table_columns(const RunRecord& record) {
  std::vector<const char*> c = {"nr", "aa", "pdbn", "chain", "acc", "entrop", "secstr", "var", "xx", "KLB_VAL"};
  if (record.nsuffl > 0) c.insert(c.end(), {"Zscr_pos", "Pval_pos", "Zscr_glob", "Pval_glob"});
  c.push_back("resnum");
  if (record.nsuffl > 0) c.insert(c.end(), {"Pval_pos_p1", "qval_pos"});
  if (record.ntree > 0) c.insert(c.end(), {"Zscr_tree", "Pval_tree", "qval_tree", "m"});
  return c;
}

std::vector<std::string> table_fields(const Results& r, size_t i) {
  const TableRow t = table_row(r, i);
  std::vector<std::string> v = {std::to_string(t.nr), std::string(1, t.aa), std::to_string(t.pdbn), t.chain,
                                std::to_string(t.acc), strformat("%.3f", t.entrop), std::string(1, t.secstr),
                                std::to_string(t.var), "xx", strformat("%.4f", t.score)};
  if (r.record.nsuffl > 0)
    v.insert(v.end(), {field("%.4f", t.z_pos), number("%e", t.p_pos), field("%.4f", t.z_glob), number("%e", t.p_glob)});
  v.push_back(t.resnum ? std::to_string(*t.resnum) : "");
  if (r.record.nsuffl > 0) v.insert(v.end(), {field("%e", t.p1), field("%e", t.q)});
  if (r.record.ntree > 0)
    v.insert(v.end(), {field("%.4f", t.z_tree), field("%e", t.p_tree), field("%e", t.q_tree),
                       t.m_tree ? std::to_string(*t.m_tree) : ""});
  return v;
}

void write_tsv(FILE* out, const Results& r) {
  const std::vector<const char*> columns = table_columns(r.record);
  for (size_t k = 0; k < columns.size(); ++k) std::fprintf(out, "%s%s", k ? "\t" : "", columns[k]);
  std::fputc('\n', out);
  for (size_t i = 0; i < r.rows.size(); ++i) {
    const std::vector<std::string> v = table_fields(r, i);
    for (size_t k = 0; k < v.size(); ++k) std::fprintf(out, "%s%s", k ? "\t" : "", v[k].c_str());
    std::fputc('\n', out);
  }
}

}  // namespace vorn
