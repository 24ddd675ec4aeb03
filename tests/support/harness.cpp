#include "support/harness.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "fail.hpp"

namespace vorn::test {

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string capture(const std::function<void(FILE*)>& body) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* out = open_memstream(&buf, &len);
  body(out);
  std::fclose(out);
  std::string s(buf, len);
  std::free(buf);
  return s;
}

Reading read_with(const std::string& text, const std::string& name,
                  const std::function<void(const InputText&, FILE*)>& reader) {
  Reading r;
  r.messages = capture([&](FILE* sink) {
    try {
      InputText in;
      load_memory(text.data(), text.size(), name, in);
      reader(in, sink);
    } catch (const Failure& f) {
      r.failure = f.message;
    }
  });
  return r;
}

std::string shared_data(const std::string& rel) { return std::string(VORN_SHARED_DATA) + "/" + rel; }
std::string test_data(const std::string& rel) { return std::string(VORN_TEST_DATA) + "/" + rel; }

TempDir::TempDir() {
  char tmpl[] = "/tmp/vorn-test-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
  std::string full = path_ + "/" + name;
  std::ofstream f(full, std::ios::binary);
  f << content;
  return full;
}

std::string TempDir::fake_date(const std::string& line) const {
  std::string dir = path_ + "/fakebin";
  std::filesystem::create_directories(dir);
  std::string script = dir + "/date";
  std::ofstream f(script);
  if (line.empty()) {
    f << "#!/bin/sh\nexit 0\n";  // prints nothing
  } else {
    f << "#!/bin/sh\nprintf '%s\\n' '" << line << "'\n";
  }
  f.close();
  chmod(script.c_str(), 0755);
  return dir;
}

Outcome run_vorn(const std::vector<std::string>& args, const RunOptions& opt) {
  TempDir tmp;
  const std::string out_path = opt.stdout_file.empty() ? tmp.path() + "/out" : opt.stdout_file;
  const std::string err_path = tmp.path() + "/err";
  pid_t pid = fork();
  if (pid == 0) {
    int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(e, 2);
    close(e);
    if (opt.close_stdout) {
      close(1);
    } else {
      int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(o, 1);
      close(o);
    }
    if (!opt.path_prefix.empty()) {
      std::string path = opt.path_prefix + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
      setenv("PATH", path.c_str(), 1);
    }
    for (const std::string& kv : opt.env) putenv(const_cast<char*>(kv.c_str()));
    if (opt.file_limit_kb > 0) {
      // Writes past the limit then fail with EFBIG instead of killing.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit rl{static_cast<rlim_t>(opt.file_limit_kb) * 1024, static_cast<rlim_t>(opt.file_limit_kb) * 1024};
      setrlimit(RLIMIT_FSIZE, &rl);
    }
    std::vector<std::string> argv_s;
    std::string prog = VORN_BINARY;
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    close(in);
    if (!opt.shell.empty()) {
      setenv("VORN", prog.c_str(), 1);
      argv_s = {"/bin/bash", "-c", (opt.ulimit_kb.empty() ? "" : "ulimit -v " + opt.ulimit_kb + "; ") + opt.shell,
                "vorn"};
    } else if (!opt.ulimit_kb.empty()) {
      argv_s = {"/bin/sh", "-c", "ulimit -v " + opt.ulimit_kb + " && exec \"$0\" \"$@\"", prog};
    } else {
      argv_s = {prog};
    }
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argv_s) argv.push_back(s.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  Outcome r;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  if (opt.stdout_file.empty() && !opt.close_stdout) r.out = read_file(out_path);
  r.err = read_file(err_path);
  return r;
}

}  // namespace vorn::test
