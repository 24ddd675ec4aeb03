// vorn: scores every alignment position by how well its substitution pattern
// follows the similarity of the proteins.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "fail.hpp"
#include "isa.hpp"
#include "log.hpp"
#include "run.hpp"
#include "cli/options.hpp"

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

// Worker threads that sleep when they wait (run.hpp). libgomp reads its wait
// settings from the environment when it loads, before main, so the program
// starts itself once more with the setting in place.
void sleeping_waits(char** argv) {
  if (std::getenv("OMP_WAIT_POLICY") || std::getenv("GOMP_SPINCOUNT")) return;
  if (setenv("OMP_WAIT_POLICY", vorn::kWaitPolicy, 0) != 0) return;
  execv("/proc/self/exe", argv);
  // No /proc: the threads spin as libgomp's default has them, and nothing else changes.
}

// Errors belong on standard output, where the format puts them; when that is
// a file or a pipe the user would not see them, so they are copied to
// standard error as well (after the progress texts, on a line of their own).
void report_error(const std::string& message, bool stderr_only) {
  if (!stderr_only) {
    std::fwrite(message.data(), 1, message.size(), stdout);
    std::fflush(stdout);
  }
  if (stderr_only || !isatty(STDOUT_FILENO)) {
    const size_t start = message.find_first_not_of('\n');  // the memory error's blank lines stay on stdout
    std::fputs("\n", stderr);
    std::fputs(message.c_str() + (start == std::string::npos ? 0 : start), stderr);
    std::fflush(stderr);
  }
}

// stdout written in full, as the exit status says.
int flushed() { return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1; }

int print_version() {
  std::printf("vorn %s\nkernels: %s (this processor: %s; VORN_ISA=generic, avx2 or avx512 caps it)\n", vorn::kVersion,
              vorn::isa_name(vorn::active_isa()), vorn::isa_name(vorn::machine_isa()));
  const char* policy = std::getenv("OMP_WAIT_POLICY");
  const char* spins = std::getenv("GOMP_SPINCOUNT");
  std::printf("waiting threads: %s\n", spins && !policy ? ("GOMP_SPINCOUNT=" + std::string(spins)).c_str()
                                                     : policy ? policy : "libgomp's default");
  return flushed();
}

// What a run would take (the workflow's resource requests): key<TAB>value lines.
int print_plan(int argc, char** argv) {
  vorn::CommandLine c;
  c.run.aln_path = argv[2];
  c.run.matrix_path = argv[3];
  vorn::parse_options(std::vector<std::string>(argv + 4, argv + argc), c);
  vorn::Log quiet(nullptr);
  const vorn::RunPlan p = vorn::plan(c.run, quiet);
  std::printf("proteins\t%lld\ncolumns\t%lld\nmemory_bytes\t%llu\nmemory_bytes_at_most\t%llu\n",
              static_cast<long long>(p.nprot), static_cast<long long>(p.alnlen),
              static_cast<unsigned long long>(p.bytes), static_cast<unsigned long long>(p.most_bytes));
  return flushed();
}

// The run the command line asks for.
int run_command_line(int argc, char** argv, vorn::Log& log) {
  log.status("Vorn-Kalbrith v. %s\n", vorn::kVersion);
  vorn::CommandLine c;
  c.run.aln_path = argv[1];
  c.run.matrix_path = argv[2];
  vorn::parse_options(std::vector<std::string>(argv + 3, argv + argc), c);
  c.run.invocation.assign(argv, argv + argc);
  // The result lines keep their fixed form: the tree null shows in the table only.
  if (c.run.ntree > 0 && c.run.outprefix.empty())
    c.warnings.push_back("** Warning: -B's values (Zscr_tree, Pval_tree, qval_tree) go to the -O table only, "
                         "not to the result lines: add -O=prefix to see them.\n");
  if (!c.run.structure.empty() && c.run.outprefix.empty())
    c.warnings.push_back("** Warning: -P's 3D view is drawn in the page of -O=prefix (prefix.html): add "
                         "-O=prefix to see it; the residue check still runs.\n");
  for (const std::string& w : c.warnings) log.warn("%s", w.c_str());
  log.set_quiet(c.quiet);
  vorn::run(c.run, vorn::Output{stdout, c.listings}, log);
  log.flush();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  sleeping_waits(argv);
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
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
      const std::string h = vorn::help_text();
      std::fwrite(h.data(), 1, h.size(), stdout);
      return flushed();
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return print_version();
    if (argc >= 4 && std::strcmp(argv[1], "--plan") == 0) return print_plan(argc, argv);
    if (argc < 3) {
      const std::string u = vorn::usage_text();
      std::fwrite(u.data(), 1, u.size(), stdout);
      std::fflush(stdout);
      return 1;
    }
    return run_command_line(argc, argv, log);
  } catch (const vorn::Failure& f) {
    log.flush();
    report_error(f.message, f.on_stderr);
    return 1;
  } catch (const std::bad_alloc&) {
    log.flush();
    report_error("** Error: out of memory.\n", false);
    return 1;
  }
}
