// Seeding the C library's generator and drawing the random permutations.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "log.hpp"

namespace vorn {

// The C library's rand() (the additive feedback generator of degree 31 that
// glibc's srand/rand run), with its state in the object: the same sequence
// for the same seed, without a process-wide state that two runs at once
// would share.
class Rand {
 public:
  explicit Rand(unsigned seed = 1);
  int next() {
    const uint32_t val = static_cast<uint32_t>(r_[f_]) + static_cast<uint32_t>(r_[b_]);
    r_[f_] = static_cast<int32_t>(val);
    f_ = f_ + 1 == kDeg ? 0 : f_ + 1;
    b_ = b_ + 1 == kDeg ? 0 : b_ + 1;
    return static_cast<int>(val >> 1);
  }

 private:
  static constexpr int kDeg = 31, kSep = 3;
  int32_t r_[kDeg];
  int f_ = kSep, b_ = 0;
};

// The seed a line of `date` output gives: atoi of the characters at offsets
// 15 and 18 (the last digits of the minutes and of the seconds). Offsets at or
// past the end of the line read as the end of the string.
int seed_from_date_line(const std::string& line);

// Runs `date` through a pipe and takes the seed from its first line into
// *seed. Returns 0, -1 when the command cannot be started, -2 when it prints
// nothing.
int setsrand(int32_t* seed);

// The index drawn from lo..hi by one value r of rand(). The top value of rand
// would give hi + 1, which is no remaining index: it is taken as hi.
int64_t draw_index(int64_t lo, int64_t hi, long r);

// Draws nsuffl permutations of 1..nprot into sufix[1..nsuffl][1..nprot],
// drawing from rng exactly nprot times per permutation. drawlist needs
// nprot + 3 entries.
void draw_permutations(Rand& rng, int64_t nsuffl, int32_t nprot, int32_t* const* sufix, int32_t* drawlist, Log& log);

// The -3 listing.
void print_permutations(FILE* out, int64_t nsuffl, int32_t nprot, const int32_t* const* sufix);

}  // namespace vorn
