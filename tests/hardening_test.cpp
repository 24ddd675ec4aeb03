// Bad and odd input, each file in every role it can take: either the run
// succeeds, or it ends in one "** " message, last on standard output, with
// exit status 1 and no result line. Never a crash, a hang or a silent 0.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/harness.hpp"

namespace vorn::test {
namespace {

struct Expect {
  int status;
  std::string fragment;  // in standard output; for status 0, the number of result lines
};

void check(const std::vector<std::string>& args, const Expect& want, const std::string& what) {
  RunOptions ro;
  ro.env = {"OMP_NUM_THREADS=2"};
  Outcome r = run_vorn(args, ro);
  ASSERT_EQ(r.status, want.status) << what << "\n" << r.out.substr(0, 400);
  if (r.status == 0) {
    size_t lines = 0;
    for (size_t at = r.out.find(" xx "); at != std::string::npos; at = r.out.find(" xx ", at + 1)) ++lines;
    if (want.fragment != "*") {
      EXPECT_EQ(std::to_string(lines), want.fragment) << what;
    }
    EXPECT_NE(r.err.find("Done."), std::string::npos) << what;
    return;
  }
  EXPECT_EQ(r.out.find(" xx "), std::string::npos) << what << ": results before an error";
  std::string last = r.out.substr(0, r.out.find_last_not_of('\n') + 1);
  last = last.substr(last.rfind('\n') + 1);
  EXPECT_EQ(last.find("** ") < 2, true) << what << ": the last line is not the error: " << last;
  EXPECT_NE(r.out.find(want.fragment), std::string::npos) << what << "\n" << r.out.substr(0, 400);
}

TEST(Hardening, SharedBadFilesInEveryRole) {
  const std::string blosum = test_data("raw_blosum62_tri.txt"), fn3 = test_data("fn3.fa");
  const std::map<std::string, Expect> alignment = {
      {"edge_fasta_blank_lines_on_top.fa", {0, "128"}}, {"edge_fasta_five_proteins.fa", {0, "30"}},
      {"edge_fasta_free_text_line_after_header.fa", {0, "29"}}, {"edge_fasta_no_final_newline.fa", {0, "128"}},
      {"edge_fasta_nonresidue_chars.fa", {0, "12"}}, {"edge_fasta_one_protein.fa", {0, "20"}},
      {"empty_file", {1, "Incomplete file. -1"}}, {"fasta_crlf.fa", {0, "128"}},
      {"fasta_later_sequence_longer.fa", {1, "more than the 10 positions"}}, {"fasta_nul_bytes.fa", {0, "14"}},
      {"fasta_residues_before_first_header.fa", {1, "before the first '>' header"}},
      {"fasta_sequence_line_20000_chars.fa", {0, "20000"}}, {"hssp_crlf.hssp", {0, "190"}},
      {"hssp_first_line_leading_blank.hssp", {1, "can't tell the form"}},
      {"hssp_first_line_lowercase.hssp", {1, "can't tell the form"}}, {"hssp_nalign_0.hssp", {0, "198"}},
      {"hssp_negative_nalign.hssp", {1, "NALIGN -5"}}, {"hssp_negative_seqlength.hssp", {1, "SEQLENGTH -10"}},
      {"hssp_no_alignment_block.hssp", {0, "0"}}, {"hssp_no_proteins_section.hssp", {1, "Incomplete file. 1"}},
      {"hssp_no_seqlength_line.hssp", {1, "no SEQLENGTH line"}}, {"hssp_truncated_in_block.hssp", {1, "Incomplete file. 2"}},
      {"only_blank_lines_with_spaces", {1, "can't tell the form"}}, {"only_newlines", {1, "Incomplete file. -1"}},
      {"random_bytes.bin", {1, "can't tell the form"}}, {"stockholm_as_is.sto", {0, "128"}},
  };
  const std::map<std::string, Expect> matrix = {
      {"maxhom_header_missing_W.metric", {1, "has no column for residue W"}},
      {"maxhom_marker_only.metric", {1, "Incomplete file. 100"}},
      {"maxhom_missing_aa_str_io_line.metric", {1, "Incomplete file. 100"}},
      {"raw_matrix_blank_and_2char_lines.txt", {0, "77"}},
  };
  const std::map<std::string, Expect> simfile = {
      {"sim_fn3_empty_trailing_line.sim", {1, "Error 2 importing"}}, {"sim_fn3_line_with_one_tab.sim", {1, "Error 3 importing"}},
      {"sim_fn3_line_without_tab.sim", {1, "Error 2 importing"}}, {"sim_fn3_missing_pairs.sim", {1, "(1,3) (5,77) (97,98) \n"}},
      {"sim_fn3_protein_0_out_of_range.sim", {1, "Pair 0 5 out of range [1-98]"}},
      {"sim_fn3_protein_99_out_of_range.sim", {1, "Pair 98 99 out of range [1-98]"}},
  };
  size_t seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(shared_data("bad"))) {
    const std::string name = entry.path().filename(), path = entry.path();
    if (auto a = alignment.find(name); a != alignment.end()) check({path, blosum}, a->second, name), ++seen;
    if (auto m = matrix.find(name); m != matrix.end()) check({fn3, path}, m->second, name), ++seen;
    if (auto s = simfile.find(name); s != simfile.end()) check({fn3, blosum, "-M=" + path}, s->second, name), ++seen;
    if (name.rfind("sim_", 0) != 0 && !matrix.count(name)) check({fn3, path}, {0, "*"}, name + " as a matrix");
  }
  EXPECT_EQ(seen, alignment.size() + matrix.size() + simfile.size()) << "a shared bad file has no expectation";
}

std::string crlf(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

TEST(Hardening, AddedCases) {
  TempDir dir;
  const std::string blosum = test_data("raw_blosum62_tri.txt"), fn3 = test_data("fn3.fa");
  const std::string long_header = ">" + std::string(1 << 20, 'W') + "\nACDEFGHIKL\n>b\nACDEFGHIKL\n";
  const std::string long_second = ">a\nACDEFGHIKL\n>b\n" + std::string(10 << 20, 'A') + "\n";
  const struct {
    std::string role, name, content;
    std::vector<std::string> extra;
    Expect want;
  } cases[] = {
      {"aln", "crlf.sto", crlf(read_file(shared_data("families/globins4.sto"))), {}, {0, "128"}},
      {"aln", "crlf.aln", crlf(read_file(test_data("globins45.clustalo.aln"))), {}, {0, "139"}},
      {"aln", "header_1MB.fa", long_header, {}, {0, "10"}},
      {"aln", "line_10MB.fa", long_second, {}, {1, "more than the 10 positions"}},
      {"aln", "nalign_absurd.hssp", "HSSP x\nSEQLENGTH   100\nNALIGN    2000000000\n## PROTEINS\n", {}, {1, "Memory asignation error"}},
      {"aln", "binary.fa", ">a\n\x01" "AC\xff\n>b\nA\x02" "C\xfe\n", {}, {0, "2"}},
      {"mat", "crlf.metric", crlf(read_file(shared_data("matrices/maxhom_blosum62.metric"))), {}, {0, "77"}},
      {"mat", "crlf.ncbi", crlf(read_file(test_data("EBLOSUM62"))), {}, {0, "77"}},
      {"mat", "overflow.txt", "A A 4\nA R 3.5e38\n", {}, {1, "too large for single precision"}},
      {"mat", "sum_overflow.txt", "A A 3e38\nV V 3e38\nL L 3e38\n", {}, {1, "overflows single precision"}},
      {"sim", "inf.sim", "1\t2\tinf\n", {}, {1, "Error 6 importing"}},
      {"aln", "huge_S.fa", read_file(fn3), {"-S=2147483647"}, {1, "Memory asignation error"}},
      {"aln", "bad_S.fa", read_file(fn3), {"-S=9999999999"}, {1, "Invalid 'nsuffl' (9999999999)"}},
  };
  for (const auto& c : cases) {
    const std::string path = dir.write(c.name, c.content);
    std::vector<std::string> args = c.role == "mat" ? std::vector<std::string>{fn3, path}
                                    : c.role == "sim" ? std::vector<std::string>{fn3, blosum, "-M=" + path}
                                                      : std::vector<std::string>{path, blosum};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    check(args, c.want, c.name);
  }
}

}  // namespace
}  // namespace vorn::test
