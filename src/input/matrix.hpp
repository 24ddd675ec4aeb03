// The substitution matrix file: Raw lines ("A R -1") or the Maxhom metric form.
#pragma once

#include <array>
#include <string>

#include "input/lineinput.hpp"
#include "log.hpp"

namespace vorn {

// aamat[row code][column code]; row from the protein with the smaller index.
using AaMat = std::array<std::array<float, 21>, 21>;

// Opens and reads the matrix at path into aamat (which the caller has zeroed).
void read_matrix(const std::string& path, AaMat& aamat, Log& log, const GivenInputs* given = nullptr);
// Reads a matrix already in memory.
void read_matrix(const InputText& text, AaMat& aamat, Log& log);

}  // namespace vorn
