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

bool blank(std::string_view t) {
  for (unsigned char c : t)
    if (!c_space(c)) return false;
  return true;
}

// The next whitespace-separated token of t from offset at.
std::string_view token(std::string_view t, size_t& at) {
  while (at < t.size() && c_space(static_cast<unsigned char>(t[at]))) ++at;
  const size_t start = at;
  while (at < t.size() && !c_space(static_cast<unsigned char>(t[at]))) ++at;
  return t.substr(start, at - start);
}

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
  l.name = token(t, at);
  l.residues = token(t, at);  // a Clustal residue count after it is ignored
  l.kind = Kind::Sequence;
  return l;
}

// Walks the file's lines, calling on_sequence for every sequence line and
// on_block_end after every block that had one.
void walk(InputFile& file, BlockedForm form, const std::function<void(const Line&, int64_t)>& on_sequence,
          const std::function<void(int64_t)>& on_block_end) {
  std::rewind(file.get());
  LineReader in(file);
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

}  // namespace

void blocked_dimensions(InputFile& file, BlockedForm form, BlockedRows& rows, int64_t& nprot, int64_t& alnlen) {
  const char* name = file.name().c_str();
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
  walk(file, form, on_sequence, on_block_end);
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
}

void blocked_residues(InputFile& file, BlockedForm form, BlockedRows& rows, const AlignmentArrays& out) {
  for (int64_t& k : rows.length) k = 0;
  auto on_sequence = [&](const Line& l, int64_t) {
    const int64_t r = rows.index.at(std::string(l.name));
    int32_t* row = out.aln[r + 1];
    int64_t& k = rows.length[r];
    // Every character of the residue field takes a position: letters their
    // residue code (lower case folded), anything else a gap.
    for (unsigned char c : l.residues) {
      row[++k] = ascii_letter(c) ? aa_index(ascii_upper(c)) : 0;
      if (r == 0) out.res1[k] = ascii_letter(c);
    }
  };
  walk(file, form, on_sequence, [](int64_t) {});
}

}  // namespace vorn
