#pragma once
// A map of one z/t slice of a grid, from the table tilvex-grid writes: at
// each (x, y) point, axis 1's trend as a bar with its confidence range as a
// wedge, coloured by phi; points that failed marked with a cross.

#include <string>
#include <vector>

#include "grid/table.hpp"

namespace tilvex::plot {

// phi (0 to 1) as a colour of a colour-blind-safe sequential scale
// (cividis), "#rrggbb"; grey for a value outside 0 to 1 or not a number.
std::string phi_colour(double phi);

// The SVG of the rows of one slice. Grid indices are labels: x to the east
// and y to the north, a unit step between neighbours. `sigma_names` calls
// axis 1 sigma 1.
std::string render_map(const std::vector<grid::TableRow>& rows, const std::string& title,
                       bool sigma_names);

}  // namespace tilvex::plot
