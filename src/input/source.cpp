#include "input/source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fail.hpp"

namespace vorn {

namespace {

[[noreturn]] void too_large(const std::string& name) {
  const unsigned long long mib = kMaxInputBytes >> 20;
  fail("** Error: '%s' holds more than %llu MiB; vorn reads inputs of up to %llu MiB (after decompression).\n",
       name.c_str(), mib, mib);
}

// Text has next to no control characters; a stream whose first MiB is full
// of them (/dev/zero, random bytes, an image) is refused there, instead of
// being buffered up to the size limit. Smaller inputs are left to the readers.
constexpr size_t kSniffBytes = size_t{1} << 20;

void check_text(const std::string& s, const std::string& name) {
  size_t control = 0;
  for (size_t i = 0; i < kSniffBytes; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    control += (c < 0x20 && !(c >= '\t' && c <= '\r')) || c == 0x7f;
  }
  if (control * 100 > kSniffBytes) {
    fail("** Error: '%s' is not a text file: %zu of its first %zu bytes are control characters.\n", name.c_str(),
         control, kSniffBytes);
  }
}

// Appends got bytes, checking the limit and, once, the first MiB.
void grow(std::string& s, const char* bytes, size_t got, const std::string& name) {
  if (s.size() + got > kMaxInputBytes) too_large(name);
  const bool sniff = s.size() < kSniffBytes && s.size() + got >= kSniffBytes;
  s.append(bytes, got);
  if (sniff) check_text(s, name);
}

bool gzip_magic(const std::string& s, size_t at) {
  return s.size() >= at + 2 && static_cast<unsigned char>(s[at]) == 0x1f && static_cast<unsigned char>(s[at + 1]) == 0x8b;
}

// Inflates every gzip member of raw (gzip writes several when files are
// concatenated) into out.
void inflate_gzip(const std::string& raw, const std::string& name, std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) fail("** Error: can't start decompressing '%s'.\n", name.c_str());
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
  z.avail_in = 0;
  size_t fed = 0;
  char buf[1 << 16];
  int ret = Z_OK;
  auto bad = [&](const char* why) {
    inflateEnd(&z);
    fail("** Error: '%s' is not a valid gzip file: %s.\n", name.c_str(), why);
  };
  for (;;) {
    if (z.avail_in == 0 && fed < raw.size()) {
      const size_t chunk = std::min<size_t>(raw.size() - fed, 1u << 30);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data() + fed));
      z.avail_in = static_cast<uInt>(chunk);
      fed += chunk;
    }
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    ret = inflate(&z, Z_NO_FLUSH);
    if (ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_MEM_ERROR) bad(z.msg ? z.msg : "corrupt data");
    try {
      grow(out, buf, sizeof buf - z.avail_out, name);
    } catch (...) {
      inflateEnd(&z);
      throw;
    }
    if (ret == Z_STREAM_END) {
      const size_t next = fed - z.avail_in;  // offset of the byte after this member
      if (next >= raw.size()) break;
      if (!gzip_magic(raw, next)) bad("data after the end of the compressed stream");
      inflateReset(&z);
      continue;
    }
    if (ret == Z_BUF_ERROR && z.avail_in == 0 && fed >= raw.size()) bad("the compressed stream is truncated");
  }
  inflateEnd(&z);
}

// Compressions vorn does not read, by their magic bytes: named, with the
// command that reads them, instead of being taken for text.
void other_compression(const std::string& raw, const std::string& name) {
  static const struct {
    const char* magic;
    size_t size;
    const char *kind, *tool;
  } kinds[] = {{"\xFD" "7zXZ\0", 6, "xz", "xz -dc"}, {"BZh", 3, "bzip2", "bzip2 -dc"},
               {"\x28\xB5\x2F\xFD", 4, "zstd", "zstd -dc"}};
  for (const auto& k : kinds) {
    // BZh is followed by the block size digit, which plain text rarely is.
    if (raw.compare(0, k.size, k.magic, k.size) != 0) continue;
    if (k.size == 3 && !(raw.size() > 3 && raw[3] >= '1' && raw[3] <= '9')) continue;
    const std::string shown = printable(name);
    fail("** Error: '%s' is %s-compressed: decompress it first (%s %s | vorn - ...).\n", shown.c_str(), k.kind, k.tool,
         shown.c_str());
  }
}

void finish(std::string& raw, const std::string& name, InputText& in) {
  in.name = name;
  in.data.clear();
  other_compression(raw, name);
  if (gzip_magic(raw, 0)) {
    inflate_gzip(raw, name, in.data);
    std::string().swap(raw);
  } else {
    in.data.swap(raw);
  }
  // A UTF-8 byte-order mark is no part of the text.
  if (in.data.compare(0, 3, "\xEF\xBB\xBF") == 0) in.data.erase(0, 3);
}

}  // namespace

bool load_input(const std::string& path, InputText& in) {
  const bool std_in = path == "-";
  const int fd = std_in ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      if (!std_in) close(fd);
      return false;
    }
    // A regular file's size is known before reading: a huge one (a 2 GB
    // sparse file) is refused at once.
    if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > kMaxInputBytes) {
      if (!std_in) close(fd);
      too_large(path);
    }
  }
  std::string raw;
  if (S_ISREG(st.st_mode) && st.st_size > 0) raw.reserve(static_cast<size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      if (!std_in) close(fd);
      fail("** Error: can't read '%s': %s.\n", path.c_str(), std::strerror(e));
    }
    try {
      // Compressed bytes are no text: a gzip stream's first MiB is checked
      // after inflating, whatever sizes the reads came in.
      const bool sniff = raw.size() < kSniffBytes && raw.size() + static_cast<size_t>(n) >= kSniffBytes;
      if (raw.size() + static_cast<size_t>(n) > kMaxInputBytes) too_large(path);
      raw.append(buf, static_cast<size_t>(n));
      if (sniff && !gzip_magic(raw, 0)) check_text(raw, path);
    } catch (...) {
      if (!std_in) close(fd);
      throw;
    }
  }
  if (!std_in) close(fd);
  finish(raw, path, in);
  return true;
}

void load_memory(const void* bytes, size_t size, const std::string& name, InputText& in) {
  if (size > kMaxInputBytes) too_large(name);
  std::string raw(static_cast<const char*>(bytes), size);
  // The guard a file's first MiB passes, for bytes handed over in memory.
  if (raw.size() >= kSniffBytes && !gzip_magic(raw, 0)) check_text(raw, name);
  finish(raw, name, in);
}

void unreadable(const char* what, const std::string& path) {
  const bool option = path.size() > 1 && path[0] == '-';
  fail("** Error: Can't read %s file: %s%s\n", what, path.c_str(),
       option ? " (the two paths come first: vorn alignment matrix [options])" : "");
}

bool load_input(const std::string& path, InputText& in, const GivenInputs* given) {
  const auto it = given ? given->find(path) : GivenInputs::const_iterator();
  if (!given || it == given->end()) return load_input(path, in);
  load_memory(it->second.data(), it->second.size(), path, in);
  return true;
}

}  // namespace vorn
