#include "structure/match.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <unordered_map>
#include <unordered_set>

#include "fail.hpp"

namespace vorn {

namespace {

constexpr size_t kMismatchesShown = 5;

std::string key(const std::string& chain, int32_t num) { return chain + '\x01' + std::to_string(num); }

std::string chain_name(const std::string& c) { return c == " " || c.empty() ? "blank" : c; }

}  // namespace

namespace {

// The structure's amino-acid residues indexed once, so that the check takes
// time in proportion to them and to the sites, whatever the number of chains.
struct ResidueIndex {
  std::unordered_map<std::string, const StructureResidue*> at;  // chain and number (no insertion code)
  std::vector<std::string> chains;                              // in file order
  std::unordered_map<int32_t, std::vector<const StructureResidue*>> by_number;
  std::unordered_map<std::string, std::array<std::vector<int32_t>, 128>> numbers;  // chain -> aa -> its numbers
  explicit ResidueIndex(const Structure& s) {
    std::unordered_set<std::string> seen;
    for (const StructureResidue& r : s.residues) {
      if (seen.insert(r.chain).second) chains.push_back(r.chain);
      if (r.icode != ' ') continue;
      at.emplace(key(r.chain, r.num), &r);
      by_number[r.num].push_back(&r);
      numbers[r.chain][static_cast<unsigned char>(r.aa) & 127].push_back(r.num);
    }
  }
  const StructureResidue* lookup(const std::string& chain, int32_t num) const {
    auto it = at.find(key(chain, num));
    return it == at.end() ? nullptr : it->second;
  }
};

// The structure's chain that a label of the sites stands for: its own, or
// the one whose residues agree best with the sites of that label.
std::string chain_for(char label, const ResidueIndex& idx, const std::vector<Site>& sites,
                      const std::vector<int32_t>& positions, bool& own) {
  const std::string mine(1, label);
  own = label != ' ' && std::find(idx.chains.begin(), idx.chains.end(), mine) != idx.chains.end();
  if (own || idx.chains.empty()) return own ? mine : mine;
  std::unordered_map<std::string, int32_t> same;
  for (int32_t pos : positions) {
    const Site& site = sites[pos];
    if (!site.has || site.chain != label) continue;
    const auto it = idx.by_number.find(site.num);
    if (it == idx.by_number.end()) continue;
    for (const StructureResidue* r : it->second) same[r->chain] += r->aa == site.aa;
  }
  std::string best = idx.chains[0];
  int32_t best_same = -1;
  for (const std::string& c : idx.chains) {  // the first of the best, in file order
    const auto it = same.find(c);
    const int32_t n = it == same.end() ? 0 : it->second;
    if (n > best_same) best_same = n, best = c;
  }
  return best;
}

}  // namespace

StructureMatch match_structure(const Structure& s, const std::vector<Site>& sites, const std::vector<int32_t>& positions) {
  const ResidueIndex idx(s);
  StructureMatch m;
  std::vector<char> labels;
  for (int32_t pos : positions)
    if (sites[pos].has && std::find(labels.begin(), labels.end(), sites[pos].chain) == labels.end())
      labels.push_back(sites[pos].chain);
  for (char label : labels) {
    bool own = false;
    const std::string chain = chain_for(label, idx, sites, positions, own);
    m.chain_of[label] = chain;
    if (!own && label != ' ')
      m.notes.push_back(strformat("the structure has no chain %c: its chain %s was compared by number instead (the .pml "
                                  "and .defattr address chain %c)",
                                  label, chain_name(chain).c_str(), label));
  }
  for (int32_t pos : positions) {
    const Site& site = sites[pos];
    if (!site.has) continue;
    ++m.addressed;
    const StructureResidue* r = idx.lookup(m.chain_of[site.chain], site.num);
    m.found += r != nullptr;
    m.same += r != nullptr && r->aa == site.aa;
    if ((r == nullptr || r->aa != site.aa) && m.mismatches.size() < kMismatchesShown) {
      m.mismatches.push_back(site_label(site, site.aa, pos) + strformat(" (column %d): ", pos) +
                             (r ? r->name + " in the structure" : std::string("not in the structure")));
    }
  }
  // A numbering off by a constant is the commonest cause: find the shift
  // that would make the most residues the same.
  if (int64_t{m.same} * 10 < int64_t{m.addressed} * 9) {
    std::map<int64_t, int32_t> votes;
    m.first_num = INT32_MAX;  // the sequence's first residue, in any column
    for (const Site& site : sites)
      if (site.has) m.first_num = std::min(m.first_num, site.num);
    for (int32_t pos : positions) {
      const Site& site = sites[pos];
      const auto chain = idx.numbers.find(m.chain_of[site.chain]);
      if (!site.has || chain == idx.numbers.end()) continue;
      for (const int32_t num : chain->second[static_cast<unsigned char>(site.aa) & 127]) ++votes[int64_t{num} - site.num];
    }
    for (const auto& [shift, n] : votes)
      if (n > m.shift_same || (n == m.shift_same && std::abs(shift) < std::abs(m.shift)))
        m.shift = static_cast<int32_t>(shift), m.shift_same = n;
  }
  return m;
}

std::string match_text(const StructureMatch& m, const Structure& s, bool hssp) {
  const std::string file = printable(s.path.substr(s.path.find_last_of('/') + 1));
  std::string chains;
  for (const auto& [label, chain] : m.chain_of) chains += (chains.empty() ? "" : ", ") + chain_name(chain);
  if (m.addressed == 0)
    return "** Warning: structure '" + file + "': no result line addresses a residue, so none can be checked or coloured.\n";
  const int percent = m.addressed ? static_cast<int>(100.0 * m.same / m.addressed) : 0;
  std::string t = strformat("of the %d residues with a result line, %d are in the structure (chain %s) and %d carry the "
                            "same amino acid (%d %%)",
                            m.addressed, m.found, chains.empty() ? "none" : chains.c_str(), m.same, percent);
  for (const std::string& n : m.notes) t += "; " + n;
  if (m.good()) return "Structure '" + file + "': " + t + ".\n";
  const bool low = int64_t{m.same} * 10 < int64_t{m.addressed} * 9 || m.addressed == 0;
  if (!low)
    return "** Warning: structure '" + file + "': " + t +
           ". The page colours that chain; for the .pml and .defattr give the structure with the chain they address.\n";
  std::string first;
  for (const std::string& x : m.mismatches) first += (first.empty() ? "" : "; ") + x;
  std::string fix;
  if (!hssp && m.shift != 0 && int64_t{m.shift_same} * 10 >= int64_t{m.addressed} * 9)
    fix = strformat(" Numbered from %lld instead (a /%lld-end suffix on the sequence's name), %d would carry the same "
                    "amino acid.",
                    static_cast<long long>(m.first_num) + m.shift, static_cast<long long>(m.first_num) + m.shift,
                    m.shift_same);
  return "** Warning: the residues of structure '" + file + "' do not match the numbering: " + t +
         (first.empty() ? "" : ". First mismatches: " + first) + "." + fix + " " +
         (hssp ? "Check that the structure is the HSSP file's own PDB entry, with its chain.\n"
               : "Check the numbering (a /start-end suffix on the numbered sequence's name, or -F for another sequence), "
                 "the chain, and that the structure is of this protein.\n");
}

}  // namespace vorn
