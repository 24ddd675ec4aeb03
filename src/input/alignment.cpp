#include "input/alignment.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <functional>
#include <vector>

#include "fail.hpp"
#include "input/residue.hpp"

namespace vorn {

namespace {

constexpr int64_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int64_t kBlockWidth = 70;  // sequences per HSSP alignment block

bool kept_char(unsigned char c) { return c == '-' || c == '.' || ascii_letter(c); }
int kept_code(unsigned char c) { return (c == '-' || c == '.') ? 0 : aa_index(ascii_upper(c)); }
// A3M match states: upper-case letters and '-'; lower case and '.' are inserts.
bool match_char(unsigned char c) { return c == '-' || (c >= 'A' && c <= 'Z'); }

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// ---- HSSP ----------------------------------------------------------------

struct HsspHeader {
  bool has_seqlength = false;
  bool has_nalign = false;
  IntField seqlength, nalign;
};

HsspHeader hssp_header(LineReader& in) {
  HsspHeader h;
  for (;;) {
    if (in.leelinea() != 0) archivinc(1);
    if (in.contains("## PROTEINS")) break;
    if (in.contains("SEQLENGTH") && in.at(0) == 'S' && in.at(1) == 'E') {
      h.seqlength = int_field(in.text(), 10);
      h.has_seqlength = true;
    }
    if (in.contains("NALIGN") && in.at(0) == 'N' && in.at(1) == 'A') {
      h.nalign = int_field(in.text(), 10);
      h.has_nalign = true;
    }
  }
  return h;
}

void hssp_check_header(const std::string& name, const HsspHeader& h) {
  const char* n = name.c_str();
  if (!h.has_seqlength) fail("** Error: HSSP file '%s' has no SEQLENGTH line before '## PROTEINS'.\n", n);
  if (!h.has_nalign) fail("** Error: HSSP file '%s' has no NALIGN line before '## PROTEINS'.\n", n);
  if (h.seqlength.value < 0 || h.seqlength.overflow || h.seqlength.value > kIntMax) {
    fail("** Error: HSSP file '%s' gives SEQLENGTH %lld; it must be between 0 and %lld.\n", n,
         static_cast<long long>(h.seqlength.value), static_cast<long long>(kIntMax));
  }
  if (h.nalign.value < 0 || h.nalign.overflow || h.nalign.value >= kIntMax) {
    fail("** Error: HSSP file '%s' gives NALIGN %lld; it must be between 0 and %lld.\n", n,
         static_cast<long long>(h.nalign.value), static_cast<long long>(kIntMax - 1));
  }
}

// The next "## ALIGNMENTS" block: its first sequence number, its heading
// read (last: the heading's "first - last", or 0). False when there is none.
bool next_block(LineReader& in, int64_t& first, int64_t& block_line, int64_t* last = nullptr) {
  for (;;) {
    if (in.leelinea() != 0) return false;
    if (in.at(0) == '#' && in.contains("## ALIGNMENTS")) break;
  }
  block_line = in.line_number();
  IntField ff = int_field(in.text(), 14);
  if (ff.overflow || ff.value < 1) {
    fail("** Error: the alignment block at line %lld of '%s' starts at sequence %lld; sequences are numbered "
         "from 1.\n",
         static_cast<long long>(block_line), in.file_name().c_str(), static_cast<long long>(ff.value));
  }
  first = ff.value;
  if (last) {
    const size_t dash = in.text().find('-', ff.end);
    const IntField lf = dash == std::string_view::npos ? IntField{} : int_field(in.text(), dash + 1);
    *last = lf.digits && !lf.overflow ? lf.value : 0;
  }
  in.leelinea();  // the block's column heading
  return true;
}

// The next of the block's alnlen position lines.
void position_line(LineReader& in, int64_t block_line, int64_t pos, int64_t alnlen) {
  if (in.leelinea() != 0) archivinc(2);
  if (in.at(0) == '#' && in.at(1) == '#') {
    fail("** Error: the alignment block at line %lld of '%s' ends after %lld position lines; SEQLENGTH gives %lld.\n",
         static_cast<long long>(block_line), in.file_name().c_str(), static_cast<long long>(pos - 1),
         static_cast<long long>(alnlen));
  }
}

// Before anything is allocated from the header, the blocks must bear out
// its counts: SEQLENGTH position lines in each, and NALIGN sequences among
// them. A small file that claims a huge family stops here.
void hssp_survey(const AlignmentSource& src, int64_t nalign) {
  LineReader in(src.text);
  while (in.leelinea() == 0 && !in.contains("## PROTEINS")) {
  }
  int64_t highest = 0, first = 0, block_line = 0, named = 0;
  while (next_block(in, first, block_line, &named)) {
    int64_t widest = first + kBlockWidth - 1;  // the sequences the block's lines could hold
    for (int64_t pos = 1; pos <= src.alnlen; ++pos) {
      position_line(in, block_line, pos, src.alnlen);
      const std::string_view t = in.text();
      const size_t last = t.find_last_not_of(' ');
      // The character at offset 51 + k belongs to sequence first + k.
      if (last != std::string_view::npos && last >= 51) {
        highest = std::max(highest, first + static_cast<int64_t>(last) - 51);
        widest = std::max(widest, first + static_cast<int64_t>(last) - 51);
      }
    }
    // A sequence blank at every position of its block is all gaps, and its
    // block still holds it: the heading names it. A heading can claim no
    // more than the block's width, so a lying one cannot make a small file
    // pass for a huge family.
    highest = std::max(highest, std::min(named, widest));
  }
  if (highest < nalign) {
    fail("** Error: HSSP file '%s' gives NALIGN %lld, but its alignment blocks hold %lld sequences.\n",
         src.text.name.c_str(), static_cast<long long>(nalign), static_cast<long long>(highest));
  }
}

int32_t annotation_int(const LineReader& in, size_t offset) {
  IntField f = int_field(in.text(), offset);
  if (!f.fits_int32()) {
    fail("** Error: the number at offset %zu of line %lld of '%s' is out of range.\n", offset,
         static_cast<long long>(in.line_number()), in.file_name().c_str());
  }
  return static_cast<int32_t>(f.value);
}

void hssp_residues(const AlignmentSource& src, const AlignmentArrays& out) {
  LineReader in(src.text);
  const int64_t nprot = src.nprot, alnlen = src.alnlen;
  int64_t first = 0, block_line = 0;
  while (next_block(in, first, block_line)) {
    for (int64_t pos = 1; pos <= alnlen; ++pos) {
      position_line(in, block_line, pos, alnlen);
      if (first <= 4) {
        out.var[pos] = annotation_int(in, 45);
        out.acc[pos] = annotation_int(in, 35);
        out.sec_str[pos] = secstr3(in.at(17));
        out.pdbnum[pos] = annotation_int(in, 7);
        out.chain[pos] = static_cast<char>(in.at(12));
      }
      if (first == 1) {
        out.aln[1][pos] = aa_index(ascii_upper(in.at(14)));
        // The letter itself: a lower-case one is a cysteine of a disulfide bridge (the structure checks need it).
        out.res1[pos] = ascii_letter(in.at(14)) ? in.at(14) : 0;
      }
      std::string_view t = in.text();
      for (size_t j = 51; j < t.size(); ++j) {
        unsigned char c = static_cast<unsigned char>(t[j]);
        int64_t p = first + static_cast<int64_t>(j) - 50;
        if (p > nprot) {
          // Blank padding past the last sequence stores nothing anyway.
          if (c == ' ') continue;
          fail("** Error: line %lld of '%s' has an alignment character for sequence %lld, but NALIGN gives %lld "
               "sequences.\n",
               static_cast<long long>(in.line_number()), in.file_name().c_str(), static_cast<long long>(p - 1),
               static_cast<long long>(nprot - 1));
        }
        out.aln[p][pos] = c == ' ' ? 0 : aa_index(ascii_upper(c));
      }
    }
  }
}

// ---- '>' files and A3M ------------------------------------------------------

// Per row of a '>' file: its positions under both readings.
struct Rows {
  std::vector<std::string> names;
  std::vector<int64_t> kept;   // letters, '-' and '.': the '>' reading
  std::vector<int64_t> match;  // upper-case letters and '-': the A3M reading
  bool lower = false;          // some sequence has a lower-case letter
  bool gap = false;            // some sequence has a '-' or '.'
  bool dot = false;            // some sequence has a '.'
  int64_t long_row = 0, long_line = 0;  // the first row found longer than the first, and where
  std::vector<std::string> annotations;  // HH-suite annotation rows, left out
  // Per position of the '>' reading: bit 1 some row has a match state there
  // (upper case, '-'), bit 2 some row an insert state (lower case, '.').
  std::vector<uint8_t> column_kinds;
  void see_column(int64_t k, bool match) {
    if (static_cast<size_t>(k) >= column_kinds.size()) column_kinds.resize(static_cast<size_t>(k) + 1, 0);
    column_kinds[static_cast<size_t>(k)] |= match ? 1 : 2;
  }
};

std::string header_name(std::string_view header) {
  size_t end = 1;
  while (end < header.size() && !c_space(static_cast<unsigned char>(header[end]))) ++end;
  return std::string(header.substr(1, end - 1));
}

// HH-suite writes its annotation rows (secondary structure, confidence,
// accessibility, consensus) among the sequences of the A3M/A2M/FASTA files
// it makes; they are no proteins. Known by their names: ss_dssp, ss_pred,
// ss_conf, sa_dssp and Consensus, alone or with a suffix, and names ending
// in "_consensus".
bool annotation_row(const std::string& name) {
  for (const char* prefix : {"ss_dssp", "ss_pred", "ss_conf", "sa_dssp", "Consensus"})
    if (name.compare(0, std::strlen(prefix), prefix) == 0) return true;
  return ends_with(name, "_consensus");
}

// Walks the sequence lines, calling visit(row, c) for every character of a
// sequence (rows from 1), annotation rows left out. A3M files may open with
// '#' lines.
template <class Visit>
void walk_rows(const AlignmentSource& src, bool a3m, Rows* rows, Visit visit) {
  LineReader in(src.text);
  int64_t m = 0;
  bool skipping = false;  // in an annotation row
  while (in.leelinea() == 0) {
    if (in.length() > 0 && in.at(0) == '>') {
      const std::string name = header_name(in.text());
      skipping = annotation_row(name);
      if (skipping) {
        if (rows) rows->annotations.push_back(name);
        continue;
      }
      ++m;
      if (rows) {
        rows->names.push_back(name);
        rows->kept.push_back(0);
        rows->match.push_back(0);
      }
      continue;
    }
    if (skipping) continue;
    if (m == 0 && a3m && in.at(0) == '#') continue;
    for (unsigned char c : in.text()) {
      if (m == 0) {
        if (!kept_char(c)) continue;
        fail("** Error: line %lld of '%s' has residues before the first '>' header.\n",
             static_cast<long long>(in.line_number()), src.text.name.c_str());
      }
      if (rows) {
        const int64_t k = rows->kept[m - 1];
        rows->kept[m - 1] += kept_char(c);
        rows->match[m - 1] += match_char(c);
        rows->lower = rows->lower || (c >= 'a' && c <= 'z');
        rows->gap = rows->gap || c == '-' || c == '.';
        rows->dot = rows->dot || c == '.';
        if (kept_char(c)) rows->see_column(k, match_char(c));
        if (m > 1 && rows->long_row == 0 && rows->kept[m - 1] > rows->kept[0]) {
          rows->long_row = m;
          rows->long_line = in.line_number();
        }
      }
      visit(m, c);
    }
  }
}

// Rows of unequal length whose match states line up, with lower-case
// inserts: what HH-suite and hmmalign write as A3M.
bool looks_a3m(const Rows& r) {
  bool unequal = false;
  for (size_t i = 1; i < r.kept.size(); ++i) {
    if (r.match[i] != r.match[0]) return false;
    unequal = unequal || r.kept[i] != r.kept[0];
  }
  return unequal && r.lower && r.match[0] > 0;
}

// Rows of equal length, each of whose positions holds match states in every
// row or insert states in every row, with lower-case letters and '.':
// A2M with its '.' padding, as Easel writes it.
int64_t a2m_inserts(const Rows& r) {
  if (!r.lower || !r.dot || r.kept.empty()) return 0;
  for (size_t i = 1; i < r.kept.size(); ++i)
    if (r.kept[i] != r.kept[0]) return 0;
  int64_t match = 0, insert = 0;
  for (const uint8_t k : r.column_kinds) {
    if (k == 3) return 0;
    match += k == 1, insert += k == 2;
  }
  return match > 0 ? insert : 0;
}

// The checks and warnings of a '>' or A3M file, after its summary line.
void check_rows(const AlignmentSource& src, const Rows& r, Log& log) {
  const char* name = src.text.name.c_str();
  if (src.form == AlnForm::A3m) {
    for (size_t i = 1; i < r.match.size(); ++i) {
      if (r.match[i] == r.match[0]) continue;
      fail("** Error: sequence %zu ('%s') of A3M file '%s' has %lld match positions (upper-case letters and '-'); "
           "the first has %lld.\n",
           i + 1, r.names[i].c_str(), name, static_cast<long long>(r.match[i]), static_cast<long long>(r.match[0]));
    }
    return;
  }
  // Sequences without a single gap and of different lengths were never
  // aligned: reading their tails as gaps would score unrelated residues.
  // Every row counts, whatever their order.
  const auto [shortest, longest] = std::minmax_element(r.kept.begin(), r.kept.end());
  if (!r.gap && !r.kept.empty() && *shortest != *longest) {
    fail("** Error: '%s' looks unaligned: its %zu sequences hold no gap ('-' or '.') and range from %lld to %lld "
         "residues. Align them first (with MAFFT, Clustal Omega or hmmalign, say) and give vorn the aligned file.\n",
         name, r.kept.size(), static_cast<long long>(*shortest), static_cast<long long>(*longest));
  }
  if (r.long_row != 0) {
    fail("** Error: sequence %lld ('%s') of '%s' has more than the %lld positions of the first sequence (line %lld).\n",
         static_cast<long long>(r.long_row), r.names[r.long_row - 1].c_str(), name,
         static_cast<long long>(src.alnlen), static_cast<long long>(r.long_line));
  }
  int64_t shorter = 0;
  size_t first_short = 0;
  for (size_t i = r.kept.size(); i-- > 1;) {
    if (r.kept[i] < r.kept[0]) ++shorter, first_short = i;
  }
  if (shorter > 0) {
    log.warn("** Warning: %lld of the %zu sequences of '%s' are shorter than the first (%lld positions), the first "
               "of them sequence %zu ('%s') with %lld; their missing positions are read as gaps.\n",
               static_cast<long long>(shorter), r.kept.size(), name, static_cast<long long>(r.kept[0]),
               first_short + 1, r.names[first_short].c_str(), static_cast<long long>(r.kept[first_short]));
  }
}

void sequence_residues(const AlignmentSource& src, const AlignmentArrays& out) {
  const bool a3m = src.form == AlnForm::A3m;
  int64_t row = 0, k = 0;
  walk_rows(src, a3m, nullptr, [&](int64_t m, unsigned char c) {
    if (m != row) row = m, k = 0;
    if (a3m ? !match_char(c) : !kept_char(c)) return;
    out.aln[m][++k] = kept_code(c);
    if (m == 1) out.res1[k] = ascii_letter(c);
  });
}

// ---- Detection ----------------------------------------------------------------

AlnForm detect(const InputText& text) {
  LineReader in(text);
  do {
    if (in.leelinea() != 0) archivinc(-1);
  } while (in.length() < 3);
  if (in.contains("HSSP") && in.at(0) == 'H' && in.at(1) == 'S') return AlnForm::Hssp;
  std::string name = text.name;
  if (ends_with(name, ".gz")) name.resize(name.size() - 3);
  const bool a3m_name = ends_with(name, ".a3m");
  if (in.at(0) == '>') return a3m_name ? AlnForm::A3m : AlnForm::Pir;
  // The interleaved forms (and an A3M file's comment lines), from the first
  // line that is not blank.
  while (blank(in.text()) && in.leelinea() == 0) {
  }
  std::string_view t = in.text();
  if (a3m_name && t.substr(0, 1) == "#") return AlnForm::A3m;
  if (t.substr(0, 11) == "# STOCKHOLM") return AlnForm::Stockholm;
  if (t.substr(0, 7) == "CLUSTAL" || t.substr(0, 6) == "MUSCLE" || t.substr(0, 8) == "PROBCONS")
    return AlnForm::Clustal;
  return AlnForm::Unknown;
}

BlockedForm blocked_form(AlnForm f) { return f == AlnForm::Stockholm ? BlockedForm::Stockholm : BlockedForm::Clustal; }

bool blocked(AlnForm f) { return f == AlnForm::Stockholm || f == AlnForm::Clustal; }

}  // namespace

const char* form_name(AlnForm form) {
  switch (form) {
    case AlnForm::Hssp: return "hssp";
    case AlnForm::Pir: return "pir";
    case AlnForm::A3m: return "a3m";
    case AlnForm::Stockholm: return "stockholm";
    case AlnForm::Clustal: return "clustal";
    default: return "-----";
  }
}

int32_t first_residue_number(const std::string& name) {
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos) return 1;
  const std::string_view range = std::string_view(name).substr(slash + 1);
  const size_t dash = range.find('-', 1);
  if (dash == std::string_view::npos) return 1;
  const IntField start = int_field(range.substr(0, dash), 0), end = int_field(range.substr(dash + 1), 0);
  auto whole = [](std::string_view t) {
    if (t.empty()) return false;
    for (size_t i = t[0] == '-' ? 1 : 0; i < t.size(); ++i)
      if (t[i] < '0' || t[i] > '9') return false;
    return t.size() > (t[0] == '-' ? 1u : 0u);
  };
  if (!whole(range.substr(0, dash)) || !whole(range.substr(dash + 1)) || !start.fits_int32() || !end.fits_int32())
    return 1;
  return static_cast<int32_t>(start.value);
}

void ResidueTally::see(unsigned char c) {
  if (!ascii_letter(c)) return;
  ++letters;
  rare += ascii_upper(c) == 'U' || ascii_upper(c) == 'O';
  switch (ascii_upper(c)) {
    case 'A': case 'C': case 'G': case 'T': case 'U': case 'N': ++nucleotides;
  }
}

void alignment_dimensions(const std::string& path, AlignmentSource& src, Log& log, const GivenInputs* given) {
  if (!load_input(path, src.text, given)) unreadable("alignment", path);
  alignment_dimensions(src, log);
}

namespace {

// The notes on what the reading took and left out: A3M or A2M by content,
// HH-suite's annotation rows, Stockholm's insert columns.
void say_how_read(const AlignmentSource& src, const Rows& rows, bool by_content, int64_t a2m_left_out, Log& log) {
  const char* name = src.text.name.c_str();
  if (by_content) {
    const auto [shortest, longest] = std::minmax_element(rows.kept.begin(), rows.kept.end());
    log.status("** Note: '%s' is read as A3M by its content: its rows differ in length (%lld to %lld characters) but "
               "all hold %lld match states (upper-case letters and '-'), and it has lower-case letters (insert "
               "states, left out).\n",
               name, static_cast<long long>(*shortest), static_cast<long long>(*longest),
               static_cast<long long>(rows.match[0]));
  }
  if (a2m_left_out > 0) {
    log.status("** Note: '%s' is read as A2M by its content: each of its columns holds match states (upper-case "
               "letters and '-') in every row or insert states (lower case and '.') in every row; its %lld insert "
               "columns are left out, as A3M inserts are.\n",
               name, static_cast<long long>(a2m_left_out));
  }
  if (!rows.annotations.empty()) {
    std::string listed;
    for (size_t i = 0; i < rows.annotations.size() && i < 5; ++i)
      listed += (i ? ", " : "") + printable(rows.annotations[i]);
    log.status("** Note: left out %zu row%s of '%s' that %s HH-suite's annotation, not sequences: %s%s.\n",
               rows.annotations.size(), rows.annotations.size() == 1 ? "" : "s", name,
               rows.annotations.size() == 1 ? "is" : "are", listed.c_str(), rows.annotations.size() > 5 ? ", ..." : "");
  }
  if (src.blocked.left_out > 0) {
    log.status("** Note: the #=GC RF line of '%s' marks %lld of its %lld columns as insert columns ('.' or '-' in "
               "RF); they are left out, as A3M inserts are.\n",
               name, static_cast<long long>(src.blocked.left_out),
               static_cast<long long>(src.blocked.left_out + src.alnlen));
  }
}

}  // namespace

void alignment_dimensions(AlignmentSource& src, Log& log) {
  src.form = detect(src.text);
  HsspHeader h;
  Rows rows;
  bool by_content = false;
  int64_t a2m_left_out = 0;
  if (src.form == AlnForm::Hssp) {
    LineReader in(src.text);
    h = hssp_header(in);
    if (h.has_seqlength) src.alnlen = h.seqlength.value;
    if (h.has_nalign) src.nprot = h.nalign.value + (h.nalign.value < kIntMax ? 1 : 0);
  } else if (src.form == AlnForm::Pir || src.form == AlnForm::A3m) {
    walk_rows(src, src.form == AlnForm::A3m, &rows, [&](int64_t, unsigned char c) { src.tally.see(c); });
    if (src.form == AlnForm::Pir && looks_a3m(rows)) {
      src.form = AlnForm::A3m;
      by_content = true;
    } else if (src.form == AlnForm::Pir && (a2m_left_out = a2m_inserts(rows)) > 0) {
      src.form = AlnForm::A3m;
    }
    src.nprot = static_cast<int64_t>(rows.kept.size());
    src.names = rows.names;
    src.alnlen = rows.kept.empty() ? 0 : src.form == AlnForm::A3m ? rows.match[0] : rows.kept[0];
  } else if (blocked(src.form)) {
    blocked_dimensions(src.text, blocked_form(src.form), src.blocked, src.nprot, src.alnlen, src.tally);
  }
  log.status("ALIGNMENT. File type: %s; %lld prots. X %lld len.\n", form_name(src.form),
             static_cast<long long>(src.nprot), static_cast<long long>(src.alnlen));

  const char* name = src.text.name.c_str();
  if (src.form == AlnForm::Hssp) {
    hssp_check_header(src.text.name, h);
    hssp_survey(src, h.nalign.value);
  } else if (src.form == AlnForm::Unknown) {
    fail("** Error: can't tell the form of alignment file '%s': its first line must begin with 'HS' and hold "
         "\"HSSP\", begin with '>', be \"# STOCKHOLM 1.0\" or begin with \"CLUSTAL\".\n",
         name);
  } else if (src.nprot > kIntMax || src.alnlen > kIntMax) {
    fail("** Error: '%s' is too large to be read.\n", name);
  }
  if (src.form == AlnForm::Pir || src.form == AlnForm::A3m) check_rows(src, rows, log);
  // A download or a copy cut short at a line's end reads as a smaller family.
  if (src.blocked.unclosed) {
    log.warn("** Warning: '%s' ends without the \"//\" line that closes a Stockholm alignment: the file may be cut "
             "short, and then some of its sequences are missing.\n",
             name);
  }
  say_how_read(src, rows, by_content, a2m_left_out, log);
  const ResidueTally& t = src.tally;
  if (t.letters > 0 && t.nucleotides * 10 >= t.letters * 9) {
    log.warn("** Warning: '%s' looks like a nucleotide alignment (%.0f %% of its residue letters are A, C, G, T, U "
               "or N); vorn scores amino-acid substitutions.\n",
               name, 100.0 * static_cast<double>(t.nucleotides) / static_cast<double>(t.letters));
  }
}

namespace {

// visit(row, position, c) for every character of the rows, position 0 where
// the character takes no column (A3M insert states, blanks and digits).
void each_cell(const AlignmentSource& src, const std::function<void(int64_t, int64_t, unsigned char)>& visit) {
  if (blocked(src.form)) {
    blocked_cells(src.text, blocked_form(src.form), src.blocked, visit);
    return;
  }
  const bool a3m = src.form == AlnForm::A3m;
  int64_t row = 0, k = 0;
  walk_rows(src, a3m, nullptr, [&](int64_t m, unsigned char c) {
    if (m != row) row = m, k = 0;
    visit(m, (a3m ? match_char(c) : kept_char(c)) ? ++k : 0, c);
  });
}

}  // namespace

const std::string& sequence_name(const AlignmentSource& src, int64_t row) {
  return blocked(src.form) ? src.blocked.names[static_cast<size_t>(row - 1)] : src.names[static_cast<size_t>(row - 1)];
}

int64_t sequence_by_name(const AlignmentSource& src, const std::string& name) {
  const char* file = src.text.name.c_str();
  if (src.form == AlnForm::Hssp) {
    fail("** Error: -F=%s: HSSP file '%s' numbers its residues by the structure of its own sequence (PDB number and "
         "chain); the reference sequence can be chosen for the other forms only.\n",
         name.c_str(), file);
  }
  int64_t found = 0, count = 0;
  for (int64_t row = 1; row <= src.nprot; ++row)
    if (sequence_name(src, row) == name) found = found ? found : row, ++count;
  if (count == 0) {
    fail("** Error: -F=%s names no sequence of '%s' (give the name as it stands after '>' or at the start of its "
         "rows, up to the first blank; the first sequence is '%s').\n",
         name.c_str(), file, sequence_name(src, 1).c_str());
  }
  if (count > 1)
    fail("** Error: -F=%s names %lld sequences of '%s'; the reference must be one.\n", name.c_str(),
         static_cast<long long>(count), file);
  return found;
}

std::vector<int64_t> residue_ordinals(const AlignmentSource& src, int64_t row, std::string* letters) {
  std::vector<int64_t> ordinal(static_cast<size_t>(src.alnlen) + 1, 0);
  if (letters) letters->assign(ordinal.size(), '\0');
  int64_t residues = 0;
  each_cell(src, [&](int64_t r, int64_t pos, unsigned char c) {
    if (r != row || !ascii_letter(c)) return;
    ++residues;
    if (pos > 0) ordinal[static_cast<size_t>(pos)] = residues;
    if (pos > 0 && letters) (*letters)[static_cast<size_t>(pos)] = static_cast<char>(ascii_upper(c));
  });
  return ordinal;
}

std::vector<int32_t> rare_residue_counts(const AlignmentSource& src) {
  std::vector<int32_t> count(static_cast<size_t>(src.alnlen) + 1, 0);
  each_cell(src, [&](int64_t, int64_t pos, unsigned char c) {
    if (pos > 0 && (ascii_upper(c) == 'U' || ascii_upper(c) == 'O')) ++count[static_cast<size_t>(pos)];
  });
  return count;
}

void alignment_residues(const AlignmentSource& src, const AlignmentArrays& out) {
  for (int64_t pos = 1; pos <= src.alnlen; ++pos) out.res1[pos] = 0;
  for (int64_t p = 1; p <= src.nprot; ++p)
    for (int64_t pos = 1; pos <= src.alnlen; ++pos) out.aln[p][pos] = 0;
  if (src.form == AlnForm::Hssp) {
    hssp_residues(src, out);
  } else if (src.form == AlnForm::Pir || src.form == AlnForm::A3m) {
    sequence_residues(src, out);
  } else if (blocked(src.form)) {
    blocked_residues(src.text, blocked_form(src.form), src.blocked, out);
  }
}

}  // namespace vorn
