#include "input/residue.hpp"

#include <array>

namespace vorn {

namespace {

constexpr std::array<int8_t, 256> make_table() {
  std::array<int8_t, 256> t{};
  for (int code = 1; code < kCodes; ++code) {
    unsigned char upper = static_cast<unsigned char>(kResidueLetters[code]);
    t[upper] = static_cast<int8_t>(code);
    t[upper - 'A' + 'a'] = static_cast<int8_t>(code);
  }
  return t;
}

constexpr std::array<int8_t, 256> kIndex = make_table();

}  // namespace

int aa_index(unsigned char ch) { return kIndex[ch]; }

char aa_indexback(int code) {
  if (code < 0 || code >= kCodes) return 'X';
  return kResidueLetters[code];
}

char secstr3(unsigned char ch) {
  switch (ascii_upper(ch)) {
    case 'H':
    case 'G':
    case 'I':
      return 'H';
    case 'E':
    case 'B':
      return 'E';
    default:
      return 'C';
  }
}

}  // namespace vorn
