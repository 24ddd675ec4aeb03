// A protein structure given with -P, PDB or mmCIF (gzip too): its text for
// the page's viewer and its amino-acid residues, so that the residues the
// exports address can be checked against it instead of assumed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/source.hpp"

namespace vorn {

struct StructureResidue {
  std::string chain;  // PDB: one character, maybe blank; mmCIF: the author chain
  int32_t num = 0;    // the author residue number
  char icode = ' ';   // insertion code, ' ' for none
  char aa = 'X';      // one-letter code of name
  std::string name;   // residue name, as "LYS"
};

struct Structure {
  std::string path;  // as given
  bool mmcif = false;
  std::string text;  // decompressed, as the viewer parses it
  std::vector<StructureResidue> residues;  // the amino acids of the first model, in file order
};

// Throws Failure, naming the file and line, for a file that cannot be opened
// or read as either form, or that holds no amino-acid residue.
Structure read_structure(const std::string& path, const GivenInputs* given);
Structure parse_structure(InputText in);

// The one-letter code of a residue name, or 0 for what is not an amino acid
// (water, ligands, nucleotides). Common modified residues count as their parent.
char amino_acid_code(std::string_view name);

}  // namespace vorn
