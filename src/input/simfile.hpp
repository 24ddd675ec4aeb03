// The external similarity file of -M: "prot_nr1<TAB>prot_nr2<TAB>value" lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "input/lineinput.hpp"

namespace vorn {

inline constexpr float kMissing = -10000.0f;

// Fills identities[i][j] for 1 <= i < j <= nprot from the file. Returns 0,
// or after its own message on out: 1 can't open, 2 a line without TAB, 3 a
// line with one TAB, 4 a protein number out of range, 5 pairs missing, 6 a
// value that is not a finite single-precision number.
int read_sim_mat(const std::string& path, int32_t nprot, float* const* identities, FILE* out,
                 const GivenInputs* given = nullptr);
int read_sim_mat(const InputText& text, int32_t nprot, float* const* identities, FILE* out);

}  // namespace vorn
