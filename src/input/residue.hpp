// Residue codes: 0 for gaps and every character outside the twenty standard
// amino acids, 1..20 for A V L I P F W M G S T C Y N Q D E K R H (this order).
#pragma once

#include <cstdint>

namespace vorn {

inline constexpr int kCodes = 21;  // 0..20
inline constexpr char kResidueLetters[] = ".AVLIPFWMGSTCYNQDEKRH";

int aa_index(unsigned char ch);
char aa_indexback(int code);
// Reduces an HSSP secondary-structure letter to 'H', 'E' or 'C'.
char secstr3(unsigned char ch);

// Plain ASCII upper-casing: no locale is ever set, so only a..z fold.
inline unsigned char ascii_upper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
inline bool ascii_letter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace vorn
