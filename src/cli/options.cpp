#include "cli/options.hpp"

#include <algorithm>
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

namespace {

// The value text of the options with a value starts at the fourth
// character; the third, written '=' in the usage text, is skipped whatever it is.
std::string value_text(const std::string& arg) { return arg.size() > 3 ? arg.substr(3) : std::string(); }

bool whole_number(const std::string& t) {
  const IntField r = int_field(t, 0);
  return r.digits && r.end == t.size();
}

const Option* find_option(char letter) {
  for (const Option& o : options())
    if (o.letter == letter && o.apply) return &o;
  return nullptr;
}

bool takes_value(const Option& o) { return o.value != OptionValue::None; }

// What a user who typed a long option most likely meant.
std::string long_option_hint(const std::string& arg) {
  const size_t eq = arg.find('=');
  const std::string key = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
  const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
  if (key == "help" || key == "version")
    return strformat("'--%s' is read only alone: run 'vorn --%s'.", key.c_str(), key.c_str());
  for (const Option& o : options()) {
    if (!o.apply || !o.long_names) continue;
    const std::vector<std::string_view> names = tokens(o.long_names);
    if (std::find(names.begin(), names.end(), key) == names.end()) continue;
    const bool needs = o.value != OptionValue::None && o.value != OptionValue::OptionalText;
    return strformat("did you mean '-%c%s'?", o.letter,
                     needs ? ("=" + (value.empty() ? "n" : value)).c_str()
                           : (value.empty() ? "" : ("=" + value).c_str()));
  }
  return "vorn's options are '-' and one character (run 'vorn --help').";
}

// The warnings of one argument, or none; next: the argument after it.
// Kept whole: one case per way an argument can be read in part, in the order the reading meets them.
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
  const Option* opt = find_option(o);
  if (o == 'M' && value_text(arg).find("------") != std::string::npos)
    w.push_back(strformat("** Warning: '%s' reads no file: six '-' in a row mean none, so the similarities come from "
                          "the alignment.\n", arg.c_str()));
  if (opt && !takes_value(*opt)) {
    if (arg.size() > 2)
      w.push_back(strformat("** Warning: '%s' reads as -%c: the characters after the second are ignored.\n",
                            arg.c_str(), o));
    return;
  }
  if (!opt) {
    // The option of the other case, as in -s for -S or -Q for -q.
    const char other = static_cast<char>(std::islower(static_cast<unsigned char>(o)) ? std::toupper(o) : std::tolower(o));
    if (find_option(other) != nullptr)
      w.push_back(strformat("** Warning: ignored '%s': not an option of vorn; did you mean '-%c%s'?\n", arg.c_str(),
                            other, arg.substr(2).c_str()));
    else
      w.push_back(strformat("** Warning: ignored '%s': not an option of vorn (run 'vorn --help').\n", arg.c_str()));
    return;
  }
  // The options with a numeric value: the value is read as far as it goes.
  if (opt->value != OptionValue::Number) return;
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

void set_flag(bool& flag) { flag = true; }

}  // namespace

// The table itself, one row an option.
const std::vector<Option>& options() {
  using V = OptionValue;
  static const std::vector<Option> table = {
      {'S', V::Number, "-S=n", "score every column against n random permutations of the proteins: Z-scores and P-values",
       "shuffle shuffles permutations",
       [](CommandLine& c, const std::string& v) {
         const IntField r = int_field(v, 0);
         check_permutations(r.overflow ? (r.value < 0 ? INT64_MIN : INT64_MAX) : r.value, v);
         c.run.nsuffl = r.value;
       }},
      {'R', V::Number, "-R=n", "seed the random permutations with n (reproducible -S runs; default: the clock through `date`)",
       "seed",
       [](CommandLine& c, const std::string& v) {
         const IntField r = int_field(v, 0);
         if (!r.digits) fail("** Invalid seed (%s): give a whole number, as in -R=42.\n", v.c_str());
         check_seed(r.overflow ? INT64_MAX : r.value, v);
         c.run.seed = r.value;
       }},
      {'B', V::Count, "-B=n", "also judge every score against n columns evolved along the family's tree (the -O table)",
       "tree tree-null library",
       [](CommandLine& c, const std::string& v) {
         const IntField r = int_field(v, 0);
         check_tree(!r.digits || r.end != v.size() || r.overflow ? -1 : r.value, v);
         c.run.ntree = r.value;
       }},
      {'L', V::Text, "-L=model", "the tree null's replacement model: lg (default), wag, jtt or equal (equal-input)",
       "model tree-model",
       [](CommandLine& c, const std::string& v) {
         check_tree_model(v);
         c.run.tree_model = v;
       }},
      {'M', V::Text, "-M=file", "take the protein similarities from file (lines prot_nr1<TAB>prot_nr2<TAB>value)",
       "similarity classes",
       [](CommandLine& c, const std::string& v) {
         // Six '-' in a row mean "no file", as they always have.
         if (v.find("------") == std::string::npos) c.run.simfile = v; else c.run.simfile.reset();
       }},
      {'N', V::None, "-N", "Pearson's linear correlation instead of Spearman's rank correlation", "pearson",
       [](CommandLine& c, const std::string&) { c.run.score = Score::Pearson; }},
      {'E', V::None, "-E", "skip the entropy (every entropy field reads -1.000)", "no-entropy",
       [](CommandLine& c, const std::string&) { c.run.entropy = false; }},
      {'W', V::OptionalText, "-W", "weight the proteins against redundancy (Henikoff position-based weights)", "weights",
       [](CommandLine& c, const std::string& v) {
         c.run.weighted = true;
         c.run.weight_file = v;
       }},
      {'W', V::OptionalText, "-W=file", "weight the proteins by file (lines protein<TAB>weight)", nullptr, nullptr},
      {'O', V::Text, "-O=prefix", "also write prefix.tsv, .svg, .pml, .defattr, .jalview, .json and the page prefix.html",
       "out output prefix",
       [](CommandLine& c, const std::string& v) {
         if (v.empty()) fail("** Invalid -O: give the prefix of the output files, as in -O=results/fn3.\n");
         c.run.outprefix = v;
       }},
      {'P', V::Text, "-P=file",
       "a structure (PDB or mmCIF): its residues checked against the numbering, and a 3D view in the page",
       "structure pdb",
       [](CommandLine& c, const std::string& v) {
         if (v.empty()) fail("** Invalid -P: give the structure file, PDB or mmCIF, as in -P=1hpv.pdb.\n");
         c.run.structure = v;
       }},
      {'F', V::Text, "-F=name", "number the exports by the residues of the sequence called name (default: the first)",
       "reference",
       [](CommandLine& c, const std::string& v) {
         if (v.empty()) fail("** Invalid -F: give the name of the reference sequence, as in -F=LAR_DROME/418-503.\n");
         c.run.reference = v;
       }},
      {'C', V::Text, "-C=colours",
       "the exports' colours: grades (default: by grade, colour-blind safe) or classic (blue-white-red by score)",
       "colours colors palette",
       [](CommandLine& c, const std::string& v) {
         check_colours(v);
         c.run.colours = v;
       }},
      {'T', V::Number, "-T=n", "use n worker threads, 1 to 256 (default: all cores); the output is the same for any n",
       "threads",
       [](CommandLine& c, const std::string& v) {
         const IntField r = int_field(v, 0);
         check_threads(r.overflow ? INT64_MAX : r.value, v);
         c.run.threads = r.value;
       }},
      {'q', V::None, "-q", "quiet: no progress texts on standard error", "quiet",
       [](CommandLine& c, const std::string&) { c.quiet = true; }},
      {'1', V::None, "-1 -2 -3 -5", "listings: similarity matrix, two-group classification, permutations, alignment",
       nullptr, [](CommandLine& c, const std::string&) { set_flag(c.listings.similarity); }},
      {'2', V::None, nullptr, nullptr, nullptr,
       [](CommandLine& c, const std::string&) { set_flag(c.listings.classes); }},
      {'3', V::None, nullptr, nullptr, nullptr,
       [](CommandLine& c, const std::string&) { set_flag(c.listings.permutations); }},
      {'5', V::None, nullptr, nullptr, nullptr,
       [](CommandLine& c, const std::string&) { set_flag(c.listings.alignment); }},
      // Accepted, and changes nothing.
      {'4', V::None, nullptr, nullptr, nullptr, [](CommandLine&, const std::string&) {}},
      {'h', V::None, "-h, --help", "this text (alone on the command line); --version: the version", nullptr, nullptr},
  };
  return table;
}

std::string help_text() {
  std::string h = strformat("vorn %s: scores every column of a protein family's alignment by how well its\n", kVersion);
  h += "substitutions follow the similarity of the proteins.\n\n";
  h += "Usage:  vorn  alignment  matrix  [options]\n\n";
  h += "The alignment (HSSP, FASTA/PIR, A3M/A2M, Stockholm, Clustal; gzip too; '-' for standard input) and the\n"
       "substitution matrix (Raw, Maxhom or NCBI) come first, by position. Options (a value follows '='):\n\n";
  for (const Option& o : options())
    if (o.spelling) h += strformat("  %-12s %s\n", o.spelling, o.help);
  h += "\nEach scored column gives one result line on standard output:\n"
       "  nr aa pdbn chain acc entrop secstr var xx KLB_VAL [Zscr_pos Pval_pos Zscr_glob Pval_glob]\n"
       "KLB_VAL -2: no spread (a conserved column), -3: 10 or fewer usable pairs. Columns with 10 % gaps or more\n"
       "are not scored. See `man vorn` and README.md.\n";
  return h;
}

void parse_options(const std::vector<std::string>& args, CommandLine& c) {
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    const Option* before = k > 0 && args[k - 1].size() == 2 && args[k - 1][0] == '-' ? find_option(args[k - 1][1]) : nullptr;
    const bool after_bare = before && before->value == OptionValue::Number && whole_number(arg);
    check_argument(arg, k + 1 < args.size() ? &args[k + 1] : nullptr, after_bare, c.warnings);
    if (arg.size() < 2 || arg[0] != '-') continue;
    if (const Option* o = find_option(arg[1])) o->apply(c, takes_value(*o) ? value_text(arg) : std::string());
  }
}

}  // namespace vorn
