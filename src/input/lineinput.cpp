#include "input/lineinput.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "fail.hpp"

namespace vorn {

int LineReader::leelinea() {
  const std::string& d = in_.data;
  if (next_ >= d.size()) return 1;  // the end: the previous line stays readable
  const char* start = d.data() + next_;
  const size_t rest = d.size() - next_;
  const char* nl = static_cast<const char*>(std::memchr(start, '\n', rest));
  size_t len = nl ? static_cast<size_t>(nl - start) : rest;
  has_newline_ = nl != nullptr;
  next_ += len + (has_newline_ ? 1 : 0);
  if (len > 0 && start[len - 1] == '\r') --len;
  line_ = std::string_view(start, len);
  ++line_no_;
  return 0;
}

void archivinc(int code) { fail("\n ** Incomplete file. %d\n\n", code); }

bool blank(std::string_view t) {
  for (unsigned char c : t)
    if (!c_space(c)) return false;
  return true;
}

std::string_view next_token(std::string_view t, size_t& at) {
  while (at < t.size() && c_space(static_cast<unsigned char>(t[at]))) ++at;
  const size_t start = at;
  while (at < t.size() && !c_space(static_cast<unsigned char>(t[at]))) ++at;
  return t.substr(start, at - start);
}

std::vector<std::string_view> tokens(std::string_view t) {
  std::vector<std::string_view> out;
  size_t at = 0;
  for (std::string_view x = next_token(t, at); !x.empty(); x = next_token(t, at)) out.push_back(x);
  return out;
}

IntField int_field(std::string_view text, size_t offset) {
  IntField r;
  size_t i = offset;
  while (i < text.size() && c_space(static_cast<unsigned char>(text[i]))) ++i;
  bool neg = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
  uint64_t mag = 0;
  const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    r.digits = true;
    uint64_t d = static_cast<uint64_t>(text[i] - '0');
    if (mag > (limit - d) / 10) r.overflow = true;
    else mag = mag * 10 + d;
    ++i;
  }
  if (r.overflow) mag = limit;
  r.end = i;
  r.value = neg ? -static_cast<int64_t>(mag) : static_cast<int64_t>(mag);
  return r;
}

NumberField number_field(std::string_view text, size_t offset) {
  NumberField r;
  size_t i = offset;
  while (i < text.size() && c_space(static_cast<unsigned char>(text[i]))) ++i;
  const size_t start = i;
  auto digit = [&](size_t k) { return k < text.size() && text[k] >= '0' && text[k] <= '9'; };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t ndigits = 0;
  while (digit(i)) ++i, ++ndigits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (digit(i)) ++i, ++ndigits;
  }
  if (ndigits == 0) return r;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t k = i + 1;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
    if (digit(k)) {
      while (digit(k)) ++k;
      i = k;
    }
  }
  r.span = text.substr(start, i - start);
  const std::string copy(r.span);
  r.value = std::strtof(copy.c_str(), nullptr);
  r.found = true;
  r.overflow = std::isinf(r.value);
  return r;
}

}  // namespace vorn
