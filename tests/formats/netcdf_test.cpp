#include "formats/netcdf.hpp"

#include <netcdf.h>
#include <netcdf_mem.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/error.hpp"

namespace tilvex::formats {
namespace {

// A netCDF file in memory, opened for reading.
class Opened {
 public:
  explicit Opened(std::string bytes) : bytes_(std::move(bytes)) {
    EXPECT_EQ(nc_open_mem("t.nc", NC_NOWRITE, bytes_.size(), bytes_.data(), &id_), NC_NOERR);
  }
  ~Opened() { nc_close(id_); }
  int var(const char* name) const {
    int v = -1;
    EXPECT_EQ(nc_inq_varid(id_, name, &v), NC_NOERR) << name;
    return v;
  }
  std::size_t dim(const char* name) const {
    int d = -1;
    std::size_t n = 0;
    EXPECT_EQ(nc_inq_dimid(id_, name, &d), NC_NOERR) << name;
    nc_inq_dimlen(id_, d, &n);
    return n;
  }
  std::vector<float> floats(const char* name) const {
    std::vector<float> v(cells());
    EXPECT_EQ(nc_get_var_float(id_, var(name), v.data()), NC_NOERR) << name;
    return v;
  }
  std::vector<int> ints(const char* name) const {  // bytes, ints and int64s alike
    std::vector<long long> v(cells());
    EXPECT_EQ(nc_get_var_longlong(id_, var(name), v.data()), NC_NOERR) << name;
    return {v.begin(), v.end()};
  }
  std::vector<int> coordinate(const char* name) const {
    std::vector<int> v(dim(name));
    nc_get_var_int(id_, var(name), v.data());
    return v;
  }
  std::string text(int var, const char* name) const {
    std::size_t n = 0;
    if (nc_inq_attlen(id_, var, name, &n) != NC_NOERR) return "(none)";
    std::string s(n, '\0');
    nc_get_att_text(id_, var, name, s.data());
    return s;
  }
  std::vector<std::string> strings(const char* name) const {
    std::vector<char*> v(cells());
    nc_get_var_string(id_, var(name), v.data());
    std::vector<std::string> out(v.begin(), v.end());
    nc_free_string(v.size(), v.data());
    return out;
  }
  std::vector<float> range(const char* name) const {
    std::vector<float> v(2);
    EXPECT_EQ(nc_get_att_float(id_, var(name), "actual_range", v.data()), NC_NOERR) << name;
    return v;
  }
  std::size_t cells() const { return dim("t") * dim("z") * dim("y") * dim("x"); }

 private:
  std::string bytes_;
  int id_ = -1;
};

TableRow row(int x, int y, int z, const std::string& status = "ok", int t = 7) {
  TableRow r;
  r.input = "p" + std::to_string(x) + std::to_string(y) + std::to_string(z) + std::to_string(t) + ".vrin";
  r.grid = Grid{x, y, z, t};
  r.status = status;
  if (status == "ok") {
    r.n = 2000;
    r.accepted = 1900;
    for (int k = 0; k < 22; ++k) r.values[k] = 0.5f + static_cast<float>(k);
    r.shmax[0] = 170.5f, r.shmax[1] = 160.25f, r.shmax[2] = 10.0f;
    r.regime = "TS";
    r.regime_share = 0.75f;
    r.aphi[0] = 2.5f, r.aphi[1] = 2.25f, r.aphi[2] = 2.75f;
    r.notes = "cut";
  } else {
    r.n = r.accepted = NAN;
    for (float& v : r.values) v = NAN;
    r.regime = "nan";
  }
  return r;
}

// A grid with gaps (a row of y without a point), a failed point, two z
// and two t levels, and a point at the indices of another but for t: each
// value in its cell, fill values elsewhere, trends folded into [0, 360).
TEST(Netcdf, EachRowInItsCell) {
  std::vector<TableRow> rows = {row(1, 10, 0), row(3, 11, 0), row(1, 11, 5, "unable to open p.vrin"),
                                row(2, 13, 0, "ok", 9), row(1, 10, 0, "ok", 9)};
  rows[0].values[5] = -44.92f;   // tr1_low
  rows[0].values[6] = 470.62f;   // tr1_high
  rows[0].values[1] = 359.9999999f;  // phi's best is no trend: not folded
  rows[1].regime = "U";
  rows[4].values[5] = -1e-9f;  // 360 - 1e-9 rounds to 360 as a float: 0
  rows[4].n = 77;
  ASSERT_EQ(netcdf_fault(rows), "");
  const Opened f(grid_netcdf(rows, {"tilvex-grid 9", "now", "95", std::nullopt, std::nullopt}));
  // x and y run over every index between the least and the greatest; z
  // and t over those found.
  EXPECT_EQ(f.coordinate("x"), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(f.coordinate("y"), (std::vector<int>{10, 11, 12, 13}));
  EXPECT_EQ(f.coordinate("z"), (std::vector<int>{0, 5}));
  EXPECT_EQ(f.coordinate("t"), (std::vector<int>{7, 9}));
  // Cells: ((t * nz + z) * ny + y) * nx + x, by place along each.
  const auto cell = [](int x, int y, int z, int t = 0) {
    return static_cast<std::size_t>(((t * 2 + z) * 4 + y) * 3 + x);
  };
  const std::size_t later = cell(1, 3, 0, 1), same_but_t = cell(0, 0, 0, 1);
  EXPECT_EQ(f.strings("input")[later], "p21309.vrin");
  EXPECT_EQ(f.strings("input")[same_but_t], "p11009.vrin");
  EXPECT_EQ(f.ints("n")[same_but_t], 77);
  EXPECT_EQ(f.floats("tr1_low")[same_but_t], 0.0f);
  EXPECT_FALSE(std::signbit(f.floats("tr1_low")[same_but_t]));
  EXPECT_EQ(f.ints("status")[cell(0, 2, 0)], -1);  // y = 12: no point
  const std::size_t a = cell(0, 0, 0), b = cell(2, 1, 0), failed = cell(0, 1, 1), none = cell(1, 0, 0);
  const auto status = f.ints("status");
  EXPECT_EQ(status[a], 0);
  EXPECT_EQ(status[failed], 1);
  EXPECT_EQ(status[none], -1);
  const auto n = f.ints("n");
  EXPECT_EQ(n[a], 2000);
  EXPECT_EQ(f.ints("accepted")[b], 1900);
  EXPECT_EQ(n[failed], -1);
  EXPECT_EQ(f.floats("threshold")[a], 0.5f);
  EXPECT_EQ(f.floats("phi")[a], 359.9999999f);
  EXPECT_EQ(f.floats("tr1")[a], 4.5f);
  EXPECT_EQ(f.floats("tr1_low")[a], static_cast<float>(-44.92f + 360.0));
  EXPECT_EQ(f.floats("tr1_high")[a], static_cast<float>(static_cast<double>(470.62f) - 360.0));
  EXPECT_EQ(f.floats("pl3_high")[b], 21.5f);
  EXPECT_EQ(f.floats("shmax_low")[b], 160.25f);
  EXPECT_EQ(f.floats("regime_share")[a], 0.75f);
  EXPECT_EQ(f.floats("aphi_high")[a], 2.75f);
  for (const char* name : {"phi", "tr2_low", "shmax", "aphi"}) {
    EXPECT_TRUE(std::isnan(f.floats(name)[failed])) << name;
    EXPECT_TRUE(std::isnan(f.floats(name)[none])) << name;
  }
  const auto regime = f.ints("regime");
  EXPECT_EQ(regime[a], 3);  // TS
  EXPECT_EQ(regime[b], 5);  // U
  EXPECT_EQ(regime[failed], -1);
  EXPECT_EQ(f.strings("input")[b], "p31107.vrin");
  EXPECT_EQ(f.strings("notes")[a], "cut");
  EXPECT_EQ(f.strings("input")[none], "");
  EXPECT_EQ(f.text(f.var("regime"), "flag_meanings"), "NF NS SS TS TF U");
  EXPECT_EQ(f.text(f.var("status"), "flag_meanings"), "ok failed");
  EXPECT_EQ(f.text(f.var("tr1"), "units"), "degree");
  EXPECT_EQ(f.text(NC_GLOBAL, "Conventions"), "CF-1.8");
  EXPECT_EQ(f.text(NC_GLOBAL, "confidence_level"), "95");
  EXPECT_EQ(f.text(NC_GLOBAL, "grid_list"), "(none)");
  EXPECT_EQ(f.text(NC_GLOBAL, "source"), "tilvex-grid 9");
  // The range of the values, NaN left out, for readers that show it
  // without reading the data.
  EXPECT_EQ(f.range("phi"), (std::vector<float>{1.5f, 359.9999999f}));
  EXPECT_EQ(f.range("tr1_high"), (std::vector<float>{6.5f, static_cast<float>(static_cast<double>(470.62f) - 360.0)}));
}

// A CF file's strings are UTF-8: a name's bytes that are not become
// U+FFFD each, whatever else stays. (A name of Latin-1 bytes made the whole
// file unreadable to xarray: "'utf-8' codec can't decode byte 0xe9".)
TEST(Netcdf, NamesAreUtf8) {
  const std::string bad = "\xef\xbf\xbd";
  std::string nine;  // for 9 bytes none of which begins a sequence
  for (int k = 0; k < 9; ++k) nine += bad;
  const struct {
    std::string name, stored;
  } cases[] = {
      {"caf\xc3\xa9/\xe6\x97\xa5\xf0\x9f\x8c\x8b.vrin", "caf\xc3\xa9/\xe6\x97\xa5\xf0\x9f\x8c\x8b.vrin"},
      {"caf\xe9.vrin", "caf" + bad + ".vrin"},  // Latin-1
      {"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80", nine},  // overlong, surrogate, past U+10FFFF
      {"cut \xe6\x97", "cut " + bad + bad},
  };
  std::vector<TableRow> rows;
  for (const auto& c : cases) {
    rows.push_back(row(static_cast<int>(rows.size()), 0, 0));
    rows.back().input = c.name;
  }
  const Opened f(grid_netcdf(rows, {}));
  const auto inputs = f.strings("input");
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(inputs[i], cases[i].stored) << i;
}

TEST(Netcdf, GridsThatCannotBeOne) {
  const std::vector<TableRow> twice = {row(1, 1, 0), row(2, 1, 0), row(1, 1, 0)};
  EXPECT_EQ(netcdf_fault(twice),
            "rows 1 and 3 have the same grid indices (1 1 0 7); a netCDF grid holds one value a cell");
  EXPECT_THROW(grid_netcdf(twice, {}), Error);
  // Two points a million cells apart: too sparse.
  const std::vector<TableRow> sparse = {row(0, 0, 0), row(1000, 1000, 0)};
  EXPECT_EQ(netcdf_fault(sparse), "the grid indices of 2 points span 1002001 cells; too sparse for a netCDF grid");
  const std::vector<TableRow> dense = {row(0, 0, 0), row(999, 999, 0)};  // a million cells: taken
  EXPECT_EQ(netcdf_fault(dense), "");
}

// Only a netCDF file of a grid's results may be replaced.
TEST(Netcdf, AGridsFileIsKnownByItsTitle) {
  const std::vector<TableRow> rows = {row(0, 0, 0)};
  const std::string ours = grid_netcdf(rows, {});
  EXPECT_TRUE(is_grid_netcdf(ours));
  EXPECT_FALSE(is_grid_netcdf(ours.substr(0, ours.size() / 2)));
  EXPECT_FALSE(is_grid_netcdf("input\txgrid\n"));
  int id = -1;
  ASSERT_EQ(nc_create_mem("o.nc", NC_NETCDF4, 4096, &id), NC_NOERR);
  const std::string title = "tilvex-grid result";  // one letter short
  nc_put_att_text(id, NC_GLOBAL, "title", title.size(), title.c_str());
  NC_memio memory{};
  ASSERT_EQ(nc_close_memio(id, &memory), NC_NOERR);
  const std::string other(static_cast<const char*>(memory.memory), memory.size);
  std::free(memory.memory);
  EXPECT_FALSE(is_grid_netcdf(other));
  // A file of the classic format is no grid's, even with the title; its
  // header is not parsed: these 16 bytes crashed the check (a count of
  // dimensions of 0x7fffffff).
  ASSERT_EQ(nc_create_mem("c.nc", NC_CLOBBER, 4096, &id), NC_NOERR);
  nc_put_att_text(id, NC_GLOBAL, "title", kGridTitle.size(), kGridTitle.data());
  ASSERT_EQ(nc_close_memio(id, &memory), NC_NOERR);
  const std::string classic(static_cast<const char*>(memory.memory), memory.size);
  std::free(memory.memory);
  ASSERT_EQ(classic.substr(0, 3), "CDF");
  EXPECT_FALSE(is_grid_netcdf(classic));
  EXPECT_FALSE(is_grid_netcdf(std::string("CDF\x01\0\0\0\0\0\0\0\x0a\x7f\xff\xff\xff", 16)));
}

}  // namespace
}  // namespace tilvex::formats
