// The built binary run as users run it. One table of command lines with their
// exit status, standard output and standard error; one of inputs that must
// give the bytes of a reference run, whatever way they arrive.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "support/harness.hpp"

namespace vorn::test {
namespace {

const std::string kExamples = std::string(VORN_TEST_DATA) + "/../../examples";

size_t result_lines(const std::string& out) {
  size_t n = 0;
  for (size_t at = out.find(" xx "); at != std::string::npos; at = out.find(" xx ", at + 1)) ++n;
  return n;
}

// One stream against its expectation: "=text" exactly, "~text" contained, "!text" absent,
// "#n" n result lines, "<file" the golden file tests/data/file, "" unchecked.
void expect_stream(const std::string& got, const std::string& want, const std::string& what) {
  if (want.empty()) return;
  const std::string body = want.substr(1);
  switch (want[0]) {
    case '=': EXPECT_EQ(got, body) << what; break;
    case '~': EXPECT_NE(got.find(body), std::string::npos) << what << "\n" << got.substr(0, 800); break;
    case '!': EXPECT_EQ(got.find(body), std::string::npos) << what << "\n" << got.substr(0, 800); break;
    case '#': EXPECT_EQ(result_lines(got), std::stoul(body)) << what; break;
    case '<': EXPECT_EQ(got, read_file(test_data(body))) << what; break;
    default: ADD_FAILURE() << "bad expectation " << want;
  }
}

// {in}: the inputs written for the table; {out}: the run's own directory;
// {S}, {T}, {E}: shared data, test data, examples.
struct Dirs {
  TempDir in, out;
  std::string expand(std::string s) const {
    const std::pair<std::string, std::string> keys[] = {{"{in}", in.path()},
                                                        {"{out}", out.path()},
                                                        {"{S}", std::string(VORN_SHARED_DATA)},
                                                        {"{T}", std::string(VORN_TEST_DATA)},
                                                        {"{E}", kExamples}};
    for (const auto& [k, v] : keys)
      for (size_t at = s.find(k); at != std::string::npos; at = s.find(k, at + v.size())) s.replace(at, k.size(), v);
    return s;
  }
};

struct Row {
  std::string what;
  std::vector<std::string> args;
  int status;
  std::string out = "", err = "";
  RunOptions how = {};
  std::set<std::string> files = {};  // what the run leaves in {out}
};

void check(const Dirs& d, const Row& row) {
#ifdef VORN_SANITIZED
  if (row.how.setup.find("ulimit -v") != std::string::npos) return;  // the sanitizers reserve more address space than any useful limit
#endif
  std::filesystem::remove_all(d.out.path());
  std::filesystem::create_directories(d.out.path());
  std::vector<std::string> args;
  for (const std::string& a : row.args) args.push_back(d.expand(a));
  RunOptions how = row.how;
  how.shell = d.expand(how.shell);
  const Outcome r = run_vorn(args, how);
  ASSERT_EQ(r.status, row.status) << row.what << "\n" << r.out.substr(0, 800) << r.err.substr(0, 800);
  expect_stream(r.out, d.expand(row.out), row.what + " (stdout)");
  expect_stream(r.err, d.expand(row.err), row.what + " (stderr)");
  const std::string done = "Done." + std::string(99, ' ') + "\n";
  const bool ended = r.err.size() >= done.size() && r.err.compare(r.err.size() - done.size(), done.size(), done) == 0;
  if (row.args.size() >= 2 || !how.shell.empty()) {
    EXPECT_EQ(ended, r.status == 0) << row.what << ": \"Done.\" closes exactly the runs that succeed";
  }
  if (r.status == 1 && (row.args.size() >= 2 || !how.shell.empty()) && !r.out.empty()) {
    // One message, last on standard output.
    std::string last = r.out.substr(0, r.out.find_last_not_of('\n') + 1);
    last = last.substr(last.rfind('\n') + 1);
    EXPECT_LT(last.find("** "), 2u) << row.what << ": the last line is not the error: " << last;
  }
  std::set<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(d.out.path())) left.insert(e.path().filename());
  EXPECT_EQ(left, row.files) << row.what;
}

std::string crlf(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}

// Twelve proteins of 40 residues; column 4 holds U in two of them (10 % U
// in one column: unscored only by them), and U stands in 8 other places.
std::string selenoprotein() {
  std::string t;
  for (int p = 0; p < 12; ++p) {
    std::string row = "ACDEFGHIKLMNPQRSTVWYACDEFGHIKLMNPQRSTVWY";
    row[7] = "ACDEFGHIKLMN"[p];
    if (p < 2) row[3] = 'U';
    if (p >= 4) row[20 + p] = 'U';
    t += ">s" + std::to_string(p) + "\n" + row + "\n";
  }
  return t;
}

// A weight file "p<TAB>w" for proteins 1 to n.
std::string weights(int n, int (*w)(int)) {
  std::string t;
  for (int p = 1; p <= n; ++p) t += std::to_string(p) + "\t" + std::to_string(w(p)) + "\n";
  return t;
}

TEST(EndToEnd, CommandLines) {
  Dirs d;
  const std::string fn3 = read_file(test_data("fn3.fa")), hssp4 = read_file(test_data("1a1p_n4.hssp"));
  std::string classes;
  for (int i = 1; i <= 12; ++i)
    for (int j = i + 1; j <= 12; ++j)
      classes += std::to_string(i) + "\t" + std::to_string(j) + "\t" + ((i + j) % 3 ? "1" : "0") + "\n";
  const std::map<std::string, std::string> inputs = {
      {"classes.sim", classes},
      {"crlf.sto", crlf(read_file(shared_data("families/globins4.sto")))},
      {"crlf.metric", crlf(read_file(shared_data("matrices/maxhom_blosum62.metric")))},
      {"header_1MB.fa", ">" + std::string(1 << 20, 'W') + "\nACDEFGHIKL\n>b\nACDEFGHIKL\n"},
      {"line_10MB.fa", ">a\nACDEFGHIK-\n>b\n" + std::string(10 << 20, 'A') + "\n"},
      {"nalign_absurd.hssp", "HSSP x\nSEQLENGTH   100\nNALIGN    2000000000\n## PROTEINS\n"},
      {"lie_nalign.hssp", replaced(hssp4, "NALIGN        4", "NALIGN    30000")},
      {"lie_seqlength.hssp", replaced(hssp4, "SEQLENGTH    13", "SEQLENGTH 90000")},
      {"binary.fa", ">a\n\x01" "AC\xff\n>b\nA\x02" "C\xfe\n"},
      {"sum_overflow.txt", "A A 3e38\nV V 3e38\nL L 3e38\n"},
      {"zero.txt", "A A 0\n"},
      {"short.fa", ">a\nACDEFGHIKL\n>b one\nAC-EF\n>c\nACD\n>d\nACDEFGHIKL\n"},
      {"few.fa", ">a\nACDE\n>b\nACDE\n>c\nACDF\n>d\nACDE\n"},
      {"all_gapped.fa", ">a\nA-\n>b\n-A\n>c\nA-\n>d\n-A\n>e\nA-\n>f\n-A\n>g\nA-\n"},
      {"no_columns.fa", ">a\n>b\n>c\n>d\n>e\n>f\n>g\n"},
      {"selenoprotein.fa", selenoprotein()},
      {"twice_named.fa", ">a\nACDE\n>b\nACDE\n>a\nACDF\n"},
      {"bad.pdb", "HEADER x\nATOM      1  CA  LYS A  7x       1.000   2.000   3.000  1.00 20.00           C\n"},
      {"three.sto", read_file(shared_data("families/fn3.sto")) + read_file(shared_data("families/LuxC.sto")) +
                        read_file(shared_data("families/Pkinase.sto"))},
      {"trailing.sto", read_file(shared_data("families/fn3.sto")) + "\n\n  \n"},
      {"unclosed.sto", replaced(read_file(shared_data("families/fn3.sto")), "\n//", "\n")},
      {"corrupt.gz", "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xff\xff\xff\xff"},
      {"w_missing.tsv", "1\t1\n2\t1\n"},
      {"w_twice.tsv", "1\t1\n1\t2\n"},
      {"w_negative.tsv", "1\t-0.5\n"},
      {"w_range.tsv", "13\t1\n"},
      {"dots_only.fa", ">a\nAC-E\n>b\nAC-E.\n"},
      {"match_counts.a3m", ">a\nACDE\n>b\nACdE\n"},
      {"w_zeros.tsv", weights(12, [](int) { return 0; })},
      {"w_one.tsv", weights(12, [](int p) -> int { return p == 7; })},
      {"w_one_zero.tsv", weights(12, [](int p) -> int { return p != 7; })},
      {"empty", ""},
      {"a.xz", std::string("\xFD" "7zXZ\0\0\x04\xE6\xD6\xB4\x46", 12)}, {"m.bz2", "BZh91AY&SY\x01\x02"},
      {"s.zst", "\x28\xB5\x2F\xFD\x24\x04"},
      {"wide10k.fa", [] {
         std::string t;
         for (int p = 0; p < 10000; ++p) {
           t += ">p" + std::to_string(p) + "\n";
           for (int c = 0; c < 12; ++c) t += "ACDEFGHIKLMNPQRSTVWY"[(p * 7 + c * 13 + p * c) % 20];
           t += "\n";
         }
         return t;
       }()},
  };
  for (const auto& [name, text] : inputs) d.in.write(name, text);
  const std::string gz_trunc = "head -c 2000 < <(gzip -c {T}/fn3.fa) > {in}/trunc.gz; ";
  TempDir date_dir, silent_dir;
  RunOptions date79, no_date, full, closed, small_files, low_memory, tight_memory, within_limit;
  date79.setup = "PATH=" + date_dir.fake_date("Sun Dec  6 19:47:29 UTC 2026") + ":$PATH";
  no_date.setup = "PATH=" + silent_dir.fake_date("") + ":$PATH";
  full.setup = "exec >/dev/full";
  closed.setup = "exec >&-";
  small_files.setup = "trap '' XFSZ; ulimit -f 8";  // the result lines fit, the profile does not
  low_memory.setup = "ulimit -v 300000";
  tight_memory.setup = "ulimit -v 100000";
  within_limit.setup = "ulimit -v 800000";
  const std::string M = "{T}/raw_blosum62_tri.txt", T = "{T}/tiny.fa", F = "{T}/fn3.fa";
  const std::string phases = "<golden/tiny_plain.err";
  const std::vector<Row> rows = {
      // The command line and the phases on standard error.
      {"no argument", {}, 1, "~** Usage:  vorn  aln_file(HSSP|PIR/FASTA)", "="},
      {"one argument", {"x"}, 1,
       "~\nOutput format:\n|%4d %4c %4d %c   %3d  %6.3f   %c %3d  xx %9.4f [%9.4f %e %9.4f %e]|\n\nnr aa pdbn chain "
       "acc entrop secstr var xx KLB_VAL [Zscr_pos Pval_pos Zscr_glob Pval_glob]\n\n",
       "="},
      {"defaults", {T, M}, 0, "#2", phases},
      {"six '-' in the -M path: not read, and said", {T, M, "-M={in}/------x"}, 0, "#2",
       "~\n** Warning: '-M={in}/------x' reads no file: six '-' in a row mean none"},
      {"-E", {T, M, "-E"}, 0, "#2", "<golden/tiny_no_entropy.err"},
      {"-N", {T, M, "-N"}, 0, "#2", "<golden/tiny_pearson.err"},
      {"-M", {T, M, "-M={in}/classes.sim"}, 0, "#2", "<golden/tiny_imported.err"},
      {"-S=2 seeded by date", {T, M, "-S=2"}, 0, "#2", "<golden/tiny_shuffled.err", date79},
      {"the clock's seed named, for -B too", {T, M, "-B=50"}, 0, "#2",
       "~\r** Note: seed 79 (from the clock); -R=79 repeats this run.\n", date79},
      {"xz", {"{in}/a.xz", M}, 1, "=** Error: '{in}/a.xz' is xz-compressed: decompress it first (xz -dc {in}/a.xz | vorn - ...).\n"},
      {"bzip2", {T, "{in}/m.bz2"}, 1, "~is bzip2-compressed: decompress it first (bzip2 -dc {in}/m.bz2 | vorn"},
      {"zstd", {T, M, "-M={in}/s.zst"}, 1, "~is zstd-compressed: decompress it first (zstd -dc {in}/s.zst | vorn"},
      // The listings: tiny.fa's proteins 1 and 3 are AVL and AVI (BLOSUM62: (4 + 4 + 2) / 3); the two groups
      // are proteins 1 to 5 and the rest.
      {"-1 lists the similarities", {T, M, "-1"}, 0, "~\nSim. matrix:\n1\t2\t4.000000\n1\t3\t3.333333\n1\t4\t"},
      {"-2 lists two groups", {T, M, "-2"}, 0, "~3\t12\t0\n4\t5\t1\n4\t6\t0\n"},
      {"-3 lists the permutations", {T, M, "-3", "-S=2", "-R=1"}, 0, "~Vectors of random indices (2):\n   1:  "},
      {"-5 lists the alignment", {T, M, "-5"}, 0, "~Alignment (12x3):\n----------------------\n   1:  AVL\n   2:  AVL\n"
       "   3:  AVI\n   4:  SVI\n   5:  S.I\n"},
      {"golden Pearson", {F, M, "-N"}, 0, "<golden/fn3_blosum62_pearson.out"},
      // Failures, in the order the run meets them.
      {"matrix opened first", {"{in}/no", "{in}/no"}, 1, "=** Error: Can't read matrix file: {in}/no\n"},
      {"-S checked before any file", {"{in}/no", "{in}/no", "-S=-1", "-N"}, 1, "=** Invalid 'nsuffl' (-1)\n"},
      {"-S beyond 32 bits", {F, M, "-S=9999999999"}, 1, "=** Invalid 'nsuffl' (9999999999): more random alignments than can be counted.\n"},
      {"alignment missing", {"{in}/no", M}, 1, "=** Error: Can't read alignment file: {in}/no\n"},
      {"an option before the paths is a path", {"-N", M, M}, 1,
       "=** Error: Can't read alignment file: -N (the two paths come first: vorn alignment matrix [options])\n"},
      {"an option in the matrix's place", {T, "-q"}, 1,
       "=** Error: Can't read matrix file: -q (the two paths come first: vorn alignment matrix [options])\n"},
      {"a shipped matrix by its name", {F, "BLOSUM62"}, 0, "<golden/fn3_blosum62_spearman.out",
       "~Matrix 'BLOSUM62': no such file; read the one shipped with vorn, "},
      {"a directory as alignment", {"{in}", M}, 1, "=** Error: Can't read alignment file: {in}\n"},
      {"similarity file missing", {T, M, "-M={in}/no"}, 1,
       "=** Can't r-open '{in}/no'.\n** Error 1 importing external protein matrix '{in}/no'.\n"},
      {"date prints nothing", {T, M, "-S=3"}, 1, "=** Couldn't set seed for RND using 'date'.\n", "", no_date},
      {"results that cannot be written", {T, M}, 1, "", "~** Error: can't write the results to standard output", full},
      {"standard output closed", {T, M}, 1, "", "~standard output is closed", closed},
      {"standard input for two inputs", {"-", "-"}, 1, "=** Error: standard input ('-') can stand for one input only.\n"},
      {"-S too large for memory", {F, M, "-S=2147483647"}, 1, "~Memory asignation error"},
      // 10,000 proteins: 400 MB of pair block, beside which the arrays kept for their step codes take nothing.
      {"within an address-space limit that untouched arrays would break", {"{in}/wide10k.fa", M, "-E"}, 0, "#12", "",
       within_limit},
      {"an address-space limit too small, named with the need", {"{in}/wide10k.fa", M, "-E"}, 1,
       "~the room under the address-space limit (ulimit -v) is ", "", low_memory},
      {"a family too large for memory stops before reading residues", {"{S}/large/Pkinase_emit_N3000.fa", M}, 1,
       "~\n\n** Memory asignation error. Step: ", "~Mem...", tight_memory},
      // Odd and hostile files.
      {"CRLF Stockholm", {"{in}/crlf.sto", M}, 0, "#128"},
      {"CRLF Maxhom", {F, "{in}/crlf.metric"}, 0, "#77"},
      {"a 1 MB header", {"{in}/header_1MB.fa", M}, 0, "#10"},
      {"a 10 MB line", {"{in}/line_10MB.fa", M}, 1, "~more than the 10 positions"},
      {"control bytes inside residues", {"{in}/binary.fa", M}, 0, "#2"},
      {"a header claiming two billion sequences", {"{in}/nalign_absurd.hssp", M}, 1,
       "=** Error: HSSP file '{in}/nalign_absurd.hssp' gives NALIGN 2000000000, but its alignment blocks hold 0 "
       "sequences.\n",
       "", low_memory},
      {"NALIGN the blocks do not bear out", {"{in}/lie_nalign.hssp", M}, 1,
       "=** Error: HSSP file '{in}/lie_nalign.hssp' gives NALIGN 30000, but its alignment blocks hold 4 sequences.\n",
       "", low_memory},
      {"SEQLENGTH the blocks do not bear out", {"{in}/lie_seqlength.hssp", M}, 1,
       "=** Error: the alignment block at line 48 of '{in}/lie_seqlength.hssp' ends after 13 position lines; "
       "SEQLENGTH gives 90000.\n",
       "", low_memory},
      {"/dev/zero as alignment", {"/dev/zero", M}, 1, "~'/dev/zero' is not a text file", "", low_memory},
      {"corrupt gzip", {"{in}/corrupt.gz", M}, 1, "~** Error: '{in}/corrupt.gz' is not a valid gzip file: "},
      {"control bytes inside gzip", {}, 1, "~'{in}/zeros.gz' is not a text file", "",
       via_shell("head -c 2000000 /dev/zero | gzip -c > {in}/zeros.gz; $VORN {in}/zeros.gz " + M)},
      {"data after a gzip stream", {}, 1,
       "=** Error: '-' is not a valid gzip file: data after the end of the compressed stream.\n", "",
       via_shell("{ gzip -c " + F + "; echo junk; } | $VORN - " + M)},
      {"'.' without lower case does not make A3M", {"{in}/dots_only.fa", M}, 1, "~more than the 4 positions"},
      {"A3M rows with different match counts", {"{in}/match_counts.a3m", M}, 1,
       "=** Error: sequence 2 ('b') of A3M file '{in}/match_counts.a3m' has 3 match positions (upper-case letters "
       "and '-'); the first has 4.\n"},
      {"truncated gzip", {}, 1, "=** Error: '{in}/trunc.gz' is not a valid gzip file: the compressed stream is truncated.\n",
       "", via_shell(gz_trunc + "$VORN {in}/trunc.gz " + M)},
      {"similarities that overflow", {F, "{in}/sum_overflow.txt"}, 1, "~overflows single precision"},
      // Weight files.
      {"a protein without a weight", {T, M, "-W={in}/w_missing.tsv"}, 1,
       "=** Error: weight file '{in}/w_missing.tsv' gives no weight for protein 3.\n"},
      {"a protein weighed twice", {T, M, "-W={in}/w_twice.tsv"}, 1,
       "=** Error: line 2 of weight file '{in}/w_twice.tsv' gives protein 1 a second weight (line 1 gave one).\n"},
      {"a negative weight", {T, M, "-W={in}/w_negative.tsv"}, 1,
       "=** Error: line 1 of weight file '{in}/w_negative.tsv' gives protein 1 a negative weight.\n"},
      {"a protein out of range", {T, M, "-W={in}/w_range.tsv"}, 1,
       "=** Error: line 1 of weight file '{in}/w_range.tsv' names protein 13; the alignment has proteins 1 to 12.\n"},
      // Warnings: the run goes on, and says what it assumed.
      {"rows shorter than the first", {"{in}/short.fa", M}, 0, "#2",
       "~\n** Warning: 2 of the 4 sequences of '{in}/short.fa' are shorter than the first (10 positions), the first "
       "of them sequence 2 ('b') with 5; their missing positions are read as gaps.\n"},
      // Inputs that cannot give a score are refused before the alignment is read.
      {"a matrix of zeros", {F, "{in}/zero.txt"}, 1,
       "=** Error: matrix file '{in}/zero.txt' gives only zero scores for the twenty residues: every column would "
       "score -2.\n", "=Vorn-Kalbrith v. 3.4\nAA. MATRIX. Type: Raw\n\n** Error: matrix file '{in}/zero.txt' gives only "
       "zero scores for the twenty residues: every column would score -2.\n"},
      {"an empty matrix", {F, "{in}/empty"}, 1,
       "=** Error: matrix file '{in}/empty' holds no line of any matrix form (Raw lines such as 'A R -1', a Maxhom "
       "table or an NCBI grid): not one score was read.\n"},
      {"weights that are all 0", {T, M, "-W={in}/w_zeros.tsv"}, 1,
       "=** Error: weight file '{in}/w_zeros.tsv' gives every protein weight 0: no pair of proteins would count.\n"},
      {"one weight above 0", {T, M, "-W={in}/w_one.tsv"}, 1,
       "=** Error: weight file '{in}/w_one.tsv' gives only protein 7 a weight above 0: no pair of proteins would "
       "count.\n"},
      {"one weight of 0 among ones", {T, M, "-W={in}/w_one_zero.tsv"}, 0, "#2"},
      {"several Stockholm families", {"{in}/three.sto", M}, 1,
       "=** Error: '{in}/three.sto' holds 3 Stockholm families (fn3, LuxC, ...); vorn scores one family per run: "
       "split the file after each '//' line, one family per file.\n"},
      {"one family and trailing blank lines", {"{in}/trailing.sto", M}, 0, "#77"},
      {"no closing '//'", {"{in}/unclosed.sto", M}, 0, "#77", "~** Warning: '{in}/unclosed.sto' ends without the \"//\" line"},
      // Inputs that would give a wrong or empty answer: refused, or a warning says why.
      {"an error is copied to standard error", {"{in}/no", M}, 1, "", "~\n** Error: Can't read alignment file: {in}/no\n"},
      {"-S=1", {T, M, "-S=1", "-R=1"}, 0, "#2", "~** Warning: with -S=1 no Z-score can be computed"},
      {"four proteins", {"{in}/few.fa", M}, 0, "#4",
       "~** Warning: '{in}/few.fa' holds 4 proteins (6 pairs): a score needs more than 10 usable pairs, which takes "
       "at least 6 proteins; every column will score -2 or -3.\n"},
      {"no column with a score", {"{in}/all_gapped.fa", M}, 0, "#0",
       "~** Warning: not one column of '{in}/all_gapped.fa' has a score"},
      {"no columns at all", {"{in}/no_columns.fa", M}, 1, "",
       "~** Error: alignment file '{in}/no_columns.fa' holds 7 sequences but no alignment columns: there is nothing"},
      {"U read as gaps", {"{in}/selenoprotein.fa", M}, 0, "#39",
       "~** Warning: 10 of the 480 residues of '{in}/selenoprotein.fa' are U or O (selenocysteine, pyrrolysine), "
       "which vorn reads as gaps; 1 column goes unscored by them (4).\n"},
      {"A3M told by content", {"{S}/families/fn3.a2m", M}, 0, "#71",
       "~** Note: '{S}/families/fn3.a2m' is read as A3M by its content: its rows differ in length (85 to 105 "
       "characters) but all hold 85 match states"},
      // The reference sequence of the exports.
      {"-F names no sequence", {F, M, "-F=nobody"}, 1, "~** Error: -F=nobody names no sequence of"},
      {"-F names two", {"{in}/twice_named.fa", M, "-F=a"}, 1, "~** Error: -F=a names 2 sequences of"},
      {"-F on HSSP", {"{E}/1hpv_n25.hssp", M, "-F=x"}, 1, "~numbers its residues by the structure of its own"},
      {"-F on the status", {F, M, "-F=FINC_BOVIN/1907-1984"}, 0, "#77",
       "~\nReference sequence: 14 'FINC_BOVIN/1907-1984', numbered from 1907 (its /start-end suffix).\n"},
      // The command line: help, version, and mistakes that are read leniently with a warning.
      {"--help", {"--help"}, 0, "~  -W=file ", "="},
      {"--version", {"--version"}, 0, "~vorn 3.4\nkernels: ", "="},
      {"-R without a number", {T, M, "-R=abc"}, 1, "=** Invalid seed (abc): give a whole number, as in -R=42.\n"},
      {"-F without a name", {T, M, "-F="}, 1, "~** Invalid -F: give the name"},
      // Export files appear whole or not at all.
      {"exports", {F, M, "-O={out}/x"}, 0, "#77", "", {}, {"x.tsv", "x.svg", "x.pml", "x.defattr", "x.json", "x.html", "x.jalview"}},
      // -P: a structure that cannot be read stops the run before any work, and no file is written.
      {"-P: not a number", {F, M, "-O={out}/x", "-P={in}/bad.pdb"}, 1,
       "=** Error: line 2 of structure file '{in}/bad.pdb': the residue number (columns 23-26) is not a number.\n",
       "!AA. MATRIX"},
      {"-P: missing", {F, M, "-P={in}/none.pdb"}, 1, "=** Error: can't open the structure file '{in}/none.pdb' (-P).\n"},
      {"-P without -O", {"{E}/1hpv_n25.hssp", M, "-P={T}/1hpv_auth.cif.gz"}, 0, "#190",
       "~** Warning: -P's 3D view is drawn in the page of -O=prefix (prefix.html): add -O=prefix to see it; the residue "
       "check still runs.\n"},
      {"a blocked export name: none is written", {}, 1,
       "~** Error: can't write '{out}/x.svg': it is a directory; no export file was written.\n", "", 
       via_shell("mkdir {out}/x.svg && $VORN " + F + " " + M + " -O={out}/x"), {"x.svg"}},
      {"interrupted: no file left", {}, 143, "", "", via_shell("$VORN " + F + " " + M +
       " -S=100000 -R=1 -O={out}/x & sleep 0.5; kill -TERM $!; wait $!")},
      {"-q: no progress texts", {T, M, "-q"}, 0, "#2", "<golden/tiny_quiet.err"},
      {"-q with -S", {T, M, "-S=2", "-q", "-R=3"}, 0, "#2",
       "=Vorn-Kalbrith v. 3.4\nAA. MATRIX. Type: Raw\nALIGNMENT. File type: pir; 12 prots. X 3 len.\n\rBackground "
       "distribution with 2 random alns.\n** Warning: with -S=2 no P-value can reach 0.05 (the smallest honest one is "
       "1/(n+1)): use -S=19 or more, and 1000 for stable P-values.\n\rRaw score: Spearman's non-parametric rank correlation.\nDone." +
           std::string(99, ' ') + "\n"},
      {"empty -O prefix", {F, M, "-O="}, 1, "~** Invalid -O: give the prefix of the output files"},
      {"unwritable prefix, before any work", {F, M, "-O={out}/no/x"}, 1,
       "~** Error: can't write '{out}/no/x.tsv': No such file",
       "=Vorn-Kalbrith v. 3.4\n\n** Error: can't write '{out}/no/x.tsv': No such file or directory.\n"},
      {"a run that fails later leaves no file", {"{in}/no", M, "-O={out}/x"}, 1, "~Can't read alignment file"},
      {"a file that cannot be written in full", {F, M, "-O={out}/x"}, 1,
       "~** Error: can't write '{out}/x.svg': File too large.\n", "", small_files},
  };
  for (const Row& row : rows) check(d, row);
}

// Option mistakes keep their lenient reading (the same standard output and
// status as the reading they get) and add one warning naming them.
TEST(EndToEnd, OptionMistakesWarnAndReadAsBefore) {
  const std::string T = test_data("tiny.fa"), M = test_data("raw_blosum62_tri.txt");
  using V = std::vector<std::string>;
  const struct {
    V args, reads_as;
    std::string warning;  // "" for spellings that must not warn
  } cases[] = {
      {{"-S", "1000"}, {}, "'-S 1000' reads as -S with no value (-S=0) and an ignored '1000': write '-S=1000'."},
      {{"-S=abc"}, {}, "'-S=abc' gives no whole number and reads as -S=0."},
      {{"-S=1e3", "-R=2"}, {"-S=1", "-R=2"}, "'-S=1e3' reads as -S=1: the text after the number is ignored; write '-S=1000'."},
      {{"-S1000"}, {}, "'-S1000' reads as -S=000 (0): the value starts after the third character; write '-S=1000'."},
      {{"-s=1000"}, {}, "ignored '-s=1000': not an option of vorn; did you mean '-S=1000'?"},
      {{"-X"}, {}, "ignored '-X': not an option of vorn (run 'vorn --help')."},
      {{"--seed=5", "-S=20"}, {"-S=20"}, "ignored '--seed=5': did you mean '-R=5'?"},
      {{"--help"}, {}, "ignored '--help': '--help' is read only alone: run 'vorn --help'."},
      {{"1000"}, {}, "ignored '1000': it is not an option (options start with '-'); did you mean '-S=1000'?"},
      {{"-R=5x", "-S=20"}, {"-R=5", "-S=20"}, "'-R=5x' reads as -R=5: the text after the number is ignored."},
      {{"-T=2x"}, {"-T=2"}, "'-T=2x' reads as -T=2: the text after the number is ignored."},
      {{"-Nfoo"}, {"-N"}, "'-Nfoo' reads as -N: the characters after the second are ignored."},
      {{"-S=20", "-R=1"}, {"-S:20", "-R=1"}, ""},
      {{"-S=20"}, {"-S=20", "-R=79"}, ""},  // the clock's seed, named in its note, repeats the run
      {{"-Sx20", "-R=1"}, {"-S=20", "-R=1"}, ""},
      {{"-4", "-N", "-E", "-q", "-T=1"}, {"-N", "-E"}, ""},
  };
  TempDir date_dir;
  RunOptions fixed_date;  // the runs without -R draw the same seed
  fixed_date.setup = "PATH=" + date_dir.fake_date("Sun Dec  6 19:47:29 UTC 2026") + ":$PATH";
  for (const auto& c : cases) {
    V args = {T, M}, ref = {T, M};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ref.insert(ref.end(), c.reads_as.begin(), c.reads_as.end());
    const Outcome got = run_vorn(args, fixed_date), want = run_vorn(ref, fixed_date);
    const std::string what = c.args[0];
    EXPECT_EQ(got.status, want.status) << what;
    EXPECT_EQ(got.out, want.out) << what;
    if (c.warning.empty()) {
      EXPECT_EQ(got.err.find("** Warning: '"), std::string::npos) << what << got.err;
      EXPECT_EQ(got.err.find("ignored"), std::string::npos) << what;
    } else {
      EXPECT_NE(got.err.find("\n** Warning: " + c.warning + "\n"), std::string::npos) << what << "\n" << got.err;
    }
  }
}

// Every shared bad file in every role it can take: the run succeeds with the
// given number of result lines, or fails with the given message.
TEST(EndToEnd, SharedBadFilesInEveryRole) {
  Dirs d;
  const std::string M = "{T}/raw_blosum62_tri.txt", F = "{T}/fn3.fa";
  const std::map<std::string, std::pair<int, std::string>> alignment = {
      {"edge_fasta_blank_lines_on_top.fa", {0, "#128"}}, {"edge_fasta_five_proteins.fa", {0, "#30"}},
      {"edge_fasta_free_text_line_after_header.fa", {0, "#29"}}, {"edge_fasta_no_final_newline.fa", {0, "#128"}},
      {"edge_fasta_nonresidue_chars.fa", {0, "#12"}}, {"edge_fasta_one_protein.fa", {0, "#20"}},
      {"empty_file", {1, "~Incomplete file. -1"}}, {"fasta_crlf.fa", {0, "#128"}},
      {"fasta_later_sequence_longer.fa", {1, "~looks unaligned: its 3 sequences"}}, {"fasta_nul_bytes.fa", {0, "#14"}},
      {"fasta_residues_before_first_header.fa", {1, "~before the first '>' header"}},
      {"fasta_sequence_line_20000_chars.fa", {0, "#20000"}}, {"hssp_crlf.hssp", {0, "#190"}},
      {"hssp_first_line_leading_blank.hssp", {1, "~can't tell the form"}},
      {"hssp_first_line_lowercase.hssp", {1, "~can't tell the form"}}, {"hssp_nalign_0.hssp", {0, "#198"}},
      {"hssp_negative_nalign.hssp", {1, "~NALIGN -5"}}, {"hssp_negative_seqlength.hssp", {1, "~SEQLENGTH -10"}},
      {"hssp_no_alignment_block.hssp", {1, "~gives NALIGN 25, but its alignment blocks hold 0 sequences"}},
      {"hssp_no_proteins_section.hssp", {1, "~Incomplete file. 1"}},
      {"hssp_no_seqlength_line.hssp", {1, "~no SEQLENGTH line"}},
      {"hssp_truncated_in_block.hssp", {1, "~Incomplete file. 2"}},
      {"only_blank_lines_with_spaces", {1, "~can't tell the form"}}, {"only_newlines", {1, "~Incomplete file. -1"}},
      {"random_bytes.bin", {1, "~can't tell the form"}}, {"stockholm_as_is.sto", {0, "#128"}},
  };
  const std::map<std::string, std::pair<int, std::string>> matrix = {
      {"maxhom_header_missing_W.metric", {1, "~has no column for residue W"}},
      {"maxhom_marker_only.metric", {1, "~Incomplete file. 100"}},
      {"maxhom_missing_aa_str_io_line.metric", {1, "~Incomplete file. 100"}},
      {"raw_matrix_blank_and_2char_lines.txt", {0, "#77"}},
  };
  const std::map<std::string, std::pair<int, std::string>> simfile = {
      {"sim_fn3_empty_trailing_line.sim", {1, "~Error 2 importing"}},
      {"sim_fn3_line_with_one_tab.sim", {1, "~Error 3 importing"}},
      {"sim_fn3_line_without_tab.sim", {1, "~Error 2 importing"}},
      {"sim_fn3_missing_pairs.sim", {1, "~(1,3) (5,77) (97,98) \n"}},
      {"sim_fn3_protein_0_out_of_range.sim", {1, "~Pair 0 5 out of range [1-98]"}},
      {"sim_fn3_protein_99_out_of_range.sim", {1, "~Pair 98 99 out of range [1-98]"}},
  };
  size_t seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(shared_data("bad"))) {
    const std::string name = entry.path().filename(), path = entry.path();
    if (auto a = alignment.find(name); a != alignment.end())
      check(d, {name, {path, M}, a->second.first, a->second.second}), ++seen;
    if (auto m = matrix.find(name); m != matrix.end())
      check(d, {name, {F, path}, m->second.first, m->second.second}), ++seen;
    if (auto s = simfile.find(name); s != simfile.end())
      check(d, {name, {F, M, "-M=" + path}, s->second.first, s->second.second}), ++seen;
    // No other text scores a pair of residues as a Raw line would.
    if (!matrix.count(name)) check(d, {name + " as a matrix", {F, path}, 1, "~** Error: matrix file '" + path + "' "});
  }
  EXPECT_EQ(seen, alignment.size() + matrix.size() + simfile.size()) << "a shared bad file has no expectation";
}

// The same content, however it arrives, gives the bytes of the reference run
// on both streams (only standard output where the form is named differently).
TEST(EndToEnd, SameBytesWhateverTheWay) {
  Dirs d;
  const std::string M = "{T}/raw_blosum62_tri.txt";
  struct Same {
    std::string reference;  // a command line, as for $VORN
    std::vector<std::string> ways;  // bash commands; {f} and {m} stand for the reference's two files
    bool err_too;
  };
  const std::vector<std::string> transports = {
      "$VORN - {m} < <(cat {f})",              // standard input, a pipe
      "cat {f} | $VORN /dev/stdin {m}",         // /dev/stdin
      "$VORN <(cat {f}) {m}",                   // process substitution
      "gzip -c {f} > {out}/a.gz; $VORN {out}/a.gz {m}; rm {out}/a.gz",
      "gzip -c {f} | $VORN - {m}",
      "f={f}; { head -c 3000 $f | gzip -c; tail -c +3001 $f | gzip -c; } | $VORN - {m}",  // two gzip members
      "$VORN <(printf '\\xEF\\xBB\\xBF'; cat {f}) {m}",  // a byte-order mark
      "mkfifo {out}/p; cat {f} > {out}/p & $VORN {out}/p {m}; rm {out}/p",
  };
  const std::vector<std::string> matrix_ways = {
      "$VORN {f} - < <(cat {m})", "$VORN {f} <(gzip -c {m})", "$VORN {f} <(printf '\\xEF\\xBB\\xBF'; cat {m})"};
  std::vector<std::pair<std::string, std::string>> files;  // alignment, matrix
  for (const char* a : {"{S}/families/fn3.sto", "{S}/families/LuxC.fa", "{S}/families/globins45_mafft.fa",
                        "{E}/1hpv_n25.hssp", "{T}/globins45.clustalo.aln"})
    files.emplace_back(a, M);
  std::vector<Same> cases;
  for (const auto& [a, m] : files) {
    Same c{"$VORN " + a + " " + m, {}, true};
    for (const std::string& t : transports) c.ways.push_back(replaced(replaced(t, "{f}", a), "{m}", m));
    cases.push_back(c);
  }
  for (const char* m : {"{S}/matrices/maxhom_blosum62.metric", "{T}/EBLOSUM62", "{T}/raw_blosum62_tri.txt"}) {
    Same c{std::string("$VORN {T}/fn3.fa ") + m, {}, true};
    for (const std::string& t : matrix_ways) c.ways.push_back(replaced(replaced(t, "{f}", "{T}/fn3.fa"), "{m}", m));
    cases.push_back(c);
  }
  // A classification through a pipe, gzipped, and its valid oddities.
  Same classes{"$VORN {T}/fn3.fa " + M + " -M={E}/fn3.class2.sim",
               {"$VORN {T}/fn3.fa " + M + " -M=- < <(cat {E}/fn3.class2.sim)",
                "$VORN {T}/fn3.fa " + M + " -M=<(gzip -c {E}/fn3.class2.sim)"},
               true};
  for (const char* edge : {"crlf", "extra_fields", "reversed_shuffled", "with_diagonal_and_repeats"})
    classes.ways.push_back("$VORN {T}/fn3.fa " + M + " -M={S}/simfiles/edge/fn3.class2." + edge + ".sim");
  cases.push_back(classes);
  // Other forms of the same alignment.
  cases.push_back({"$VORN {S}/families/fn3_match.fa " + M,
                   {"$VORN {S}/families/fn3.a3m " + M, "gzip -c {S}/families/fn3.a3m | $VORN - " + M,
                    "$VORN {S}/families/fn3.a2m " + M},
                   false});
  for (const char* fam : {"fn3", "Pkinase", "LuxC", "globins4"}) {
    cases.push_back({"$VORN {S}/families/" + std::string(fam) + ".fa " + M,
                     {"$VORN {S}/families/" + std::string(fam) + ".sto " + M}, false});
  }
  cases.push_back({"$VORN {T}/globins45.clustalo.fa " + M, {"$VORN {T}/globins45.clustalo.aln " + M}, false});
  // The last sequence of an HSSP block blank at every position: all gaps, as if written with '.'.
  const std::string last_of_block = "awk '/^## ALIGNMENTS/{b=1;h=2} /^##|^\\/\\//{if(!/^## ALIGNMENTS/)b=0} "
                                    "{if(b&&!h&&length($0)>75)$0=substr($0,1,75) c substr($0,77); if(h)h--; print}' "
                                    "{E}/1hpv_n25.hssp";
  cases.push_back({"$VORN <(" + last_of_block + " c=.) " + M, {"$VORN <(" + last_of_block + " c=' ') " + M}, false});
  cases.push_back({"$VORN {T}/fn3.fa " + M, {"$VORN {T}/fn3.fa {T}/EBLOSUM62"}, false});
  // Weights that are all equal give the unweighted bytes.
  const std::string ones = "<(awk '/^>/{print ++n \"\\t1\"}' {S}/families/Pkinase.fa)";
  for (const char* opts : {"", " -N", " -S=20 -R=5", " -S=9 -R=5 -N"})
    cases.push_back({"$VORN {S}/families/Pkinase.fa " + M + opts,
                     {"$VORN {S}/families/Pkinase.fa " + M + opts + " -W=" + ones}, true});
  // Threads: the bytes of one thread, also for a family where the similarity
  // ranks take the parallel path.
  cases.push_back({"$VORN {T}/fn3.fa {T}/maxhom_blosum62_asym.metric -S=20 -R=7 -T=1",
                   {"$VORN {T}/fn3.fa {T}/maxhom_blosum62_asym.metric -S=20 -R=7 -T=2"}, true});
  cases.push_back({"$VORN {T}/fn3.fa " + M + " -W -S=20 -R=7 -T=1", {"$VORN {T}/fn3.fa " + M + " -W -S=20 -R=7 -T=2"},
                   true});
  cases.push_back({"$VORN {S}/large/Pkinase_emit_N1000.fa " + M + " -T=1",
                   {"$VORN {S}/large/Pkinase_emit_N1000.fa " + M + " -T=2"}, true});
  // A row longer than a tile of lanes (8,192 pairs): more than 8,193 proteins.
  const std::string long_rows = "<(awk 'BEGIN { srand(3); for (i = 0; i < 8300; i++) { s = \"\"; for (j = 0; j < 3; j++) "
                                "s = s substr(\"ACDEFGHIKLMNPQRSTVWY\", int(rand() * 20) + 1, 1); print \">s\" i; print s } }')";
  cases.push_back({"$VORN " + long_rows + " " + M + " -S=9 -R=1 -T=1", {"$VORN " + long_rows + " " + M + " -S=9 -R=1 -T=2"}, false});
  // One block of permutations shared by the threads, several blocks each on
  // one, the tree null: the same bytes for any thread count and wait policy.
  for (const char* opts : {" -S=5 -R=3", " -S=27 -R=3 -W", " -B=300 -R=3 -O={out}/t"}) {
    const std::string run = "$VORN {S}/families/Pkinase.fa " + M + opts;
    cases.push_back({run + " -T=1 && { cat {out}/t.tsv 2>/dev/null || true; }",
                     {run + " -T=2 && { cat {out}/t.tsv 2>/dev/null || true; }",
                      "OMP_WAIT_POLICY=active " + run + " -T=2 && { cat {out}/t.tsv 2>/dev/null || true; }",
                      "GOMP_SPINCOUNT=1 " + run + " -T=3 && { cat {out}/t.tsv 2>/dev/null || true; }"},
                     true});
  }
  // Every instruction-set path gives the bytes of the others.
  for (const char* opts : {" -S=9 -R=2", " -W -S=9 -R=2", " -N -W"}) {
    const std::string run = "$VORN {S}/large/Pkinase_emit_N1000.fa " + M + opts;
    cases.push_back({"VORN_ISA=avx512 " + run, {"VORN_ISA=avx2 " + run, "VORN_ISA=generic " + run}, true});
  }
  for (const Same& c : cases) {
    const Outcome want = run_vorn({}, via_shell(d.expand(c.reference)));
    ASSERT_EQ(want.status, 0) << c.reference << want.out;
    ASSERT_GT(result_lines(want.out), 0u) << c.reference;
    for (const std::string& way : c.ways) {
      const Outcome got = run_vorn({}, via_shell(d.expand(way)));
      EXPECT_EQ(got.status, 0) << way;
      EXPECT_EQ(got.out, want.out) << way;
      if (c.err_too) {
        // -W says on its own status line what weights it used; nothing else differs.
        auto unweighted = [](std::string err) {
          if (const size_t at = err.find("\rWeights: "); at != std::string::npos) err.erase(at, err.find('\n', at) + 1 - at);
          return err;
        };
        EXPECT_EQ(unweighted(got.err), unweighted(want.err)) << way;
      }
    }
  }
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
    EXPECT_EQ(files, 7u) << "a temporary file is left, attempt " << attempt;
  }
}

}  // namespace
}  // namespace vorn::test
