#pragma once
// The netCDF writer, loaded when a grid first needs it: from beside the
// running program (a build tree), else from the library folder it was
// installed for. Without it a grid runs as ever, but --netcdf is refused.

#include <string>
#include <string_view>

#include "formats/netcdf.hpp"

namespace tilvex::grid {

// Why the writer cannot be loaded, in words; empty once it is.
std::string load_netcdf_module();

// The netCDF file of the table rows `rows` (formats/netcdf.hpp). Throws
// tilvex::Error where it cannot be made (or the module is not loaded).
std::string netcdf_of_rows(std::string_view rows, const formats::GridAttributes& attributes);

// Whether `bytes` are a netCDF file of a grid's results; false where the
// module cannot be loaded.
bool is_grid_netcdf(std::string_view bytes);

}  // namespace tilvex::grid
