#include "log.hpp"

#include <cstdarg>
#include <cstring>

#include "fail.hpp"

namespace vorn {

void Log::append(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(buf_ + used_, kCapacity - used_, fmt, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<size_t>(n) < kCapacity - used_) {
    used_ += static_cast<size_t>(n);
    return;
  }
  // Did not fit: write what is buffered, then the text on its own.
  flush();
  if (static_cast<size_t>(n) < kCapacity) {
    std::vsnprintf(buf_, kCapacity, fmt, ap);
    used_ = static_cast<size_t>(n);
  } else {
    std::string s = vstrformat(fmt, ap);
    if (sink_) std::fwrite(s.data(), 1, s.size(), sink_);
  }
}

void Log::status(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const std::string text = vstrformat(fmt, ap);
  va_end(ap);
  write(text);
}

void Log::warn(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const std::string text = vstrformat(fmt, ap);
  va_end(ap);
  const size_t start = text.find_first_not_of('\r'), end = text.find_last_not_of('\n');
  warnings_.push_back(start == std::string::npos || end < start ? std::string() : text.substr(start, end + 1 - start));
  write(text);
}

void Log::write(const std::string& text) {
  flush();
  if (sink_) {
    std::fwrite(text.data(), 1, text.size(), sink_);
    std::fflush(sink_);
  }
}

void Log::checkpoint() const {
  if (stopping()) throw Failure{"** Interrupted: the run was asked to stop.\n"};
}

void Log::progress(const char* fmt, ...) {
  if (quiet_) return;
  va_list ap;
  va_start(ap, fmt);
  append(fmt, ap);
  va_end(ap);
  maybe_flush();
}

void Log::maybe_flush() {
  if (used_ > kCapacity - 512) {
    flush();
    return;
  }
  // Reading the clock costs little, but not nothing: look every 64 texts.
  if (++since_clock_ < 64) return;
  since_clock_ = 0;
  auto now = std::chrono::steady_clock::now();
  if (now - last_flush_ >= std::chrono::milliseconds(250)) flush();
}

void Log::flush() {
  if (used_ > 0 && sink_) {
    std::fwrite(buf_, 1, used_, sink_);
    std::fflush(sink_);
  }
  used_ = 0;
  last_flush_ = std::chrono::steady_clock::now();
}

}  // namespace vorn
