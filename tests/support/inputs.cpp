#include "support/inputs.hpp"

#include <cstdio>

#include "input/residue.hpp"
#include "log.hpp"
#include "support/harness.hpp"

namespace vorn::test {

std::string maxhom_text(const AaMat& m) {
  std::string s = "# test metric\n#*****************\n AA STR I/O";
  // Each column's field starts three characters left of its letter.
  for (int c = 1; c <= 20; ++c) s += std::string(6, ' ') + kResidueLetters[c] + std::string(9, ' ');
  s += "\n";
  const size_t first_field = 11 + 6 + 1 - 3;
  for (int r = 1; r <= 20; ++r) {
    std::string line = std::string(" ") + kResidueLetters[r];
    for (int c = 1; c <= 20; ++c) {
      size_t at = first_field + static_cast<size_t>(c - 1) * 16;
      line.resize(at, ' ');
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(m[r][c]));
      line += buf;
    }
    s += line + "\n";
  }
  return s;
}

std::string fasta_text(const std::vector<std::string>& rows) {
  std::string s;
  for (size_t p = 0; p < rows.size(); ++p) s += ">p" + std::to_string(p + 1) + "\n" + rows[p] + "\n";
  return s;
}

std::vector<std::string> random_rows(std::mt19937& rng, int nprot, int alnlen, const std::string& alphabet) {
  std::vector<std::string> rows(nprot, std::string(alnlen, '-'));
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int pos = 0; pos < alnlen; ++pos) {
    const double rate = unit(rng) < 0.5 ? 0.0 : unit(rng) * 0.2;
    for (int p = 0; p < nprot; ++p) rows[p][pos] = unit(rng) < rate ? '-' : alphabet[pick(rng)];
  }
  return rows;
}

AaMat blosum62() {
  AaMat m{};
  Log quiet(nullptr);
  read_matrix(test_data("raw_blosum62_tri.txt"), m, quiet);
  return m;
}

}  // namespace vorn::test
