#include <cstdlib>

#include "fail.hpp"
#include "report/exports.hpp"
#include "report/palette.hpp"

namespace vorn {

namespace {

// The residues of the columns of one class, in column order.
template <class Visit>
void sites_of(ColumnClass cls, const ResultRow* rows, int32_t n, const std::vector<Site>& sites, Visit visit) {
  for (int32_t i = 0; i < n; ++i) {
    const LineFields& f = rows[i].f;
    if (column_class(rows[i]) != cls || f.pos < 1 || static_cast<size_t>(f.pos) >= sites.size() || !sites[f.pos].has)
      continue;
    visit(sites[f.pos], i);
  }
}

// Why a script colours nothing: the structure is not the family's.
std::string wrong_structure_note(const RunRecord& info) {
  return strformat("# Not coloured: only %d of the %d residues addressed are the same amino acid in the structure\n"
                   "# given with -P; it is not this family's, or not numbered as its reference sequence.\n",
                   info.structure_same, info.structure_addressed);
}

// PyMOL's set_color takes red, green and blue from 0 to 1.
std::string pymol_rgb(const char* hex) {
  const unsigned v = static_cast<unsigned>(std::strtoul(hex + 1, nullptr, 16));
  return strformat("[%.3f, %.3f, %.3f]", ((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0);
}

// Whose residues the scripts address.
std::string numbered(const RunRecord& info) {
  return info.reference_row == 1 ? "its first sequence" : "sequence " + info.reference;
}

// PyMOL reads a leading '-' in a residue number as a range unless escaped.
std::string pymol_resi(int32_t num) { return num < 0 ? strformat("\\%d", num) : strformat("%d", num); }

std::string pymol_selection(const Site& s) {
  return s.chain == ' ' ? "resi " + pymol_resi(s.num) : strformat("chain %c and resi ", s.chain) + pymol_resi(s.num);
}

// PyMOL splits a line at ';', comments included.
std::string pml_comment(const std::string& s) {
  std::string r = printable(s);
  for (char& c : r)
    if (c == ';') c = ',';
  return r;
}

// A selection of many residues, built a few at a time to keep the command
// lines short.
template <class Keep>
void pml_selection(FILE* out, const char* name, ColumnClass cls, const ResultRow* rows, int32_t n,
                   const std::vector<Site>& sites, Keep keep) {
  std::fprintf(out, "select %s, none\n", name);
  std::string part;
  int count = 0;
  auto flush = [&] {
    if (!part.empty()) std::fprintf(out, "select %s, %s or %s\n", name, name, part.c_str());
    part.clear();
    count = 0;
  };
  sites_of(cls, rows, n, sites, [&](const Site& s, int32_t i) {
    if (!keep(i)) return;
    part += (part.empty() ? "(" : " or (") + pymol_selection(s) + ")";
    if (++count == 40) flush();
  });
  flush();
}

std::string defattr_atoms(const Site& s) {
  return s.chain == ' ' ? strformat(":%d", s.num) : strformat("/%c:%d", s.chain, s.num);
}

}  // namespace

void write_pml(FILE* out, const Results& r) {
  const ResultRow* rows = r.rows.data();
  const int32_t n = static_cast<int32_t>(r.rows.size());
  const std::vector<Site>& sites = r.sites;
  const RunRecord& info = r.record;
  std::fprintf(out,
               "# vorn scores (%s) of %s on the residues of %s.\n"
               "# %s\n"
               "# Load the structure first, then run this file: @file.pml at the PyMOL prompt, or File > Run Script.\n",
               score_name(info).c_str(), pml_comment(info.aln_name).c_str(), pml_comment(numbered(info)).c_str(),
               pml_comment(run_line(info)).c_str());
  if (info.wrong_structure()) {
    std::fputs(wrong_structure_note(info).c_str(), out);
    return;
  }
  std::fputs("# B-factors are replaced: a scored residue gets its score, every other atom -9.\n", out);
  if (info.classic_colours)
    std::fputs("# Colours: blue (-1) through white (0) to red (+1) for scores, green for conserved columns\n"
               "# (no spread), dark grey for residues without a score.\n",
               out);
  else
    std::fputs("# Colours (safe for colour-blind eyes): grades 1 (purple) through 5 (white) to 9 (orange), the\n"
               "# score's standard deviations from the family's mean. Bluish green for conserved columns (no\n"
               "# spread), dark grey for residues without a score. vorn -C=classic: blue-white-red by score.\n",
               out);
  std::fputs("alter all, b=-9\n", out);
  sites_of(ColumnClass::Scored, rows, n, sites, [&](const Site& s, int32_t i) {
    std::fprintf(out, "alter (%s), b=%.4f\n", pymol_selection(s).c_str(), static_cast<double>(rows[i].f.score));
  });
  auto all = [](int32_t) { return true; };
  pml_selection(out, "vorn_scored", ColumnClass::Scored, rows, n, sites, all);
  pml_selection(out, "vorn_conserved", ColumnClass::Conserved, rows, n, sites, all);
  if (info.classic_colours) {
    std::fputs(
        "color grey40, all\n"
        "spectrum b, blue_white_red, vorn_scored, minimum=-1, maximum=1\n"
        "color green, vorn_conserved\n"
        "deselect\n",
        out);
    return;
  }
  for (int g = 1; g <= 9; ++g) {
    std::fprintf(out, "set_color vorn_g%d, %s\n", g, pymol_rgb(kGradePalette.grade[static_cast<size_t>(g - 1)]).c_str());
    pml_selection(out, strformat("vorn_grade%d", g).c_str(), ColumnClass::Scored, rows, n, sites,
                  [&](int32_t i) { return r.grade[static_cast<size_t>(i)] == g; });
  }
  std::fprintf(out, "set_color vorn_cons, %s\ncolor grey40, all\n", pymol_rgb(kGradePalette.conserved).c_str());
  for (int g = 1; g <= 9; ++g) std::fprintf(out, "color vorn_g%d, vorn_grade%d\n", g, g);
  std::fputs("color vorn_cons, vorn_conserved\ndeselect\n", out);
}

// Two attributes: the score of each scored residue, and the class of every
// residue with a result line (scored, conserved, unscored).
void write_defattr(FILE* out, const Results& r) {
  const ResultRow* rows = r.rows.data();
  const int32_t n = static_cast<int32_t>(r.rows.size());
  const std::vector<Site>& sites = r.sites;
  const RunRecord& info = r.record;
  std::fprintf(out, "# vorn scores (%s) of %s on the residues of %s.\n# %s\n", score_name(info).c_str(),
               printable(info.aln_name).c_str(), printable(numbered(info)).c_str(), printable(run_line(info)).c_str());
  if (info.wrong_structure()) {
    std::fputs(wrong_structure_note(info).c_str(), out);
    return;
  }
  std::fputs("# In ChimeraX, with the structure open:\n#   open this_file.defattr\n", out);
  if (info.classic_colours) {
    std::fputs("#   color byattribute r:vorn_score palette -1,blue:0,white:1,red noValueColor dimgray\n"
               "#   color ::vorn_class=conserved green\n",
               out);
  } else {
    std::string palette;
    for (int g = 1; g <= 9; ++g)
      palette += strformat("%s%d,%s", g == 1 ? "" : ":", g, kGradePalette.grade[static_cast<size_t>(g - 1)]);
    std::fprintf(out, "#   color byattribute r:vorn_grade palette %s noValueColor dimgray\n"
                      "#   color ::vorn_class=conserved %s\n",
                 palette.c_str(), kGradePalette.conserved);
  }
  std::fputs("attribute: vorn_score\nrecipient: residues\nmatch mode: any\n", out);
  sites_of(ColumnClass::Scored, rows, n, sites, [&](const Site& s, int32_t i) {
    std::fprintf(out, "\t%s\t%.4f\n", defattr_atoms(s).c_str(), static_cast<double>(rows[i].f.score));
  });
  std::fputs("attribute: vorn_grade\nrecipient: residues\nmatch mode: any\n", out);
  sites_of(ColumnClass::Scored, rows, n, sites, [&](const Site& s, int32_t i) {
    std::fprintf(out, "\t%s\t%d\n", defattr_atoms(s).c_str(), r.grade[static_cast<size_t>(i)]);
  });
  std::fputs("attribute: vorn_class\nrecipient: residues\nmatch mode: any\n", out);
  const std::pair<ColumnClass, const char*> classes[] = {
      {ColumnClass::Scored, "scored"}, {ColumnClass::Conserved, "conserved"}, {ColumnClass::Unscored, "unscored"}};
  for (const auto& c : classes) {
    const char* name = c.second;  // a plain variable: lambdas may not capture structured bindings before C++20's fix
    sites_of(c.first, rows, n, sites,
             [&](const Site& s, int32_t) { std::fprintf(out, "\t%s\t%s\n", defattr_atoms(s).c_str(), name); });
  }
}

}  // namespace vorn
