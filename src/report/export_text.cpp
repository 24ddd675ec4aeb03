#include <algorithm>
#include <cctype>
#include <cmath>
#include <numeric>

#include "fail.hpp"
#include "input/residue.hpp"
#include "report/exports.hpp"

namespace vorn {

std::string xml_text(const std::string& s) {
  std::string r;
  for (char c : printable(s)) {
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

std::string score_name(const RunRecord& info) {
  return info.spearman ? "Spearman rank correlation" : "Pearson linear correlation";
}

std::string run_line(const RunRecord& info) {
  std::string cmd;
  for (const std::string& w : info.command) {
    const bool plain = !w.empty() && w.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                         "0123456789_-=.,/:+@%") == std::string::npos;
    std::string quoted = "'";
    for (char c : w) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    cmd += (cmd.empty() ? "" : " ") + (plain ? w : quoted + "'");
  }
  std::string seed = info.has_seed ? strformat(", seed %d (from %s)", info.seed, info.seed_from.c_str()) : "";
  if (!info.weights.empty()) seed += ", weights: " + info.weights;
  if (!info.reference.empty()) seed += ", residues of " + info.reference;
  return "vorn " + info.version + seed + ": " + cmd;
}


std::vector<Honest> honest_significance(const ResultRow* rows, int32_t n, int64_t nsuffl) {
  std::vector<double> p_pos(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) p_pos[i] = rows[i].sentinel() ? NAN : rows[i].p_pos;
  return honest_p_and_q(p_pos, nsuffl);
}

namespace {

// The length of the well-formed UTF-8 sequence at s[i], or 0.
size_t utf8_length(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 && c >= 0xC2 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  const unsigned char d = static_cast<unsigned char>(s[i + 1 < s.size() ? i + 1 : i]);
  if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90))
    return 0;  // overlong, surrogate or beyond U+10FFFF
  return n;
}

}  // namespace

// A JSON string: bytes that are not UTF-8 (a file name in another encoding)
// become U+FFFD, so the record stays valid JSON.
std::string json_string(const std::string& s) {
  std::string r = "\"";
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = utf8_length(s, i);
    if (n == 0) r += "\\ufffd", ++i;
    else if (c == '"' || c == '\\') r += '\\', r += static_cast<char>(c), ++i;
    else if (c < 0x20 || c == 0x7f) r += strformat("\\u%04x", c), ++i;
    else r.append(s, i, n), i += n;
  }
  return r + "\"";
}

void write_record(FILE* out, const RunRecord& info) {
  std::string cmd;
  for (const std::string& w : info.command) cmd += (cmd.empty() ? "" : ", ") + json_string(w);
  std::fprintf(out,
               "{\n  \"program\": \"vorn\",\n  \"version\": %s,\n  \"command\": [%s],\n  \"score\": %s,\n"
               "  \"random_alignments\": %lld,\n  \"seed\": %s,\n  \"seed_from\": %s,\n  \"weights\": %s,\n"
               "  \"reference\": %s\n}\n",
               json_string(info.version).c_str(), cmd.c_str(), json_string(score_name(info)).c_str(),
               static_cast<long long>(info.nsuffl), info.has_seed ? strformat("%d", info.seed).c_str() : "null",
               info.has_seed ? json_string(info.seed_from).c_str() : "null",
               info.weights.empty() ? "null" : json_string(info.weights).c_str(), json_string(info.reference).c_str());
}

}  // namespace vorn
