#include "fail.hpp"

#include <cstdio>

namespace vorn {

std::string vstrformat(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
  return out;
}

std::string strformat(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = vstrformat(fmt, ap);
  va_end(ap);
  return s;
}

void fail(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = vstrformat(fmt, ap);
  va_end(ap);
  throw Failure{std::move(s)};
}

std::string printable(const std::string& s) {
  std::string r;
  for (char c : s) r += (c >= ' ' && c < 127) ? c : '?';
  return r;
}

}  // namespace vorn
