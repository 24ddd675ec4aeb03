#include <cmath>

#include "fail.hpp"
#include "report/exports.hpp"

namespace vorn {

namespace {

// Not-a-number prints as "nan" or "-nan" depending on its sign bit; every
// reader takes "nan", and the sign means nothing.
std::string number(const char* fmt, double v) { return std::isnan(v) ? std::string("nan") : strformat(fmt, v); }

std::string field(const char* fmt, const std::optional<double>& v) { return v ? number(fmt, *v) : std::string(); }

}  // namespace

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

void write_tsv(FILE* out, const Results& r) {
  const bool extended = r.record.nsuffl > 0;
  const std::vector<const char*> columns = table_columns(r.record);
  for (size_t k = 0; k < columns.size(); ++k) std::fprintf(out, "%s%s", k ? "\t" : "", columns[k]);
  std::fputc('\n', out);
  for (size_t i = 0; i < r.rows.size(); ++i) {
    const TableRow t = table_row(r, i);
    std::fprintf(out, "%d\t%c\t%d\t%s\t%d\t%.3f\t%c\t%d\txx\t%.4f", t.nr, t.aa, t.pdbn, t.chain.c_str(), t.acc,
                 t.entrop, t.secstr, t.var, t.score);
    if (extended) {
      std::fprintf(out, "\t%s\t%e\t%s\t%e", field("%.4f", t.z_pos).c_str(), t.p_pos, field("%.4f", t.z_glob).c_str(),
                   t.p_glob);
    }
    std::fprintf(out, "\t%s", t.resnum ? strformat("%d", *t.resnum).c_str() : "");
    if (extended) std::fprintf(out, "\t%s\t%s", field("%e", t.p1).c_str(), field("%e", t.q).c_str());
    if (r.record.ntree > 0) {
      std::fprintf(out, "\t%s\t%s\t%s\t%s", field("%.4f", t.z_tree).c_str(), field("%e", t.p_tree).c_str(),
                   field("%e", t.q_tree).c_str(), t.m_tree ? strformat("%lld", static_cast<long long>(*t.m_tree)).c_str() : "");
    }
    std::fputc('\n', out);
  }
}

}  // namespace vorn
