// Line input shared by every reader, and the two fixed-offset field rules.
//
// Lines are read whole, whatever their length, and a carriage return right
// before the newline (or at the very end of the file) belongs to the line end:
// CRLF files read exactly like LF files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace vorn {

// An open input file; closed when the object goes away.
class InputFile {
 public:
  // Opens path for reading; returns false (and stays closed) if it cannot be
  // opened or is a directory.
  bool open(const std::string& path);
  // Reads from memory instead of a file (fuzzing and tests).
  bool open_memory(const void* data, size_t size, const std::string& name);
  ~InputFile() { close(); }
  void close();
  bool is_open() const { return f_ != nullptr; }
  FILE* get() const { return f_; }
  const std::string& name() const { return name_; }

 private:
  FILE* f_ = nullptr;
  std::string name_;
};

class LineReader {
 public:
  explicit LineReader(InputFile& file) : file_(file) {}
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // leelinea: reads the next line. Returns 0 when a line was read and 1 at
  // the end of the file, leaving the previous line in place. A read error is
  // reported as a Failure, not taken for the end of the file.
  int leelinea();
  // Back to the start of the file; line numbers restart.
  void rewind();

  // The line without its line end.
  std::string_view text() const { return std::string_view(buf_ ? buf_ : "", text_len_); }
  // The length the file formats speak of: the text plus its newline, if any.
  size_t length() const { return text_len_ + (has_newline_ ? 1 : 0); }
  // The character at a 0-based offset; a blank past the end of the text, so
  // that a field there reads as empty rather than as stale data.
  unsigned char at(size_t offset) const {
    return offset < text_len_ ? static_cast<unsigned char>(buf_[offset]) : ' ';
  }
  bool contains(std::string_view needle) const { return text().find(needle) != std::string_view::npos; }
  int64_t line_number() const { return line_no_; }
  const std::string& file_name() const { return file_.name(); }

 private:
  InputFile& file_;
  char* buf_ = nullptr;  // getline's buffer, grown to the longest line
  size_t cap_ = 0;
  size_t text_len_ = 0;
  bool has_newline_ = false;
  int64_t line_no_ = 0;
};

// archivinc: the file ended before a line its reader requires.
[[noreturn]] void archivinc(InputFile& file, int code);

// Integer field: white space skipped from offset, an optional sign and the
// decimal digits that follow; no digits gives 0. Not bounded on the right.
struct IntField {
  int64_t value = 0;
  bool digits = false;    // at least one digit was read
  bool overflow = false;  // the digits do not fit in 64 bits
};
IntField int_field(std::string_view text, size_t offset);

// Number field: the same for a decimal number (sign, digits, optional
// fraction, optional exponent), nothing else: no "nan", "inf" or hex. The
// value is read in double precision and then stored in single precision.
struct NumberField {
  float value = 0.0f;
  bool found = false;     // a number was read
  bool overflow = false;  // its magnitude exceeds single precision
  std::string_view span;  // the characters that made the number
};
NumberField number_field(std::string_view text, size_t offset);

// White space as the C library's isspace sees it in the "C" locale.
inline bool c_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace vorn
