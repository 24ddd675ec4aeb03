// The page of -O=prefix (prefix.html): one self-contained file with the
// profile, the table and the run record and, with -P=structure, a 3D view
// coloured as the .pml colours it.
#pragma once

#include <cstdio>
#include <string>

#include "results.hpp"
#include "structure/match.hpp"

namespace vorn {

struct PageExtras {
  const Structure* structure = nullptr;  // -P
  const StructureMatch* match = nullptr;
  std::string match_line;  // match_text
  std::string viewer;      // the viewer's script, inlined; empty: no 3D view
  std::string no_viewer;   // why not, when a structure was given
};

void write_html(FILE* out, const Results& r, const PageExtras& extras);

}  // namespace vorn
