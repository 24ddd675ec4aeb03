#include "support/harness.hpp"

#include "cli/options.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "fail.hpp"

namespace vorn::test {

RunSettings settings_of(const std::string& aln, const std::string& matrix, const std::vector<std::string>& options) {
  CommandLine c;
  c.run.aln_path = aln;
  c.run.matrix_path = matrix;
  parse_options(options, c);
  return c.run;
}

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
  f << "#!/bin/sh\n" << (line.empty() ? std::string("exit 0\n") : "printf '%s\\n' '" + line + "'\n");  // "": prints nothing
  f.close();
  chmod(script.c_str(), 0755);
  return dir;
}

Outcome run_vorn(const std::vector<std::string>& args, const RunOptions& opt) {
  TempDir tmp;
  const std::string out_path = tmp.path() + "/out", err_path = tmp.path() + "/err";
  pid_t pid = fork();
  if (pid == 0) {
    const std::pair<int, std::string> streams[] = {{0, "/dev/null"}, {1, out_path}, {2, err_path}};
    for (const auto& [fd, path] : streams) {
      const int f = open(path.c_str(), fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(f, fd);
      close(f);
    }
    setenv("VORN", VORN_BINARY, 1);
    std::vector<std::string> argv_s = {
        "/bin/bash", "-c", opt.setup + "\n" + (opt.shell.empty() ? "exec \"$VORN\" \"$@\"" : opt.shell), "vorn"};
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
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  return r;
}

}  // namespace vorn::test
