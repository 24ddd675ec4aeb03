#include "isa.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace vorn {

namespace {

Isa probe() {
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl"))
    return Isa::Avx512;
  return __builtin_cpu_supports("avx2") ? Isa::Avx2 : Isa::Generic;
}

Isa from_environment() {
  const char* v = std::getenv("VORN_ISA");
  if (v == nullptr) return Isa::Avx512;
  if (std::strcmp(v, "generic") == 0) return Isa::Generic;
  if (std::strcmp(v, "avx2") == 0) return Isa::Avx2;
  return Isa::Avx512;
}

// Read once; a process-wide setting, not state of a run.
std::atomic<int>& limit() {
  static std::atomic<int> l{static_cast<int>(from_environment())};
  return l;
}

}  // namespace

Isa machine_isa() {
  static const Isa isa = probe();
  return isa;
}

Isa active_isa() {
  const int cap = limit().load(std::memory_order_relaxed);
  const int have = static_cast<int>(machine_isa());
  return static_cast<Isa>(have < cap ? have : cap);
}

namespace {

// One counter a clone, each on a cache line of its own: the threads count
// their calls at once.
struct alignas(64) CallCount {
  std::atomic<uint64_t> n{0};
};
CallCount g_calls[3];

}  // namespace

void count_isa_call(Isa isa) { g_calls[static_cast<int>(isa)].n.fetch_add(1, std::memory_order_relaxed); }
uint64_t isa_calls(Isa isa) { return g_calls[static_cast<int>(isa)].n.load(std::memory_order_relaxed); }

void set_isa_limit(Isa l) { limit().store(static_cast<int>(l), std::memory_order_relaxed); }

const char* isa_name(Isa isa) {
  switch (isa) {
    case Isa::Avx512: return "avx512";
    case Isa::Avx2: return "avx2";
    default: return "generic";
  }
}

}  // namespace vorn
