#include "input/blocked.hpp"

#include <functional>

#include "fail.hpp"
#include "input/alignment.hpp"
#include "input/residue.hpp"

namespace vorn {

namespace {

enum class Kind { Sequence, Separator, Ignore, End };

struct Line {
  Kind kind = Kind::Ignore;
  std::string_view name, residues;
};

Line classify(std::string_view t, BlockedForm form, bool header_done) {
  Line l;
  if (blank(t)) {
    l.kind = Kind::Separator;
    return l;
  }
  if (form == BlockedForm::Stockholm) {
    if (t.substr(0, 2) == "//") {
      l.kind = Kind::End;
      return l;
    }
    if (t[0] == '#') return l;  // "# STOCKHOLM 1.0" and the #=GF/#=GS/#=GR/#=GC markup
  } else {
    if (!header_done) return l;            // the CLUSTAL / MUSCLE / PROBCONS line
    if (c_space(static_cast<unsigned char>(t[0]))) return l;  // the conservation line
  }
  size_t at = 0;
  l.name = next_token(t, at);
  l.residues = next_token(t, at);  // a Clustal residue count after it is ignored
  l.kind = Kind::Sequence;
  return l;
}

// Walks the file's lines, calling on_sequence for every sequence line and
// on_block_end after every block that had one.
void walk(const InputText& text, BlockedForm form, const std::function<void(const Line&, int64_t)>& on_sequence,
          const std::function<void(int64_t)>& on_block_end) {
  LineReader in(text);
  bool header_done = false, in_block = false;
  while (in.leelinea() == 0) {
    const Line l = classify(in.text(), form, header_done);
    if (!blank(in.text())) header_done = true;
    if (l.kind == Kind::Sequence) {
      in_block = true;
      on_sequence(l, in.line_number());
      continue;
    }
    if (l.kind == Kind::Ignore) continue;
    if (in_block) on_block_end(in.line_number());
    in_block = false;
    if (l.kind == Kind::End) return;
  }
  if (in_block) on_block_end(in.line_number() + 1);
}

// A Stockholm file is one family ending at "//"; a database file holds many,
// and reading only the first would score a family the user did not ask for.
// unclosed: the family's rows run to the end of the file, with no "//" after them.
void one_stockholm_family(const InputText& text, bool& unclosed) {
  LineReader in(text);
  int64_t families = 0;
  bool content = false;
  std::string id, ac;
  std::vector<std::string> names;
  auto close = [&] {
    if (content) {
      ++families;
      if (names.size() < 2) names.push_back(!id.empty() ? id : !ac.empty() ? ac : "unnamed");
    }
    content = false;
    id.clear(), ac.clear();
  };
  while (in.leelinea() == 0) {
    const std::string_view t = in.text();
    if (t.substr(0, 2) == "//") {
      close();
      continue;
    }
    content = content || !blank(t);
    size_t at = 7;
    if (t.substr(0, 7) == "#=GF ID" && id.empty()) id = next_token(t, at);
    if (t.substr(0, 7) == "#=GF AC" && ac.empty()) ac = next_token(t, at);
  }
  unclosed = content;
  close();
  if (families > 1) {
    fail("** Error: '%s' holds %lld Stockholm families (%s, %s%s); vorn scores one family per run: split the file "
         "after each '//' line, one family per file.\n",
         text.name.c_str(), static_cast<long long>(families), names[0].c_str(), names[1].c_str(),
         families > 2 ? ", ..." : "");
  }
}

// The "#=GC RF" lines of the blocks, joined.
std::string reference_annotation(const InputText& text) {
  LineReader in(text);
  std::string rf;
  while (in.leelinea() == 0) {
    const std::string_view t = in.text();
    if (t.substr(0, 7) != "#=GC RF" || (t.size() > 7 && !c_space(static_cast<unsigned char>(t[7])))) continue;
    size_t at = 7;
    rf += next_token(t, at);
  }
  return rf;
}

void match_columns(const InputText& text, BlockedRows& rows, int64_t& alnlen) {
  const std::string rf = reference_annotation(text);
  if (rf.empty()) return;
  if (static_cast<int64_t>(rf.size()) != alnlen)
    fail("** Error: the #=GC RF line of '%s' covers %zu columns, but its rows have %lld.\n", text.name.c_str(),
         rf.size(), static_cast<long long>(alnlen));
  rows.column_of.assign(rf.size() + 1, 0);
  int64_t match = 0;
  for (size_t k = 0; k < rf.size(); ++k)
    if (std::string_view(".-_~").find(rf[k]) == std::string_view::npos) rows.column_of[k + 1] = ++match;
  if (match == 0) fail("** Error: the #=GC RF line of '%s' marks no match column.\n", text.name.c_str());
  rows.left_out = alnlen - match;
  if (rows.left_out == 0) rows.column_of.clear();
  alnlen = match;
}

}  // namespace

void blocked_dimensions(const InputText& text, BlockedForm form, BlockedRows& rows, int64_t& nprot, int64_t& alnlen,
                        ResidueTally& tally) {
  const char* name = text.name.c_str();
  if (form == BlockedForm::Stockholm) one_stockholm_family(text, rows.unclosed);
  std::vector<int64_t> seen_in;  // the last block in which each row was seen
  int64_t block = 1;
  int64_t block_start = 0;
  auto on_sequence = [&](const Line& l, int64_t line) {
    if (block_start == 0) block_start = line;
    const std::string key(l.name);
    if (l.residues.empty()) {
      fail("** Error: line %lld of '%s': sequence '%s' has no residues.\n", static_cast<long long>(line), name,
           key.c_str());
    }
    auto it = rows.index.find(key);
    if (it == rows.index.end()) {
      if (block > 1) {
        fail("** Error: line %lld of '%s': sequence '%s' is not in the first block.\n", static_cast<long long>(line),
             name, key.c_str());
      }
      it = rows.index.emplace(key, static_cast<int64_t>(rows.names.size())).first;
      rows.names.push_back(key);
      rows.length.push_back(0);
      seen_in.push_back(0);
    }
    if (seen_in[it->second] == block) {
      fail("** Error: line %lld of '%s': sequence '%s' appears twice in one block.\n", static_cast<long long>(line),
           name, key.c_str());
    }
    seen_in[it->second] = block;
    rows.length[it->second] += static_cast<int64_t>(l.residues.size());
    for (unsigned char c : l.residues) tally.see(c);
  };
  auto on_block_end = [&](int64_t line) {
    for (size_t r = 0; r < rows.names.size(); ++r) {
      if (seen_in[r] != block) {
        fail("** Error: the block of lines %lld-%lld of '%s' has no line for sequence '%s'.\n",
             static_cast<long long>(block_start), static_cast<long long>(line - 1), name, rows.names[r].c_str());
      }
    }
    ++block;
    block_start = 0;
  };
  walk(text, form, on_sequence, on_block_end);
  if (rows.names.empty()) fail("** Error: alignment file '%s' holds no sequences.\n", name);
  for (size_t r = 1; r < rows.names.size(); ++r) {
    if (rows.length[r] != rows.length[0]) {
      fail("** Error: sequence '%s' of '%s' has %lld positions and sequence '%s' has %lld: the rows of an alignment "
           "must be equally long.\n",
           rows.names[r].c_str(), name, static_cast<long long>(rows.length[r]), rows.names[0].c_str(),
           static_cast<long long>(rows.length[0]));
    }
  }
  nprot = static_cast<int64_t>(rows.names.size());
  alnlen = rows.length[0];
  if (form == BlockedForm::Stockholm) match_columns(text, rows, alnlen);
}

void blocked_residues(const InputText& text, BlockedForm form, const BlockedRows& rows, const AlignmentArrays& out) {
  std::vector<int64_t> filled(rows.names.size(), 0);
  auto on_sequence = [&](const Line& l, int64_t) {
    const int64_t r = rows.index.at(std::string(l.name));
    int32_t* row = out.aln[r + 1];
    int64_t& k = filled[r];
    // Every character of the residue field takes a position: letters their
    // residue code (lower case folded), anything else a gap.
    for (unsigned char c : l.residues) {
      const int64_t pos = rows.position(++k);
      if (pos == 0) continue;
      row[pos] = ascii_letter(c) ? aa_index(ascii_upper(c)) : 0;
      if (r == 0) out.res1[pos] = ascii_letter(c);
    }
  };
  walk(text, form, on_sequence, [](int64_t) {});
}

}  // namespace vorn

namespace vorn {

void blocked_cells(const InputText& text, BlockedForm form, const BlockedRows& rows,
                   const std::function<void(int64_t, int64_t, unsigned char)>& visit) {
  std::vector<int64_t> filled(rows.names.size(), 0);
  walk(
      text, form,
      [&](const Line& l, int64_t) {
        const int64_t r = rows.index.at(std::string(l.name));
        for (unsigned char c : l.residues) visit(r + 1, rows.position(++filled[r]), c);
      },
      [](int64_t) {});
}

}  // namespace vorn
