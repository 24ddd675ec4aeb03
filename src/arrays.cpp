#include "arrays.hpp"

#include <sys/mman.h>
#include <sys/sysinfo.h>

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

// Large arrays on 2 MiB pages where the system offers them: faulting them in
// then takes one fault per 2 MiB instead of one per 4 KiB.
constexpr uint64_t kHugePage = uint64_t{1} << 21;
void* allocate_array(uint64_t bytes) {
  if (bytes < 2 * kHugePage) return std::malloc(bytes);
  const uint64_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* mem = std::aligned_alloc(kHugePage, rounded);
  if (mem) madvise(mem, rounded, MADV_HUGEPAGE);
  return mem;
}

}  // namespace

uint64_t plan_bytes(const PlanItem& it) {
  uint64_t b;
  if (it.count < 0 || __builtin_mul_overflow(static_cast<uint64_t>(it.count), it.elem, &b)) return kHuge;
  return b == 0 ? 1 : b;
}

void errormem(int64_t step) { fail("\n\n** Memory asignation error. Step: %lld.\n\n", static_cast<long long>(step)); }

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
      errormem(it.rows > 0 ? plus(it.step, static_cast<int64_t>(room / b) + 1) : it.step);
    }
    used += b * static_cast<uint64_t>(n);
  }
}

void Allocator::claim(int64_t step, uint64_t bytes) {
  if (bytes > (reserved_ <= ceiling_ ? ceiling_ - reserved_ : 0)) errormem(step);
  reserved_ += bytes;
}

void Allocator::allocate(const std::vector<PlanItem>& items) {
  check(items);
  for (const PlanItem& it : items) {
    uint64_t b = plan_bytes(it);
    int64_t first = it.rows > 0 ? 1 : 0, last = it.rows > 0 ? it.rows : 0;
    for (int64_t r = first; r <= last; ++r) {
      void* mem = allocate_array(b);
      if (!mem) errormem(it.rows > 0 ? it.step + r : it.step);
      if (it.prefault) touch_pages(mem, b);
      it.store(r, mem);
      if (it.prefault) reserved_ += b;
    }
  }
}

}  // namespace vorn
