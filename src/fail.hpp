// Every error of a run ends it the same way: one message on standard output,
// exit status 1. Procedures throw Failure; the entry point prints and exits.
#pragma once

#include <cstdarg>
#include <string>

namespace vorn {

struct Failure {
  std::string message;     // printed exactly as it stands, newlines included
  bool on_stderr = false;  // for the one error that standard output cannot carry: its own failure
};

// printf-style formatting into a std::string.
std::string strformat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vstrformat(const char* fmt, va_list ap);

// Text from a file or the command line as a message may show it: bytes
// outside printable ASCII as '?'.
std::string printable(const std::string& s);

// Throws Failure with the formatted message.
[[noreturn]] void fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vorn
