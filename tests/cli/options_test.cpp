#include "cli/options.hpp"

#include <gtest/gtest.h>

namespace vorn {
namespace {

struct OptionCase {
  std::vector<std::string> args;
  int64_t nsuffl;
  int rankcorr, doentrop;
  std::string simfile;
  const char* why;
};

TEST(Options, ValueTextAndFlagRules) {
  const OptionCase cases[] = {
      {{}, 0, 1, 1, "-------", "defaults"},
      {{"-S=5"}, 5, 1, 1, "-------", "value text after the '='"},
      {{"-S:5"}, 5, 1, 1, "-------", "third character skipped whatever it is"},
      {{"-S100"}, 0, 1, 1, "-------", "third character '1' skipped, '00' read"},
      {{"-S=abc"}, 0, 1, 1, "-------", "no digits"},
      {{"-S="}, 0, 1, 1, "-------", "empty value"},
      {{"-S"}, 0, 1, 1, "-------", "no value text at all"},
      {{"-S= 7x"}, 7, 1, 1, "-------", "leading blank skipped, stops at x"},
      {{"-S=+4"}, 4, 1, 1, "-------", "sign"},
      {{"-S=3", "-S=5"}, 5, 1, 1, "-------", "later option wins"},
      {{"-Nxyz"}, 0, 0, 1, "-------", "only two characters looked at"},
      {{"N", "--N", "-4", "-x"}, 0, 1, 1, "-------", "ignored words"},
      {{"-E"}, 0, 1, 0, "-------", "entropy off"},
      {{"-M=a.sim", "-M=b.sim"}, 0, 1, 1, "b.sim", "later path counts"},
      {{"-M"}, 0, 1, 1, "", "no value text: empty path"},
      {{"-M=" + std::string(5000, 'p')}, 0, 1, 1, std::string(5000, 'p'), "long path held whole"},
  };
  for (const OptionCase& c : cases) {
    CommandLine cl;
    parse_options(c.args, cl);
    const RunSettings& s = cl.run;
    EXPECT_EQ(s.nsuffl, c.nsuffl) << c.why;
    EXPECT_EQ(s.score == Score::Spearman, c.rankcorr == 1) << c.why;
    EXPECT_EQ(s.entropy, c.doentrop == 1) << c.why;
    EXPECT_EQ(s.simfile.value_or("-------"), c.simfile) << c.why;
  }
  CommandLine cl;
  parse_options({"-1", "-2", "-3", "-5"}, cl);
  const Listings& l = cl.listings;
  EXPECT_EQ(l.similarity + l.classes + l.permutations + l.alignment, 4);
}

}  // namespace
}  // namespace vorn
