#include "settings.hpp"

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

// The value text of -M and -S starts at the fourth character; the third,
// written '=' in the usage text, is skipped whatever it is.
std::string value_text(const std::string& arg) { return arg.size() > 3 ? arg.substr(3) : std::string(); }

}  // namespace

void parse_options(const std::vector<std::string>& args, RunSettings& s) {
  for (const std::string& arg : args) {
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
        if (!r.fits_int32()) fail("** Invalid seed (%s): it must fit a 32-bit integer.\n", text.c_str());
        s.fixed_seed = true;
        s.seed = static_cast<int32_t>(r.value);
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
