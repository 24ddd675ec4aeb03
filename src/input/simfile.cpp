#include "input/simfile.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace vorn {

namespace {

// atoi: white space, sign, digits; clamped to the int range instead of
// overflowing (such numbers are out of range anyway).
int32_t atoi_clamped(std::string_view text) {
  IntField f = int_field(text, 0);
  if (f.value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (f.value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(f.value);
}

void mark_missing(int32_t nprot, float* const* identities) {
  for (int32_t i = 1; i <= nprot; ++i)
    for (int32_t j = i; j <= nprot; ++j) identities[i][j] = identities[j][i] = kMissing;
}

}  // namespace

int read_sim_mat(const std::string& path, int32_t nprot, float* const* identities, FILE* out) {
  InputFile file;
  if (!file.open(path)) {
    mark_missing(nprot, identities);
    std::fprintf(out, "** Can't r-open '%s'.\n", path.c_str());
    return 1;
  }
  return read_sim_mat(file, nprot, identities, out);
}

int read_sim_mat(InputFile& file, int32_t nprot, float* const* identities, FILE* out) {
  mark_missing(nprot, identities);
  const char* path = file.name().c_str();
  LineReader in(file);
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
    const int32_t first = atoi_clamped(line), second = atoi_clamped(rest);
    if (first < 1 || first > nprot || second < 1 || second > nprot) {
      std::fprintf(out, "** Pair %d %d out of range [1-%d].\n", first, second, nprot);
      return 4;
    }
    // Infinities and NaN would turn every score into NaN.
    if (!(std::fabs(value) < 0x1.ffffffp127)) {
      std::fprintf(out, "** Value of pair %d %d at line %lld of '%s' is not a finite single-precision number.\n",
                   first, second, static_cast<long long>(in.line_number()), path);
      return 6;
    }
    identities[first][second] = identities[second][first] = static_cast<float>(value);
  }
  file.close();
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
