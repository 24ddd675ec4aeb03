#include "input/simfile.hpp"

#include <algorithm>
#include <cstdlib>

namespace vorn {

namespace {

void mark_missing(int32_t nprot, float* const* identities) {
  for (int32_t i = 1; i <= nprot; ++i)
    for (int32_t j = i + 1; j <= nprot; ++j) identities[i][j] = kMissing;
}

}  // namespace

int read_sim_mat(const std::string& path, int32_t nprot, float* const* identities, FILE* out,
                 const GivenInputs* given) {
  InputText text;
  if (!load_input(path, text, given)) {
    mark_missing(nprot, identities);
    std::fprintf(out, "** Can't r-open '%s'.\n", path.c_str());
    return 1;
  }
  return read_sim_mat(text, nprot, identities, out);
}

int read_sim_mat(const InputText& text, int32_t nprot, float* const* identities, FILE* out) {
  mark_missing(nprot, identities);
  const char* path = text.name.c_str();
  LineReader in(text);
  while (in.leelinea() == 0) {
    std::string_view line = in.text();
    size_t tab1 = line.find('\t');
    if (tab1 == std::string_view::npos) {
      std::fprintf(out, "** No <TAB> in '%s'.\n", path);
      return 2;
    }
    std::string_view rest = line.substr(tab1 + 1);
    size_t tab2 = rest.find('\t');
    if (tab2 == std::string_view::npos) {
      std::fprintf(out, "** No <TAB> (ii) in '%s'.\n", path);
      return 3;
    }
    // atof: strtod reads up to the first character that cannot continue a number.
    std::string value_text(rest.substr(tab2 + 1));
    const double value = std::strtod(value_text.c_str(), nullptr);
    const int32_t first = int_field(line, 0).clamped(), second = int_field(rest, 0).clamped();
    if (first < 1 || first > nprot || second < 1 || second > nprot) {
      std::fprintf(out, "** Pair %d %d out of range [1-%d].\n", first, second, nprot);
      return 4;
    }
    // Infinities and NaN would turn every score into NaN.
    if (!fits_float(value)) {
      std::fprintf(out, "** Value of pair %d %d at line %lld of '%s' is not a finite single-precision number.\n",
                   first, second, static_cast<long long>(in.line_number()), path);
      return 6;
    }
    // Either order names the pair; a protein with itself is read and not kept.
    if (first != second) identities[std::min(first, second)][std::max(first, second)] = static_cast<float>(value);
  }
  int64_t missing = 0;
  for (int32_t i = 1; i <= nprot; ++i)
    for (int32_t j = i + 1; j <= nprot; ++j)
      if (identities[i][j] == kMissing) {
        std::fprintf(out, "(%d,%d) ", i, j);
        ++missing;
      }
  if (missing > 0) {
    std::fprintf(out, "\n** The above %lld pairs of proteins are missing in '%s'.\n", static_cast<long long>(missing),
                 path);
    return 5;
  }
  return 0;
}

}  // namespace vorn
