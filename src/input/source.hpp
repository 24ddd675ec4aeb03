// Every input (alignment, matrix, -M file) is read once, from start to end,
// into memory, and every later pass reads that copy: a pipe, a FIFO or
// standard input then reads exactly like a regular file. gzip streams are
// recognised by their magic bytes and inflated; a UTF-8 byte-order mark is
// dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace vorn {

// The most an input may hold, after decompression. It bounds the memory and
// time an endless or binary stream (/dev/zero, a sparse file) can take.
inline constexpr uint64_t kMaxInputBytes = uint64_t{512} << 20;

struct InputText {
  std::string name;  // as given: a path, or "-" for standard input
  std::string data;
};

// Reads path ("-": standard input) whole into in. Returns false when it
// cannot be opened or is a directory; throws Failure on a read error, a
// corrupt or truncated gzip stream, or an input above kMaxInputBytes.
bool load_input(const std::string& path, InputText& in);
// The same on bytes already in memory (fuzzing and tests).
void load_memory(const void* bytes, size_t size, const std::string& name, InputText& in);

// Inputs handed over as bytes instead of files (the Python module), each by
// the name that stands for its path in messages.
using GivenInputs = std::map<std::string, std::string>;
// load_input, but a path among the given inputs is read from its bytes.
bool load_input(const std::string& path, InputText& in, const GivenInputs* given);

// The error of an input that cannot be opened: what (as "alignment") and the
// path; a path that starts with '-' was most likely an option typed first.
[[noreturn]] void unreadable(const char* what, const std::string& path);

}  // namespace vorn
