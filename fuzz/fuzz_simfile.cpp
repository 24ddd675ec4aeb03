// The similarity-file reader on arbitrary bytes; the first byte sets nprot.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fail.hpp"
#include "input/simfile.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* sink = std::fopen("/dev/null", "w");
  if (size == 0) return 0;
  const int32_t nprot = 1 + data[0] % 100;
  std::vector<std::vector<float>> id(nprot + 1, std::vector<float>(nprot + 1));
  std::vector<float*> rows(nprot + 1);
  for (int32_t i = 0; i <= nprot; ++i) rows[i] = id[i].data();
  vorn::InputText f;
  try {
    vorn::load_memory(data + 1, size - 1, "fuzz", f);
    vorn::read_sim_mat(f, nprot, rows.data(), sink);
  } catch (const vorn::Failure&) {
  }
  return 0;
}
