#pragma once
// A map of one z/t slice of a grid, from the table tilvex-grid writes, in
// the manner of the World Stress Map: at each (x, y) point the azimuth of
// SHmax as a bar with its confidence range as a wedge, coloured by the
// faulting regime (or axis 1's horizontal projection instead); the slice
// shaded by A-phi or phi if asked; points that failed crossed out.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "formats/table.hpp"

namespace tilvex::plot {

// phi (0 to 1) as a colour of a colour-blind-safe sequential scale
// (cividis), "#rrggbb"; grey for a value outside 0 to 1 or not a number.
std::string phi_colour(double phi);

// A-phi (0 to 3) as "#rrggbb": a third per regime, each running from a pale
// to a deep tint of its hue: 0 to 1 reds (normal faulting), 1 to 2 greens
// (strike-slip), 2 to 3 blues (thrust); 1 and 2 belong to the upper third.
// Grey for a value outside 0 to 3 or not a number.
std::string aphi_colour(double aphi);

// The six regimes in the table's order, each with its code, its colour
// ("#rrggbb") and its name in the key; the World Stress Map's figures colour
// NF red, SS green, TF blue and U black, and the transitional NS and TS a
// light tint of the regime they lean to: pink and light blue.
struct RegimeStyle {
  const char* code;
  const char* colour;
  const char* name;
};
inline constexpr std::array<RegimeStyle, 6> kRegimes = {{{"NF", "#e41a1c", "normal faulting"},
                                                         {"NS", "#f781bf", "normal and strike-slip"},
                                                         {"SS", "#2ca02c", "strike-slip faulting"},
                                                         {"TS", "#56b4e9", "thrust and strike-slip"},
                                                         {"TF", "#1f3fcc", "thrust faulting"},
                                                         {"U", "#000000", "unknown"}}};
// The colour of a point whose regime the table does not give (no stress
// columns), and the grey of a failed point's cross.
inline constexpr const char* kNoRegime = "#888888";
inline constexpr const char* kCrossGrey = "#777777";

// The colour of a regime code ("NF" ... "U") as the World Stress Map's
// figures draw it: NF red, SS green, TF blue, U black; the transitional NS
// and TS in a light tint of their dominant neighbour (NS pink, TS light
// blue). Empty for any other text.
std::string regime_colour(std::string_view code);

// What the bars show: SHmax (the default), or the horizontal projection of
// axis 1 (sigma 1, the greatest compression), its length by the cosine of
// its plunge.
enum class MapBars { shmax, axis1 };
// What shades the cell of each point: nothing, A-phi or phi.
enum class MapField { none, aphi, phi };

struct MapStyle {
  MapBars bars = MapBars::shmax;
  MapField field = MapField::none;
  bool sigma_names = false;  // axis 1 called σ₁, as the stereonet calls it
};

// How many rows of status ok lack the stress columns (a table written
// before tilvex-grid gave them: their regime is empty).
std::size_t rows_without_stress(const std::vector<formats::TableRow>& rows);

// The SVG of the rows of one slice. Throws tilvex::Error (status 1) for a
// row of status ok whose regime is not empty and none of the six codes.
//
// Layout. Grid indices are labels: x to the east and y to the north. Along
// each axis there is a column per index from the lowest to the highest
// (unit steps, gaps left empty) where that span is at most twice the count
// of distinct indices, else a column per index that occurs, in order,
// evenly spaced (the axis title then says "indices that occur"). Cells are
// square, cell = min(640 px / columns, 560 px / rows, 160 px), so the frame
// is 640 px wide or 560 px tall unless there are three columns or fewer
// each way. Its left edge leaves room for the widest y label and the axis
// title; its top is at 70 px; a point is drawn at (left + (column + 0.5)
// cell, 70 + (rows - 1 - row + 0.5) cell), north up. The key stands right
// of the frame and of its labels. The canvas is as large as what is drawn
// plus a margin of 20 px (about 0.6 em a character for text); a title
// longer than 100 characters keeps its first and last 48 around "...".
// A label is drawn at every k-th column from the first, k the least that
// keeps labels 7 px a character + 8 px apart across and 16 px apart down.
//
// A point: a bar of half-length 0.42 cell through it; for SHmax its
// azimuth, and the range from shmax_low clockwise to shmax_high as a
// translucent wedge on both sides (none for a range of 0); for axis 1 its
// trend, half-length 0.42 cell cos(plunge), the trend range as wedges of
// that radius (a disc where the range is 180 degrees wide or more: every
// horizontal axis). A row of status ok without SHmax (horizontal stress
// isotropic) is an open circle; one without the stress columns a grey dot;
// a failed row a cross. Each point's marks stand in a group <g
// class="point" data-grid="X Y Z T" data-cx= data-cy= data-r=> (its place
// and half cell, px), for a page that makes the points clickable. The field, where asked, fills each point's cell at
// half opacity, with its colour bar in the key. Time O(n log n) and memory
// O(n) in the rows, whatever the indices.
std::string render_map(const std::vector<formats::TableRow>& rows, const std::string& title,
                       const MapStyle& style);

}  // namespace tilvex::plot
