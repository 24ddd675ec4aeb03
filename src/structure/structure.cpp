#include "structure/structure.hpp"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "fail.hpp"
#include "input/lineinput.hpp"

namespace vorn {

namespace {

[[noreturn]] void bad_line(const std::string& file, int64_t line, const std::string& what) {
  fail("** Error: line %lld of structure file '%s': %s.\n", static_cast<long long>(line), file.c_str(), what.c_str());
}

// A field of the file as a message may quote it.
std::string quoted_field(const std::string& s) { return printable(s.substr(0, 40)); }

std::string trimmed(std::string_view t) {
  size_t a = 0, b = t.size();
  while (a < b && c_space(static_cast<unsigned char>(t[a]))) ++a;
  while (b > a && c_space(static_cast<unsigned char>(t[b - 1]))) --b;
  return std::string(t.substr(a, b - a));
}

// A whole decimal number and nothing else around it but blanks, read by the
// number fields every reader uses.
bool decimal(std::string_view t, bool integer, int64_t* value = nullptr) {
  const std::string s = trimmed(t);
  if (s.empty()) return false;
  if (integer) {
    const IntField r = int_field(s, 0);
    if (value) *value = r.value;
    return r.digits && r.end == s.size() && r.fits_int32();
  }
  const NumberField v = number_field(s, 0);
  return v.found && v.span.size() == s.size();
}

// A PDB residue number: decimal, or hybrid-36 past 9999 (A000 is 10000).
bool pdb_number(std::string_view field, int32_t& num) {
  int64_t v = 0;
  if (decimal(field, true, &v)) return num = static_cast<int32_t>(v), true;
  if (field.size() != 4) return false;
  const bool upper = field[0] >= 'A' && field[0] <= 'Z', lower = field[0] >= 'a' && field[0] <= 'z';
  if (!upper && !lower) return false;
  int64_t n = 0;
  for (char c : field) {
    int d = c >= '0' && c <= '9' ? c - '0' : upper && c >= 'A' && c <= 'Z' ? c - 'A' + 10 : lower && c >= 'a' && c <= 'z' ? c - 'a' + 10 : -1;
    if (d < 0) return false;
    n = n * 36 + d;
  }
  num = static_cast<int32_t>(n - 10 * 36 * 36 * 36 + 10000 + (lower ? 26 * 36 * 36 * 36 : 0));
  return true;
}

// Residues are kept once, in the order their first atom comes.
struct Collector {
  Structure& s;
  std::unordered_set<std::string> seen;
  void add(std::string chain, int32_t num, char icode, const std::string& name) {
    const char aa = amino_acid_code(name);
    if (aa == 0) return;
    std::string key = chain + '\x01' + std::to_string(num) + '\x01' + icode;
    if (!seen.insert(std::move(key)).second) return;
    s.residues.push_back(StructureResidue{std::move(chain), num, icode, aa, name});
  }
};

void pdb_records(LineReader& in, Collector& out) {
  while (in.leelinea() == 0) {
    const std::string_view t = in.text();
    if (t.substr(0, 6) == "ENDMDL") return;  // the first model only
    if (t.substr(0, 6) != "ATOM  " && t.substr(0, 6) != "HETATM") continue;
    if (t.size() < 54) bad_line(in.file_name(), in.line_number(), "an atom record shorter than its coordinates (54 columns)");
    int32_t num = 0;
    if (!pdb_number(t.substr(22, 4), num))
      bad_line(in.file_name(), in.line_number(), "the residue number (columns 23-26) is not a number");
    for (size_t at : {30, 38, 46})
      if (!decimal(t.substr(at, 8), false))
        bad_line(in.file_name(), in.line_number(), "the coordinates (columns 31-54) are not numbers");
    out.add(std::string(1, t[21]), num, t[26], trimmed(t.substr(17, 3)));
  }
}

// The tokens of an mmCIF data line: blank-separated words, quoted strings
// (a quote closes only before a blank) and a '#' comment to the line end.
std::vector<std::string> cif_tokens(std::string_view t) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < t.size()) {
    while (i < t.size() && c_space(static_cast<unsigned char>(t[i]))) ++i;
    if (i >= t.size() || t[i] == '#') break;
    if (t[i] == '\'' || t[i] == '"') {
      const char q = t[i];
      size_t j = i + 1;
      while (j < t.size() && !(t[j] == q && (j + 1 == t.size() || c_space(static_cast<unsigned char>(t[j + 1]))))) ++j;
      out.emplace_back(t.substr(i + 1, j - i - 1));
      i = j + 1;
    } else {
      size_t j = i;
      while (j < t.size() && !c_space(static_cast<unsigned char>(t[j]))) ++j;
      out.emplace_back(t.substr(i, j - i));
      i = j;
    }
  }
  return out;
}

bool cif_keyword(const std::string& w) {
  return w[0] == '_' || w == "loop_" || w.rfind("data_", 0) == 0 || w.rfind("save_", 0) == 0 || w == "global_";
}

void cif_atoms(LineReader& in, Collector& out) {
  bool atoms = false;
  while (in.leelinea() == 0 && !atoms) {
    if (trimmed(in.text()) != "loop_") continue;
    std::vector<std::string> names;
    int64_t header = in.line_number();
    while (in.leelinea() == 0) {
      const std::string item = trimmed(in.text());
      if (item.rfind("_atom_site.", 0) != 0) break;
      names.push_back(item.substr(11, item.find_first_of(" \t") == std::string::npos ? std::string::npos : item.find_first_of(" \t") - 11));
    }
    if (names.empty()) continue;
    atoms = true;
    auto column = [&](std::initializer_list<const char*> wanted, bool required) -> int {
      for (const char* w : wanted)
        for (size_t k = 0; k < names.size(); ++k)
          if (names[k] == w) return static_cast<int>(k);
      if (required)
        bad_line(in.file_name(), header, strformat("the _atom_site loop has no %s column", *wanted.begin()));
      return -1;
    };
    const int chain = column({"auth_asym_id", "label_asym_id"}, true);
    const int num = column({"auth_seq_id", "label_seq_id"}, true);
    const int name = column({"auth_comp_id", "label_comp_id"}, true);
    const int icode = column({"pdbx_PDB_ins_code"}, false), model = column({"pdbx_PDB_model_num"}, false);
    const int xyz[3] = {column({"Cartn_x"}, true), column({"Cartn_y"}, true), column({"Cartn_z"}, true)};
    std::vector<std::string> row;
    int64_t row_line = 0;
    std::string first_model;
    bool more = true;  // the current line is still to be read as data
    for (; more; more = in.leelinea() == 0) {
      if (in.text().substr(0, 1) == ";") bad_line(in.file_name(), in.line_number(), "a text field inside the _atom_site loop");
      std::vector<std::string> words = cif_tokens(in.text());
      if (!words.empty() && cif_keyword(words[0])) break;
      for (std::string& w : words) {
        if (row.empty()) row_line = in.line_number();
        row.push_back(std::move(w));
        if (row.size() < names.size()) continue;
        if (model >= 0 && first_model.empty()) first_model = row[model];
        int64_t n = 0;
        if (!decimal(row[num], true, &n))
          bad_line(in.file_name(), row_line, "the residue number '" + quoted_field(row[num]) + "' is not a number");
        for (int k : xyz)
          if (!decimal(row[k], false))
            bad_line(in.file_name(), row_line, "the coordinate '" + quoted_field(row[k]) + "' is not a number");
        // mmCIF allows longer names; no real file has more than four, and a
        // name of a million letters would be repeated for every residue.
        if (row[chain].size() > 4)
          bad_line(in.file_name(), row_line, strformat("the chain name '%s' has %zu characters, more than the 4 of any "
                                                       "real structure", quoted_field(row[chain]).c_str(), row[chain].size()));
        if (model < 0 || row[model] == first_model) {
          const char ic = icode >= 0 && row[icode].size() == 1 && row[icode] != "?" && row[icode] != "." ? row[icode][0] : ' ';
          out.add(row[chain], static_cast<int32_t>(n), ic, row[name]);
        }
        row.clear();
      }
    }
    if (!row.empty())
      bad_line(in.file_name(), row_line, strformat("the _atom_site row has %zu of its %zu values", row.size(), names.size()));
  }
}

}  // namespace

char amino_acid_code(std::string_view name) {
  static const std::pair<const char*, char> codes[] = {
      {"ALA", 'A'}, {"ARG", 'R'}, {"ASN", 'N'}, {"ASP", 'D'}, {"CYS", 'C'}, {"GLN", 'Q'}, {"GLU", 'E'},
      {"GLY", 'G'}, {"HIS", 'H'}, {"ILE", 'I'}, {"LEU", 'L'}, {"LYS", 'K'}, {"MET", 'M'}, {"PHE", 'F'},
      {"PRO", 'P'}, {"SER", 'S'}, {"THR", 'T'}, {"TRP", 'W'}, {"TYR", 'Y'}, {"VAL", 'V'}, {"SEC", 'U'},
      {"PYL", 'O'}, {"ASX", 'B'}, {"GLX", 'Z'}, {"UNK", 'X'},
      // Modified residues and force-field names, as their parent.
      {"MSE", 'M'}, {"SEP", 'S'}, {"TPO", 'T'}, {"PTR", 'Y'}, {"CSO", 'C'}, {"CSD", 'C'}, {"CME", 'C'},
      {"CYX", 'C'}, {"CYM", 'C'}, {"HYP", 'P'}, {"MLY", 'K'}, {"KCX", 'K'}, {"LLP", 'K'}, {"M3L", 'K'},
      {"HID", 'H'}, {"HIE", 'H'}, {"HIP", 'H'}, {"HSD", 'H'}, {"HSE", 'H'}, {"HSP", 'H'}, {"ASH", 'D'},
      {"GLH", 'E'}, {"LYN", 'K'}, {"PCA", 'E'}, {"FME", 'M'}, {"CGU", 'E'}, {"NLE", 'L'}};
  for (const auto& [n, c] : codes)
    if (name == n) return c;
  return 0;
}

Structure parse_structure(InputText in) {
  Structure s;
  s.path = in.name;
  if (std::memchr(in.data.data(), '\0', in.data.size()) != nullptr) {
    const size_t at = in.data.find('\0');
    bad_line(in.name, 1 + std::count(in.data.begin(), in.data.begin() + static_cast<std::ptrdiff_t>(at), '\n'),
             "a NUL byte: this is not a PDB or mmCIF text file");
  }
  LineReader lines(in);
  // mmCIF opens with a data block; anything else is read as PDB.
  while (lines.leelinea() == 0) {
    const std::string t = trimmed(lines.text());
    if (t.empty() || t[0] == '#') continue;
    s.mmcif = t.rfind("data_", 0) == 0;
    break;
  }
  lines.rewind();
  Collector out{s, {}};
  if (s.mmcif) {
    cif_atoms(lines, out);
  } else {
    pdb_records(lines, out);
  }
  if (s.residues.empty())
    fail("** Error: structure file '%s' holds no amino-acid residue (%s): is it a protein structure?\n",
         in.name.c_str(), s.mmcif ? "no _atom_site loop of amino acids" : "no ATOM or HETATM record of an amino acid");
  s.text = std::move(in.data);
  return s;
}

Structure read_structure(const std::string& path, const GivenInputs* given) {
  InputText in;
  if (!load_input(path, in, given)) fail("** Error: can't open the structure file '%s' (-P).\n", path.c_str());
  return parse_structure(std::move(in));
}

}  // namespace vorn
