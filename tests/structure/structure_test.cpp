#include "structure/structure.hpp"

#include <gtest/gtest.h>

#include "fail.hpp"
#include "input/residue.hpp"
#include "report/exports.hpp"
#include "structure/match.hpp"

namespace vorn {
namespace {

// An ATOM record in PDB's fixed columns; num holds the residue number and the insertion code.
std::string atom(const char* record, const char* name, char chain, const char* num, double x = 1.5) {
  char line[96];
  std::snprintf(line, sizeof line, "%-6s%5d  CA  %3s %c%5s   %8.3f%8.3f%8.3f  1.00 20.00           C\n", record, 1,
                name, chain, num, x, 2.0, 3.0);
  return line;
}

std::string residues(const Structure& s) {
  std::string r;
  for (const StructureResidue& x : s.residues)
    r += (r.empty() ? "" : " ") + x.chain + ":" + std::to_string(x.num) + (x.icode == ' ' ? "" : std::string(1, x.icode)) + x.aa;
  return r;
}

const char* const kCif =
    "data_x\n#\nloop_\n_atom_site.group_PDB\n_atom_site.label_comp_id\n_atom_site.label_asym_id\n"
    "_atom_site.label_seq_id\n_atom_site.pdbx_PDB_ins_code\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n"
    "_atom_site.Cartn_z\n_atom_site.auth_asym_id\n_atom_site.pdbx_PDB_model_num\n_atom_site.auth_seq_id\n";

TEST(Structure, ReadsResiduesOfBothForms) {
  const struct {
    const char* what;
    std::string text;
    std::string residues;  // chain:number[icode]aa, in file order
  } cases[] = {
      {"atoms of one residue count once; insertion codes kept; water and ligands left out; MSE is M",
       atom("ATOM", "LYS", 'A', "  70 ") + atom("ATOM", "LYS", 'A', "  70 ") + atom("ATOM", "GLY", 'A', "  70A") +
           atom("HETATM", "MSE", 'A', "  71 ") + atom("HETATM", "HOH", 'A', " 301 ") + atom("HETATM", "478", 'A', " 200 "),
       "A:70K A:70AG A:71M"},
      {"a blank chain; negative numbers; hybrid-36 past 9999", atom("ATOM", "SER", ' ', "  -3 ") + atom("ATOM", "ALA", ' ', "A000 "),
       " :-3S  :10000A"},
      {"the first model only", "MODEL 1\n" + atom("ATOM", "TRP", 'B', "   5 ") + "ENDMDL\nMODEL 2\n" + atom("ATOM", "CYS", 'B', "   6 "),
       "B:5W"},
      {"mmCIF: the author chain and number, quoted tokens, a row over two lines, the first model only",
       std::string(kCif) + "ATOM LYS X 1001 ? 1.0 2.0 3.0 A 1 70\nATOM 'GLY' X 1002 A 1.0\n 2.0 3.0 A 1 70\n"
                           "HETATM HOH X . ? 1 2 3 A 1 301\nATOM PRO X 1003 ? 1 2 3 A 2 71\n#\n",
       "A:70K A:70AG"},
  };
  for (const auto& c : cases) {
    const Structure s = parse_structure(InputText{"s.pdb", c.text});
    EXPECT_EQ(residues(s), c.residues) << c.what;
    EXPECT_EQ(s.text, c.text) << c.what;
  }
}

TEST(Structure, RefusesWhatItCannotRead) {
  std::string short_line = atom("ATOM", "LYS", 'A', "  70 ");
  short_line.resize(40);
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"HEADER x\n" + atom("ATOM", "LYS", 'A', "  7x "), "line 2 of structure file 's.pdb': the residue number"},
      {short_line + "\n", "line 1 of structure file 's.pdb': an atom record shorter"},
      {std::string(kCif) + "ATOM LYS X 1 ? 1.0 2.0 zz A 1 70\n", "line 15 of structure file 's.pdb': the coordinate 'zz'"},
      {std::string(kCif) + "ATOM LYS X 1 ? 1.0 2.0\n#\n", "line 15 of structure file 's.pdb': the _atom_site row has 7 of its 11"},
      {"data_x\nloop_\n_atom_site.group_PDB\n_atom_site.Cartn_x\nATOM 1\n", "line 2 of structure file 's.pdb': the _atom_site loop has no auth_asym_id"},
      {"HEADER only\n" + atom("HETATM", "HOH", 'A', "   1 "), "structure file 's.pdb' holds no amino-acid residue"},
      {std::string("ATOM  \0\0\0", 9), "line 1 of structure file 's.pdb': a NUL byte"},
  };
  for (const auto& c : cases) {
    try {
      parse_structure(InputText{"s.pdb", c.text});
      ADD_FAILURE() << "read: " << c.message;
    } catch (const Failure& f) {
      EXPECT_NE(f.message.find(c.message), std::string::npos) << f.message;
      EXPECT_EQ(f.message.rfind("** Error: ", 0), 0u) << f.message;
    }
  }
}

// Sites K1 L2 G3 ... numbered from `first` on `chain`, against a structure
// of the residues KLGAV numbered 1-5 on chain A, after a chain Z of glycines.
StructureMatch match(char chain, int32_t first, const std::string& letters = "KLGAV") {
  Structure s;
  const char* name[] = {"LYS", "LEU", "GLY", "ALA", "VAL"};
  for (int i = 0; i < 5; ++i) s.residues.push_back({"Z", i + 1, ' ', 'G', "GLY"});
  for (int i = 0; i < 5; ++i) s.residues.push_back({"A", i + 1, ' ', "KLGAV"[i], name[i]});
  std::vector<Site> sites(letters.size() + 1);
  std::vector<int32_t> positions;
  for (size_t pos = 1; pos <= letters.size(); ++pos) {
    sites[pos] = Site{letters[pos - 1] != '-', first + static_cast<int32_t>(pos) - 1, chain, letters[pos - 1]};
    positions.push_back(static_cast<int32_t>(pos));
  }
  return match_structure(s, sites, positions);
}

TEST(Structure, MatchesTheNumberingAndSaysWhatIsWrong) {
  const struct {
    const char* what;
    StructureMatch m;
    int32_t found, same;
    bool good;
    const char* text;  // a part of the message
  } cases[] = {
      {"its own chain", match('A', 1), 5, 5, true, "5 carry the same amino acid (100 %)."},
      {"a blank chain takes the best", match(' ', 1), 5, 5, true, "(chain A)"},
      {"a chain the structure lacks", match('B', 1), 5, 5, false, "has no chain B: its chain A was compared"},
      {"numbered one too high", match('A', 2), 4, 0, false, "Numbered from 1 instead (a /1-end suffix"},
      {"4 of 5 the same is below 90 %", match('A', 1, "KLGAW"), 5, 4, false, "W5 (column 5): VAL in the structure"},
      {"a gap is not addressed", match('A', 1, "KLGA-"), 4, 4, true, "of the 4 residues"},
      {"nothing addressed", match('A', 1, "--"), 0, 0, false, "no result line addresses a residue"},
  };
  Structure named;
  named.path = "dir/x.pdb";
  for (const auto& c : cases) {
    EXPECT_EQ(c.m.found, c.found) << c.what;
    EXPECT_EQ(c.m.same, c.same) << c.what;
    EXPECT_EQ(c.m.good(), c.good) << c.what;
    const std::string t = match_text(c.m, named, false);
    EXPECT_NE(t.find(c.text), std::string::npos) << c.what << ": " << t;
    EXPECT_EQ(t.rfind(c.good ? "Structure 'x.pdb'" : "** Warning", 0), 0u) << t;
  }
}

TEST(Structure, HsspBridgedCysteinesAreCysteines) {
  const uint8_t res1[] = {0, 'K', 'b', 0};
  const int32_t codes[] = {0, aa_index('K'), aa_index('B'), 0}, num[] = {0, 5, 6, 7};
  const char chain[] = {' ', 'A', 'A', 'A'};
  const std::vector<Site> s = hssp_sites(res1, codes, num, chain, 3);
  EXPECT_EQ(std::string({s[1].aa, s[2].aa}), "KC");
  EXPECT_FALSE(s[3].has);
}

}  // namespace
}  // namespace vorn
