#pragma once
// The variables of a grid as gridded data (docs/netcdf.md): their names,
// long names and units, in one list for the netCDF writer and the Python
// package's dataset, so that the two describe a grid in the same words.

#include <span>
#include <string>
#include <vector>

#include "table.hpp"

namespace tilvex::formats {

struct GridVariable {
  enum Kind { flags, count, value, text };
  std::string name, long_name, units;  // units empty where there are none
  Kind kind;
};

// status, n, accepted, threshold, phi ... pl3_high, shmax, shmax_low,
// shmax_high, regime_share, aphi, aphi_low, aphi_high, regime, input,
// notes: the order the writer defines them in.
const std::vector<GridVariable>& grid_variables();

// A grid too sparse to lay out whole: more than this many cells ...
inline constexpr double kGridCellsFree = 1e6;
// ... and more than this many a point.
inline constexpr double kGridCellsPerPoint = 64;

// Why the rows cannot be one netCDF grid, in words; empty if they can: two
// rows of the same grid indices (the first two named by their rows, from
// 1), or indices so sparse that the grid would hold more than 64 cells a
// row (and more than a million).
std::string netcdf_fault(std::span<const TableRow> rows);

}  // namespace tilvex::formats
