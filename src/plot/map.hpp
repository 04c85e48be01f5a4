#pragma once
// A map of one z/t slice of a grid, from the table tilvex-grid writes: at
// each (x, y) point, axis 1's trend as a bar with its confidence range as a
// wedge, coloured by phi; points that failed marked with a cross.

#include <string>
#include <vector>

#include "formats/table.hpp"

namespace tilvex::plot {

// phi (0 to 1) as a colour of a colour-blind-safe sequential scale
// (cividis), "#rrggbb"; grey for a value outside 0 to 1 or not a number.
std::string phi_colour(double phi);

// The SVG of the rows of one slice. Grid indices are labels: x to the east
// and y to the north. Along each axis there is a column per index from the
// lowest to the highest (unit steps, gaps left empty) where that span is at
// most twice the count of distinct indices, else a column per index that
// occurs, in order, evenly spaced (the axis title then says "indices that
// occur"). With cell = 520 px / the larger count of columns, a point is drawn
// at (70 + (column + 0.5) cell, 70 + (rows - 1 - row + 0.5) cell), north up.
// A label is drawn at every k-th column from the first, k the least that keeps
// labels 7 px a character + 8 px apart across and 16 px apart down (every column
// where cells are that wide). Time O(n log n) and memory O(n) in the rows,
// whatever the indices. `sigma_names` calls axis 1 sigma 1.
std::string render_map(const std::vector<formats::TableRow>& rows, const std::string& title,
                       bool sigma_names);

}  // namespace tilvex::plot
