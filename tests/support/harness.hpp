// Running the built binary and writing the small files the tests need.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "input/source.hpp"
#include "settings.hpp"

namespace vorn::test {

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal
};

struct RunOptions {
  // Bash commands run before the binary: limits ("ulimit -v 300000"),
  // redirections ("exec >/dev/full"), a fake `date` first on PATH.
  std::string setup;
  // A bash command run instead of the binary alone, with $VORN naming the
  // binary and the arguments as "$@": pipes, FIFOs, process substitution.
  std::string shell;
};

Outcome run_vorn(const std::vector<std::string>& args, const RunOptions& opt = {});
inline RunOptions via_shell(std::string command) {
  RunOptions o;
  o.shell = std::move(command);
  return o;
}

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes name (inside the directory) and returns its full path.
  std::string write(const std::string& name, const std::string& content) const;
  // A directory holding a `date` script that prints line (nothing when line is
  // empty); returns the directory.
  std::string fake_date(const std::string& line) const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);

// The settings the command line makes of "vorn aln matrix options...".
RunSettings settings_of(const std::string& aln, const std::string& matrix, const std::vector<std::string>& options);

// A reader run on text (loaded as the file name would be): what it writes
// to the stream it is handed, and the message of the Failure it throws.
struct Reading {
  std::string messages, failure;
};
Reading read_with(const std::string& text, const std::string& name,
                  const std::function<void(const InputText&, FILE*)>& reader);
// What body writes to the stream it is given.
std::string capture(const std::function<void(FILE*)>& body);
std::string shared_data(const std::string& rel);  // ../shared/data/rel
std::string test_data(const std::string& rel);    // tests/data/rel

}  // namespace vorn::test
