#include "support/inputs.hpp"

#include <cmath>
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

RandomCase random_case(std::mt19937& rng, int nprot, int alnlen, int matrix_kind) {
  RandomCase c;
  const char* alphabets[] = {"AV", "AVLIG", "WYHKR", "ACDEFGHIKLMNPQRSTVWY"};
  const int ab = std::uniform_int_distribution<int>(0, 3)(rng), drawn = std::uniform_int_distribution<int>(0, 4)(rng);
  const int kind = matrix_kind >= 0 ? matrix_kind : drawn;
  c.rows = random_rows(rng, nprot, alnlen, alphabets[ab]);
  c.m = blosum62();
  const struct {
    int lo, hi;
    float scale, gap_cell;
    const char* name;
  } kinds[] = {{0, 0, 1, 0, "blosum"}, {-40, 60, 10, 0, "tenths"}, {-9, 12, 3, -1.5f, "thirds, gap cell"},
               {-1000000, 1000000, 0.001f, 0, "huge spread"}, {1, 1, 1, 0, "2^-20 to 2^11"}};
  if (kinds[kind].lo != kinds[kind].hi) {
    for (int r = 1; r <= 20; ++r)
      for (int k = 1; k <= 20; ++k)
        c.m[r][k] = static_cast<float>(std::uniform_int_distribution<int>(kinds[kind].lo, kinds[kind].hi)(rng)) /
                    kinds[kind].scale;
  }
  if (kind == 4) {  // no sum of a large column is exact in double precision
    for (int r = 1; r <= 20; ++r)
      for (int k = 1; k <= 20; ++k)
        c.m[r][k] = std::ldexp(std::uniform_real_distribution<float>(-2, 2)(rng), std::uniform_int_distribution<int>(-20, 10)(rng));
  }
  c.m[0][0] = kinds[kind].gap_cell;
  const int source = std::uniform_int_distribution<int>(0, 2)(rng);
  c.imported = source > 0;
  c.sim.assign(nprot + 1, std::vector<float>(nprot + 1, 0.0f));
  for (int i = 1; i <= nprot; ++i)
    for (int j = i + 1; j <= nprot; ++j)
      c.sim[i][j] = c.sim[j][i] = source == 1 ? static_cast<float>(std::uniform_int_distribution<int>(0, 1)(rng))
                                              : std::uniform_real_distribution<float>(-3, 3)(rng);
  c.what = std::to_string(nprot) + " proteins, " + alphabets[ab] + ", " + kinds[kind].name +
           (source == 0 ? ", own similarities" : source == 1 ? ", two classes" : ", imported fractions");
  return c;
}

ColumnData::ColumnData(const literal::Alignment& a)
    : codes(static_cast<size_t>(a.nprot) * a.alnlen + 1), gapperc(a.alnlen + 2, 0.0f),
      gaplist(static_cast<size_t>(a.nprot) * a.alnlen + 1), gapstart(a.alnlen + 3) {
  for (const auto& r : a.aln) rows.push_back(r.data());
  column_codes(rows.data(), a.nprot, a.alnlen, codes.data());
  gap_lists(codes.data(), gapperc.data(), a.nprot, a.alnlen, gaplist.data(), gapstart.data());
  cols = Columns{codes.data(), gapperc.data(), gaplist.data(), gapstart.data(), a.nprot, a.alnlen};
}

}  // namespace vorn::test
