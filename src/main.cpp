// vorn: scores every alignment position by how well its substitution pattern
// follows the similarity of the proteins.
#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "fail.hpp"
#include "log.hpp"
#include "run.hpp"
#include "settings.hpp"

namespace {

// A closed standard descriptor would be handed to the next file opened, and
// results or progress would land in it.
bool guard_standard_descriptors() {
  if (fcntl(STDERR_FILENO, F_GETFD) < 0) {
    int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0 && fd != STDERR_FILENO) close(fd);
  }
  return fcntl(STDOUT_FILENO, F_GETFD) >= 0;
}

char g_outbuf[1 << 16];

}  // namespace

int main(int argc, char** argv) {
  if (!guard_standard_descriptors()) {
    std::fputs("** Error: standard output is closed; there is nowhere to write the results.\n", stderr);
    return 1;
  }
  std::setvbuf(stdout, g_outbuf, _IOFBF, sizeof g_outbuf);
  // A file-size limit makes the write fail (and the run report it) instead
  // of killing the process.
  std::signal(SIGXFSZ, SIG_IGN);
  vorn::Log log(stderr);
  try {
    if (argc < 3) {
      std::string u = vorn::usage_text();
      std::fwrite(u.data(), 1, u.size(), stdout);
      std::fflush(stdout);
      return 1;
    }
    log.status("Vorn-Kalbrith v. %s\n", vorn::kVersion);
    vorn::RunSettings settings;
    settings.aln_path = argv[1];
    settings.matrix_path = argv[2];
    vorn::parse_options(std::vector<std::string>(argv + 3, argv + argc), settings);
    settings.command.assign(argv, argv + argc);
    log.set_quiet(settings.quiet);
    if (settings.threads > 0) omp_set_num_threads(settings.threads);
    // Start the worker threads now: their stacks are reserved before the
    // allocation plan, so no memory is needed once the heavy phases begin.
#pragma omp parallel
    { (void)0; }
    vorn::run(settings, stdout, log);
    log.flush();
    return 0;
  } catch (const vorn::Failure& f) {
    log.flush();
    FILE* dest = f.on_stderr ? stderr : stdout;
    std::fwrite(f.message.data(), 1, f.message.size(), dest);
    std::fflush(dest);
    return 1;
  } catch (const std::bad_alloc&) {
    log.flush();
    std::fputs("** Error: out of memory.\n", stdout);
    std::fflush(stdout);
    return 1;
  }
}
