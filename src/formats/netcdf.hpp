#pragma once
// A grid's table as a netCDF-4 file in the CF conventions (docs/netcdf.md):
// dimensions t, z, y, x from the grid indices, one variable per column.
// Made in memory, so that the caller writes it whole and renames it into
// place as it does the table.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "grid_variables.hpp"
#include "table.hpp"

namespace tilvex::formats {

// The global attributes beyond the conventions and the title.
struct GridAttributes {
  std::string source;                 // the program and its version: "tilvex-grid 2.0.0"
  std::string history;                // when and by what it was written
  std::optional<std::string> level;   // the confidence level as given
  std::optional<std::string> list;    // the grid list's name as given
  std::optional<std::string> table;   // the table it was made from
};

// The title every file of a grid carries; a file with another is not one.
inline constexpr std::string_view kGridTitle = "tilvex-grid results";

// The bytes of the netCDF-4 file of `rows`. Throws tilvex::Error where
// netcdf_fault finds a fault or the netCDF library fails.
std::string grid_netcdf(std::span<const TableRow> rows, const GridAttributes& attributes);

// Whether `bytes` are a netCDF-4 file that holds a grid's results (its
// title is kGridTitle), so that a file of that name may be replaced; a
// file of the classic formats never is.
bool is_grid_netcdf(std::string_view bytes);

// An azimuth as the gridded outputs give it: folded into [0, 360) (a
// trend) or [0, 180) (SHmax, already so in the table). NaN stays NaN.
float folded_trend(float degrees);

}  // namespace tilvex::formats
