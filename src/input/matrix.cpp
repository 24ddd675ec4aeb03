#include "input/matrix.hpp"

#include <algorithm>
#include <vector>

#include "fail.hpp"
#include "input/residue.hpp"

namespace vorn {

namespace {

constexpr std::string_view kMaxhomMarker = "#****************";
constexpr std::string_view kMaxhomKey = "AA STR I/O";

float matrix_value(const LineReader& in, size_t offset) {
  NumberField v = number_field(in.text(), offset);
  if (v.overflow) {
    fail("** Error: value '%.*s' at line %lld of matrix file '%s' is too large for single precision.\n",
         static_cast<int>(v.span.size()), v.span.data(), static_cast<long long>(in.line_number()),
         in.file_name().c_str());
  }
  return v.value;
}

// One Raw line: letters at offsets 0 and 2, the score from offset 4, stored
// in both symmetric cells.
// Returns whether the line scored a pair of residues (a number where the
// score goes), which a line of another file's text hardly ever does.
bool raw_line(const LineReader& in, AaMat& aamat) {
  // A line of fewer than four characters has no value field (and maybe no
  // second letter); reading it would store a score nobody wrote.
  if (in.length() < 4) return false;
  int r = aa_index(in.at(0));
  int c = aa_index(in.at(2));
  float v = matrix_value(in, 4);
  aamat[r][c] = v;
  aamat[c][r] = v;
  return r != 0 && c != 0 && number_field(in.text(), 4).found;
}

// The Maxhom column header: each residue's value field begins three
// characters left of its rightmost letter on the line.
std::array<int64_t, kCodes> column_map(const LineReader& in) {
  std::array<int64_t, kCodes> matcol{};
  std::string_view t = in.text();
  for (size_t p = 1; p < t.size(); ++p) {
    unsigned char ch = static_cast<unsigned char>(t[p]);
    if (ascii_letter(ch)) matcol[aa_index(ch)] = static_cast<int64_t>(p) - 3;
  }
  // Letters inside the key itself (A, S, T, R, I) would otherwise pass for
  // columns: a residue must have a heading after the key.
  size_t after_key = t.find(kMaxhomKey) + kMaxhomKey.size();
  for (int code = 1; code < kCodes; ++code) {
    char letter = kResidueLetters[code];
    char lower = static_cast<char>(letter - 'A' + 'a');
    if (t.find(letter, after_key) == std::string_view::npos && t.find(lower, after_key) == std::string_view::npos) {
      fail("** Error: the column header of Maxhom matrix '%s' (line %lld) has no column for residue %c.\n",
           in.file_name().c_str(), static_cast<long long>(in.line_number()), letter);
    }
  }
  return matcol;
}

void maxhom_row(const LineReader& in, const std::array<int64_t, kCodes>& matcol, AaMat& aamat) {
  int r = aa_index(in.at(1));
  for (int k = 1; k < kCodes; ++k) {
    size_t off = static_cast<size_t>(matcol[k]);
    if (r != 0 && off >= in.text().size()) {
      fail("** Error: row %c of Maxhom matrix '%s' (line %lld) ends before the column of residue %c.\n",
           aa_indexback(r), in.file_name().c_str(), static_cast<long long>(in.line_number()), kResidueLetters[k]);
    }
    aamat[r][k] = matrix_value(in, off);
  }
}

// ---- The NCBI/BLAST grid -----------------------------------------------------
// '#' comment lines, a header of single letters (the columns), then one row
// per letter: the letter and one value per column.

bool comment_or_blank(std::string_view t) { return blank(t) || t[0] == '#'; }

// A grid header is single characters only, none of them part of a number.
// A Raw line ("A R -1": two letters and a number) never qualifies.
bool grid_header(std::string_view t) {
  std::vector<std::string_view> tok = tokens(t);
  if (tok.size() < 4) return false;
  for (std::string_view x : tok) {
    if (x.size() != 1) return false;
    const unsigned char c = static_cast<unsigned char>(x[0]);
    if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') return false;
  }
  return true;
}

void read_grid(LineReader& in, AaMat& aamat, Log& log) {
  const char* name = in.file_name().c_str();
  log.status("AA. MATRIX. Type: NCBI\n");
  std::vector<int> column;  // residue code of each header letter (0: ignored)
  for (std::string_view x : tokens(in.text())) column.push_back(aa_index(static_cast<unsigned char>(x[0])));
  for (int code = 1; code < kCodes; ++code) {
    if (std::find(column.begin(), column.end(), code) == column.end()) {
      fail("** Error: the header of NCBI matrix '%s' (line %lld) lacks residue %c.\n", name,
           static_cast<long long>(in.line_number()), kResidueLetters[code]);
    }
  }
  bool have_row[kCodes] = {false};
  while (in.leelinea() == 0) {
    if (comment_or_blank(in.text())) continue;
    std::vector<std::string_view> tok = tokens(in.text());
    const long long line = static_cast<long long>(in.line_number());
    if (tok[0].size() != 1) {
      fail("** Error: line %lld of NCBI matrix '%s' does not start with a residue letter.\n", line, name);
    }
    if (tok.size() - 1 != column.size()) {
      fail("** Error: row %c of NCBI matrix '%s' (line %lld) has %zu values; the header has %zu columns.\n", tok[0][0],
           name, line, tok.size() - 1, column.size());
    }
    const int r = aa_index(static_cast<unsigned char>(tok[0][0]));
    for (size_t k = 0; k < column.size(); ++k) {
      NumberField v = number_field(tok[k + 1], 0);
      if (!v.found || v.span.size() != tok[k + 1].size()) {
        fail("** Error: '%.*s' in row %c of NCBI matrix '%s' (line %lld) is not a number.\n",
             static_cast<int>(tok[k + 1].size()), tok[k + 1].data(), tok[0][0], name, line);
      }
      if (v.overflow) {
        fail("** Error: value '%.*s' at line %lld of matrix file '%s' is too large for single precision.\n",
             static_cast<int>(v.span.size()), v.span.data(), line, name);
      }
      // Letters outside the twenty residues (B, Z, X, *) are ignored.
      if (r != 0 && column[k] != 0) aamat[r][column[k]] = v.value;
    }
    have_row[r] = true;
  }
  for (int code = 1; code < kCodes; ++code) {
    if (!have_row[code]) fail("** Error: NCBI matrix '%s' has no row for residue %c.\n", name, kResidueLetters[code]);
  }
}

}  // namespace

void read_matrix(const std::string& path, AaMat& aamat, Log& log, const GivenInputs* given) {
  InputText text;
  if (!load_input(path, text, given)) unreadable("matrix", path);
  read_matrix(text, aamat, log);
}

namespace {

// Returns whether any line of a matrix form was read: a grid, a Maxhom
// table, or a Raw line with a number in its score field.
bool read_matrix_forms(const InputText& text, AaMat& aamat, Log& log) {
  LineReader in(text);
  // The NCBI grid is known by its header, the first line that is neither a
  // comment nor blank; any other file is read as Raw or Maxhom from the start.
  while (in.leelinea() == 0) {
    if (comment_or_blank(in.text())) continue;
    if (grid_header(in.text())) {
      read_grid(in, aamat, log);
      return true;
    }
    break;
  }
  in.rewind();
  bool raw_pending = true;
  bool maxhom = false, scored_line = false;
  while (in.leelinea() == 0) {
    if (in.contains(kMaxhomMarker)) {
      maxhom = true;
      break;
    }
    if (raw_pending) {
      log.status("AA. MATRIX. Type: Raw\n");
      raw_pending = false;
    }
    scored_line = raw_line(in, aamat) || scored_line;
  }
  if (maxhom) {
    log.status("AA. MATRIX. Type: Maxhom\n");
    for (;;) {
      if (in.leelinea() != 0) archivinc(100);
      if (in.contains(kMaxhomKey)) break;
    }
    std::array<int64_t, kCodes> matcol = column_map(in);
    while (in.leelinea() == 0) maxhom_row(in, matcol, aamat);
  }
  return maxhom || scored_line;
}

}  // namespace

void read_matrix(const InputText& text, AaMat& aamat, Log& log) {
  const bool any_line = read_matrix_forms(text, aamat, log);
  for (int k = 1; k < kCodes; ++k) {
    aamat[0][k] = 0.0f;
    aamat[k][0] = 0.0f;
  }
  // Any text passes for a Raw matrix; one that stored no nonzero score would
  // make every column score -2: a results file of sentinels.
  // (Gapped pairs never count, so the gap cell alone cannot give a score.)
  bool any = false;
  for (int r = 1; r < kCodes; ++r)
    for (int c = 1; c < kCodes; ++c) any = any || aamat[r][c] != 0.0f;
  if (any) return;
  if (!any_line) {
    fail("** Error: matrix file '%s' holds no line of any matrix form (Raw lines such as 'A R -1', a Maxhom table or "
         "an NCBI grid): not one score was read.\n",
         text.name.c_str());
  }
  fail("** Error: matrix file '%s' gives only zero scores for the twenty residues: every column would score -2.\n",
       text.name.c_str());
}

}  // namespace vorn
