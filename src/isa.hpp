// The one place that decides which instruction set the kernels use. Every
// kernel with a vector build asks active_isa(); VORN_ISA=generic|avx2|avx512
// in the environment (or set_isa_limit, for tests in one process) caps it
// below what the processor has, so that every path of a build can be run and
// compared on one machine.
#pragma once

#include <cstdint>

namespace vorn {

enum class Isa { Generic = 0, Avx2 = 1, Avx512 = 2 };  // Avx512: F, BW and VL

Isa machine_isa();  // what this processor can run
Isa active_isa();   // what the kernels use: the machine's, capped by the limit
void set_isa_limit(Isa limit);
const char* isa_name(Isa isa);

// How many kernel calls the clones of each instruction set have taken in
// this process (each clone counts its own calls): diagnostics that the tests
// read, to see which paths ran.
void count_isa_call(Isa isa);
uint64_t isa_calls(Isa isa);

// One body built three times, for AVX-512, AVX2 and the generic target, and
// the call that picks one at run time. Each clone of NAME is NAME_avx512,
// NAME_avx2, NAME_generic; the body is usually an always-inline template.
#define VORN_ISA_CLONES(ret, name, params, body)                                                    \
  __attribute__((target("avx512f"))) ret name##_avx512 params {                                    \
    ::vorn::count_isa_call(::vorn::Isa::Avx512);                                                    \
    body                                                                                            \
  }                                                                                                 \
  __attribute__((target("avx2"))) ret name##_avx2 params {                                         \
    ::vorn::count_isa_call(::vorn::Isa::Avx2);                                                      \
    body                                                                                            \
  }                                                                                                 \
  ret name##_generic params {                                                                       \
    ::vorn::count_isa_call(::vorn::Isa::Generic);                                                   \
    body                                                                                            \
  }
#define VORN_ISA_CALL(name, ...)                                                                    \
  (::vorn::active_isa() == ::vorn::Isa::Avx512 ? name##_avx512(__VA_ARGS__)                         \
   : ::vorn::active_isa() == ::vorn::Isa::Avx2 ? name##_avx2(__VA_ARGS__)                           \
                                               : name##_generic(__VA_ARGS__))

}  // namespace vorn
