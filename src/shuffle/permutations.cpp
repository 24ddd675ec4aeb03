#include "shuffle/permutations.hpp"

#include <cstdlib>
#include <cstring>

#include "input/lineinput.hpp"

namespace vorn {

int seed_from_date_line(const std::string& line) {
  char two[3] = {0, 0, 0};
  two[0] = line.size() > 15 ? line[15] : '\0';
  two[1] = two[0] != '\0' && line.size() > 18 ? line[18] : '\0';
  return int_field(two, 0).clamped();
}

int setsrand(int32_t* seed) {
  std::fflush(nullptr);
  FILE* pipe = popen("date", "r");
  if (!pipe) return -1;
  char buf[999];
  if (!std::fgets(buf, sizeof buf, pipe)) {
    pclose(pipe);
    return -2;
  }
  pclose(pipe);
  *seed = seed_from_date_line(std::string(buf, std::strlen(buf)));
  return 0;
}

Rand::Rand(unsigned seed) {
  // glibc's srandom: a Lehmer sequence fills the state, then 310 draws are
  // discarded.
  r_[0] = static_cast<int32_t>(seed == 0 ? 1 : seed);
  int32_t word = r_[0];  // 32-bit as in the library: seeds from 2^31 on start negative
  for (int i = 1; i < kDeg; ++i) {
    const long hi = word / 127773, lo = word % 127773;
    word = static_cast<int32_t>(16807 * lo - 2836 * hi);
    if (word < 0) word += 2147483647;
    r_[i] = static_cast<int32_t>(word);
  }
  for (int i = 0; i < kDeg * 10; ++i) next();
}

int64_t draw_index(int64_t lo, int64_t hi, long r) {
  const double span = static_cast<double>(hi - lo + 1);
  int64_t idx = lo + static_cast<int64_t>((static_cast<double>(r) * span) / 2147483647.0);
  return idx > hi ? hi : idx;
}

namespace {

// The remaining indices as a Fenwick tree of 0/1 marks: the idx-th smallest
// remaining index is found in O(log nprot) instead of by shifting the list.
int32_t take_kth(int32_t* tree, int32_t n, int32_t top_bit, int64_t k) {
  int32_t pos = 0;
  for (int32_t step = top_bit; step > 0; step >>= 1) {
    if (pos + step <= n && tree[pos + step] < k) {
      pos += step;
      k -= tree[pos];
    }
  }
  const int32_t found = pos + 1;
  for (int32_t i = found; i <= n; i += i & -i) --tree[i];
  return found;
}

}  // namespace

void draw_permutations(Rand& rng, int64_t nsuffl, int32_t nprot, int32_t* const* sufix, int32_t* drawlist, Log& log) {
  int32_t top_bit = 1;
  while (top_bit * 2 <= nprot) top_bit *= 2;
  for (int64_t s = 1; s <= nsuffl; ++s) {
    log.progress("\rVector: %lld                                     ", static_cast<long long>(s));
    if ((s & 255) == 0) log.checkpoint();  // millions of draws: a stop must not wait for them all
    // Every index present once: tree[i] covers the range (i - lowbit(i), i].
    for (int32_t i = 1; i <= nprot; ++i) drawlist[i] = i & -i;
    int64_t hi = nprot;
    for (int32_t i = 1; i <= nprot; ++i) {
      const int64_t idx = draw_index(1, hi, rng.next());
      sufix[s][i] = take_kth(drawlist, nprot, top_bit, idx);
      --hi;
    }
  }
}

void print_permutations(FILE* out, int64_t nsuffl, int32_t nprot, const int32_t* const* sufix) {
  std::fprintf(out, "Vectors of random indices (%lld):\n", static_cast<long long>(nsuffl));
  for (int64_t s = 1; s <= nsuffl; ++s) {
    std::fprintf(out, "%4lld: ", static_cast<long long>(s));
    for (int32_t i = 1; i <= nprot; ++i) std::fprintf(out, "%3d ", sufix[s][i]);
    std::fputc('\n', out);
  }
  std::fprintf(out, "------------\n");
}

}  // namespace vorn
