#include <cmath>

#include "fail.hpp"
#include "report/exports.hpp"

namespace vorn {

namespace {

// Not-a-number prints as "nan" or "-nan" depending on its sign bit; every
// reader takes "nan", and the sign means nothing.
std::string number(const char* fmt, double v) { return std::isnan(v) ? std::string("nan") : strformat(fmt, v); }

}  // namespace

// The result line's fields in its own conversions, then the residue number
// of the one numbering and, for shuffled runs, the honest P- and q-values.
void write_tsv(FILE* out, const ResultRow* rows, int32_t n, const std::vector<Site>& sites, const ExportInfo& info) {
  const bool extended = info.nsuffl > 0;
  std::fputs("nr\taa\tpdbn\tchain\tacc\tentrop\tsecstr\tvar\txx\tKLB_VAL", out);
  std::fputs(extended ? "\tZscr_pos\tPval_pos\tZscr_glob\tPval_glob\tresnum\tPval_pos_p1\tqval_pos\n" : "\tresnum\n",
             out);
  const std::vector<Honest> honest = extended ? honest_significance(rows, n, info.nsuffl) : std::vector<Honest>();
  for (int32_t i = 0; i < n; ++i) {
    const ResultRow& r = rows[i];
    const LineFields& f = r.f;
    // A blank chain is an empty field, not a blank that whitespace splitting
    // would lose; a quote would open a quoted field for CSV readers.
    const bool named = f.chain > ' ' && f.chain < 127 && f.chain != '"';
    std::fprintf(out, "%d\t%c\t%d\t%s\t%d\t%.3f\t%c\t%d\txx\t%.4f", f.pos, f.aa, f.pdbnum,
                 named ? std::string(1, f.chain).c_str() : "", f.acc, static_cast<double>(f.entrop), f.sec_str, f.var,
                 static_cast<double>(f.score));
    if (extended) {
      // A sentinel score has no Z-score: the line's "[]" becomes an empty
      // field; its P fields keep the line's 2.
      const std::string zp = r.sentinel() ? "" : number("%.4f", r.z_pos);
      const std::string zg = r.sentinel() ? "" : number("%.4f", r.z_glob);
      std::fprintf(out, "\t%s\t%e\t%s\t%e", zp.c_str(), r.p_pos, zg.c_str(), r.p_glob);
    }
    const Site& s = sites[static_cast<size_t>(f.pos)];
    std::fprintf(out, "\t%s", s.has ? strformat("%d", s.num).c_str() : "");
    if (extended) {
      const Honest& h = honest[static_cast<size_t>(i)];
      std::fprintf(out, "\t%s\t%s", r.sentinel() ? "" : strformat("%e", h.p1).c_str(),
                   r.sentinel() ? "" : strformat("%e", h.q).c_str());
    }
    std::fputc('\n', out);
  }
}

}  // namespace vorn
