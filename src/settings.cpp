#include "settings.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "fail.hpp"
#include "input/lineinput.hpp"

namespace vorn {

std::string usage_text() {
  std::string u;
  u += "\n";
  u += strformat("Vorn-Kalbrith v. %s\n", kVersion);
  u += "By the vorn developers.\n";
  u += "Contact: report problems through the project's issue tracker (see README.md).\n";
  u += "\n";
  static const char* const kLines[] = {
      "** Usage:  vorn  aln_file(HSSP|PIR/FASTA)  matrix(Maxhom|raw)  [options]",
      "\nOptions (Take a look at the user manual for a detailed description):",
      "-E Skip entropy calculation.",
      "-S=n\n   Generate 'n' random alns in order to associate Z-scores and P-values.",
      "   to the correlation scores.",
      "   The default is to skip suffling and report a single correlation score.",
      "   It can take a long time for the program to run for large 'n' and many sequences.",
      "-M=file\n   Read and use protein 'similarity' matrix from an external file",
      "   instead of calculating it from the alignment.",
      "   This option is used to 'impose' and external functional classification.",
      "   instead of the one implicit in the alignment.",
      "   Line format:prot_nr1<TAB>prot_nr2<TAB>functional_similarity",
      "-N\n   Use Pearson's normal correlation instead of the default Spearman's non-parametric",
      "   rank correlation.",
      "\nOutput format:",
  };
  for (const char* line : kLines) {
    u += line;
    u += "\n";
  }
  // Written through the formatter, so "%%" prints as '%'.
  u += strformat("|%%4d %%4c %%4d %%c   %%3d  %%6.3f   %%c %%3d  xx %%9.4f [%%9.4f %%e %%9.4f %%e]|\n");
  u += "\n";
  u += "nr aa pdbn chain acc entrop secstr var xx KLB_VAL [Zscr_pos Pval_pos Zscr_glob Pval_glob]\n";
  u += "\n";
  return u;
}

std::string help_text() {
  std::string h = strformat("vorn %s: scores every column of a protein family's alignment by how well its\n", kVersion);
  h += "substitutions follow the similarity of the proteins.\n\n";
  h += "Usage:  vorn  alignment  matrix  [options]\n\n";
  h += "The alignment (HSSP, FASTA/PIR, A3M/A2M, Stockholm, Clustal; gzip too; '-' for standard input) and the\n"
       "substitution matrix (Raw, Maxhom or NCBI) come first, by position. Options (a value follows '='):\n\n";
  static const char* const kOptions[][2] = {
      {"-S=n", "score every column against n random permutations of the proteins: Z-scores and P-values"},
      {"-R=n", "seed the random permutations with n (reproducible -S runs; default: the clock through `date`)"},
      {"-B=n", "also judge every score against n columns evolved along the family's tree (the -O table)"},
      {"-M=file", "take the protein similarities from file (lines prot_nr1<TAB>prot_nr2<TAB>value)"},
      {"-N", "Pearson's linear correlation instead of Spearman's rank correlation"},
      {"-E", "skip the entropy (every entropy field reads -1.000)"},
      {"-W", "weight the proteins against redundancy (Henikoff position-based weights)"},
      {"-W=file", "weight the proteins by file (lines protein<TAB>weight)"},
      {"-O=prefix", "also write prefix.tsv, .svg, .pml, .defattr, .json and the page prefix.html"},
      {"-P=file", "a structure (PDB or mmCIF): its residues checked against the numbering, and a 3D view in the page"},
      {"-F=name", "number the exports by the residues of the sequence called name (default: the first)"},
      {"-T=n", "use n worker threads, 1 to 256 (default: all cores); the output is the same for any n"},
      {"-q", "quiet: no progress texts on standard error"},
      {"-1 -2 -3 -5", "listings: similarity matrix, two-group classification, permutations, alignment"},
      {"-h, --help", "this text (alone on the command line); --version: the version"},
  };
  for (const auto& o : kOptions) h += strformat("  %-12s %s\n", o[0], o[1]);
  h += "\nEach scored column gives one result line on standard output:\n"
       "  nr aa pdbn chain acc entrop secstr var xx KLB_VAL [Zscr_pos Pval_pos Zscr_glob Pval_glob]\n"
       "KLB_VAL -2: no spread (a conserved column), -3: 10 or fewer usable pairs. Columns with 10 % gaps or more\n"
       "are not scored. See `man vorn` and README.md.\n";
  return h;
}

namespace {

// The value text of the options with a value starts at the fourth
// character; the third, written '=' in the usage text, is skipped whatever it is.
std::string value_text(const std::string& arg) { return arg.size() > 3 ? arg.substr(3) : std::string(); }

bool whole_number(const std::string& t) {
  const IntField r = int_field(t, 0);
  return r.digits && r.end == t.size();
}

constexpr std::string_view kValueOptions = "MSRTOWFBP";  // the options that read a value
constexpr std::string_view kFlags = "NEq12345";         // those that read two characters only
bool one_of(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }

// What a user who typed a long option most likely meant.
std::string long_option_hint(const std::string& arg) {
  const size_t eq = arg.find('=');
  const std::string key = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
  const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
  static const char* const kLong[][2] = {{"seed", "R"},    {"shuffle", "S"},  {"shuffles", "S"},  {"permutations", "S"},
                                         {"tree", "B"},    {"tree-null", "B"}, {"library", "B"},
                                         {"threads", "T"}, {"out", "O"},      {"output", "O"},    {"prefix", "O"},
                                         {"weights", "W"}, {"pearson", "N"},  {"quiet", "q"},     {"reference", "F"},
                                         {"similarity", "M"}, {"classes", "M"}, {"no-entropy", "E"},
                                         {"structure", "P"}, {"pdb", "P"}};
  if (key == "help" || key == "version")
    return strformat("'--%s' is read only alone: run 'vorn --%s'.", key.c_str(), key.c_str());
  for (const auto& k : kLong)
    if (key == k[0]) {
      const bool takes_value = one_of(kValueOptions, k[1][0]) && k[1][0] != 'W';
      return strformat("did you mean '-%s%s'?", k[1], takes_value ? ("=" + (value.empty() ? "n" : value)).c_str()
                                                                  : (value.empty() ? "" : ("=" + value).c_str()));
    }
  return "vorn's options are '-' and one character (run 'vorn --help').";
}


// The warnings of one argument, or none; next: the argument after it.
void check_argument(const std::string& arg, const std::string* next, bool after_bare_value_option,
                    std::vector<std::string>& w) {
  if (after_bare_value_option) return;  // reported with the option before it
  if (arg.size() < 2 || arg[0] != '-') {
    const std::string hint = whole_number(arg) ? "; did you mean '-S=" + arg + "'?" : "";
    w.push_back(strformat("** Warning: ignored '%s': it is not an option (options start with '-')%s\n", arg.c_str(),
                          hint.empty() ? "." : hint.c_str()));
    return;
  }
  const char o = arg[1];
  if (arg[1] == '-') {
    w.push_back(strformat("** Warning: ignored '%s': %s\n", arg.c_str(), long_option_hint(arg).c_str()));
    return;
  }
  if (one_of(kFlags, o)) {
    if (arg.size() > 2) w.push_back(strformat("** Warning: '%s' reads as -%c: the characters after the second are "
                                              "ignored.\n", arg.c_str(), o));
    return;
  }
  if (!one_of(kValueOptions, o)) {
    if (o == '4') return;
    // The option of the other case, as in -s for -S or -Q for -q.
    const char other = static_cast<char>(std::islower(static_cast<unsigned char>(o)) ? std::toupper(o) : std::tolower(o));
    const char meant = one_of(kValueOptions, other) || one_of(kFlags, other) ? other : 0;
    if (meant != 0)
      w.push_back(strformat("** Warning: ignored '%s': not an option of vorn; did you mean '-%c%s'?\n", arg.c_str(),
                            meant, arg.substr(2).c_str()));
    else
      w.push_back(strformat("** Warning: ignored '%s': not an option of vorn (run 'vorn --help').\n", arg.c_str()));
    return;
  }
  // The options with a numeric value: the value is read as far as it goes.
  if (o != 'S' && o != 'R' && o != 'T') return;
  if (arg.size() == 2) {
    if (next != nullptr && whole_number(*next))
      w.push_back(strformat("** Warning: '-%c %s' reads as -%c with no value%s and an ignored '%s': write '-%c=%s'.\n",
                            o, next->c_str(), o, o == 'S' ? " (-S=0)" : "", next->c_str(), o, next->c_str()));
    else if (o == 'S')
      w.push_back("** Warning: '-S' has no value and reads as -S=0: write -S=n.\n");
    return;
  }
  const std::string value = value_text(arg);
  if (arg[2] >= '0' && arg[2] <= '9') {
    w.push_back(strformat("** Warning: '%s' reads as -%c=%s (%lld): the value starts after the third character; "
                          "write '-%c=%s'.\n", arg.c_str(), o, value.c_str(),
                          static_cast<long long>(int_field(value, 0).value), o, arg.substr(2).c_str()));
    return;
  }
  const IntField r = int_field(value, 0);
  if (!r.digits) {
    if (o == 'S') w.push_back(strformat("** Warning: '%s' gives no whole number and reads as -S=0.\n", arg.c_str()));
    return;  // -R and -T refuse it
  }
  if (r.end != value.size()) {
    std::string hint;
    char* end = nullptr;
    const double d = std::strtod(value.c_str(), &end);
    if (end != value.c_str() && *end == '\0' && d == std::floor(d) && std::fabs(d) < 2147483648.0)
      hint = strformat("; write '-%c=%.0f'", o, d);
    w.push_back(strformat("** Warning: '%s' reads as -%c=%lld: the text after the number is ignored%s.\n",
                          arg.c_str(), o, static_cast<long long>(r.value), hint.c_str()));
  }
}

}  // namespace

void parse_options(const std::vector<std::string>& args, RunSettings& s) {
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    const bool after_bare = k > 0 && (args[k - 1] == "-S" || args[k - 1] == "-R" || args[k - 1] == "-T") &&
                            whole_number(arg);
    check_argument(arg, k + 1 < args.size() ? &args[k + 1] : nullptr, after_bare, s.warnings);
    if (arg.size() < 2 || arg[0] != '-') continue;
    switch (arg[1]) {
      case 'M':
        s.simfile = value_text(arg);
        break;
      case 'N':
        s.score = Score::Pearson;
        break;
      case 'E':
        s.doentrop = 0;
        break;
      case 'S': {
        std::string text = value_text(arg);
        const IntField r = int_field(text, 0);
        if (r.value < 0) {
          if (!r.fits_int32()) fail("** Invalid 'nsuffl' (%s)\n", text.c_str());
          fail("** Invalid 'nsuffl' (%d)\n", static_cast<int>(r.value));
        }
        if (!r.fits_int32()) fail("** Invalid 'nsuffl' (%s): more random alignments than can be counted.\n", text.c_str());
        s.nsuffl = r.value;
        break;
      }
      case 'R': {
        std::string text = value_text(arg);
        const IntField r = int_field(text, 0);
        if (!r.digits) fail("** Invalid seed (%s): give a whole number, as in -R=42.\n", text.c_str());
        if (!r.fits_int32()) fail("** Invalid seed (%s): it must fit a 32-bit integer.\n", text.c_str());
        s.fixed_seed = true;
        s.seed = static_cast<int32_t>(r.value);
        break;
      }
      case 'B': {
        const std::string text = value_text(arg);
        const IntField r = int_field(text, 0);
        if (!r.digits || r.end != text.size() || r.value < 1 || !r.fits_int32())
          fail("** Invalid -B (%s): give the number of library columns of the tree null, 1 or more, as in "
               "-B=10000.\n", text.c_str());
        s.ntree = r.value;
        break;
      }
      case 'T': {
        std::string text = value_text(arg);
        const IntField r = int_field(text, 0);
        if (r.overflow || r.value < 1 || r.value > 256)
          fail("** Invalid number of threads (%s): give a number from 1 to 256.\n", text.c_str());
        s.threads = static_cast<int>(r.value);
        break;
      }
      case 'O':
        s.outprefix = value_text(arg);
        if (s.outprefix.empty()) fail("** Invalid -O: give the prefix of the output files, as in -O=results/fn3.\n");
        break;
      case 'P':
        s.structure = value_text(arg);
        if (s.structure.empty()) fail("** Invalid -P: give the structure file, PDB or mmCIF, as in -P=1hpv.pdb.\n");
        break;
      case 'F':
        s.reference = value_text(arg);
        if (s.reference.empty())
          fail("** Invalid -F: give the name of the reference sequence, as in -F=LAR_DROME/418-503.\n");
        break;
      case 'q':
        s.quiet = true;
        break;
      case 'W':
        s.weighted = true;
        s.weight_file = value_text(arg);
        break;
      case '1':
        s.printsim = 1;
        break;
      case '2':
        s.printclass = 1;
        break;
      case '3':
        s.printrnd = 1;
        break;
      case '4':
        break;
      case '5':
        s.printaln = 1;
        break;
      default:
        break;
    }
  }
}

}  // namespace vorn
