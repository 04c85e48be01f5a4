#pragma once
// The table's file: which paths it may replace, and its writing, whole or
// not at all.

#include <span>
#include <string>
#include <string_view>

#include "formats/table.hpp"
#include "list.hpp"

namespace tilvex::grid {

// The rows of the table (formats/table.hpp) of a point of the list.
using formats::table_header;
inline std::string table_row(const Point& p, const Analysis& analysis, const StressSummary& stress,
                             std::string_view notes) {
  return formats::table_row(p.input, p.grid, analysis, stress, notes);
}
inline std::string table_row(const Point& p, std::string_view failure) {
  return formats::table_row(p.input, p.grid, failure);
}

// The files a grid reads or appends to, by the names it was given
// (`list` is "-" for standard input).
struct GridFiles {
  std::string list, output, output2, record;
  std::span<const Point> points;  // the whole list's
};

// Why `table` must not be written, in words; empty if it may. Refused:
// the list, an input, an output, the record (by device and inode where the
// table exists, by name where it does not), or an existing file that is
// not a table of tilvex-grid's (its first line neither a header row nor
// a row of a table, now or older; an empty file is taken).
std::string table_fault(const std::string& table, const GridFiles& files);

// Why `netcdf` must not be written, in words; empty if it may. Refused as
// a table is (the list, an input, an output, the record), the table
// itself, an existing file that is not a netCDF file of a grid's results
// or is another user's (never read), and a part (`part`) whose points cannot make one netCDF grid: two points
// of the same grid indices, or indices too sparse.
std::string netcdf_fault(const std::string& netcdf, const std::string& table, const GridFiles& files,
                         std::span<const Point> part);

// Writes `text` to a fresh file of a random name in the table's folder
// (never through a symlink, never over a file) and renames it to `table`;
// with `sync`, the file is synced before the rename and its folder after.
// A regular file of the user's own at `table` is replaced by one of its
// mode and group (without the group bits where its group cannot be had).
// False if it cannot (errno tells why); then nothing is left.
bool write_table(const std::string& table, std::string_view text, bool sync);

}  // namespace tilvex::grid
