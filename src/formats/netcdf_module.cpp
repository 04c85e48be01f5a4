// The netCDF writer as a module that tilvex-grid loads only when a grid
// asks for a netCDF file, so that its every other run starts without the
// netCDF library and the dozens of libraries under it. Plain C functions:
// what crosses is bytes.

#include <cstdlib>
#include <cstring>
#include <string>

#include "netcdf.hpp"
#include "table.hpp"
#include "text/error.hpp"

namespace {

char* copy_of(const std::string& s) {
  char* out = static_cast<char*>(std::malloc(s.size() + 1));
  if (out != nullptr) std::memcpy(out, s.c_str(), s.size() + 1);
  return out;
}

}  // namespace

extern "C" {

// The netCDF file of the table rows `rows` (`size` bytes, without a header
// row), with the global attributes source, history, and then level, list
// and table where not null. 0: written to *bytes (malloc'd, *length bytes);
// otherwise *error (malloc'd) says why.
[[gnu::visibility("default")]] int tilvex_netcdf_of_rows(const char* rows, std::size_t size,
                                                        const char* const attributes[5], char** bytes,
                                                        std::size_t* length, char** error) {
  try {
    tilvex::formats::GridAttributes a;
    a.source = attributes[0];
    a.history = attributes[1];
    if (attributes[2] != nullptr) a.level = attributes[2];
    if (attributes[3] != nullptr) a.list = attributes[3];
    if (attributes[4] != nullptr) a.table = attributes[4];
    const std::string file =
        tilvex::formats::grid_netcdf(tilvex::formats::read_table(std::string_view(rows, size), "the record"), a);
    *bytes = static_cast<char*>(std::malloc(file.size() + 1));
    if (*bytes == nullptr) throw tilvex::Error("out of memory");
    std::memcpy(*bytes, file.data(), file.size());
    *length = file.size();
    return 0;
  } catch (const tilvex::Error& e) {
    *error = copy_of(e.reason());
  } catch (const std::exception& e) {
    *error = copy_of(e.what());
  }
  return 1;
}

// 1 where the bytes are a netCDF file of a grid's results, else 0.
[[gnu::visibility("default")]] int tilvex_netcdf_is_grid(const char* bytes, std::size_t size) {
  try {
    return tilvex::formats::is_grid_netcdf(std::string_view(bytes, size)) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
