#include "report/result_line.hpp"

namespace vorn {

void write_raw_line(FILE* out, const LineFields& f) {
  std::fprintf(out, "%4d %4c %4d %c   %3d  %6.3f   %c %3d  xx %9.4f \n", f.pos, f.aa, f.pdbnum, f.chain, f.acc,
               static_cast<double>(f.entrop), f.sec_str, f.var, static_cast<double>(f.score));
}

void write_extended_line(FILE* out, const LineFields& f, const char* z_pos, const char* p_pos, const char* z_glob,
                         const char* p_glob) {
  std::fprintf(out, "%4d %4c %4d %c   %3d  %6.3f   %c %3d  xx %9.4f %s %s %s %s\n", f.pos, f.aa, f.pdbnum, f.chain,
               f.acc, static_cast<double>(f.entrop), f.sec_str, f.var, static_cast<double>(f.score), z_pos, p_pos,
               z_glob, p_glob);
}

}  // namespace vorn
