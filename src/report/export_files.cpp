#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "fail.hpp"
#include "report/exports.hpp"
#include "report/page.hpp"

namespace vorn {

namespace {

// The temporary files of every run in the process, for the signal handler:
// plain arrays, so that it can remove them without allocating, and slots that
// each run claims and frees itself, so that runs at once keep theirs apart.
constexpr int kSlots = 64;
enum : int { kFree, kWriting, kReady };
char g_temp[kSlots][4096];
std::atomic<int> g_slot[kSlots];

int register_temporary(const std::string& name) {
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!g_slot[i].compare_exchange_strong(expected, kWriting)) continue;
    std::memcpy(g_temp[i], name.c_str(), name.size() + 1);
    g_slot[i].store(kReady);
    return i;
  }
  return -1;  // more runs at once than slots: this file is not removed on a signal
}

void release_temporary(int& slot) {
  if (slot >= 0) g_slot[slot].store(kFree);
  slot = -1;
}

extern "C" void remove_temporaries(int sig) {
  for (int i = 0; i < kSlots; ++i)
    if (g_slot[i].load() == kReady) unlink(g_temp[i]);
  // End by the signal, as the run would have without the handler.
  std::signal(sig, SIG_DFL);
  raise(sig);
}

void on_signals() {
  static const bool installed = [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, remove_temporaries);
    return true;
  }();
  (void)installed;
}

// The process's umask, read once: setting it to read it is not safe while
// another run creates files.
mode_t user_umask() {
  static const mode_t mask = [] {
    const mode_t m = umask(0);
    umask(m);
    return m;
  }();
  return mask;
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

ExportFiles::ExportFiles(const std::string& prefix) : prefix_(prefix) {
  on_signals();
  for (const char* ext : {".tsv", ".svg", ".pml", ".defattr", ".json", ".html", ".jalview"}) {
    Part p{prefix + ext, prefix + ext + ".XXXXXX"};
    std::vector<char> name(p.temp_path.begin(), p.temp_path.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0 || name.size() >= sizeof g_temp[0]) {
      const int e = errno;
      if (fd >= 0) close(fd), unlink(name.data());
      fail("** Error: can't write '%s': %s.\n", p.final_path.c_str(), std::strerror(e));
    }
    fchmod(fd, 0666 & ~user_umask());  // mkstemp makes 0600; the files are the user's, as any other output
    p.temp_path = name.data();
    p.f = fdopen(fd, "w");
    p.slot = register_temporary(p.temp_path);
    parts_.push_back(p);
  }
}

ExportFiles::~ExportFiles() {
  for (Part& p : parts_) {
    if (p.f) std::fclose(p.f);
    if (!p.temp_path.empty()) unlink(p.temp_path.c_str());
    release_temporary(p.slot);
  }
}

void ExportFiles::write(const Results& r, const PageExtras& page) {
  write_tsv(parts_[0].f, r);
  write_svg(parts_[1].f, r);
  write_pml(parts_[2].f, r);
  write_defattr(parts_[3].f, r);
  write_record(parts_[4].f, r.record);
  write_html(parts_[5].f, r, page);
  write_jalview(parts_[6].f, r);
  for (Part& p : parts_) {
    const bool bad = std::ferror(p.f) != 0;
    errno = 0;
    const bool closed = std::fclose(p.f) == 0;
    p.f = nullptr;
    if (bad || !closed) {
      const int e = errno ? errno : EIO;
      fail("** Error: can't write '%s': %s.\n", p.final_path.c_str(), std::strerror(e));
    }
  }
  commit();
}

// Renames the complete files into place: all of them or, when a name is
// blocked, none. The lock on the folder keeps two runs given the same prefix
// from interleaving their sets; the last to commit wins.
void ExportFiles::commit() {
  const std::string folder = folder_of(prefix_);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || flock(dir, LOCK_EX) != 0) {
    const int e = errno;
    if (dir >= 0) close(dir);
    fail("** Error: can't lock the folder '%s' of the export files: %s.\n", folder.c_str(), std::strerror(e));
  }
  for (const Part& p : parts_) {
    struct stat st;
    if (stat(p.final_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      close(dir);
      fail("** Error: can't write '%s': it is a directory; no export file was written.\n", p.final_path.c_str());
    }
  }
  for (Part& p : parts_) {
    if (std::rename(p.temp_path.c_str(), p.final_path.c_str()) != 0) {
      const int e = errno;
      close(dir);
      fail("** Error: can't rename '%s' to '%s': %s.\n", p.temp_path.c_str(), p.final_path.c_str(), std::strerror(e));
    }
    p.temp_path.clear();
    release_temporary(p.slot);
  }
  fsync(dir);
  close(dir);
  parts_.clear();
}

}  // namespace vorn
