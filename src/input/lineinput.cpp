#include "input/lineinput.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "fail.hpp"

namespace vorn {

bool InputFile::open(const std::string& path) {
  close();
  name_ = path;
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    return false;
  }
  f_ = f;
  return true;
}

bool InputFile::open_memory(const void* data, size_t size, const std::string& name) {
  close();
  name_ = name;
  // fmemopen refuses a zero-sized buffer; /dev/null is the same empty stream.
  f_ = size ? fmemopen(const_cast<void*>(data), size, "r") : std::fopen("/dev/null", "r");
  return f_ != nullptr;
}

void InputFile::close() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
}

LineReader::~LineReader() { std::free(buf_); }

int LineReader::leelinea() {
  FILE* f = file_.get();
  if (!f) return 1;
  errno = 0;
  ssize_t n = getline(&buf_, &cap_, f);
  if (n < 0) {
    if (std::ferror(f) || errno == ENOMEM) {
      fail("** Error: can't read line %lld of '%s': %s.\n", static_cast<long long>(line_no_ + 1),
           file_.name().c_str(), std::strerror(errno ? errno : EIO));
    }
    return 1;  // end of file: the previous line stays readable
  }
  size_t len = static_cast<size_t>(n);
  has_newline_ = len > 0 && buf_[len - 1] == '\n';
  if (has_newline_) --len;
  if (len > 0 && buf_[len - 1] == '\r') --len;
  text_len_ = len;
  ++line_no_;
  return 0;
}

void LineReader::rewind() {
  if (file_.get()) std::rewind(file_.get());
  line_no_ = 0;
}

void archivinc(InputFile& file, int code) {
  file.close();
  fail("\n ** Incomplete file. %d\n\n", code);
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
  std::string copy(r.span);
  double d = std::strtod(copy.c_str(), nullptr);
  r.found = true;
  // Half an ulp above FLT_MAX already rounds to infinity.
  if (!(std::fabs(d) < 0x1.ffffffp127)) {
    r.overflow = true;
    r.value = d < 0 ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
  } else {
    r.value = static_cast<float>(d);
  }
  return r;
}

}  // namespace vorn
