// Standard error carries the title, status lines and a stream of progress
// texts that overwrite each other on a terminal. Progress texts can number in
// the hundreds of thousands, so they are buffered here and written a few times
// per second; status lines (ending in a newline) are written at once.
#pragma once

#include <chrono>
#include <cstdio>

namespace vorn {

class Log {
 public:
  explicit Log(FILE* sink) : sink_(sink) {}
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  ~Log() { flush(); }

  // A message that completes a line: written out now.
  void status(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // A progress text: kept until the buffer fills or a quarter second passes;
  // dropped when quiet.
  void progress(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void set_quiet(bool quiet) { quiet_ = quiet; }
  void flush();

 private:
  void append(const char* fmt, va_list ap);
  void maybe_flush();

  static constexpr size_t kCapacity = 1 << 16;
  FILE* sink_;
  bool quiet_ = false;
  char buf_[kCapacity];
  size_t used_ = 0;
  unsigned since_clock_ = 0;
  std::chrono::steady_clock::time_point last_flush_ = std::chrono::steady_clock::now();
};

}  // namespace vorn
