// The matrix reader on arbitrary bytes: it must end in a table or a Failure.
#include <cstdint>

#include "fail.hpp"
#include "input/matrix.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorn::AaMat m{};
  vorn::Log quiet(nullptr);
  vorn::InputText f;
  try {
    vorn::load_memory(data, size, "fuzz", f);  // gzip and byte-order mark included
    vorn::read_matrix(f, m, quiet);
  } catch (const vorn::Failure&) {
  }
  return 0;
}
