// The colours of every export that colours (the page's 3D view and profile,
// the SVG, the .pml and .defattr), in one place so that they agree.
#pragma once

#include <array>

namespace vorn {

// The default: a diverging scale over the grades (ColorBrewer's PuOr, purple
// for grade 1, white for 5, orange for 9) that keeps its order and its
// neighbours apart under deuteranopia, protanopia and tritanopia; conserved
// columns in Okabe and Ito's bluish green and the selection in black, apart
// from the scale and from each other under the same simulations.
struct Palette {
  std::array<const char*, 9> grade;  // grade 1..9
  const char* conserved;
  const char* selected;
  const char* none;  // residues without a score
};
inline constexpr Palette kGradePalette{
    {"#542788", "#8073ac", "#b2abd2", "#d8daeb", "#f7f7f7", "#fee0b6", "#fdb863", "#e08214", "#b35806"},
    "#009e73",
    "#000000",
    "#666666"};

// The colours of earlier versions (-C=classic), for scripts that expect them:
// scores from blue (-1) through white (0) to red (+1), significant columns
// red in the profile, conserved green, the selection yellow.
inline constexpr const char* kClassicConserved = "#00ff00";
inline constexpr const char* kClassicSelected = "#ffd600";

}  // namespace vorn
