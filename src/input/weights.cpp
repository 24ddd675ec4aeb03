#include "input/weights.hpp"

#include <vector>

#include "fail.hpp"
#include "input/lineinput.hpp"
#include "input/source.hpp"

namespace vorn {

void read_weights(const std::string& path, int32_t nprot, double* w, const GivenInputs* given) {
  InputText text;
  if (!load_input(path, text, given)) fail("** Error: Can't read weight file: %s\n", path.c_str());
  std::vector<int64_t> seen(static_cast<size_t>(nprot) + 1, 0);
  LineReader in(text);
  const char* name = path.c_str();
  while (in.leelinea() == 0) {
    const std::string_view t = in.text();
    const long long line = static_cast<long long>(in.line_number());
    if (blank(t)) continue;
    const size_t tab = t.find('\t');
    const IntField i = int_field(t, 0);
    if (tab == std::string_view::npos || !i.digits)
      fail("** Error: line %lld of weight file '%s' is not \"protein<TAB>weight\".\n", line, name);
    if (!i.fits_int32() || i.value < 1 || i.value > nprot)
      fail("** Error: line %lld of weight file '%s' names protein %lld; the alignment has proteins 1 to %d.\n", line,
           name, static_cast<long long>(i.value), nprot);
    const NumberField v = number_field(t, tab + 1);
    const std::string_view rest = t.substr(tab + 1);
    if (!v.found || v.overflow || rest.find_first_not_of(" \t", rest.find(v.span) + v.span.size()) != std::string_view::npos)
      fail("** Error: line %lld of weight file '%s' has no finite number as the weight of protein %lld.\n", line,
           name, static_cast<long long>(i.value));
    if (v.value < 0)
      fail("** Error: line %lld of weight file '%s' gives protein %lld a negative weight.\n", line, name,
           static_cast<long long>(i.value));
    if (seen[i.value] != 0)
      fail("** Error: line %lld of weight file '%s' gives protein %lld a second weight (line %lld gave one).\n", line,
           name, static_cast<long long>(i.value), static_cast<long long>(seen[i.value]));
    seen[i.value] = line;
    w[i.value] = static_cast<double>(v.value);
  }
  for (int32_t p = 1; p <= nprot; ++p)
    if (seen[p] == 0) fail("** Error: weight file '%s' gives no weight for protein %d.\n", name, p);
  // A pair counts with w_i w_j: with fewer than two weights above 0 no pair
  // counts, and every column would go unscored (all zeros would even pass
  // for equal weights and give the unweighted scores).
  int32_t positive = 0, last = 0;
  for (int32_t p = 1; p <= nprot; ++p)
    if (w[p] > 0) ++positive, last = p;
  if (positive == 0) fail("** Error: weight file '%s' gives every protein weight 0: no pair of proteins would count.\n", name);
  if (positive == 1 && nprot > 1)
    fail("** Error: weight file '%s' gives only protein %d a weight above 0: no pair of proteins would count.\n", name,
         last);
}

}  // namespace vorn
