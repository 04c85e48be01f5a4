#include "netcdf.hpp"

#include <netcdf.h>
#include <netcdf_mem.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <vector>

#include "grid_variables.hpp"
#include "text/error.hpp"

namespace tilvex::formats {

namespace {

// Every call of the library goes through this: a failure is an Error.
void check(int status, const std::string& what) {
  if (status != NC_NOERR) throw Error("netCDF: " + what + ": " + nc_strerror(status));
}

// The indices of one dimension of the grid, and a cell's place along it.
struct Axis {
  std::vector<int> values;  // ascending
  std::size_t at(int v) const {
    return static_cast<std::size_t>(std::lower_bound(values.begin(), values.end(), v) - values.begin());
  }
};

// Every index from the least to the greatest (x and y: a regular grid).
Axis every_index(std::span<const TableRow> rows, int Grid::*which) {
  Axis a;
  if (rows.empty()) return a;
  int low = rows[0].grid.*which, high = low;
  for (const TableRow& r : rows) low = std::min(low, r.grid.*which), high = std::max(high, r.grid.*which);
  for (long long v = low; v <= high; ++v) a.values.push_back(static_cast<int>(v));
  return a;
}

// The indices found (z and t).
Axis indices_found(std::span<const TableRow> rows, int Grid::*which) {
  Axis a;
  for (const TableRow& r : rows) a.values.push_back(r.grid.*which);
  std::sort(a.values.begin(), a.values.end());
  a.values.erase(std::unique(a.values.begin(), a.values.end()), a.values.end());
  return a;
}

// `text` as UTF-8, which the strings of a CF file are: each byte that does
// not begin a well-formed sequence (an overlong one, a surrogate, past
// U+10FFFF, or cut short) becomes U+FFFD. (A name of Latin-1 bytes made
// the whole file unreadable to xarray.)
std::string as_utf8(std::string_view text) {
  std::string out;
  const auto at = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = at(i);
    const std::size_t n = c < 0x80 ? 1 : c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    bool ok = n > 0 && i + n <= text.size();
    for (std::size_t k = 1; ok && k < n; ++k) ok = (at(i + k) & 0xc0) == 0x80;
    if (ok && n == 3) ok = !(c == 0xe0 && at(i + 1) < 0xa0) && !(c == 0xed && at(i + 1) >= 0xa0);
    if (ok && n == 4) ok = !(c == 0xf0 && at(i + 1) < 0x90) && !(c == 0xf4 && at(i + 1) >= 0x90);
    if (ok) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out += "\xef\xbf\xbd";
      ++i;
    }
  }
  return out;
}

constexpr const char* kRegimes[] = {"NF", "NS", "SS", "TS", "TF", "U"};

signed char regime_flag(const std::string& code) {
  for (signed char k = 0; k < 6; ++k)
    if (code == kRegimes[k]) return k;
  return -1;
}

// The value of each float variable (grid_variables()) in a row: the
// table's, the trends folded into [0, 360).
std::map<std::string, std::function<float(const TableRow&)>> float_values() {
  std::map<std::string, std::function<float(const TableRow&)>> v;
  v["threshold"] = [](const TableRow& r) { return r.values[0]; };
  const char* ends[] = {"", "_low", "_high"};
  for (int q = 0; q < 7; ++q)
    for (int k = 0; k < 3; ++k)
      v[quantity_name(q) + std::string(ends[k])] = [q, k](const TableRow& r) {
        const float value = r.value(q, k);
        return q % 2 == 1 ? folded_trend(value) : value;
      };
  for (int k = 0; k < 3; ++k) {
    v[std::string("shmax") + ends[k]] = [k](const TableRow& r) { return r.shmax[k]; };
    v[std::string("aphi") + ends[k]] = [k](const TableRow& r) { return r.aphi[k]; };
  }
  v["regime_share"] = [](const TableRow& r) { return r.regime_share; };
  return v;
}

// A file being made in memory, closed (and its memory freed) however it ends.
class MemoryFile {
 public:
  MemoryFile() { check(nc_create_mem("grid.nc", NC_NETCDF4 | NC_CLOBBER, 1 << 16, &id_), "create"); }
  ~MemoryFile() {
    if (open_) {
      NC_memio memory{};
      if (nc_close_memio(id_, &memory) == NC_NOERR) std::free(memory.memory);
    }
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  int id() const { return id_; }

  std::string bytes() {
    NC_memio memory{};
    open_ = false;
    check(nc_close_memio(id_, &memory), "close");
    std::string out(static_cast<const char*>(memory.memory), memory.size);
    std::free(memory.memory);
    return out;
  }

 private:
  int id_ = -1;
  bool open_ = true;
};

void text_attribute(int id, int var, const char* name, const std::string& value) {
  check(nc_put_att_text(id, var, name, value.size(), value.c_str()), std::string("attribute ") + name);
}

int define(int id, const std::string& name, nc_type type, const int* dims, const std::string& long_name,
           const std::string& units) {
  int var = -1;
  check(nc_def_var(id, name.c_str(), type, 4, dims, &var), "variable " + name);
  text_attribute(id, var, "long_name", long_name);
  if (!units.empty()) text_attribute(id, var, "units", units);
  return var;
}

}  // namespace

float folded_trend(float degrees) { return folded_float(static_cast<double>(degrees), 360.0); }

std::string grid_netcdf(std::span<const TableRow> rows, const GridAttributes& a) {
  if (std::string why = netcdf_fault(rows); !why.empty()) throw Error(why);
  const Axis t = indices_found(rows, &Grid::t), z = indices_found(rows, &Grid::z);
  const Axis y = every_index(rows, &Grid::y), x = every_index(rows, &Grid::x);
  const std::size_t cells = t.values.size() * z.values.size() * y.values.size() * x.values.size();
  std::vector<std::size_t> cell_of(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Grid& g = rows[i].grid;
    cell_of[i] = ((t.at(g.t) * z.values.size() + z.at(g.z)) * y.values.size() + y.at(g.y)) * x.values.size() +
                 x.at(g.x);
  }

  MemoryFile file;
  const int id = file.id();
  text_attribute(id, NC_GLOBAL, "Conventions", "CF-1.8");
  text_attribute(id, NC_GLOBAL, "title", std::string(kGridTitle));
  text_attribute(id, NC_GLOBAL, "source", a.source);
  text_attribute(id, NC_GLOBAL, "history", a.history);
  if (a.level) text_attribute(id, NC_GLOBAL, "confidence_level", *a.level);
  if (a.list) text_attribute(id, NC_GLOBAL, "grid_list", *a.list);
  if (a.table) text_attribute(id, NC_GLOBAL, "table", *a.table);

  int dims[4];
  int coordinates[4];
  const Axis* axes[4] = {&t, &z, &y, &x};
  const char* names[4] = {"t", "z", "y", "x"};
  const char* cf_axes[4] = {"T", "Z", "Y", "X"};
  for (int k = 0; k < 4; ++k) {
    check(nc_def_dim(id, names[k], axes[k]->values.size(), &dims[k]), std::string("dimension ") + names[k]);
    check(nc_def_var(id, names[k], NC_INT, 1, &dims[k], &coordinates[k]), std::string("variable ") + names[k]);
    text_attribute(id, coordinates[k], "long_name", std::string("grid index ") + names[k]);
    text_attribute(id, coordinates[k], "axis", cf_axes[k]);
  }

  const auto values = float_values();
  std::vector<int> ids;
  for (const GridVariable& v : grid_variables()) {
    const int var = v.kind == GridVariable::flags   ? define(id, v.name, NC_BYTE, dims, v.long_name, v.units)
                    : v.kind == GridVariable::count ? define(id, v.name, NC_INT64, dims, v.long_name, v.units)
                    : v.kind == GridVariable::value ? define(id, v.name, NC_FLOAT, dims, v.long_name, v.units)
                                                    : define(id, v.name, NC_STRING, dims, v.long_name, v.units);
    ids.push_back(var);
    if (v.kind == GridVariable::flags) {
      const signed char fill = -1;
      check(nc_def_var_fill(id, var, 0, &fill), "fill of " + v.name);
      const bool status = v.name == "status";
      const std::vector<signed char> flags = status ? std::vector<signed char>{0, 1}
                                                    : std::vector<signed char>{0, 1, 2, 3, 4, 5};
      check(nc_put_att_schar(id, var, "flag_values", NC_BYTE, flags.size(), flags.data()), "flags of " + v.name);
      text_attribute(id, var, "flag_meanings", status ? "ok failed" : "NF NS SS TS TF U");
    } else if (v.kind == GridVariable::count) {
      const long long fill = -1;
      check(nc_def_var_fill(id, var, 0, &fill), "fill of " + v.name);
    } else if (v.kind == GridVariable::value) {
      const float fill = std::nanf("");
      check(nc_def_var_fill(id, var, 0, &fill), "fill of " + v.name);
      // The least and greatest value, which readers (GMT) show without
      // reading the data; none where every value is NaN.
      float range[2] = {INFINITY, -INFINITY};
      for (const TableRow& r : rows)
        if (const float value = values.at(v.name)(r); !std::isnan(value))
          range[0] = std::fmin(range[0], value), range[1] = std::fmax(range[1], value);
      if (range[0] <= range[1])
        check(nc_put_att_float(id, var, "actual_range", NC_FLOAT, 2, range), "range of " + v.name);
    }
  }
  check(nc_enddef(id), "define");

  for (int k = 0; k < 4; ++k)
    check(nc_put_var_int(id, coordinates[k], axes[k]->values.data()), std::string("write ") + names[k]);
  for (std::size_t n = 0; n < ids.size(); ++n) {
    const GridVariable& v = grid_variables()[n];
    if (v.kind == GridVariable::flags) {
      std::vector<signed char> flags(cells, -1);
      for (std::size_t i = 0; i < rows.size(); ++i)
        flags[cell_of[i]] = v.name == "status" ? (rows[i].ok() ? 0 : 1)
                                               : (rows[i].ok() ? regime_flag(rows[i].regime) : -1);
      check(nc_put_var_schar(id, ids[n], flags.data()), "write " + v.name);
    } else if (v.kind == GridVariable::count) {
      std::vector<long long> counts(cells, -1);
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const double c = v.name == "n" ? rows[i].n : rows[i].accepted;
        if (!std::isnan(c)) counts[cell_of[i]] = static_cast<long long>(c);
      }
      check(nc_put_var_longlong(id, ids[n], counts.data()), "write " + v.name);
    } else if (v.kind == GridVariable::value) {
      std::vector<float> floats(cells, std::nanf(""));
      for (std::size_t i = 0; i < rows.size(); ++i) floats[cell_of[i]] = values.at(v.name)(rows[i]);
      check(nc_put_var_float(id, ids[n], floats.data()), "write " + v.name);
    } else {
      std::vector<std::string> utf8(rows.size());
      std::vector<const char*> texts(cells, "");
      for (std::size_t i = 0; i < rows.size(); ++i)
        texts[cell_of[i]] = (utf8[i] = as_utf8(v.name == "input" ? rows[i].input : rows[i].notes)).c_str();
      check(nc_put_var_string(id, ids[n], texts.data()), "write " + v.name);
    }
  }
  return file.bytes();
}

bool is_grid_netcdf(std::string_view bytes) {
  // A grid's file is netCDF-4, an HDF5 file: the classic formats ("CDF")
  // never reach the library's parser of their headers, which 16 bytes
  // crash (a count of dimensions of 0x7fffffff, in libnetcdf 4.9.0).
  if (bytes.substr(0, 8) != std::string_view("\x89HDF\r\n\x1a\n", 8)) return false;
  std::string copy(bytes);
  int id = -1;
  if (nc_open_mem("table.nc", NC_NOWRITE, copy.size(), copy.data(), &id) != NC_NOERR) return false;
  std::size_t length = 0;
  bool ours = false;
  if (nc_inq_attlen(id, NC_GLOBAL, "title", &length) == NC_NOERR && length == kGridTitle.size()) {
    std::string title(length, '\0');
    ours = nc_get_att_text(id, NC_GLOBAL, "title", title.data()) == NC_NOERR && title == kGridTitle;
  }
  nc_close(id);
  return ours;
}

}  // namespace tilvex::formats
