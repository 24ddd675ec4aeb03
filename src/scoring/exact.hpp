// When a set of floats sums exactly in double precision in every order.
//
// If every value is an integer multiple of 2^q and the sum of their
// magnitudes is below 2^53 * 2^q, every partial sum is representable, so the
// double sum taken in pair order equals the exact sum, which can then be had
// from counts and row totals instead of a pass over the pairs.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vorn {

// v = mant * 2^exp with mant odd (mant = 0 for v = 0).
struct Dyadic {
  int64_t mant = 0;
  int exp = std::numeric_limits<int>::max();
};

// Read from the bits: (2^23 + fraction) * 2^(exponent - 150) for normal
// numbers, fraction * 2^-149 for subnormal ones, then the trailing zeros taken
// out of the mantissa. v must be finite.
inline Dyadic dyadic(float v) {
  Dyadic d;
  if (v == 0.0f) return d;
  uint32_t u;
  std::memcpy(&u, &v, sizeof u);
  const int field = static_cast<int>((u >> 23) & 0xFF);
  uint32_t m = u & 0x7FFFFF;
  int e = -149;
  if (field != 0) {
    m |= 0x800000;
    e = field - 150;
  }
  const int tz = std::countr_zero(m);
  d.mant = static_cast<int64_t>(m >> tz) * ((u >> 31) ? -1 : 1);
  d.exp = e + tz;
  return d;
}

// Accumulates weighted magnitudes and decides whether the scale q works.
class ExactScale {
 public:
  // First pass: the smallest exponent among the values.
  void see(float v) {
    Dyadic d = dyadic(v);
    if (d.mant != 0 && d.exp < q_) q_ = d.exp;
  }
  int q() const { return q_ == std::numeric_limits<int>::max() ? 0 : q_; }
  // Second pass: v (times weight) in units of 2^q; false once the bound is passed.
  bool add(float v, int64_t weight) {
    if (!ok_ || v == 0.0f || weight == 0) return ok_;
    Dyadic d = dyadic(v);
    const int shift = d.exp - q();
    if (shift > 53) return ok_ = false;
    const __int128 term = static_cast<__int128>(d.mant < 0 ? -d.mant : d.mant) << shift;
    magnitude_ += term * weight;
    if (magnitude_ >= (static_cast<__int128>(1) << 53)) ok_ = false;
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  int q_ = std::numeric_limits<int>::max();
  __int128 magnitude_ = 0;
  bool ok_ = true;
};

// v / 2^q as an integer; exact when ExactScale approved q (and v is then a
// multiple of 2^q below 2^53 * 2^q).
inline int64_t scaled(float v, int q) {
  const Dyadic d = dyadic(v);
  return d.mant == 0 ? 0 : d.mant * (int64_t{1} << (d.exp - q));
}
inline double unscaled(int64_t s, int q) { return std::ldexp(static_cast<double>(s), q); }

}  // namespace vorn
