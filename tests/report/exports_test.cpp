// The -O export files, checked against what the same run printed and against
// the alignment files themselves, read here independently of the readers.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "support/harness.hpp"

namespace vorn::test {
namespace {

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> v;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      v.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  v.push_back(cur);
  return v;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// A result line's fields by whitespace; a blank chain gives no token, so the
// fields before the "xx" marker tell whether there is one.
std::vector<std::string> line_fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> t;
  for (std::string w; in >> w;) t.push_back(w);
  auto xx = std::find(t.begin(), t.end(), "xx");
  if (xx - t.begin() == 7) t.insert(t.begin() + 3, "");
  for (size_t i = 10; i < t.size(); ++i) {
    if (t[i] == "[]") t[i] = "";
    if (t[i] == "-nan") t[i] = "nan";
  }
  return t;
}

const std::string kExamples = std::string(VORN_TEST_DATA) + "/../../examples/";

struct Exports {
  Outcome run;
  std::string tsv, svg, pml, defattr;
};

Exports run_with_exports(const TempDir& dir, std::vector<std::string> args) {
  const std::string prefix = dir.path() + "/x";
  args.push_back("-O=" + prefix);
  Exports e{run_vorn(args), "", "", "", ""};
  e.tsv = read_file(prefix + ".tsv");
  e.svg = read_file(prefix + ".svg");
  e.pml = read_file(prefix + ".pml");
  e.defattr = read_file(prefix + ".defattr");
  return e;
}

// The residues each export file addresses, "chain:number" -> score text,
// from "alter (chain A and resi 12), b=0.5" and "<TAB>/A:12<TAB>0.5" lines.
std::map<std::string, std::string> pml_sites(const std::string& pml) {
  std::map<std::string, std::string> m;
  for (const std::string& l : lines_of(pml)) {
    char chain = 0;
    char num[32], score[32];
    if (std::sscanf(l.c_str(), "alter (chain %c and resi %31[-0-9\\]), b=%31s", &chain, num, score) == 3 ||
        std::sscanf(l.c_str(), "alter (resi %31[-0-9\\]), b=%31s", num, score) == 2) {
      std::string n = num[0] == '\\' ? num + 1 : num;
      m[(chain ? std::string(1, chain) : "") + ":" + n] = score;
    }
  }
  return m;
}

std::map<std::string, std::string> defattr_sites(const std::string& text) {
  std::map<std::string, std::string> m;
  bool score = false;
  for (const std::string& l : lines_of(text)) {
    if (l.rfind("attribute: ", 0) == 0) score = l == "attribute: vorn_score";
    auto f = split(l, '\t');
    if (!score) continue;
    if (f.size() != 3 || !f[0].empty()) continue;
    const std::string& atoms = f[1];
    const size_t colon = atoms.find(':');
    m[(atoms[0] == '/' ? atoms.substr(1, colon - 1) : "") + atoms.substr(colon)] = f[2];
  }
  return m;
}

// What the scripts must address: every result line with a real score whose
// column holds a residue of protein 1, at the residue given by site(pos).
template <class Site>
std::map<std::string, std::string> expected_sites(const std::string& out, Site site) {
  std::map<std::string, std::string> m;
  for (const std::string& l : lines_of(out)) {
    auto f = line_fields(l);
    if (std::stof(f[9]) < -1) continue;
    std::string where = site(std::stoi(f[0]));
    if (!where.empty()) m[where] = f[9];
  }
  return m;
}

TEST(Exports, StructureScriptsAddressTheRightResidues) {
  TempDir dir;
  const std::string mat = test_data("raw_blosum62_tri.txt");

  // HSSP with chains A and B and a chain-break line: PDB number and chain
  // come from the position lines of the first block.
  const std::string hssp = kExamples + "1hpv_n25.hssp";
  std::vector<std::string> hlines = lines_of(read_file(hssp));
  auto block = std::find_if(hlines.begin(), hlines.end(), [](auto& l) { return l.rfind("## ALIGNMENTS", 0) == 0; });
  ASSERT_NE(block, hlines.end());
  auto hssp_site = [&](int pos) -> std::string {
    const std::string& l = *(block + 1 + pos);
    if (!std::isalpha(static_cast<unsigned char>(l[14]))) return "";
    return std::string(1, l[12]) + ":" + std::to_string(std::stoi(l.substr(7, 5)));
  };

  // A '>' file whose first sequence has gaps, an X and a lower-case letter:
  // its own numbering counts letters only. Column 3 is a gap in protein 1
  // alone (1 of 12, scored).
  const std::vector<std::string> rows = {"AV-XLaGKTE", "AVIYLAGKSE", "AVLYIAGRSD", "SVIFIAGRSD", "SVIFIAARSD",
                                         "TVWWMASKTE", "TVWWMSSKTE", "GVYYMSSRTD", "GVYYVSAKTQ", "GVFFVTAKNQ",
                                         "PVFFVTARNQ", "PVMMVTARNE"};
  std::string fa;
  for (size_t i = 0; i < rows.size(); ++i) fa += ">p" + std::to_string(i) + "\n" + rows[i] + "\n";
  const std::string gapped = dir.write("gapped.fa", fa);
  auto fasta_site = [&](int pos) -> std::string {
    const std::string& r = rows[0];
    if (!std::isalpha(static_cast<unsigned char>(r[pos - 1]))) return "";
    return ":" + std::to_string(std::count_if(r.begin(), r.begin() + pos, [](char c) { return std::isalpha(c); }));
  };
  // Pfam's name suffix: the first residue is 418, and the row starts with gaps.
  std::vector<std::string> pfam_rows = rows;
  pfam_rows[0] = "--VXLaGKTE";
  std::string pf = ">LAR_DROME/418-503 x\n" + pfam_rows[0] + "\n";
  for (size_t i = 1; i < rows.size(); ++i) pf += ">p" + std::to_string(i) + "\n" + rows[i] + "\n";
  const std::string pfam = dir.write("pfam.fa", pf);
  auto pfam_site = [&](int pos) -> std::string {
    const std::string& r = pfam_rows[0];
    if (!std::isalpha(static_cast<unsigned char>(r[pos - 1]))) return "";
    return ":" + std::to_string(417 + std::count_if(r.begin(), r.begin() + pos, [](char c) { return std::isalpha(c); }));
  };

  struct Case {
    std::string aln;
    std::function<std::string(int)> site;
    size_t at_least;
  };
  for (const Case& c : {Case{hssp, hssp_site, 100}, Case{gapped, fasta_site, 8}, Case{pfam, pfam_site, 7}}) {
    Exports e = run_with_exports(dir, {c.aln, mat});
    ASSERT_EQ(e.run.status, 0) << e.run.out;
    const auto want = expected_sites(e.run.out, c.site);
    EXPECT_GE(want.size(), c.at_least) << c.aln;
    EXPECT_EQ(pml_sites(e.pml), want) << c.aln;
    EXPECT_EQ(defattr_sites(e.defattr), want) << c.aln;
    // The table's resnum and the profile's labels use the same numbering.
    const auto out = lines_of(e.run.out), tsv = lines_of(e.tsv);
    for (size_t i = 0; i < out.size(); ++i) {
      const auto f = line_fields(out[i]);
      const std::string where = c.site(std::stoi(f[0]));
      EXPECT_EQ(split(tsv[i + 1], '\t')[10], where.empty() ? "" : where.substr(where.find(':') + 1)) << out[i];
    }
    for (size_t at = e.svg.find("class=\"label\""); at != std::string::npos; at = e.svg.find("class=\"label\"", at + 1)) {
      const std::string text = e.svg.substr(e.svg.find('>', at) + 1, e.svg.find('<', at) - e.svg.find('>', at) - 1);
      if (text.rfind("column ", 0) == 0) continue;  // protein 1 has no residue there
      EXPECT_NE(pml_sites(e.pml).count(text.find(':') == std::string::npos ? ":" + text.substr(1)
                                                                              : text.substr(0, 2) + text.substr(3)),
                0u)
          << "label " << text << " names no scored residue";
    }
    // The colouring covers exactly the scored residues.
    EXPECT_EQ(e.pml.find("alter all, b=-9\n") < e.pml.find("alter ("), true);
    EXPECT_NE(e.pml.find("spectrum b, blue_white_red, vorn_scored, minimum=-1, maximum=1\n"), std::string::npos);
  }
}

// A chain character that would open a quoted field in a CSV reader is
// written as an empty field, like a blank chain.
TEST(Exports, QuoteChainIsAnEmptyField) {
  TempDir dir;
  std::string hssp = read_file(test_data("1a1p_n4.hssp"));
  const size_t block = hssp.find("## ALIGNMENTS");
  for (size_t at = hssp.find('\n', hssp.find('\n', block) + 1); at + 13 < hssp.size() && hssp[at + 1] != '#';
       at = hssp.find('\n', at + 1))
    hssp[at + 1 + 12] = '"';
  const Outcome r = run_vorn({dir.write("q.hssp", hssp), test_data("raw_blosum62_tri.txt"), "-O=" + dir.path() + "/x"});
  ASSERT_EQ(r.status, 0) << r.out;
  const auto rows = lines_of(read_file(dir.path() + "/x.tsv"));
  ASSERT_GT(rows.size(), 1u);
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(split(rows[i], '\t').at(3), "") << rows[i];
}

// Two runs given the same prefix at once leave the complete set of one of
// them, never a mix, and no temporary file.
TEST(Exports, ConcurrentRunsLeaveOneWholeSet) {
  const std::string fn3 = test_data("fn3.fa"), mat = test_data("raw_blosum62_tri.txt");
  TempDir refs;
  std::map<std::string, std::string> table;  // seed -> the table of a run alone
  for (const char* seed : {"1", "2"}) {
    run_vorn({fn3, mat, "-S=3", std::string("-R=") + seed, "-O=" + refs.path() + "/r" + seed});
    table[seed] = read_file(refs.path() + "/r" + seed + ".tsv");
  }
  for (int attempt = 0; attempt < 10; ++attempt) {
    TempDir dir;
    const std::string prefix = dir.path() + "/x";
    const std::string cmd = "$VORN " + fn3 + " " + mat + " -S=3 -O=" + prefix;
    run_vorn({}, via_shell(cmd + " -R=1 >/dev/null 2>&1 & " + cmd + " -R=2 >/dev/null 2>&1; wait"));
    const std::string json = read_file(prefix + ".json");
    const std::string seed = json.find("\"seed\": 1,") != std::string::npos ? "1" : "2";
    EXPECT_EQ(read_file(prefix + ".tsv"), table[seed]) << attempt;
    for (const char* ext : {".svg", ".pml", ".defattr"})
      EXPECT_NE(read_file(prefix + ext).find("seed " + seed + " (from -R)"), std::string::npos) << ext << attempt;
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 5u) << "a temporary file is left, attempt " << attempt;
  }
}

}  // namespace
}  // namespace vorn::test
