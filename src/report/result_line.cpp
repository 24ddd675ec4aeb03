#include "report/result_line.hpp"

#include "input/residue.hpp"

namespace vorn {

LineFields LineSource::fields(int32_t pos, float score) const {
  return LineFields{pos, aa_indexback(res1[pos]), pdbnum[pos], chain[pos], acc[pos], entrop[pos], sec_str[pos],
                    var[pos], score};
}

void write_raw_line(FILE* out, const LineFields& f) {
  std::fprintf(out, "%4d %4c %4d %c   %3d  %6.3f   %c %3d  xx %9.4f \n", f.pos, f.aa, f.pdbnum, f.chain, f.acc,
               static_cast<double>(f.entrop), f.sec_str, f.var, static_cast<double>(f.score));
}

void write_extended_line(FILE* out, const ResultRow& row) {
  const LineFields& f = row.f;
  std::fprintf(out, "%4d %4c %4d %c   %3d  %6.3f   %c %3d  xx %9.4f", f.pos, f.aa, f.pdbnum, f.chain, f.acc,
               static_cast<double>(f.entrop), f.sec_str, f.var, static_cast<double>(f.score));
  if (row.sentinel()) {
    std::fprintf(out, "         []  %e         []  %e\n", 2.0, 2.0);
  } else {
    std::fprintf(out, "  %9.4f  %e  %9.4f  %e\n", row.z_pos, row.p_pos, row.z_glob, row.p_glob);
  }
}

}  // namespace vorn
