// The tree null's random numbers: splitmix64, one independent stream per
// library column, whatever thread evolves it.
#pragma once

#include <cmath>
#include <cstdint>

namespace vorn {

struct Stream {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  // Exponential of mean 1 (never infinite: uniform() < 1).
  double exponential() { return -std::log1p(-uniform()); }
  uint64_t below(uint64_t n) { return static_cast<uint64_t>((static_cast<unsigned __int128>(next()) * n) >> 64); }
};

}  // namespace vorn
