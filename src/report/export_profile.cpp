// The score profile as SVG: the score of every column along the alignment,
// the best columns labelled, conserved and unscored columns in a band below,
// and with -S the Z-scores, significant columns in red. Long families are
// wrapped into strips of at most kStripColumns columns.
#include <algorithm>
#include <cmath>

#include "fail.hpp"
#include "report/exports.hpp"
#include "report/palette.hpp"

namespace vorn {

namespace {

// Layout, in SVG user units.
constexpr double kWidth = 1000, kLeft = 80, kRight = 30;
constexpr double kHeadHeight = 94;         // title, subtitle and legend (two rows at most)
constexpr double kLabelRow = 13;           // one row of labels above a score panel
constexpr double kScoreHeight = 220, kZHeight = 140;
constexpr double kTicks = 24;              // x ticks below a panel
constexpr double kBandHeight = 22;         // the row of conserved and unscored marks
constexpr double kStripGap = 26;
constexpr int32_t kStripColumns = 600;     // wider families are wrapped
constexpr double kMark = 2.5, kDenseMark = 1.6;
constexpr size_t kLabelled = 10;
constexpr double kCharWidth = 7.0;         // a generous width per label character at 10px
constexpr double kSignificant = 0.05;

// -C=classic: blue marks, red where significant, green triangles.
const char* const kBlue = "#1f5f99";
const char* const kRed = "#c62828";
const char* const kGreen = "#2e7d32";
const char* const kGrey = "#8a8a8a";
// By grade, significant marks are larger and outlined instead of red.
constexpr double kSignificantMark = 1.6;

struct Panel {
  double left, top, width, height, lo, hi;
  int32_t first, last;  // the columns it shows
  double y(double v) const { return top + height * (hi - std::clamp(v, lo, hi)) / (hi - lo); }
  double x(int32_t pos) const { return left + width * (pos - first + 0.5) / (last - first + 1); }
  bool shows(int32_t pos) const { return pos >= first && pos <= last; }
};

// Ticks at 1, 2 or 5 times a power of ten, about eight over the range.
double tick_step(double range) {
  const double raw = range / 8.0, p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * p >= raw) return m * p;
  return 10.0 * p;
}

void y_axis(FILE* out, const Panel& p, const char* title) {
  const double step = tick_step(p.hi - p.lo);
  for (double v = std::ceil(p.lo / step) * step; v <= p.hi + step * 1e-9; v += step) {
    const double y = p.y(v), shown = std::fabs(v) < step * 1e-9 ? 0.0 : v;
    std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e4e4e4\"/>\n", p.left, y,
                 p.left + p.width, y);
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" class=\"tick\">%g</text>\n", p.left - 6,
                 y + 4, shown);
  }
  std::fprintf(out,
               "<text transform=\"translate(%.1f,%.1f) rotate(-90)\" text-anchor=\"middle\" class=\"axis\">%s</text>\n",
               p.left - 48, p.top + p.height / 2, title);
  std::fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"#444\"/>\n",
               p.left, p.top, p.width, p.height);
}

void x_axis(FILE* out, const Panel& p) {
  const double step = std::max(1.0, tick_step(p.last - p.first + 1));
  for (double v = std::ceil(p.first / step) * step; v <= p.last; v += step) {
    const double px = p.x(static_cast<int32_t>(v));
    std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#444\"/>\n", px,
                 p.top + p.height, px, p.top + p.height + 5);
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" class=\"tick\">%g</text>\n", px,
                 p.top + p.height + 17, v);
  }
}

// A polyline through consecutive scored columns; broken where a column is
// skipped or has no score, so that no line bridges missing data.
void profile_line(FILE* out, const ResultRow* rows, int32_t n, const Panel& p) {
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
    if (!p.shows(f.pos)) continue;
    if (rows[i].sentinel() || f.pos != last + 1) flush();
    if (!rows[i].sentinel()) pts += strformat("%.1f,%.1f ", p.x(f.pos), p.y(f.score));
    last = rows[i].sentinel() ? -1 : f.pos;
  }
  flush();
}

struct Context {
  const ResultRow* rows;
  int32_t n;
  const std::vector<Site>& sites;
  const RunRecord& info;
  std::vector<Honest> honest;
  std::vector<const ResultRow*> at;  // the result line of each column, or null (10 % gaps or more)
  double lo = 0, hi = 0;             // the score axis
  double zlo = 0, zhi = 2;           // the Z axis
  double mark = kMark;
  std::vector<TreeNullValue> tree;  // -B: red by its q-values instead
  const std::vector<int>& grade;
  bool significant(int32_t i) const {
    if (!tree.empty()) return tree[i].has && tree[i].q <= kSignificant;
    return !honest.empty() && honest[i].q <= kSignificant;
  }
  bool marks_red() const { return info.nsuffl > 0 || !tree.empty(); }
  const char* conserved() const { return info.classic_colours ? kGreen : kGradePalette.conserved; }
  // A score's mark: its fill, outline and radius.
  std::string mark_style(int32_t i) const {
    if (info.classic_colours) return strformat("r=\"%.1f\" fill=\"%s\"", mark, significant(i) ? kRed : kBlue);
    const int g = std::clamp(grade[static_cast<size_t>(i)], 1, 9);
    return significant(i) ? strformat("r=\"%.1f\" fill=\"%s\" stroke=\"#000\" stroke-width=\"1.2\"",
                                      mark * kSignificantMark, kGradePalette.grade[g - 1])
                          : strformat("r=\"%.1f\" fill=\"%s\" stroke=\"#555\" stroke-width=\"0.4\"", mark,
                                      kGradePalette.grade[g - 1]);
  }
};

// The best columns by score (ties by column), placed in rows above the score
// panel so that no two overlap and none leaves the panel's width.
struct Label {
  int32_t i;       // result line
  double x, w;     // centre and width
  int row;
};

std::vector<Label> place_labels(const Context& c, const Panel& p) {
  std::vector<int32_t> best;
  for (int32_t i = 0; i < c.n; ++i)
    if (!c.rows[i].sentinel()) best.push_back(i);
  const size_t top = std::min(kLabelled, best.size());
  std::partial_sort(best.begin(), best.begin() + static_cast<std::ptrdiff_t>(top), best.end(), [&](int32_t a, int32_t b) {
    const LineFields &fa = c.rows[a].f, &fb = c.rows[b].f;
    return fa.score != fb.score ? fa.score > fb.score : fa.pos < fb.pos;
  });
  best.resize(top);
  std::sort(best.begin(), best.end(), [&](int32_t a, int32_t b) { return c.rows[a].f.pos < c.rows[b].f.pos; });
  std::vector<Label> labels;
  std::vector<double> row_end;  // right edge of the last label of each row
  for (int32_t i : best) {
    const LineFields& f = c.rows[i].f;
    if (!p.shows(f.pos)) continue;
    const double w = kCharWidth * static_cast<double>(site_label(c.sites[f.pos], residue_letter(c.info, c.sites[f.pos], f), f.pos).size()) + 4;
    const double x = std::clamp(p.x(f.pos), p.left + w / 2, p.left + p.width - w / 2);
    size_t row = 0;
    while (row < row_end.size() && row_end[row] + 4 > x - w / 2) ++row;
    if (row == row_end.size()) row_end.push_back(0);
    row_end[row] = x + w / 2;
    labels.push_back(Label{i, x, w, static_cast<int>(row)});
  }
  return labels;
}

std::string tip(const Context& c, int32_t i) {
  const LineFields& f = c.rows[i].f;
  std::string t = strformat("column %d, %s: %.4f", f.pos, site_label(c.sites[f.pos], residue_letter(c.info, c.sites[f.pos], f), f.pos).c_str(),
                            static_cast<double>(f.score));
  if (!c.honest.empty() && !c.rows[i].sentinel())
    t += strformat(", Z %.2f, q %.3g", c.rows[i].z_pos, c.honest[i].q);
  if (!c.tree.empty() && c.tree[i].has) t += strformat(", tree Z %.2f, tree q %.3g", c.tree[i].z, c.tree[i].q);
  return xml_text(t);
}

// One strip: labels, the score panel, the band of columns without a score
// and, with -S, the Z panel. Returns the strip's height.
// Kept whole: the strip's axes, marks and labels share one layout, drawn in order.
double strip(FILE* out, const Context& c, int32_t first, int32_t last, double top) {
  // Labels depend on the columns' x only, not on the panel's height.
  const std::vector<Label> labels = place_labels(c, Panel{kLeft, 0, kWidth - kLeft - kRight, 1, 0, 1, first, last});
  int nlabel_rows = 0;
  for (const Label& l : labels) nlabel_rows = std::max(nlabel_rows, l.row + 1);
  const double width = kWidth - kLeft - kRight;
  Panel p{kLeft, top + nlabel_rows * kLabelRow + 8, width, kScoreHeight, c.lo, c.hi, first, last};
  y_axis(out, p, "score");
  std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#888\"/>\n", p.left, p.y(0),
               p.left + p.width, p.y(0));
  x_axis(out, p);
  profile_line(out, c.rows, c.n, p);
  const double band = p.top + p.height + kTicks + kBandHeight / 2;
  std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" class=\"note\">no score</text>\n", kLeft - 6,
               band + 4);
  for (int32_t pos = first; pos <= last; ++pos) {
    if (c.at[pos] != nullptr) continue;
    std::fprintf(out,
                 "<path class=\"gappy\" data-nr=\"%d\" d=\"M%.1f %.1fl3 3m0 -3l-3 3\" stroke=\"%s\" stroke-width=\"0.8\">"
                 "<title>column %d: 10 %% gaps or more</title></path>\n",
                 pos, p.x(pos) - 1.5, band - 1.5, kGrey, pos);
  }
  for (int32_t i = 0; i < c.n; ++i) {
    const LineFields& f = c.rows[i].f;
    if (!p.shows(f.pos)) continue;
    const double x = p.x(f.pos);
    switch (column_class(c.rows[i])) {
      case ColumnClass::Scored:
        std::fprintf(out,
                     "<circle class=\"mark score\" data-nr=\"%d\" cx=\"%.1f\" cy=\"%.1f\" %s>"
                     "<title>%s</title></circle>\n",
                     f.pos, x, p.y(f.score), c.mark_style(i).c_str(), tip(c, i).c_str());
        break;
      case ColumnClass::Conserved:
        std::fprintf(out,
                     "<path class=\"mark conserved\" data-nr=\"%d\" d=\"M%.1f %.1fl3 5h-6z\" fill=\"%s\">"
                     "<title>%s (conserved: no spread)</title></path>\n",
                     f.pos, x, band - 3, c.conserved(), tip(c, i).c_str());
        break;
      case ColumnClass::Unscored:
        std::fprintf(out,
                     "<path class=\"mark sentinel\" data-nr=\"%d\" d=\"M%.1f %.1fl5 5m0 -5l-5 5\" stroke=\"%s\">"
                     "<title>%s (10 or fewer pairs)</title></path>\n",
                     f.pos, x - 2.5, band - 2.5, kGrey, tip(c, i).c_str());
        break;
    }
  }
  for (const Label& l : labels) {
    const LineFields& f = c.rows[l.i].f;
    const double baseline = top + (nlabel_rows - l.row) * kLabelRow;
    std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#bbb\" stroke-width=\"0.6\"/>\n",
                 l.x, baseline + 2, p.x(f.pos), p.y(f.score) - c.mark - 1);
    std::fprintf(out, "<text class=\"label\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n", l.x, baseline,
                 xml_text(site_label(c.sites[f.pos], residue_letter(c.info, c.sites[f.pos], f), f.pos)).c_str());
  }
  double bottom = band + kBandHeight / 2;
  if (c.info.nsuffl > 0) {
    Panel z{kLeft, bottom + 12, width, kZHeight, c.zlo, c.zhi, first, last};
    y_axis(out, z, "Z (own random scores)");
    x_axis(out, z);
    std::fprintf(out,
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#888\" stroke-dasharray=\"4 3\"/>\n",
                 z.left, z.y(2.0), z.left + z.width, z.y(2.0));
    for (int32_t i = 0; i < c.n; ++i) {
      const ResultRow& row = c.rows[i];
      if (!z.shows(row.f.pos) || row.sentinel() || std::isnan(row.z_pos)) continue;
      std::fprintf(out,
                   "<circle class=\"mark z\" data-nr=\"%d\" cx=\"%.1f\" cy=\"%.1f\" %s>"
                   "<title>%s</title></circle>\n",
                   row.f.pos, z.x(row.f.pos), z.y(row.z_pos), c.mark_style(i).c_str(), tip(c, i).c_str());
    }
    bottom = z.top + z.height + kTicks;
  }
  return bottom - top;
}

// Title, what was run, and the legend of the marks.
// Kept whole: the lines stack in the order they are drawn, each below the last.
void head(FILE* out, const Context& c) {
  const RunRecord& info = c.info;
  int32_t conserved = 0, unscored = 0, significant = 0;
  for (int32_t i = 0; i < c.n; ++i) {
    conserved += column_class(c.rows[i]) == ColumnClass::Conserved;
    unscored += column_class(c.rows[i]) == ColumnClass::Unscored;
    significant += c.significant(i);
  }
  std::fprintf(out, "<text x=\"%.0f\" y=\"24\" font-size=\"17\" font-weight=\"bold\">vorn: %s</text>\n", kLeft,
               xml_text(info.aln_name).c_str());
  std::string sub = strformat("%s per column; %d of %d columns scored, %d conserved, %d with 10 or fewer pairs, %d "
                              "with 10 %% gaps or more",
                              score_name(info).c_str(), c.n - conserved - unscored, info.alnlen, conserved, unscored,
                              info.alnlen - c.n);
  std::fprintf(out, "<text x=\"%.0f\" y=\"42\" class=\"note\">%s</text>\n", kLeft, xml_text(sub).c_str());
  std::string sig;
  const char* marked = info.classic_colours ? "red" : "outlined";
  if (!c.tree.empty()) {
    sig = strformat("tree null of %lld library columns; %s: its q-value 0.05 or less (%d columns), more than the "
                    "family's tree explains",
                    static_cast<long long>(info.ntree), marked, significant);
    std::fprintf(out, "<text x=\"%.0f\" y=\"58\" class=\"note\">%s</text>\n", kLeft, xml_text(sig).c_str());
  } else if (info.nsuffl > 0) {
    const double smallest = 1.0 / (static_cast<double>(info.nsuffl) + 1.0);
    sig = smallest > kSignificant
              ? strformat("with %lld random alignments no q-value can reach 0.05: the smallest P-value is 1/%lld",
                          static_cast<long long>(info.nsuffl), static_cast<long long>(info.nsuffl) + 1)
              : strformat("%lld random alignments; %s: q-value 0.05 or less (%d columns), P = (b+1)/(n+1), "
                          "Benjamini-Hochberg over the scored columns",
                          static_cast<long long>(info.nsuffl), marked, significant);
    std::fprintf(out, "<text x=\"%.0f\" y=\"58\" class=\"note\">%s</text>\n", kLeft, xml_text(sig).c_str());
  }
  // The legend, item after item.
  double x = kLeft;
  double y = c.marks_red() ? 74 : 60;
  // shape(x, y): the item's mark at the place it gets; lead: its width before the text.
  auto item = [&](auto shape, const char* text, double lead = 0) {
    const double w = lead + 10 + kCharWidth * 0.85 * static_cast<double>(std::string(text).size());
    if (x + w > kWidth - kRight) x = kLeft, y += 15;  // the rest on a second row
    std::fprintf(out, "%s<text x=\"%.1f\" y=\"%.1f\" class=\"note\">%s</text>\n", shape(x, y).c_str(), x + lead + 10,
                 y + 4, text);
    x += w + 18;
  };
  std::fprintf(out, "<g class=\"legend\">\n");
  const char* q_text = c.tree.empty() ? "q-value 0.05 or less" : "tree-null q-value 0.05 or less";
  if (info.classic_colours) {
    item([&](double x, double y) { return strformat("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\"/>", x + 3, y, kBlue); }, "score");
    if (c.marks_red()) item([&](double x, double y) { return strformat("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\"/>", x + 3, y, kRed); }, q_text);
  } else {
    item([&](double x, double y) {
      std::string scale;
      for (int g = 0; g < 9; ++g)
        scale += strformat("<rect class=\"grade\" x=\"%.1f\" y=\"%.1f\" width=\"9\" height=\"8\" fill=\"%s\" "
                           "stroke=\"#555\" stroke-width=\"0.4\"/>",
                           x + 9.0 * g, y - 4, kGradePalette.grade[static_cast<size_t>(g)]);
      return scale;
    }, "grade 1 to 9 (9: follows the similarity most)", 76);
    if (c.marks_red())
      item([&](double x, double y) { return strformat("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"white\" stroke=\"#000\" stroke-width=\"1.2\"/>",
                     x + 3, y); },
           strformat("outlined: %s", q_text).c_str());
  }
  item([&](double x, double y) { return strformat("<path d=\"M%.1f %.1fl3 5h-6z\" fill=\"%s\"/>", x + 3, y - 3, c.conserved()); }, "conserved (no spread)");
  item([&](double x, double y) { return strformat("<path d=\"M%.1f %.1fl5 5m0 -5l-5 5\" stroke=\"%s\"/>", x + 0.5, y - 2.5, kGrey); },
       "no score: 10 or fewer pairs");
  item([&](double x, double y) { return strformat("<path d=\"M%.1f %.1fl3 3m0 -3l-3 3\" stroke=\"%s\" stroke-width=\"0.8\"/>", x + 1.5, y - 1.5, kGrey); },
       "10 % gaps or more");
  std::fprintf(out, "</g>\n");
}

}  // namespace

void write_svg(FILE* out, const Results& r) {
  const ResultRow* rows = r.rows.data();
  const int32_t n = static_cast<int32_t>(r.rows.size());
  const RunRecord& info = r.record;
  Context c{rows, n, r.sites, info, r.honest, {}, 0, 0, 0, 2, kMark, r.tree, r.grade};
  c.at.assign(static_cast<size_t>(info.alnlen) + 2, nullptr);
  for (int32_t i = 0; i < n; ++i) c.at[static_cast<size_t>(rows[i].f.pos)] = &rows[i];
  // The score axis spans the scores (and 0), in tenths, within -1..1; the Z
  // axis the finite Z-scores (and 0..2).
  for (int32_t i = 0; i < n; ++i) {
    if (rows[i].sentinel()) continue;
    c.lo = std::min(c.lo, static_cast<double>(rows[i].f.score));
    c.hi = std::max(c.hi, static_cast<double>(rows[i].f.score));
    if (info.nsuffl > 0 && std::isfinite(rows[i].z_pos)) c.zlo = std::min(c.zlo, rows[i].z_pos), c.zhi = std::max(c.zhi, rows[i].z_pos);
  }
  c.lo = std::max(-1.0, std::floor(c.lo * 10 - 1) / 10);
  c.hi = std::min(1.0, std::ceil(c.hi * 10 + 1) / 10);
  const double pad = (c.zhi - c.zlo) * 0.05;
  c.zlo -= pad, c.zhi += pad;
  const int32_t strips = std::max(1, (info.alnlen + kStripColumns - 1) / kStripColumns);
  const int32_t per = std::max(1, (info.alnlen + strips - 1) / strips);
  c.mark = per > 400 ? kDenseMark : kMark;

  // The strips are drawn into a buffer first: the height is known after.
  std::string body;
  double y = kHeadHeight;
  {
    char* buf = nullptr;
    size_t len = 0;
    FILE* mem = open_memstream(&buf, &len);
    for (int32_t first = 1; first <= std::max(info.alnlen, 1); first += per) {
      y += strip(mem, c, first, std::min(std::max(info.alnlen, 1), first + per - 1), y) + kStripGap;
    }
    std::fclose(mem);
    body.assign(buf, len);
    std::free(buf);
  }
  const double height = y;
  std::fprintf(out,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
               "font-family=\"Helvetica, Arial, sans-serif\">\n",
               kWidth, height, kWidth, height);
  std::fprintf(out, "<desc>%s</desc>\n", xml_text(run_line(info)).c_str());
  std::fputs(
      "<style>.tick{font-size:11px;fill:#333}.axis{font-size:13px;fill:#111}.label{font-size:10px;fill:#000}"
      ".note{font-size:11px;fill:#555}</style>\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n",
      out);
  head(out, c);
  std::fwrite(body.data(), 1, body.size(), out);
  std::fputs("</svg>\n", out);
}

}  // namespace vorn
