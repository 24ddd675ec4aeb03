// The command line: the two paths, then options read as leniently as vorn
// always read them ("-S=5", "-S:5" and "-Sx5" are the same), each argument it
// ignores or reads only in part named in a warning.
#pragma once

#include <string>
#include <vector>

#include "settings.hpp"

namespace vorn {

struct CommandLine {
  RunSettings run;
  Listings listings;
  bool quiet = false;                 // -q: no progress texts
  std::vector<std::string> warnings;  // one per argument the reading ignored or read in part
};

// What an option takes after its letter.
// Number: read as far as it goes (-S=5x is 5); Count: a whole number or an error.
enum class OptionValue { None, Number, Count, Text, OptionalText };

// One option: its letter, how --help shows it, the long spellings a user may
// type for it (named in the warning about them), and what it does to the
// command line read so far (value: the text from the fourth character on).
struct Option {
  char letter;
  OptionValue value;
  const char* spelling;  // as --help lists it; null: listed with another
  const char* help;
  const char* long_names;  // space-separated
  void (*apply)(CommandLine& c, const std::string& value);
};
// Every option, in the order --help lists them.
const std::vector<Option>& options();

std::string usage_text();
// The full help of `vorn --help`: every option, the fixed ones and the newer.
std::string help_text();

// The options after the two paths (argv[3] on). Throws Failure for a value
// that is refused (a negative -S, a seed that is no number, ...), at once,
// leaving later options unread.
void parse_options(const std::vector<std::string>& args, CommandLine& c);

}  // namespace vorn
