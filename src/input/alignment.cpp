#include "input/alignment.hpp"

#include <limits>

#include "fail.hpp"
#include "input/residue.hpp"

namespace vorn {

namespace {

constexpr int64_t kIntMax = std::numeric_limits<int32_t>::max();

bool kept_char(unsigned char c) { return c == '-' || c == '.' || ascii_letter(c); }

int kept_code(unsigned char c) { return (c == '-' || c == '.') ? 0 : aa_index(ascii_upper(c)); }

// ---- HSSP ----------------------------------------------------------------

struct HsspHeader {
  bool has_seqlength = false;
  bool has_nalign = false;
  IntField seqlength, nalign;
};

HsspHeader hssp_header(AlignmentSource& src) {
  LineReader in(src.file);
  HsspHeader h;
  for (;;) {
    if (in.leelinea() != 0) archivinc(src.file, 1);
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

void hssp_check_header(const AlignmentSource& src, const HsspHeader& h) {
  const char* name = src.file.name().c_str();
  if (!h.has_seqlength) fail("** Error: HSSP file '%s' has no SEQLENGTH line before '## PROTEINS'.\n", name);
  if (!h.has_nalign) fail("** Error: HSSP file '%s' has no NALIGN line before '## PROTEINS'.\n", name);
  if (h.seqlength.value < 0 || h.seqlength.overflow || h.seqlength.value > kIntMax) {
    fail("** Error: HSSP file '%s' gives SEQLENGTH %lld; it must be between 0 and %lld.\n", name,
         static_cast<long long>(h.seqlength.value), static_cast<long long>(kIntMax));
  }
  if (h.nalign.value < 0 || h.nalign.overflow || h.nalign.value >= kIntMax) {
    fail("** Error: HSSP file '%s' gives NALIGN %lld; it must be between 0 and %lld.\n", name,
         static_cast<long long>(h.nalign.value), static_cast<long long>(kIntMax - 1));
  }
}

int32_t annotation_int(const LineReader& in, size_t offset) {
  IntField f = int_field(in.text(), offset);
  if (f.overflow || f.value > kIntMax || f.value < -kIntMax - 1) {
    fail("** Error: the number at offset %zu of line %lld of '%s' is out of range.\n", offset,
         static_cast<long long>(in.line_number()), in.file_name().c_str());
  }
  return static_cast<int32_t>(f.value);
}

void hssp_residues(AlignmentSource& src, const AlignmentArrays& out) {
  LineReader in(src.file);
  const int64_t nprot = src.nprot, alnlen = src.alnlen;
  const char* name = src.file.name().c_str();
  for (;;) {
    bool found = false;
    while (in.leelinea() == 0) {
      if (in.at(0) == '#' && in.contains("## ALIGNMENTS")) {
        found = true;
        break;
      }
    }
    if (!found) return;  // no further block: the normal end
    const int64_t block_line = in.line_number();
    IntField ff = int_field(in.text(), 14);
    if (ff.overflow || ff.value < 1) {
      fail("** Error: the alignment block at line %lld of '%s' starts at sequence %lld; sequences are numbered "
           "from 1.\n",
           static_cast<long long>(block_line), name, static_cast<long long>(ff.value));
    }
    const int64_t first = ff.value;
    in.leelinea();  // the block's column heading
    for (int64_t pos = 1; pos <= alnlen; ++pos) {
      if (in.leelinea() != 0) archivinc(src.file, 2);
      if (in.at(0) == '#' && in.at(1) == '#') {
        fail("** Error: the alignment block at line %lld of '%s' ends after %lld position lines; SEQLENGTH gives "
             "%lld.\n",
             static_cast<long long>(block_line), name, static_cast<long long>(pos - 1),
             static_cast<long long>(alnlen));
      }
      if (first <= 4) {
        out.var[pos] = annotation_int(in, 45);
        out.acc[pos] = annotation_int(in, 35);
        out.sec_str[pos] = secstr3(in.at(17));
        out.pdbnum[pos] = annotation_int(in, 7);
        out.chain[pos] = static_cast<char>(in.at(12));
      }
      if (first == 1) {
        out.aln[1][pos] = aa_index(ascii_upper(in.at(14)));
        out.res1[pos] = ascii_letter(in.at(14));
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
               static_cast<long long>(in.line_number()), name, static_cast<long long>(p - 1),
               static_cast<long long>(nprot - 1));
        }
        out.aln[p][pos] = c == ' ' ? 0 : aa_index(ascii_upper(c));
      }
    }
  }
}

// ---- '>' files -------------------------------------------------------------

// Files without structure: the residue number is the position.
void sequence_annotations(const AlignmentArrays& out, int64_t alnlen) {
  for (int64_t pos = 1; pos <= alnlen; ++pos) {
    out.pdbnum[pos] = static_cast<int32_t>(pos);
    out.chain[pos] = ' ';
    out.var[pos] = -1;
  }
}

void pir_dimensions(AlignmentSource& src) {
  LineReader in(src.file);
  int64_t nprot = 0, alnlen = 0;
  while (in.leelinea() == 0) {
    if (in.at(0) == '>') ++nprot;
  }
  in.rewind();
  bool in_first = false;
  while (in.leelinea() == 0) {
    if (in.length() > 0 && in.at(0) == '>') {
      if (in_first) break;
      in_first = true;
      continue;
    }
    int64_t kept = 0;
    for (unsigned char c : in.text()) kept += kept_char(c);
    if (!in_first && kept > 0) {
      fail("** Error: line %lld of '%s' has residues before the first '>' header.\n",
           static_cast<long long>(in.line_number()), src.file.name().c_str());
    }
    alnlen += kept;
  }
  src.nprot = nprot;
  src.alnlen = alnlen;
}

std::string header_name(std::string_view header) {
  size_t end = 1;
  while (end < header.size() && !c_space(static_cast<unsigned char>(header[end]))) ++end;
  return std::string(header.substr(1, end - 1));
}

void pir_residues(AlignmentSource& src, const AlignmentArrays& out) {
  LineReader in(src.file);
  const int64_t nprot = src.nprot, alnlen = src.alnlen;
  int64_t m = 0, k = 0;
  std::string name;
  while (in.leelinea() == 0) {
    if (in.length() > 0 && in.at(0) == '>') {
      ++m;
      k = 0;
      if (m > nprot) fail("** Error: '%s' changed while it was being read.\n", src.file.name().c_str());
      name = header_name(in.text());
      continue;
    }
    for (unsigned char c : in.text()) {
      if (!kept_char(c)) continue;
      if (m == 0) {
        fail("** Error: line %lld of '%s' has residues before the first '>' header.\n",
             static_cast<long long>(in.line_number()), src.file.name().c_str());
      }
      if (++k > alnlen) {
        fail("** Error: sequence %lld ('%s') of '%s' has more than the %lld positions of the first sequence "
             "(line %lld).\n",
             static_cast<long long>(m), name.c_str(), src.file.name().c_str(), static_cast<long long>(alnlen),
             static_cast<long long>(in.line_number()));
      }
      out.aln[m][k] = kept_code(c);
      if (m == 1) out.res1[k] = ascii_letter(c);
    }
  }
  sequence_annotations(out, alnlen);
}

BlockedForm blocked_form(const AlignmentSource& src) {
  return src.filetype == "stockholm" ? BlockedForm::Stockholm : BlockedForm::Clustal;
}

}  // namespace

void alignment_dimensions(const std::string& path, AlignmentSource& src, Log& log) {
  if (!src.file.open(path)) fail("** Error: Can't read alignment file: %s\n", path.c_str());
  alignment_dimensions(src, log);
}

void alignment_dimensions(AlignmentSource& src, Log& log) {
  src.filetype = "-----";
  LineReader in(src.file);
  do {
    if (in.leelinea() != 0) archivinc(src.file, -1);
  } while (in.length() < 3);
  if (in.contains("HSSP") && in.at(0) == 'H' && in.at(1) == 'S') src.filetype = "hssp";
  if (in.at(0) == '>') src.filetype = "pir";
  if (src.filetype == "-----") {
    // The interleaved forms, from the first line that is not blank.
    while (in.text().find_first_not_of(" \t\v\f\r") == std::string_view::npos && in.leelinea() == 0) {
    }
    std::string_view t = in.text();
    if (t.substr(0, 11) == "# STOCKHOLM") src.filetype = "stockholm";
    if (t.substr(0, 7) == "CLUSTAL" || t.substr(0, 6) == "MUSCLE" || t.substr(0, 8) == "PROBCONS") src.filetype = "clustal";
  }
  in.rewind();

  HsspHeader h;
  if (src.filetype == "hssp") {
    h = hssp_header(src);
    if (h.has_seqlength) src.alnlen = h.seqlength.value;
    if (h.has_nalign) src.nprot = h.nalign.value + (h.nalign.value < kIntMax ? 1 : 0);
  } else if (src.filetype == "pir") {
    pir_dimensions(src);
  } else if (src.filetype != "-----") {
    blocked_dimensions(src.file, blocked_form(src), src.blocked, src.nprot, src.alnlen);
  }
  log.status("ALIGNMENT. File type: %s; %lld prots. X %lld len.\n", src.filetype.c_str(),
             static_cast<long long>(src.nprot), static_cast<long long>(src.alnlen));

  const char* name = src.file.name().c_str();
  if (src.filetype == "hssp") {
    hssp_check_header(src, h);
  } else if (src.filetype == "-----") {
    fail("** Error: can't tell the form of alignment file '%s': its first line must begin with 'HS' and hold "
         "\"HSSP\", begin with '>', be \"# STOCKHOLM 1.0\" or begin with \"CLUSTAL\".\n",
         name);
  } else if (src.nprot > kIntMax || src.alnlen > kIntMax) {
    fail("** Error: '%s' is too large to be read.\n", name);
  }
}

void alignment_residues(AlignmentSource& src, const AlignmentArrays& out) {
  for (int64_t pos = 1; pos <= src.alnlen; ++pos) out.res1[pos] = 0;
  for (int64_t p = 1; p <= src.nprot; ++p)
    for (int64_t pos = 1; pos <= src.alnlen; ++pos) out.aln[p][pos] = 0;
  std::rewind(src.file.get());
  if (src.filetype == "hssp") {
    hssp_residues(src, out);
  } else if (src.filetype == "pir") {
    pir_residues(src, out);
  } else if (src.filetype != "-----") {
    blocked_residues(src.file, blocked_form(src), src.blocked, out);
    sequence_annotations(out, src.alnlen);
  }
  src.file.close();
}

}  // namespace vorn
