#include "input/alignment.hpp"

#include <gtest/gtest.h>

#include "fail.hpp"
#include "input/residue.hpp"
#include "support/harness.hpp"

namespace vorn {
namespace {

// An alignment read through both phases into plain vectors.
struct Read {
  std::string filetype;
  int64_t nprot = 0, alnlen = 0;
  std::vector<std::string> rows;  // residue letters by aa_indexback, '.' for 0
  std::vector<int32_t> var, acc, pdbnum;
  std::string sec_str, chain;
  std::vector<uint8_t> res1;
  std::string err, failure;
};

Read read_alignment(const std::string& text, const std::string& name = "a.txt") {
  Read r;
  test::Reading got = test::read_with(text, name, [&](const InputText& in, FILE* sink) {
    Log log(sink);
    AlignmentSource src;
    src.text = in;
    alignment_dimensions(src, log);
    r.filetype = form_name(src.form);
    r.nprot = src.nprot;
    r.alnlen = src.alnlen;
    std::vector<std::vector<int32_t>> rows(r.nprot + 2, std::vector<int32_t>(r.alnlen + 2, -7));
    std::vector<int32_t*> refs(r.nprot + 2);
    for (int64_t p = 0; p < r.nprot + 2; ++p) refs[p] = rows[p].data();
    r.var.assign(r.alnlen + 2, -1);
    r.acc.assign(r.alnlen + 2, -1);
    r.pdbnum.resize(r.alnlen + 2);
    for (int64_t pos = 0; pos < r.alnlen + 2; ++pos) r.pdbnum[pos] = static_cast<int32_t>(pos);
    r.sec_str.assign(r.alnlen + 2, '-');
    r.chain.assign(r.alnlen + 2, ' ');
    r.res1.assign(r.alnlen + 2, 7);
    alignment_residues(src, {refs.data(), r.var.data(), r.acc.data(), r.sec_str.data(), r.pdbnum.data(),
                             r.chain.data(), r.res1.data()});
    for (int64_t p = 1; p <= r.nprot; ++p) {
      std::string s;
      for (int64_t pos = 1; pos <= r.alnlen; ++pos) s += aa_indexback(rows[p][pos]);
      r.rows.push_back(s);
    }
  });
  r.err = got.messages;
  r.failure = got.failure;
  return r;
}

TEST(FastaForm, Quirks) {
  using V = std::vector<std::string>;
  const struct {
    std::string text;
    V rows;
    const char* why;
  } cases[] = {
      {">a\nAC-D\n>b\nac.d\n", {"AC.D", "AC.D"}, "lower case folds, '-' and '.' are gaps"},
      {">a x y\nAC\nDE\n>b\nACDE\n", {"ACDE", "ACDE"}, "sequence over several lines"},
      {">a\nAXBZ\n>b\nAAAA\n", {"A...", "AAAA"}, "X, B, Z occupy positions with code 0"},
      {">a\nA C1*D\n>b\nACD\n", {"ACD", "ACD"}, "blanks, digits and '*' occupy none"},
      {">a\nAC-E\n>b\nAC\n", {"AC.E", "AC.."}, "a shorter sequence ends in gaps"},
      {">a\ntext\nAC\n>b\nabcdef\n", {"TE.TAC", "A.CDEF"}, "free text after a header is sequence (X is code 0)"},
      {"\n\n>a\nAC\n", {"AC"}, "blank lines on top"},
      {">a\r\nAC\r\n>b\r\nDE\r\n", {"AC", "DE"}, "CRLF"},
      {std::string(">a\nAC\0D\n>b\nACD\n", 15), {"ACD", "ACD"}, "NUL bytes are skipped like blanks"},
  };
  for (const auto& c : cases) {
    Read r = read_alignment(c.text);
    ASSERT_EQ(r.failure, "") << c.why;
    EXPECT_EQ(r.filetype, "pir") << c.why;
    EXPECT_EQ(r.rows, c.rows) << c.why;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "ALIGNMENT. File type: pir; " + std::to_string(c.rows.size()) +
                                                      " prots. X " + std::to_string(c.rows[0].size()) + " len.\n")
        << c.why;
    for (int64_t pos = 1; pos <= r.alnlen; ++pos) {
      EXPECT_EQ(r.pdbnum[pos], pos);
      EXPECT_EQ(r.chain[pos], ' ');
      EXPECT_EQ(r.var[pos], -1);
    }
  }
}

// At least nine in ten residue letters A, C, G, T, U or N: a warning.
TEST(FastaForm, NucleotideWarning) {
  const std::string warning = "\n** Warning: 'a.txt' looks like a nucleotide alignment (90 % of its residue letters "
                              "are A, C, G, T, U or N); vorn scores amino-acid substitutions.\n";
  EXPECT_NE(read_alignment(">a\nACGTUNacgW\n>b\nACGTUNacgW\n").err.find(warning), std::string::npos) << "18 of 20";
  EXPECT_EQ(read_alignment(">a\nACGTUNacWW\n>b\nACGTUNacgW\n").err.find("Warning"), std::string::npos) << "17 of 20";
}

// A small HSSP file: sequences 1-4 in the first block, 5 in the second.
std::string hssp(const std::string& header, const std::vector<std::string>& block1,
                 const std::vector<std::string>& block2) {
  std::string s = "HSSP       test\n" + header + "## PROTEINS : x\n## ALIGNMENTS    1 -    4\n heading\n";
  for (const auto& l : block1) s += l + "\n";
  s += "## ALIGNMENTS    5 -    5\n heading\n";
  for (const auto& l : block2) s += l + "\n";
  return s + "//\n";
}

// A position line with its fields at their offsets: PDB number from 7, chain
// at 12, query residue at 14, structure at 17, accessibility from 35,
// variability from 45, alignment characters from 51.
std::string pos_line(int pdb, char chain, char aa, char ss, int acc, int var, const std::string& aln) {
  std::string s(51, ' ');
  auto put = [&](size_t at, const std::string& t) { s.replace(at, t.size(), t); };
  put(7, std::to_string(pdb));
  s[12] = chain;
  s[14] = aa;
  s[17] = ss;
  put(35, std::to_string(acc));
  put(45, std::to_string(var));
  return s + aln;
}

TEST(HsspForm, BlocksAnnotationsAndRows) {
  const std::string header = "SEQLENGTH     2\nNALIGN        5\n";
  Read r = read_alignment(hssp(header, {pos_line(10, 'A', 'k', 'G', 35, 17, "KR. "), pos_line(11, 'A', 'L', 'E', 5, 0, ". wY")},
                               {pos_line(99, 'Z', 'W', 'H', 99, 99, "q"), pos_line(98, 'Z', 'W', 'H', 99, 99, "m")}));
  ASSERT_EQ(r.failure, "");
  EXPECT_EQ(r.err, "ALIGNMENT. File type: hssp; 6 prots. X 2 len.\n");
  // Protein 1 is the query; sequence s is protein s + 1.
  EXPECT_EQ(r.rows, (std::vector<std::string>{"KL", "K.", "R.", ".W", ".Y", "QM"}));
  // Annotations from the block of sequences 1-4 only.
  using V = std::vector<int32_t>;
  EXPECT_EQ(V(r.pdbnum.begin() + 1, r.pdbnum.begin() + 3), V({10, 11}));
  EXPECT_EQ(V(r.acc.begin() + 1, r.acc.begin() + 3), V({35, 5}));
  EXPECT_EQ(r.var[1], 17);
  EXPECT_EQ(r.chain.substr(1, 2) + r.sec_str.substr(1, 2), "AAHE");
}

TEST(HsspForm, HeaderAndBlockFailures) {
  // The header failures are in the bad-input suite; these are the blocks
  // that would write outside the data model.
  const std::string ok = "SEQLENGTH     1\nNALIGN        1\n";
  const struct {
    std::string text, failure;
    const char* why;
  } cases[] = {
      {"HSSP x\n" + ok + "## PROTEINS\n## ALIGNMENTS    0 -  1\n heading\n" + pos_line(1, 'A', 'A', ' ', 1, 1, "A") + "\n",
       "** Error: the alignment block at line 5 of 'a.txt' starts at sequence 0; sequences are numbered from 1.\n",
       "block below 1"},
      {"HSSP x\n" + ok + "## PROTEINS\n## ALIGNMENTS    1 -  1\n heading\n" + pos_line(1, 'A', 'A', ' ', 1, 1, "AV") + "\n",
       "** Error: line 7 of 'a.txt' has an alignment character for sequence 2, but NALIGN gives 1 sequences.\n",
       "character past the last sequence"},
      {"HSSP x\nSEQLENGTH     2\nNALIGN        1\n## PROTEINS\n## ALIGNMENTS    1 -  1\n heading\n" +
           pos_line(1, 'A', 'A', ' ', 1, 1, "A") + "\n## SEQUENCE PROFILE\n",
       "** Error: the alignment block at line 5 of 'a.txt' ends after 1 position lines; SEQLENGTH gives 2.\n",
       "SEQLENGTH longer than the block"},
      {"HSSP x\nSEQLENGTH     1\nNALIGN      500\n## PROTEINS\n## ALIGNMENTS    1 -  500\n heading\n" +
           pos_line(1, 'A', 'A', ' ', 1, 1, "A") + "\n",
       "** Error: HSSP file 'a.txt' gives NALIGN 500, but its alignment blocks hold 70 sequences.\n",
       "a heading naming more than its block's width"},
  };
  for (const auto& c : cases) EXPECT_EQ(read_alignment(c.text).failure, c.failure) << c.why;
  // Blank padding past the last sequence is harmless.
  Read padded = read_alignment("HSSP x\n" + ok + "## PROTEINS\n## ALIGNMENTS    1 -  1\n heading\n" +
                               pos_line(1, 'A', 'A', ' ', 1, 1, "A     ") + "\n");
  EXPECT_EQ(padded.failure, "");
  EXPECT_EQ(padded.rows, (std::vector<std::string>{"A", "A"}));
}

TEST(BlockedForms, StockholmAndClustalRowsAndFailures) {
  const std::string sto = "# STOCKHOLM 1.0\n#=GF ID x\n\nb1 AC.d\nb2 A-Gy\n#=GC SS_cons ....\n\nb1 kk\nb2 MN\n//\n  \n";
  const std::string aln = "CLUSTAL O(1.2.4) multiple sequence alignment\n\n\nseq1   AC-D 3\nseq2   ACGE 4\n       ** :\n\n"
                          "seq1   K 4\nseq2   - 4\n  \n";
  const struct {
    std::string text, filetype;
    std::vector<std::string> rows;
    std::string failure;
    const char* why;
  } cases[] = {
      {sto, "stockholm", {"AC.DKK", "A.GYMN"}, "", "interleaved blocks, markup ignored, '//' and blank lines end it"},
      {aln, "clustal", {"AC.DK", "ACGE."}, "", "conservation lines and residue counts ignored"},
      {"MUSCLE (3.8) multiple sequence alignment\n\na AC\nb DE\n", "clustal", {"AC", "DE"}, "", "MUSCLE header"},
      {"# STOCKHOLM 1.0\na AC\nb AC\n\na AC\n//\n", "", {},
       "** Error: the block of lines 5-5 of 'a.txt' has no line for sequence 'b'.\n", "row missing from a block"},
      {"# STOCKHOLM 1.0\na AC\n\na AC\nc AC\n//\n", "", {},
       "** Error: line 5 of 'a.txt': sequence 'c' is not in the first block.\n", "row only in a later block"},
      {"# STOCKHOLM 1.0\na AC\na AC\n//\n", "", {}, "** Error: line 3 of 'a.txt': sequence 'a' appears twice in one block.\n",
       "row twice in a block"},
      {"# STOCKHOLM 1.0\na ACD\nb AC\n//\n", "", {},
       "** Error: sequence 'b' of 'a.txt' has 2 positions and sequence 'a' has 3: the rows of an alignment must be "
       "equally long.\n",
       "unequal rows"},
      {"CLUSTAL W\n\na AC\nb AC\n\na AC\n", "", {}, "** Error: the block of lines 6-6 of 'a.txt' has no line for sequence 'b'.\n",
       "Clustal block with a missing row"},
      {"# STOCKHOLM 1.0\n//\n", "", {}, "** Error: alignment file 'a.txt' holds no sequences.\n", "no rows"},
  };
  for (const auto& c : cases) {
    Read r = read_alignment(c.text);
    EXPECT_EQ(r.failure, c.failure) << c.why;
    if (!c.failure.empty()) continue;
    EXPECT_EQ(r.filetype, c.filetype) << c.why;
    EXPECT_EQ(r.rows, c.rows) << c.why;
    EXPECT_EQ(r.pdbnum[2], 2) << c.why;
    // Protein 1's residues, for the structure scripts (no X in these rows).
    for (int64_t pos = 1; pos <= r.alnlen; ++pos) EXPECT_EQ(r.res1[pos], c.rows[0][pos - 1] != '.') << c.why;
  }
}

// What is a protein and what is a column: HH-suite's annotation rows are
// neither; RF (Stockholm) and A2M's lower case mark insert columns, whose
// residues still count in a row's numbering. numbering: the first real
// sequence's residue ordinal at each column, 0 at a gap.
TEST(MatchColumns, AnnotationRowsInsertColumnsAndUnalignedFiles) {
  const std::string ss = ">ss_pred\nCCHHE\n>ss_conf\n98776\n";
  const struct {
    std::string text, name, form;
    std::vector<std::string> rows;
    std::vector<int64_t> numbering;
    std::string note, failure;
    const char* why;
  } cases[] = {
      {ss + ">a\nAC-DE\n>b\nACKDE\n", "x.fa", "pir", {"AC.DE", "ACKDE"}, {1, 2, 0, 3, 4},
       "** Note: left out 2 rows of 'x.fa' that are HH-suite's annotation, not sequences: ss_pred, ss_conf.\n", "",
       "ss rows above"},
      {">a\nACdE\n>sa_dssp\nABC\n>b\nAC-\n>Consensus_2\nxxxx\n", "x.a3m", "a3m", {"ACE", "AC."}, {1, 2, 4},
       "that are HH-suite's annotation, not sequences: sa_dssp, Consensus_2.\n", "", "between and below, A3M"},
      {">ss_x\nHHEC\n>b\nACDE\n>c\nAC-E\n", "x.fa", "pir", {"HHEC", "ACDE", "AC.E"}, {1, 2, 3, 4}, "", "",
       "a sequence really called ss_x is scored"},
      {">a\nAC.DE\n>b\nACkDE\n>c\nAC.D-\n", "x.fa", "a3m", {"ACDE", "ACDE", "ACD."}, {1, 2, 3, 4},
       "** Note: 'x.fa' is read as A2M by its content", "", "A2M: a '.' and lower-case column is an insert"},
      {"# STOCKHOLM 1.0\na AC.DE\nb ACkDE\n#=GC RF xx.xx\n//\n", "x.sto", "stockholm", {"ACDE", "ACDE"}, {1, 2, 3, 4},
       "** Note: the #=GC RF line of 'x.sto' marks 1 of its 5 columns as insert columns", "", "RF"},
      {"# STOCKHOLM 1.0\nb ACkDE\na AC.DE\n#=GC RF xx.xx\n//\n", "x.sto", "stockholm", {"ACDE", "ACDE"},
       {1, 2, 4, 5}, "", "", "RF: an insert residue counts in its row's numbering"},
      {"# STOCKHOLM 1.0\na ACD\nb ACD\n#=GC RF xx\n//\n", "x.sto", "", {}, {}, "",
       "** Error: the #=GC RF line of 'x.sto' covers 2 columns, but its rows have 3.\n", "RF of the wrong length"},
      {">a\nACDEF\n>b\nACD\n>c\nACDEFGH\n", "x.fa", "", {}, {}, "",
       "** Error: 'x.fa' looks unaligned: its 3 sequences hold no gap ('-' or '.') and range from 3 to 7 residues. "
       "Align them first (with MAFFT, Clustal Omega or hmmalign, say) and give vorn the aligned file.\n",
       "unaligned, the longest last"},
      {">a\nACD\n>b\nACDEFGH\n", "x.fa", "", {}, {}, "", "** Error: 'x.fa' looks unaligned", "unaligned, the first shortest"},
  };
  for (const auto& c : cases) {
    const Read r = read_alignment(c.text, c.name);
    EXPECT_EQ(r.failure.substr(0, c.failure.size()), c.failure) << c.why;
    if (!c.failure.empty()) continue;
    EXPECT_EQ(r.filetype, c.form) << c.why;
    EXPECT_EQ(r.rows, c.rows) << c.why;
    EXPECT_NE(r.err.find(c.note), std::string::npos) << c.why << "\n" << r.err;
    Log quiet(nullptr);
    AlignmentSource src;
    load_memory(c.text.data(), c.text.size(), c.name, src.text);
    alignment_dimensions(src, quiet);
    const std::vector<int64_t> ordinal = residue_ordinals(src, 1);
    EXPECT_EQ(std::vector<int64_t>(ordinal.begin() + 1, ordinal.end()), c.numbering) << c.why;
  }
}

TEST(ResidueCodes, SecondaryStructureInThreeStates) {
  const struct {
    char in, out;
  } cases[] = {{'H', 'H'}, {'g', 'H'}, {'I', 'H'}, {'E', 'E'}, {'b', 'E'},
               {' ', 'C'}, {'T', 'C'}, {'S', 'C'}, {'-', 'C'}, {'\0', 'C'}};
  for (auto c : cases) EXPECT_EQ(secstr3(static_cast<unsigned char>(c.in)), c.out) << c.in;
}

}  // namespace
}  // namespace vorn
