// Line input shared by every reader, and the fixed-offset field rules.
//
// Lines come from an input already in memory (source.hpp), whatever their
// length; a carriage return right before the newline (or at the very end of
// the input) belongs to the line end, so CRLF files read exactly like LF files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "input/source.hpp"

namespace vorn {

class LineReader {
 public:
  explicit LineReader(const InputText& in) : in_(in) {}

  // leelinea: reads the next line. Returns 0 when a line was read and 1 at
  // the end of the input, leaving the previous line in place.
  int leelinea();
  // Back to the start; line numbers restart.
  void rewind() { next_ = 0, line_no_ = 0; }

  // The line without its line end.
  std::string_view text() const { return line_; }
  // The length the file formats speak of: the text plus its newline, if any.
  size_t length() const { return line_.size() + (has_newline_ ? 1 : 0); }
  // The character at a 0-based offset; a blank past the end of the text, so
  // that a field there reads as empty rather than as stale data.
  unsigned char at(size_t offset) const {
    return offset < line_.size() ? static_cast<unsigned char>(line_[offset]) : ' ';
  }
  bool contains(std::string_view needle) const { return line_.find(needle) != std::string_view::npos; }
  int64_t line_number() const { return line_no_; }
  const std::string& file_name() const { return in_.name; }

 private:
  const InputText& in_;
  size_t next_ = 0;  // offset of the next line
  std::string_view line_;
  bool has_newline_ = false;
  int64_t line_no_ = 0;
};

// archivinc: the file ended before a line its reader requires.
[[noreturn]] void archivinc(int code);

// White space as the C library's isspace sees it in the "C" locale.
inline bool c_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// A line of white space only (or nothing).
bool blank(std::string_view t);
// The whitespace-separated token of t that starts at or after at; at moves past it.
std::string_view next_token(std::string_view t, size_t& at);
std::vector<std::string_view> tokens(std::string_view t);

// Integer field: white space skipped from offset, an optional sign and the
// decimal digits that follow; no digits gives 0. Not bounded on the right.
struct IntField {
  int64_t value = 0;
  bool digits = false;    // at least one digit was read
  bool overflow = false;  // the digits do not fit in 64 bits
  size_t end = 0;         // where the reading stopped: the first character after the digits
  bool fits_int32() const { return !overflow && value >= INT32_MIN && value <= INT32_MAX; }
  // The value clamped to the 32-bit range (such numbers are out of any range anyway).
  int32_t clamped() const {
    return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
  }
};
IntField int_field(std::string_view text, size_t offset);

// Whether a double rounds to a finite float: half an ulp above FLT_MAX
// already rounds to infinity.
inline bool fits_float(double d) { return d < 0x1.ffffffp127 && d > -0x1.ffffffp127; }

// Number field: the same for a decimal number (sign, digits, optional
// fraction, optional exponent), nothing else: no "nan", "inf" or hex. The
// text is converted to single precision in one step, as strtof does.
struct NumberField {
  float value = 0.0f;
  bool found = false;     // a number was read
  bool overflow = false;  // its magnitude exceeds single precision
  std::string_view span;  // the characters that made the number
};
NumberField number_field(std::string_view text, size_t offset);

}  // namespace vorn
