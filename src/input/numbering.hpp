// Where each column's residue of the numbered sequence sits: one numbering
// for every export, the residue check and the Python frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

struct Site {
  bool has = false;  // false: the reference has a gap (or a chain break) here
  int32_t num = 0;
  char chain = ' ';  // ' ': no chain, the number alone addresses the residue
  char aa = 0;       // the numbered sequence's residue, upper case
};

// HSSP files number their residues themselves (PDB number and chain; res1
// marks protein 1's residues). Other forms number the reference sequence's
// own residues (ordinal: 1 for its first residue, 0 at a gap) from first, the
// start of a "/start-end" name suffix, else 1. Index 1..alnlen.
std::vector<Site> hssp_sites(const uint8_t* res1, const int32_t* codes1, const int32_t* pdbnum, const char* chain,
                             int32_t alnlen);
std::vector<Site> reference_sites(const std::vector<int64_t>& ordinal, int32_t first, const std::string& letters);

// A column's residue as the exports name it: "A:K70", "R11", or "column 7"
// where the numbered sequence has no residue.
std::string site_label(const Site& s, char aa, int32_t pos);

}  // namespace vorn
