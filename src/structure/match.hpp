// The residue check: how the residues the exports address sit in the
// structure given with -P.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "input/numbering.hpp"
#include "structure/structure.hpp"

namespace vorn {

// How the residues of the columns with a result line sit in a structure.
struct StructureMatch {
  int32_t addressed = 0;  // result lines whose column has a residue of the numbered sequence
  int32_t found = 0;      // of those, a residue with that chain and number in the structure
  int32_t same = 0;       // of those, the same amino acid
  std::map<char, std::string> chain_of;  // a site's chain -> the structure's chain it was compared with
  std::vector<std::string> notes;        // chains compared in place of a missing one
  std::vector<std::string> mismatches;   // the first few, as text
  // When few match: the shift of every number that makes the most the same.
  int32_t shift = 0, shift_same = 0, first_num = 0;
  // 90 % the same, each chain where the exports address it.
  bool good() const { return addressed > 0 && int64_t{same} * 10 >= int64_t{addressed} * 9 && notes.empty(); }
};

// positions: the columns with a result line. A site's own chain is compared
// where the structure has it; a blank chain (or one the structure lacks) is
// compared with the structure's chain that agrees best.
StructureMatch match_structure(const Structure& s, const std::vector<Site>& sites, const std::vector<int32_t>& positions);
// The sentence for the page and standard error; below 90 % the "** Warning"
// with the first mismatches and what to check.
std::string match_text(const StructureMatch& m, const Structure& s, bool hssp);

}  // namespace vorn
