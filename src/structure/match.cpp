#include "structure/match.hpp"

#include <algorithm>
#include <climits>

#include "fail.hpp"

namespace vorn {

namespace {

constexpr size_t kMismatchesShown = 5;

std::string key(const std::string& chain, int32_t num) { return chain + '\x01' + std::to_string(num); }

std::string chain_name(const std::string& c) { return c == " " || c.empty() ? "blank" : c; }

}  // namespace

StructureMatch match_structure(const Structure& s, const std::vector<Site>& sites, const std::vector<int32_t>& positions) {
  // Residues by chain and number; insertion codes are not addressed by any export.
  std::map<std::string, const StructureResidue*> at;
  std::vector<std::string> chains;
  for (const StructureResidue& r : s.residues) {
    if (std::find(chains.begin(), chains.end(), r.chain) == chains.end()) chains.push_back(r.chain);
    if (r.icode == ' ') at.emplace(key(r.chain, r.num), &r);
  }
  auto lookup = [&](const std::string& chain, const Site& site) -> const StructureResidue* {
    auto it = at.find(key(chain, site.num));
    return it == at.end() ? nullptr : it->second;
  };
  StructureMatch m;
  std::vector<char> labels;
  for (int32_t pos : positions)
    if (sites[pos].has && std::find(labels.begin(), labels.end(), sites[pos].chain) == labels.end())
      labels.push_back(sites[pos].chain);
  for (char label : labels) {
    const std::string own(1, label);
    if (label != ' ' && std::find(chains.begin(), chains.end(), own) != chains.end()) {
      m.chain_of[label] = own;
      continue;
    }
    // The chain whose residues agree best with the sites of this label.
    std::string best = chains.empty() ? own : chains[0];
    int32_t best_same = -1;
    for (const std::string& c : chains) {
      int32_t same = 0;
      for (int32_t pos : positions) {
        const Site& site = sites[pos];
        if (!site.has || site.chain != label) continue;
        const StructureResidue* r = lookup(c, site);
        same += r != nullptr && r->aa == site.aa;
      }
      if (same > best_same) best_same = same, best = c;
    }
    m.chain_of[label] = best;
    if (label != ' ')
      m.notes.push_back(strformat("the structure has no chain %c: its chain %s was compared by number instead (the .pml "
                                  "and .defattr address chain %c)",
                                  label, chain_name(best).c_str(), label));
  }
  for (int32_t pos : positions) {
    const Site& site = sites[pos];
    if (!site.has) continue;
    ++m.addressed;
    const StructureResidue* r = lookup(m.chain_of[site.chain], site);
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
    std::map<std::string, std::vector<const StructureResidue*>> by_chain;
    for (const StructureResidue& r : s.residues) by_chain[r.chain].push_back(&r);
    m.first_num = INT32_MAX;  // the sequence's first residue, in any column
    for (const Site& site : sites)
      if (site.has) m.first_num = std::min(m.first_num, site.num);
    for (int32_t pos : positions) {
      const Site& site = sites[pos];
      if (!site.has) continue;
      for (const StructureResidue* r : by_chain[m.chain_of[site.chain]])
        if (r->aa == site.aa && r->icode == ' ') ++votes[int64_t{r->num} - site.num];
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
