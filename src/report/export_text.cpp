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



std::string json_text(const nlohmann::ordered_json& j, int indent) {
  // Bytes that are not UTF-8 (a file name in another encoding) become
  // U+FFFD, so the text stays valid JSON.
  return j.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

void write_record(FILE* out, const RunRecord& info) {
  nlohmann::ordered_json j;
  j["program"] = "vorn";
  j["version"] = info.version;
  j["command"] = info.command;
  j["score"] = score_name(info);
  j["random_alignments"] = info.nsuffl;
  j["seed"] = info.has_seed ? nlohmann::ordered_json(info.seed) : nlohmann::ordered_json(nullptr);
  j["seed_from"] = info.has_seed ? nlohmann::ordered_json(info.seed_from) : nlohmann::ordered_json(nullptr);
  j["weights"] = info.weights.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(info.weights);
  j["reference"] = info.reference;
  j["alignment"] = {{"name", info.aln_name}, {"form", info.form}, {"proteins", info.nprot}, {"columns", info.alnlen}};
  if (info.ntree > 0) {
    const RunRecord::TreeFit& t = info.tree_fit;
    j["tree_null"] = {{"model", t.model},           {"tree_length", t.length},      {"gamma_shape", t.alpha},
                      {"library_columns", t.library}, {"rounds", t.rounds}, {"median_zscr_tree", t.median_z}};
  }
  if (info.structure_addressed >= 0)
    j["structure"] = {{"name", info.structure_name}, {"addressed", info.structure_addressed}, {"same", info.structure_same}};
  j["warnings"] = info.warnings;
  const std::string text = json_text(j, 2) + "\n";
  std::fwrite(text.data(), 1, text.size(), out);
}

}  // namespace vorn
