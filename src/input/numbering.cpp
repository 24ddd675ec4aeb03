#include "input/numbering.hpp"

#include <algorithm>
#include <cctype>
#include <climits>

#include "fail.hpp"
#include "input/residue.hpp"

namespace vorn {

std::vector<Site> hssp_sites(const uint8_t* res1, const int32_t* codes1, const int32_t* pdbnum, const char* chain,
                             int32_t alnlen) {
  std::vector<Site> sites(static_cast<size_t>(alnlen) + 1);
  for (int32_t pos = 1; pos <= alnlen; ++pos) {
    Site& s = sites[pos];
    s.has = res1[pos] != 0;
    // HSSP writes the cysteines of a disulfide bridge as lower-case letters, one per bridge.
    if (s.has) s.aa = res1[pos] >= 'a' && res1[pos] <= 'z' ? 'C' : aa_indexback(codes1[pos]);
    s.num = pdbnum[pos];
    // Only letters and digits can be named in a PyMOL or ChimeraX selection.
    s.chain = std::isalnum(static_cast<unsigned char>(chain[pos])) ? chain[pos] : ' ';
  }
  return sites;
}

std::vector<Site> reference_sites(const std::vector<int64_t>& ordinal, int32_t first, const std::string& letters) {
  std::vector<Site> sites(ordinal.size());
  for (size_t pos = 1; pos < ordinal.size(); ++pos) {
    sites[pos].has = ordinal[pos] > 0;
    sites[pos].aa = pos < letters.size() ? letters[pos] : '\0';
    sites[pos].num = static_cast<int32_t>(std::clamp<int64_t>(first - 1 + ordinal[pos], INT32_MIN, INT32_MAX));
  }
  return sites;
}

std::string site_label(const Site& s, char aa, int32_t pos) {
  if (!s.has) return strformat("column %d", pos);
  return (s.chain != ' ' ? strformat("%c:", s.chain) : std::string()) + strformat("%c%d", aa, s.num);
}

}  // namespace vorn
