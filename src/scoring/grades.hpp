// How a user reads a family's scores at a glance: a grade of 1 to 9 for each
// scored column (9: follows the similarity most), a flag where the score
// rests on too little, and the residues the column holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/result_line.hpp"
#include "scoring/position.hpp"

namespace vorn {

// The grade of a score: its standard deviations from the mean of the
// family's scored columns, in nine bins of half a deviation, grade 5 the
// bin around the mean (|z| < 0.25), grades 1 and 9 open-ended below -1.75 and
// at 1.75 or above. 0: no grade (a column without a score).
struct Grade {
  int grade = 0;
  bool insufficient = false;
};
// A column's score rests on too little when fewer than kInsufficientPairs of
// its pairs are usable, or 5 % or more of its proteins have a gap (half the
// share that stops a score); a column without a score for too few pairs (-3)
// is insufficient too.
inline constexpr int64_t kInsufficientPairs = 45;  // the pairs of ten proteins
inline constexpr float kInsufficientGaps = 5.0f;
std::vector<Grade> grades(const ResultRow* rows, int32_t n, const float* gapperc, int32_t nprot);

// The residues of a column with their counts, the most common first (ties
// in the residue order of the codes), '-' for gaps and letters read as them:
// "A:12 S:5 -:2".
std::string residue_counts(const uint8_t* codes, int32_t nprot);
// A residue code as the reports show it: its letter, '-' for a gap (code 0).
char shown_letter(uint8_t code);

// The proteins an alignment view shows, in an order that keeps subfamilies
// together: at most max_rows of them (every k-th beyond that), starting with
// first and each next the one most similar to the last shown (similarity
// rows as identities[i][j], j > i). Proteins from 1.
inline constexpr int32_t kPanelRows = 300;
std::vector<int32_t> display_order(const float* const* identities, int32_t nprot, int32_t first, int32_t max_rows);

}  // namespace vorn
