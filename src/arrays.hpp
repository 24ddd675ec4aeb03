// The memory of a run: arrays that free themselves, tables of rows, and the
// allocator that hands out the plan's memory against the machine's.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace vorn {

// A malloc'd array that frees itself. Contents start undefined.
template <class T>
class Vec {
 public:
  Vec() = default;
  Vec(const Vec&) = delete;
  Vec& operator=(const Vec&) = delete;
  ~Vec() { std::free(p_); }
  void adopt(void* mem, int64_t n) {
    std::free(p_);
    p_ = static_cast<T*>(mem);
    n_ = n;
  }
  T& operator[](int64_t i) { return p_[i]; }
  const T& operator[](int64_t i) const { return p_[i]; }
  T* data() { return p_; }
  const T* data() const { return p_; }
  int64_t size() const { return n_; }
  bool empty() const { return p_ == nullptr; }

 private:
  T* p_ = nullptr;
  int64_t n_ = 0;
};

// A reference table whose entries 1..rows point at separately allocated rows.
template <class T>
class Table {
 public:
  Table() = default;
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  ~Table() {
    for (int64_t r = 0; r < refs_.size(); ++r) std::free(refs_[r]);
  }
  Vec<T*>& refs() { return refs_; }
  T* operator[](int64_t r) { return refs_[r]; }
  const T* operator[](int64_t r) const { return refs_[r]; }
  T* const* rows() const { return refs_.data(); }

 private:
  Vec<T*> refs_;
};

// One allocation of the plan: a single array, or rows 1..rows of a table.
struct PlanItem {
  int64_t step;    // errormem's code; row r of a table fails with step + r
  int64_t rows;    // 0 for a single array
  int64_t count;   // elements per array
  uint64_t elem;   // bytes per element
  std::function<void(int64_t row, void* mem)> store;
  // Touched when allocated, so that memory stays flat once the plan is in
  // place. false: an array the counting algorithms never use, kept in the
  // plan for its step code only: it takes neither memory nor address space.
  bool prefault = true;
};

// The bytes of one array (or row) of an item; the most there is when they
// cannot be counted.
uint64_t plan_bytes(const PlanItem& item);

// Hands out the plan's memory. Before a group is allocated its total is
// checked against the machine's memory, so that absurd sizes (a corrupt
// header, a huge -S) stop at once with the step code of the first array that
// could not be had, instead of thrashing or being killed part-way.
class Allocator {
 public:
  explicit Allocator(uint64_t ceiling_bytes, const char* limit = "the memory and swap of this machine")
      : ceiling_(ceiling_bytes), limit_(limit) {}
  // Physical memory plus swap.
  static uint64_t machine_memory();
  // The ceiling of a run: the machine's memory and swap, or the room left
  // under the address-space limit (ulimit -v) where that is less.
  static Allocator for_this_process();
  // Checks and allocates the items in order; ends the run through errormem.
  void allocate(const std::vector<PlanItem>& items);
  // The check alone, for groups that must be known to fit before earlier work.
  void check(const std::vector<PlanItem>& items) const;
  // Memory that an array reserved untouched now takes: ends the run through
  // errormem(step) when it does not fit beside what is held.
  void claim(int64_t step, uint64_t bytes);
  // A claim that also allocates the array (count elements), untouched.
  template <class T>
  void claim(int64_t step, int64_t count, Vec<T>& v) {
    claim(step, sizeof(T) * static_cast<uint64_t>(count));
    void* mem = std::malloc(sizeof(T) * static_cast<uint64_t>(count > 0 ? count : 1));
    if (!mem) fail_at(step, sizeof(T) * static_cast<uint64_t>(count));
    v.adopt(mem, count);
  }
  // Whether such a claim would fit beside what is held.
  bool fits(uint64_t bytes) const { return bytes <= (reserved_ <= ceiling_ ? ceiling_ - reserved_ : 0); }
  uint64_t reserved() const { return reserved_; }

 private:
  uint64_t ceiling_;
  const char* limit_;  // what the ceiling is, for the message
  uint64_t reserved_ = 0;
  // The stop at step code step for an array of bytes that does not fit.
  [[noreturn]] void fail_at(int64_t step, uint64_t bytes) const;
};

// The allocation stop: "** Memory asignation error. Step: %d." on standard
// output, then what was asked for against what limit when known; exit status 1.
[[noreturn]] void errormem(int64_t step, const std::string& detail = "");

}  // namespace vorn
