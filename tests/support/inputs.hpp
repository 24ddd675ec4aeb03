// Writing alignments and matrices in the tool's formats from test data.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "input/matrix.hpp"
#include "scoring/similarity.hpp"
#include "support/literal.hpp"

namespace vorn::test {

// A Maxhom metric file holding every cell [1..20][1..20] of m.
std::string maxhom_text(const AaMat& m);
// A '>' file with one sequence per row.
std::string fasta_text(const std::vector<std::string>& rows);
// Random rows over a small alphabet (many ties), with gaps; each column
// draws its own gap rate so that scored, skipped and borderline columns occur.
std::vector<std::string> random_rows(std::mt19937& rng, int nprot, int alnlen, const std::string& alphabet);
// BLOSUM62 as the shipped Raw file gives it.
AaMat blosum62();

// One random case for the sped-up procedures and their literal twins: rows
// with ties and gaps (some columns with several gapped proteins), a matrix of
// integers, of tenths (sums that round) or with a gap cell, and similarities
// from the alignment or imported (two classes: exact sums; fractions).
struct RandomCase {
  std::vector<std::string> rows;
  AaMat m{};
  std::vector<std::vector<float>> sim;  // 1-based square, filled by the caller from literal::similarity or imported
  bool imported = false;
  std::string what;
};
// matrix_kind 0-4 picks the matrix (blosum, tenths, thirds, huge spread,
// values from 2^-20 to 2^11: sums that are not exact), -1 draws it.
RandomCase random_case(std::mt19937& rng, int nprot, int alnlen, int matrix_kind = -1);

// The columns of a literal alignment as the passes read them, every one
// with its gap list (all count as scored).
struct ColumnData {
  std::vector<const int32_t*> rows;
  std::vector<uint8_t> codes;
  std::vector<float> gapperc;
  std::vector<int32_t> gaplist;
  std::vector<int64_t> gapstart;
  Columns cols;
  explicit ColumnData(const literal::Alignment& a);
};

}  // namespace vorn::test
