#include "arrays.hpp"

#include <sys/resource.h>
#include <unistd.h>
#include <sys/sysinfo.h>

#include <cstdio>
#include <cstring>
#include <limits>

#include "fail.hpp"

namespace vorn {

namespace {

constexpr uint64_t kHuge = std::numeric_limits<uint64_t>::max();

int64_t plus(int64_t n, int64_t k) {
  int64_t r;
  return __builtin_add_overflow(n, k, &r) ? std::numeric_limits<int64_t>::max() : r;
}

// Zeroes and so faults in every page now. Called through a volatile pointer:
// malloc followed by a plain memset of zero may be turned into calloc, which
// leaves fresh pages untouched until the scoring phases.
void* (*volatile touch)(void*, int, size_t) = std::memset;
void touch_pages(void* mem, uint64_t bytes) { touch(mem, 0, bytes); }

// Large arrays aligned to 2 MiB, so that a system that gives every process
// huge pages can map them so. They are not asked for (madvise): where the
// system compacts memory for the processes that ask, a run on a machine with
// fragmented memory stalls in the kernel for longer than the 4 KiB faults
// would take (measured: 6-22 s against under 2 s at 30,000 proteins).
constexpr uint64_t kHugePage = uint64_t{1} << 21;
void* allocate_array(uint64_t bytes) {
  if (bytes < 2 * kHugePage) return std::malloc(bytes);
  const uint64_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  return std::aligned_alloc(kHugePage, rounded);
}

}  // namespace

uint64_t plan_bytes(const PlanItem& it) {
  uint64_t b;
  if (it.count < 0 || __builtin_mul_overflow(static_cast<uint64_t>(it.count), it.elem, &b)) return kHuge;
  return b == 0 ? 1 : b;
}

void errormem(int64_t step, const std::string& detail) {
  fail("\n\n** Memory asignation error. Step: %lld.\n\n%s", static_cast<long long>(step), detail.c_str());
}

namespace {

std::string gigabytes(uint64_t b) {
  if (b < (uint64_t{10} << 20)) return strformat("%.0f KB", static_cast<double>(b) / 1024);
  return b < (uint64_t{1} << 30) ? strformat("%.0f MB", static_cast<double>(b) / (1 << 20))
                                 : strformat("%.1f GB", static_cast<double>(b) / (uint64_t{1} << 30));
}

// The address space the process maps now, from /proc/self/statm (pages).
uint64_t mapped_now() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long long pages = 0;
  const int got = std::fscanf(f, "%llu", &pages);
  std::fclose(f);
  return got == 1 ? pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

}  // namespace

Allocator Allocator::for_this_process() {
  const uint64_t machine = machine_memory();
  struct rlimit as;
  if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
    const uint64_t limit = static_cast<uint64_t>(as.rlim_cur), used = mapped_now();
    // Room for the threads' stacks and the libraries' own needs is left.
    const uint64_t room = limit > used + (uint64_t{64} << 20) ? limit - used - (uint64_t{64} << 20) : 0;
    if (room < machine) return Allocator(room, "the room under the address-space limit (ulimit -v)");
  }
  return Allocator(machine);
}

void Allocator::fail_at(int64_t step, uint64_t bytes) const {
  errormem(step, strformat("** The run needs %s more for the array of step %lld, beside the %s it holds; %s is %s. "
                           "Fewer random alignments (-S), library columns (-B) or threads (-T) need less.\n",
                           gigabytes(bytes).c_str(), static_cast<long long>(step), gigabytes(reserved_).c_str(), limit_,
                           gigabytes(ceiling_).c_str()));
}

uint64_t Allocator::machine_memory() {
  struct sysinfo si;
  if (sysinfo(&si) != 0) return kHuge;
  return (static_cast<uint64_t>(si.totalram) + si.totalswap) * si.mem_unit;
}

void Allocator::check(const std::vector<PlanItem>& items) const {
  uint64_t used = reserved_;
  for (const PlanItem& it : items) {
    // Arrays the run never touches take address space, not memory.
    if (!it.prefault) continue;
    uint64_t b = plan_bytes(it);
    int64_t n = it.rows > 0 ? it.rows : 1;
    uint64_t room = used <= ceiling_ ? ceiling_ - used : 0;
    if (b > room || static_cast<uint64_t>(n) > room / b) {
      // The first array (or row) that would cross the ceiling.
      const uint64_t all = b <= UINT64_MAX / static_cast<uint64_t>(n) ? b * static_cast<uint64_t>(n) : UINT64_MAX;
      Allocator at(ceiling_, limit_);
      at.reserved_ = used;
      at.fail_at(it.rows > 0 ? plus(it.step, static_cast<int64_t>(room / b) + 1) : it.step, all);
    }
    used += b * static_cast<uint64_t>(n);
  }
}

void Allocator::claim(int64_t step, uint64_t bytes) {
  if (bytes > (reserved_ <= ceiling_ ? ceiling_ - reserved_ : 0)) fail_at(step, bytes);
  reserved_ += bytes;
}

void Allocator::allocate(const std::vector<PlanItem>& items) {
  check(items);
  for (const PlanItem& it : items) {
    uint64_t b = plan_bytes(it);
    int64_t first = it.rows > 0 ? 1 : 0, last = it.rows > 0 ? it.rows : 0;
    for (int64_t r = first; r <= last; ++r) {
      if (!it.prefault) {
        it.store(r, nullptr);  // kept for its step code: nothing to map
        continue;
      }
      void* mem = allocate_array(b);
      if (!mem) fail_at(it.rows > 0 ? it.step + r : it.step, b);
      touch_pages(mem, b);
      it.store(r, mem);
      reserved_ += b;
    }
  }
}

}  // namespace vorn
