#include "settings.hpp"

#include <climits>

#include "fail.hpp"
#include "tree/model.hpp"

namespace vorn {

void check_permutations(int64_t n, const std::string& as_given) {
  if (n < 0) {
    if (n < INT32_MIN) fail("** Invalid 'nsuffl' (%s)\n", as_given.c_str());
    fail("** Invalid 'nsuffl' (%d)\n", static_cast<int>(n));
  }
  if (n > kMaxCount) fail("** Invalid 'nsuffl' (%s): more random alignments than can be counted.\n", as_given.c_str());
}

void check_seed(int64_t seed, const std::string& as_given) {
  if (seed < INT32_MIN || seed > INT32_MAX)
    fail("** Invalid seed (%s): it must fit a 32-bit integer.\n", as_given.c_str());
}

void check_tree(int64_t n, const std::string& as_given) {
  if (n < 1 || n > kMaxCount)
    fail("** Invalid -B (%s): give the number of library columns of the tree null, 1 or more, as in -B=10000.\n",
         as_given.c_str());
}

void check_threads(int64_t n, const std::string& as_given) {
  if (n < 1 || n > kMaxThreads)
    fail("** Invalid number of threads (%s): give a number from 1 to %lld.\n", as_given.c_str(),
         static_cast<long long>(kMaxThreads));
}

void check_tree_model(const std::string& name) {
  ModelKind kind;
  if (!model_by_name(name, kind))
    fail("** Invalid -L (%s): the tree null's model is lg, wag, jtt or equal (the equal-input process).\n",
         name.c_str());
}

void check_colours(const std::string& name) {
  if (name != "grades" && name != "classic")
    fail("** Invalid -C (%s): give -C=grades (the default) or -C=classic.\n", name.c_str());
}

void validate(const RunSettings& s) {
  check_tree_model(s.tree_model);
  check_colours(s.colours);
  check_permutations(s.nsuffl, std::to_string(s.nsuffl));
  if (s.ntree != 0) check_tree(s.ntree, std::to_string(s.ntree));
  if (s.seed) check_seed(*s.seed, std::to_string(*s.seed));
  if (s.threads != 0) check_threads(s.threads, std::to_string(s.threads));
  // Standard input can be read once, so it can stand for one input only.
  const int on_stdin = (s.aln_path == "-") + (s.matrix_path == "-") + (s.simfile && *s.simfile == "-") +
                       (s.structure == "-") + (s.weighted && s.weight_file == "-");
  if (on_stdin > 1) fail("** Error: standard input ('-') can stand for one input only.\n");
}

std::vector<std::string> command_line(const RunSettings& s) {
  std::vector<std::string> w = {"vorn", s.aln_path, s.matrix_path};
  auto add = [&](bool when, const std::string& word) {
    if (when) w.push_back(word);
  };
  add(s.nsuffl > 0, "-S=" + std::to_string(s.nsuffl));
  add(s.ntree > 0, "-B=" + std::to_string(s.ntree));
  ModelKind model = ModelKind::Lg;
  model_by_name(s.tree_model, model);
  add(s.ntree > 0 && model != ModelKind::Lg, "-L=" + s.tree_model);
  add(s.seed.has_value() && (s.nsuffl > 0 || s.ntree > 0), "-R=" + std::to_string(s.seed.value_or(0)));
  add(s.simfile.has_value(), "-M=" + s.simfile.value_or(""));
  add(s.similarities.has_value(), "-M=similarity");
  add(s.score == Score::Pearson, "-N");
  add(!s.entropy, "-E");
  add(s.weighted, s.weight_file.empty() ? "-W" : "-W=" + s.weight_file);
  add(!s.outprefix.empty(), "-O=" + s.outprefix);
  add(!s.structure.empty(), "-P=" + s.structure);
  add(!s.reference.empty(), "-F=" + s.reference);
  add(s.colours != "grades", "-C=" + s.colours);
  return w;
}

}  // namespace vorn
