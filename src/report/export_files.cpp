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

namespace vorn {

namespace {

// The temporary files of this run, for the signal handler: plain arrays, so
// that it can remove them without allocating.
constexpr int kMaxParts = 8;
char g_temp[kMaxParts][4096];
std::atomic<int> g_ntemp{0};

extern "C" void remove_temporaries(int sig) {
  for (int i = 0; i < g_ntemp.load(); ++i)
    if (g_temp[i][0]) unlink(g_temp[i]);
  // End by the signal, as the run would have without the handler.
  std::signal(sig, SIG_DFL);
  raise(sig);
}

void on_signals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, remove_temporaries);
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

ExportFiles::ExportFiles(const std::string& prefix) : prefix_(prefix) {
  on_signals();
  for (const char* ext : {".tsv", ".svg", ".pml", ".defattr", ".json"}) {
    Part p{prefix + ext, prefix + ext + ".XXXXXX"};
    std::vector<char> name(p.temp_path.begin(), p.temp_path.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0 || name.size() > sizeof g_temp[0]) {
      const int e = errno;
      if (fd >= 0) close(fd), unlink(name.data());
      fail("** Error: can't write '%s': %s.\n", p.final_path.c_str(), std::strerror(e));
    }
    const mode_t mask = umask(0);  // mkstemp makes 0600; the files are the user's, as any other output
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    p.temp_path = name.data();
    p.f = fdopen(fd, "w");
    const int slot = g_ntemp.load();
    std::memcpy(g_temp[slot], name.data(), name.size());
    g_ntemp.store(slot + 1);
    parts_.push_back(p);
  }
}

ExportFiles::~ExportFiles() {
  for (Part& p : parts_) {
    if (p.f) std::fclose(p.f);
    unlink(p.temp_path.c_str());
  }
  g_ntemp.store(0);
}

void ExportFiles::write(const ResultRow* rows, int32_t n, const std::vector<Site>& sites, const ExportInfo& info) {
  write_tsv(parts_[0].f, rows, n, sites, info);
  write_svg(parts_[1].f, rows, n, sites, info);
  write_pml(parts_[2].f, rows, n, sites, info);
  write_defattr(parts_[3].f, rows, n, sites, info);
  write_record(parts_[4].f, info);
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
  }
  fsync(dir);
  close(dir);
  g_ntemp.store(0);
  parts_.clear();
}

}  // namespace vorn
