// prefix.html: the profile (the SVG itself), the table, the run record and,
// with a structure, the 3D view; the page's own script builds the table and
// the view from one JSON block, so the numbers are the TSV's, as text.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "fail.hpp"
#include "report/exports.hpp"
#include "report/page.hpp"
#include "report/palette.hpp"

namespace vorn {

extern const char kPageScript[];
extern const char kPageStyle[];

namespace {

constexpr size_t kBest = 10;  // the residues shown as labelled sticks

// Inside a <script> element only "</script" (any case) and "<!--" end or
// change the script; JavaScript reads "<\/" and "<\!--" as the same text.
std::string script_text(const std::string& js) {
  std::string r;
  r.reserve(js.size());
  for (size_t i = 0; i < js.size(); ++i) {
    if (js[i] == '<' && (strncasecmp(js.c_str() + i, "</script", 8) == 0 || js.compare(i, 4, "<!--") == 0)) {
      r += "<\\";
      continue;
    }
    r += js[i];
  }
  return r;
}

// JSON that may sit in a <script> element: '<' never appears as itself
// (it can only stand inside a string, where \u003c reads the same).
std::string script_json(const nlohmann::ordered_json& j) {
  std::string r;
  for (char c : json_text(j)) {
    if (c == '<') r += "\\u003c";
    else r += c;
  }
  return r;
}

// A message without its line end (and the carriage return of a progress line).
std::string line_text(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s.substr(s.find_first_not_of('\r') == std::string::npos ? 0 : s.find_first_not_of('\r'));
}

std::string svg_text(const Results& r) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* mem = open_memstream(&buf, &len);
  write_svg(mem, r);
  std::fclose(mem);
  std::string svg(buf, len);
  std::free(buf);
  const size_t start = svg.find("<svg");  // no XML declaration inside HTML
  return start == std::string::npos ? svg : svg.substr(start);
}

// Where the page's fields sit among the table's (0 when the run has none).
struct PageFields {
  size_t score, entrop, z, p, q, zt, pt, qt;
};

// One result line's object: its site, class and the TSV's numbers as text.
nlohmann::ordered_json page_row(const Results& r, size_t i, const PageExtras& x, const PageFields& at) {
  using json = nlohmann::ordered_json;
  const ResultRow& row = r.rows[i];
  const Site& s = r.sites[static_cast<size_t>(row.f.pos)];
  const std::vector<std::string> f = table_fields(r, i);
  const ColumnClass cls = column_class(row);
  std::string chain = s.chain == ' ' ? "" : std::string(1, s.chain), shown = chain;
  if (x.match && s.has) {
    auto it = x.match->chain_of.find(s.chain);
    if (it != x.match->chain_of.end()) shown = it->second;
  }
  json o;
  o["nr"] = row.f.pos;
  o["aa"] = std::string(1, s.has ? s.aa : r.record.reference_row != 1 || row.f.aa == '.' ? '-' : row.f.aa);
  o["label"] = site_label(s, s.has ? s.aa : row.f.aa, row.f.pos);
  o["cls"] = cls == ColumnClass::Scored ? "s" : cls == ColumnClass::Conserved ? "c" : "u";
  o["num"] = s.has ? json(s.num) : json(nullptr);
  o["chain"] = chain;
  o["schain"] = shown;
  o["score"] = f[at.score];
  o["entrop"] = f[at.entrop];
  o["grade"] = r.grade[i];
  o["insufficient"] = r.insufficient[i] != 0;
  o["residues"] = r.residues[i];
  if (r.record.nsuffl > 0) o["z"] = f[at.z], o["p"] = f[at.p], o["q"] = f[at.q];
  if (r.record.ntree > 0) o["zt"] = f[at.zt], o["pt"] = f[at.pt], o["qt"] = f[at.qt];
  return o;
}

// The data block: the run, one object per result line, and the structure.
std::string page_data(const Results& r, const PageExtras& x) {
  using json = nlohmann::ordered_json;
  const RunRecord& info = r.record;
  const std::vector<const TableColumn*> columns = table_columns(info);
  auto at = [&](const char* name) { return table_column(columns, name); };
  const bool shuffled = info.nsuffl > 0, tree = info.ntree > 0;
  const PageFields fields{at("KLB_VAL"),
                          at("entrop"),
                          shuffled ? at("Zscr_pos") : 0,
                          shuffled ? at("Pval_pos_p1") : 0,
                          shuffled ? at("qval_pos") : 0,
                          tree ? at("Zscr_tree") : 0,
                          tree ? at("Pval_tree") : 0,
                          tree ? at("qval_tree") : 0};
  json d;
  d["name"] = info.aln_name;
  d["score"] = score_name(info);
  d["shuffled"] = shuffled;
  d["tree"] = tree;
  json rows = json::array();
  std::vector<std::pair<float, size_t>> best;
  for (size_t i = 0; i < r.rows.size(); ++i) {
    const ResultRow& row = r.rows[i];
    if (column_class(row) == ColumnClass::Scored && r.sites[static_cast<size_t>(row.f.pos)].has)
      best.emplace_back(-row.f.score, i);
    rows.push_back(page_row(r, i, x, fields));
  }
  d["rows"] = std::move(rows);
  d["palette"] = info.classic_colours
                     ? json{{"classic", true}, {"conserved", kClassicConserved}, {"selected", kClassicSelected},
                            {"none", kGradePalette.none}}
                     : json{{"classic", false}, {"grades", kGradePalette.grade}, {"conserved", kGradePalette.conserved},
                            {"selected", kGradePalette.selected}, {"none", kGradePalette.none}};
  d["wrong_structure"] = info.wrong_structure();
  json panel = json::array();
  for (const Results::PanelRow& p : r.panel) panel.push_back(json::array({p.protein, p.name, p.residues}));
  d["panel"] = {{"proteins", info.nprot}, {"rows", std::move(panel)}};
  std::sort(best.begin(), best.end());  // by score, ties by column
  json top = json::array();
  for (size_t k = 0; k < std::min(kBest, best.size()); ++k) top.push_back(best[k].second);
  d["best"] = std::move(top);
  if (x.structure && !x.viewer.empty()) {
    // The amino-acid residues as the check read them: only those take a score's colour or select a row.
    json residues = json::array();
    for (const StructureResidue& res : x.structure->residues) residues.push_back(res.chain + "|" + std::to_string(res.num));
    d["structure"] = json{{"format", x.structure->mmcif ? "cif" : "pdb"}, {"residues", std::move(residues)},
                          {"text", x.structure->text}};
  }
  return script_json(d);
}

// The 3D view's colours, as swatches.
std::string legend(const RunRecord& info) {
  auto swatch = [](const char* colour) {
    return strformat("<span class=\"swatch\" style=\"background:%s\"></span>", colour);
  };
  std::string l;
  if (info.wrong_structure()) return swatch(kGradePalette.none) + " not coloured: not this family's structure";
  if (info.classic_colours) {
    l = "<span class=\"ramp\"></span> score -1 to +1 ";
    l += swatch(kClassicConserved) + " conserved " + swatch(kGradePalette.none) + " no score " +
         swatch(kClassicSelected) + " selected";
  } else {
    for (const char* c : kGradePalette.grade) l += strformat("<span class=\"swatch g\" style=\"background:%s\"></span>", c);
    l += " grade 1 to 9 (9: follows the similarity most) " + swatch(kGradePalette.conserved) + " conserved " +
         swatch(kGradePalette.none) + " no score " + swatch(kGradePalette.selected) + " selected";
  }
  return l + "; the ten best residues as labelled sticks";
}

void record_section(FILE* out, const RunRecord& info, const PageExtras& x) {
  std::string cmd;
  for (const std::string& w : info.command) cmd += (cmd.empty() ? "" : " ") + w;
  std::fprintf(out, "<section id=\"record\"><h2>Run record</h2><dl>\n<dt>version</dt><dd>vorn %s</dd>\n",
               xml_text(info.version).c_str());
  std::fprintf(out, "<dt>command</dt><dd><code>%s</code></dd>\n", xml_text(cmd).c_str());
  std::fprintf(out, "<dt>seed</dt><dd>%s</dd>\n",
               info.has_seed ? strformat("%d (from %s)", info.seed, info.seed_from.c_str()).c_str()
                             : "none (no random alignments)");
  std::fprintf(out, "<dt>alignment</dt><dd>%s: %lld proteins, %d columns (%s)</dd>\n", xml_text(info.aln_name).c_str(),
               static_cast<long long>(info.nprot), info.alnlen, xml_text(info.form).c_str());
  std::fprintf(out, "<dt>numbered by</dt><dd>%s</dd>\n", xml_text(info.reference).c_str());
  if (!info.weights.empty()) std::fprintf(out, "<dt>weights</dt><dd>%s</dd>\n", xml_text(info.weights).c_str());
  if (info.ntree > 0) {
    const RunRecord::TreeFit& t = info.tree_fit;
    std::fprintf(out, "<dt>tree null</dt><dd>%s, tree length %.3g substitutions per column, gamma shape %.3g; %lld "
                      "library columns in %d rounds; median Zscr_tree %.2f</dd>\n",
                 xml_text(t.model).c_str(), t.length, t.alpha, static_cast<long long>(t.library), t.rounds, t.median_z);
  }
  if (x.structure)
    std::fprintf(out, "<dt>structure</dt><dd>%s</dd>\n", xml_text(line_text(x.structure->path)).c_str());
  for (const std::string& w : info.warnings)
    std::fprintf(out, "<dt>warning</dt><dd class=\"warning\">%s</dd>\n", xml_text(line_text(w)).c_str());
  std::fputs("</dl></section>\n", out);
}

}  // namespace

void write_html(FILE* out, const Results& r, const PageExtras& x) {
  const RunRecord& info = r.record;
  std::fprintf(out,
               "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<meta name=\"generator\" content=\"vorn %s\">\n<title>vorn: %s</title>\n<style>\n%s</style>\n</head>\n<body>\n",
               xml_text(info.version).c_str(), xml_text(info.aln_name).c_str(), kPageStyle);
  std::fprintf(out, "<header><h1>vorn: %s</h1><p>%s</p></header>\n", xml_text(info.aln_name).c_str(),
               xml_text(run_line(info)).c_str());
  std::fprintf(out,
               "<section id=\"reading\"><p>Each score is %s between the substitution scores of all protein pairs at a "
               "column and the same pairs' overall similarity: near +1 the column's substitutions follow the family's "
               "similarity (a candidate functional or specificity-determining residue), near 0 or below they do not.</p>"
               "<p>%s</p></section>\n",
               info.spearman ? "Spearman's rank correlation" : "Pearson's correlation",
               info.nsuffl > 0 || info.ntree > 0
                   ? "A P-value is the share of random alignments (-S) or of columns evolved along the family's tree "
                     "(-B) that score as high as the column, and its q-value corrects it for the number of columns "
                     "tested: the columns at q 0.05 or less hold about 5 % false finds."
                   : "Without -S or -B the scores carry no significance: rank the columns of this family by them, and "
                     "run -S=1000 or -B=10000 for P- and q-values.");
  if (x.structure) {
    std::fputs("<section id=\"structure\"><h2>Structure</h2>\n", out);
    // Above the view: a reader must meet the warning before the picture.
    if (info.wrong_structure())
      std::fprintf(out,
                   "<p class=\"warning banner\" id=\"wrong-structure\">Not this family's structure: only %d of the %d "
                   "residues addressed are the same amino acid, so it is shown grey, without scores or labels. Check "
                   "the file given with -P, or number by its sequence with -F=name.</p>\n",
                   info.structure_same, info.structure_addressed);
    else if (x.match && !x.match->good())
      std::fputs("<p class=\"warning banner\" id=\"poor-structure\">Fewer than 90 % of the residues addressed are "
                 "the same amino acid in this structure: see below before reading its colours.</p>\n",
                 out);
    if (!x.viewer.empty()) {
      std::fprintf(out, "<div id=\"viewer\"></div>\n<div class=\"legend\">%s</div>\n", legend(info).c_str());
    } else {
      std::fprintf(out, "<p class=\"warning\" id=\"no-viewer\">No 3D view: %s.</p>\n", xml_text(x.no_viewer).c_str());
    }
    std::fprintf(out, "<p id=\"mapping\" class=\"%s\">%s</p>\n</section>\n",
                 x.match && x.match->good() ? "note" : "warning", xml_text(line_text(x.match_line)).c_str());
  } else {
    std::fputs("<section id=\"structure\"><h2>Structure</h2><p class=\"note\" id=\"no-structure\">No structure "
               "given: run again with -P=file (PDB or mmCIF) to see the scores in 3D and to check that the numbering "
               "addresses the structure's residues.</p></section>\n",
               out);
  }
  std::fprintf(out, "<section id=\"profile\"><h2>Profile</h2>\n%s</section>\n", svg_text(r).c_str());
  std::fputs("<section id=\"alignment\"><h2>Alignment</h2><p class=\"note\" id=\"panel-note\">Select a column (in the "
             "table, the profile or the structure) to see its residues and its neighbours in every protein, similar "
             "proteins next to each other.</p><div id=\"panel\"></div></section>\n",
             out);
  std::fputs("<section id=\"results\"><h2>Result lines</h2><div id=\"filters\"></div>\n"
             "<div id=\"table-box\"><table id=\"table\"><thead></thead><tbody></tbody></table></div></section>\n",
             out);
  record_section(out, info, x);
  std::fprintf(out, "<script type=\"application/json\" id=\"vorn-data\">%s</script>\n", page_data(r, x).c_str());
  if (x.structure && !x.viewer.empty()) std::fprintf(out, "<script>\n%s\n</script>\n", script_text(x.viewer).c_str());
  std::fprintf(out, "<script>\n%s</script>\n</body>\n</html>\n", kPageScript);
}

}  // namespace vorn
