// The alignment and the matrix through pipes, as `vorn <(...) <(...)` gives
// them: both phases of the alignment reader and the matrix reader must work
// from the one copy each input is read into, since a pipe cannot be read again.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>

#include "fail.hpp"
#include "input/alignment.hpp"
#include "input/matrix.hpp"

namespace {

// Writes bytes into a new pipe from a thread; returns the path of its read end.
std::string piped(const uint8_t* data, size_t size, int& read_end, std::thread& writer) {
  int fds[2];
  if (pipe(fds) != 0) return "";
  read_end = fds[0];
  writer = std::thread([=] {
    for (size_t at = 0; at < size;) {
      const ssize_t n = write(fds[1], data + at, size - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    close(fds[1]);
  });
  return "/dev/fd/" + std::to_string(fds[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t split = std::min<size_t>(size - 1, data[0] * 16u);
  vorn::Log quiet(nullptr);
  int fa = -1, fm = -1;
  std::thread wa, wm;
  const std::string pa = piped(data + 1, split, fa, wa), pm = piped(data + 1 + split, size - 1 - split, fm, wm);
  try {
    vorn::AaMat m{};
    vorn::read_matrix(pm, m, quiet);
    vorn::AlignmentSource src;
    vorn::alignment_dimensions(pa, src, quiet);
    if (src.nprot * src.alnlen <= 1 << 20) {
      std::vector<std::vector<int32_t>> rows(src.nprot + 2, std::vector<int32_t>(src.alnlen + 2));
      std::vector<int32_t*> refs;
      for (auto& r : rows) refs.push_back(r.data());
      std::vector<int32_t> var(src.alnlen + 2), acc(src.alnlen + 2), pdbnum(src.alnlen + 2);
      std::string sec(src.alnlen + 2, '-'), chain(src.alnlen + 2, ' ');
      std::vector<uint8_t> res1(src.alnlen + 2);
      vorn::alignment_residues(src, {refs.data(), var.data(), acc.data(), sec.data(), pdbnum.data(), chain.data(),
                                     res1.data()});
    }
  } catch (const vorn::Failure&) {
  }
  // A reader that stopped early leaves its writer blocked: draining the pipe ends it.
  for (int fd : {fa, fm}) {
    char buf[4096];
    while (fd >= 0 && read(fd, buf, sizeof buf) > 0) {
    }
  }
  wa.join(), wm.join();
  close(fa), close(fm);
  return 0;
}
