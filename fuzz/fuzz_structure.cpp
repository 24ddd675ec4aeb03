// The structure reader (PDB, mmCIF) on arbitrary bytes, and the residue check
// of what it read against a few numbered residues.
#include <cstdint>
#include <vector>

#include "fail.hpp"
#include "structure/structure.hpp"
#include "structure/match.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorn::InputText in;
  try {
    vorn::load_memory(data, size, "fuzz", in);
    const vorn::Structure s = vorn::parse_structure(in);
    std::vector<vorn::Site> sites(6);
    std::vector<int32_t> positions;
    for (int32_t pos = 1; pos <= 5; ++pos) {
      sites[pos] = vorn::Site{true, pos, pos % 2 ? 'A' : ' ', "KLGAV"[pos - 1]};
      positions.push_back(pos);
    }
    const vorn::StructureMatch m = vorn::match_structure(s, sites, positions);
    (void)vorn::match_text(m, s, false);
  } catch (const vorn::Failure&) {
  }
  return 0;
}
