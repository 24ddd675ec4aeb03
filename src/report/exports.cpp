#include "report/exports.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "fail.hpp"

namespace vorn {

namespace {

bool graphic(char c) { return c > ' ' && c < 127; }

// Not-a-number prints as "nan" or "-nan" depending on its sign bit; every
// reader takes "nan", and the sign means nothing.
std::string number(const char* fmt, double v) { return std::isnan(v) ? std::string("nan") : strformat(fmt, v); }

// Anything outside printable ASCII (a file name may hold any byte) shown as
// '?': the scripts' comments stay one line, the SVG stays valid.
std::string comment_text(const std::string& s) {
  std::string r;
  for (char c : s) r += (c >= ' ' && c < 127) ? c : '?';
  return r;
}

// Text for XML: printable, with the markup characters escaped.
std::string xml_text(const std::string& s) {
  std::string r;
  for (char c : comment_text(s)) {
    switch (c) {
      case '&': r += "&amp;"; break;
      case '<': r += "&lt;"; break;
      case '>': r += "&gt;"; break;
      case '"': r += "&quot;"; break;
      default: r += c;
    }
  }
  return r;
}

const char* score_name(const ExportInfo& info) {
  return info.spearman ? "Spearman rank correlation" : "Pearson linear correlation";
}

// The label of a column in the plot: residue and residue number, with the
// chain when there is one.
std::string column_label(const LineFields& f) {
  std::string label = graphic(f.chain) ? strformat("%c:", f.chain) : std::string();
  return label + strformat("%c%d", f.aa, f.pdbnum);
}

// Ticks at 1, 2 or 5 times a power of ten, about eight over the range.
double tick_step(double range) {
  double raw = range / 8.0, p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * p >= raw) return m * p;
  return 10.0 * p;
}

struct Panel {
  double left, top, width, height, lo, hi;
  double y(double v) const { return top + height * (hi - std::clamp(v, lo, hi)) / (hi - lo); }
};

void y_axis(FILE* out, const Panel& p, const char* title) {
  const double step = tick_step(p.hi - p.lo);
  for (double v = std::ceil(p.lo / step) * step; v <= p.hi + step * 1e-9; v += step) {
    const double y = p.y(v);
    const double shown = std::fabs(v) < step * 1e-9 ? 0.0 : v;
    std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e4e4e4\"/>\n", p.left, y,
                 p.left + p.width, y);
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" class=\"tick\">%g</text>\n", p.left - 6,
                 y + 4, shown);
  }
  std::fprintf(out,
               "<text transform=\"translate(%.1f,%.1f) rotate(-90)\" text-anchor=\"middle\" "
               "class=\"axis\">%s</text>\n",
               p.left - 48, p.top + p.height / 2, title);
  std::fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"#444\"/>\n",
               p.left, p.top, p.width, p.height);
}

double column_x(const Panel& p, int32_t pos, int32_t alnlen) {
  return p.left + p.width * (pos - 0.5) / std::max(alnlen, 1);
}

// Ticks along the columns; the axis title at title_y when it is above 0.
void x_axis(FILE* out, const Panel& p, int32_t alnlen, double title_y) {
  const double step = std::max(1.0, tick_step(alnlen));
  for (double v = step; v <= alnlen; v += step) {
    const double px = column_x(p, static_cast<int32_t>(v), alnlen);
    std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#444\"/>\n", px,
                 p.top + p.height, px, p.top + p.height + 5);
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" class=\"tick\">%g</text>\n", px,
                 p.top + p.height + 17, v);
  }
  if (title_y > 0)
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" class=\"axis\">alignment column</text>\n",
                 p.left + p.width / 2, title_y);
}

// A polyline through consecutive scored columns; broken where a column is
// skipped or has no score, so that no line bridges missing data.
void profile_line(FILE* out, const ResultRow* rows, int32_t n, const Panel& p, int32_t alnlen) {
  std::string pts;
  int32_t last = -1;
  auto flush = [&] {
    if (std::count(pts.begin(), pts.end(), ' ') > 1)
      std::fprintf(out, "<polyline points=\"%s\" fill=\"none\" stroke=\"#9bb7d4\" stroke-width=\"1\"/>\n",
                   pts.c_str());
    pts.clear();
  };
  for (int32_t i = 0; i < n; ++i) {
    const LineFields& f = rows[i].f;
    if (rows[i].sentinel() || f.pos != last + 1) flush();
    if (!rows[i].sentinel()) pts += strformat("%.1f,%.1f ", column_x(p, f.pos, alnlen), p.y(f.score));
    last = rows[i].sentinel() ? -1 : f.pos;
  }
  flush();
}

}  // namespace

std::vector<Site> residue_sites(bool hssp, const uint8_t* res1, const int32_t* pdbnum, const char* chain,
                                int32_t alnlen) {
  std::vector<Site> sites(static_cast<size_t>(alnlen) + 1);
  int32_t own = 0;
  for (int32_t pos = 1; pos <= alnlen; ++pos) {
    Site& s = sites[pos];
    s.has = res1[pos] != 0;
    if (hssp) {
      s.num = pdbnum[pos];
      // Only letters and digits can be named in a PyMOL or ChimeraX selection.
      s.chain = std::isalnum(static_cast<unsigned char>(chain[pos])) ? chain[pos] : ' ';
    } else {
      own += s.has;
      s.num = own;
    }
  }
  return sites;
}

void write_tsv(FILE* out, const ResultRow* rows, int32_t n, bool extended) {
  std::fputs("nr\taa\tpdbn\tchain\tacc\tentrop\tsecstr\tvar\txx\tKLB_VAL", out);
  std::fputs(extended ? "\tZscr_pos\tPval_pos\tZscr_glob\tPval_glob\n" : "\n", out);
  for (int32_t i = 0; i < n; ++i) {
    const ResultRow& r = rows[i];
    const LineFields& f = r.f;
    // A blank chain is an empty field, not a blank that whitespace splitting
    // would lose; a quote would open a quoted field for CSV readers.
    std::string chain = graphic(f.chain) && f.chain != '"' ? std::string(1, f.chain) : std::string();
    std::fprintf(out, "%d\t%c\t%d\t%s\t%d\t%.3f\t%c\t%d\txx\t%.4f", f.pos, f.aa, f.pdbnum, chain.c_str(), f.acc,
                 static_cast<double>(f.entrop), f.sec_str, f.var, static_cast<double>(f.score));
    if (extended) {
      // A sentinel score has no Z-score: the line's "[]" becomes an empty
      // field; its P fields keep the line's 2.
      std::string zp = r.sentinel() ? "" : number("%.4f", r.z_pos);
      std::string zg = r.sentinel() ? "" : number("%.4f", r.z_glob);
      std::fprintf(out, "\t%s\t%e\t%s\t%e", zp.c_str(), r.p_pos, zg.c_str(), r.p_glob);
    }
    std::fputc('\n', out);
  }
}

namespace {

// The profile's layout, in SVG user units.
constexpr double kWidth = 1000, kLeft = 80, kRight = 30;
constexpr double kScoreTop = 70, kScoreHeight = 260;
constexpr double kBandBelow = 40;   // from the score panel's foot to the row of "no score" marks
constexpr double kZBelow = 70;      // from that row to the Z panel
constexpr double kZHeight = 180, kFoot = 50;
constexpr double kMark = 2.5, kDenseMark = 1.5;  // dot radius; smaller beyond kDenseColumns
constexpr int32_t kDenseColumns = 600;
constexpr size_t kLabelled = 10;                  // the best columns get a label
constexpr double kLabelRise = 6, kLabelStagger = 10;
constexpr double kSignificant = 0.05;

struct Layout {
  Panel score, z;
  double band = 0, height = 0, mark = 0;
};

Layout svg_layout(const ResultRow* rows, int32_t n, const ExportInfo& info) {
  Layout l;
  // The score axis spans the scores (and 0), in tenths, within -1..1.
  l.score = Panel{kLeft, kScoreTop, kWidth - kLeft - kRight, kScoreHeight, 0.0, 0.0};
  for (int32_t i = 0; i < n; ++i) {
    if (rows[i].sentinel()) continue;
    l.score.lo = std::min(l.score.lo, static_cast<double>(rows[i].f.score));
    l.score.hi = std::max(l.score.hi, static_cast<double>(rows[i].f.score));
  }
  l.score.lo = std::max(-1.0, std::floor(l.score.lo * 10 - 1) / 10);
  l.score.hi = std::min(1.0, std::ceil(l.score.hi * 10 + 1) / 10);
  l.band = l.score.top + l.score.height + kBandBelow;
  l.z = Panel{kLeft, l.band + kZBelow, l.score.width, kZHeight, 0.0, 2.0};
  l.height = info.nsuffl > 0 ? l.z.top + l.z.height + kFoot : l.band + kBandBelow;
  l.mark = info.alnlen > kDenseColumns ? kDenseMark : kMark;
  return l;
}

void svg_head(FILE* out, const Layout& l, const ResultRow* rows, int32_t n, const ExportInfo& info) {
  std::fprintf(out,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
               "font-family=\"Helvetica, Arial, sans-serif\">\n",
               kWidth, l.height, kWidth, l.height);
  std::fputs(
      "<style>.tick{font-size:11px;fill:#333}.axis{font-size:13px;fill:#111}.label{font-size:10px;fill:#000}"
      ".note{font-size:11px;fill:#555}</style>\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n",
      out);
  int32_t nsent = 0;
  for (int32_t i = 0; i < n; ++i) nsent += rows[i].sentinel();
  std::fprintf(out, "<text x=\"%.0f\" y=\"28\" font-size=\"17\" font-weight=\"bold\">vorn: %s</text>\n", kLeft,
               xml_text(info.aln_name).c_str());
  std::string sub = strformat("%s per alignment column; %d of %d columns scored", score_name(info), n, info.alnlen);
  if (nsent > 0) sub += strformat(", %d without a score", nsent);
  if (info.nsuffl > 0)
    sub += strformat("; %lld random alignment%s", static_cast<long long>(info.nsuffl), info.nsuffl == 1 ? "" : "s");
  std::fprintf(out, "<text x=\"%.0f\" y=\"50\" class=\"note\">%s</text>\n", kLeft, sub.c_str());
}

// One mark per result line: a dot for a score (red when significant in a
// shuffled run), a grey cross in the band below the axis for a sentinel
// (-2: no spread, -3: 10 or fewer pairs).
void score_panel(FILE* out, const Layout& l, const ResultRow* rows, int32_t n, const ExportInfo& info) {
  const Panel& p = l.score;
  y_axis(out, p, "score");
  std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#888\"/>\n", p.left, p.y(0),
               p.left + p.width, p.y(0));
  x_axis(out, p, info.alnlen, info.nsuffl > 0 ? 0.0 : l.band + 30);
  std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" class=\"note\">no score</text>\n", kLeft - 6,
               l.band + 4);
  profile_line(out, rows, n, p, info.alnlen);
  for (int32_t i = 0; i < n; ++i) {
    const ResultRow& row = rows[i];
    const LineFields& f = row.f;
    const double x = column_x(p, f.pos, info.alnlen);
    const std::string tip = xml_text(strformat("column %d, %s: %.4f", f.pos, column_label(f).c_str(),
                                               static_cast<double>(f.score)));
    if (row.sentinel()) {
      std::fprintf(out,
                   "<path class=\"mark sentinel\" data-nr=\"%d\" d=\"M%.1f %.1fl5 5m0 -5l-5 5\" stroke=\"#999\">"
                   "<title>%s</title></path>\n",
                   f.pos, x - 2.5, l.band - 2.5, tip.c_str());
    } else {
      const bool significant = info.nsuffl > 0 && row.p_pos <= kSignificant;
      std::fprintf(out,
                   "<circle class=\"mark score\" data-nr=\"%d\" cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"%s\">"
                   "<title>%s</title></circle>\n",
                   f.pos, x, p.y(f.score), l.mark, significant ? "#c62828" : "#1f5f99", tip.c_str());
    }
  }
}

// The best columns by score, ties by column, labelled above their marks.
void top_labels(FILE* out, const Panel& p, const ResultRow* rows, int32_t n, const ExportInfo& info) {
  std::vector<const ResultRow*> best;
  for (int32_t i = 0; i < n; ++i)
    if (!rows[i].sentinel()) best.push_back(&rows[i]);
  const size_t top = std::min(kLabelled, best.size());
  std::partial_sort(best.begin(), best.begin() + static_cast<std::ptrdiff_t>(top), best.end(),
                    [](const ResultRow* a, const ResultRow* b) {
                      return a->f.score != b->f.score ? a->f.score > b->f.score : a->f.pos < b->f.pos;
                    });
  for (size_t k = 0; k < top; ++k) {
    const LineFields& f = best[k]->f;
    std::fprintf(out, "<text class=\"label\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n",
                 column_x(p, f.pos, info.alnlen), p.y(f.score) - kLabelRise - (k % 2) * kLabelStagger,
                 xml_text(column_label(f)).c_str());
  }
}

// Z-scores against each column's own random scores; red where the column's
// P-value is significant.
void z_panel(FILE* out, Panel p, double mark, const ResultRow* rows, int32_t n, const ExportInfo& info) {
  bool any = false;
  for (int32_t i = 0; i < n; ++i) {
    const double z = rows[i].z_pos;
    if (rows[i].sentinel() || !std::isfinite(z)) continue;
    p.lo = std::min(p.lo, z), p.hi = std::max(p.hi, z), any = true;
  }
  const double pad = (p.hi - p.lo) * 0.05;
  p.lo -= pad, p.hi += pad;
  y_axis(out, p, "Z-score (own random scores)");
  x_axis(out, p, info.alnlen, p.top + p.height + 38);
  std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#888\" stroke-dasharray=\"4 3\"/>\n",
               p.left, p.y(2.0), p.left + p.width, p.y(2.0));
  for (int32_t i = 0; i < n; ++i) {
    const ResultRow& row = rows[i];
    if (row.sentinel() || std::isnan(row.z_pos)) continue;
    std::fprintf(out,
                 "<circle class=\"mark z\" data-nr=\"%d\" cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"%s\">"
                 "<title>column %d: Z %s, P %s</title></circle>\n",
                 row.f.pos, column_x(p, row.f.pos, info.alnlen), p.y(row.z_pos), mark,
                 row.p_pos <= kSignificant ? "#c62828" : "#1f5f99", row.f.pos, number("%.4f", row.z_pos).c_str(),
                 strformat("%.3g", row.p_pos).c_str());
  }
  const char* note = any ? "red: P-value 0.05 or less against the column's own random scores; dashed line: Z = 2"
                         : "no finite Z-score: with one random alignment, or random scores without spread, Z is "
                           "not defined";
  std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" class=\"note\">%s</text>\n", p.left, p.top - 8, note);
}

}  // namespace

void write_svg(FILE* out, const ResultRow* rows, int32_t n, const ExportInfo& info) {
  const Layout l = svg_layout(rows, n, info);
  svg_head(out, l, rows, n, info);
  score_panel(out, l, rows, n, info);
  top_labels(out, l.score, rows, n, info);
  if (info.nsuffl > 0) z_panel(out, l.z, l.mark, rows, n, info);
  std::fputs("</svg>\n", out);
}

namespace {

// The residues of the columns with a real score, in column order.
template <class Visit>
void scored_sites(const ResultRow* rows, int32_t n, const std::vector<Site>& sites, Visit visit) {
  for (int32_t i = 0; i < n; ++i) {
    const LineFields& f = rows[i].f;
    if (rows[i].sentinel() || f.pos < 1 || static_cast<size_t>(f.pos) >= sites.size() || !sites[f.pos].has) continue;
    visit(sites[f.pos], f.score);
  }
}

// PyMOL reads a leading '-' in a residue number as a range unless escaped.
std::string pymol_resi(int32_t num) { return num < 0 ? strformat("\\%d", num) : strformat("%d", num); }

std::string pymol_selection(const Site& s) {
  return s.chain == ' ' ? "resi " + pymol_resi(s.num) : strformat("chain %c and resi ", s.chain) + pymol_resi(s.num);
}

}  // namespace

void write_pml(FILE* out, const ResultRow* rows, int32_t n, const std::vector<Site>& sites, const ExportInfo& info) {
  const std::string name = comment_text(info.aln_name);
  std::fprintf(out,
               "# vorn scores (%s) of %s on the residues of its first sequence.\n"
               "# Load the structure first, then run this file: @file.pml at the PyMOL prompt, or File > Run Script.\n"
               "# B-factors are replaced: a scored residue gets its score, every other atom -9.\n"
               "# Colours: blue (-1) through white (0) to red (+1); grey: no score.\n",
               score_name(info), name.c_str());
  std::fputs("alter all, b=-9\n", out);
  scored_sites(rows, n, sites, [&](const Site& s, float score) {
    std::fprintf(out, "alter (%s), b=%.4f\n", pymol_selection(s).c_str(), static_cast<double>(score));
  });
  // The scored residues as one selection, built a few at a time to keep the
  // command lines short.
  std::fputs("select vorn_scored, none\n", out);
  std::string part;
  int count = 0;
  auto flush = [&] {
    if (!part.empty()) std::fprintf(out, "select vorn_scored, vorn_scored or %s\n", part.c_str());
    part.clear();
    count = 0;
  };
  scored_sites(rows, n, sites, [&](const Site& s, float) {
    part += (part.empty() ? "(" : " or (") + pymol_selection(s) + ")";
    if (++count == 40) flush();
  });
  flush();
  std::fputs(
      "color grey70, all\n"
      "spectrum b, blue_white_red, vorn_scored, minimum=-1, maximum=1\n"
      "deselect\n",
      out);
}

void write_defattr(FILE* out, const ResultRow* rows, int32_t n, const std::vector<Site>& sites,
                   const ExportInfo& info) {
  std::fprintf(out,
               "# vorn scores (%s) of %s on the residues of its first sequence.\n"
               "# In ChimeraX, with the structure open:\n"
               "#   open this_file.defattr\n"
               "#   color byattribute r:vorn_score palette -1,blue:0,white:1,red noValueColor gray\n"
               "attribute: vorn_score\n"
               "recipient: residues\n"
               "match mode: any\n",
               score_name(info), comment_text(info.aln_name).c_str());
  scored_sites(rows, n, sites, [&](const Site& s, float score) {
    std::string atoms = s.chain == ' ' ? strformat(":%d", s.num) : strformat("/%c:%d", s.chain, s.num);
    std::fprintf(out, "\t%s\t%.4f\n", atoms.c_str(), static_cast<double>(score));
  });
}

ExportFiles::ExportFiles(const std::string& prefix) {
  for (const char* ext : {".tsv", ".svg", ".pml", ".defattr"}) {
    Part p{prefix + ext + ".part", nullptr};
    p.f = std::fopen(p.path.c_str(), "w");
    if (!p.f) fail("** Error: can't write '%s': %s.\n", p.path.c_str(), std::strerror(errno));
    parts_.push_back(p);
  }
}

ExportFiles::~ExportFiles() {
  for (Part& p : parts_) {
    if (p.f) std::fclose(p.f);
    std::remove(p.path.c_str());
  }
}

void ExportFiles::write(const ResultRow* rows, int32_t n, const std::vector<Site>& sites, const ExportInfo& info) {
  write_tsv(parts_[0].f, rows, n, info.nsuffl > 0);
  write_svg(parts_[1].f, rows, n, info);
  write_pml(parts_[2].f, rows, n, sites, info);
  write_defattr(parts_[3].f, rows, n, sites, info);
  for (Part& p : parts_) {
    const bool bad = std::ferror(p.f) != 0;
    errno = 0;
    const bool closed = std::fclose(p.f) == 0;
    p.f = nullptr;
    if (bad || !closed) {
      const int e = errno ? errno : EIO;
      fail("** Error: can't write '%s': %s.\n", p.path.c_str(), std::strerror(e));
    }
  }
  for (Part& p : parts_) {
    const std::string final_path = p.path.substr(0, p.path.size() - 5);
    if (std::rename(p.path.c_str(), final_path.c_str()) != 0)
      fail("** Error: can't rename '%s' to '%s': %s.\n", p.path.c_str(), final_path.c_str(), std::strerror(errno));
  }
  parts_.clear();
}

}  // namespace vorn
