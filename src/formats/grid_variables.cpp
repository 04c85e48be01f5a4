#include "grid_variables.hpp"

#include <algorithm>
#include <array>
#include <map>

#include "table.hpp"

namespace tilvex::formats {

namespace {

std::vector<GridVariable> make() {
  std::vector<GridVariable> v;
  v.push_back({"status", "status of the point's analysis", "", GridVariable::flags});
  v.push_back({"n", "resample records", "1", GridVariable::count});
  v.push_back({"accepted", "accepted resamples", "1", GridVariable::count});
  v.push_back({"threshold", "similarity threshold of the accepted resamples", "1", GridVariable::value});
  const char* ends[] = {"", "_low", "_high"};
  const char* end_words[] = {"", ", low end of its range", ", high end of its range"};
  for (int q = 0; q < 7; ++q) {
    std::string long_name = "shape ratio phi = (sigma2 - sigma3) / (sigma1 - sigma3)";
    if (q > 0) {
      const std::string axis = "sigma" + std::to_string((q + 1) / 2);
      long_name = q % 2 == 1 ? "trend of the " + axis + " axis, clockwise from north, in [0, 360)"
                             : "plunge of the " + axis + " axis, positive down";
    }
    for (int k = 0; k < 3; ++k)
      v.push_back({quantity_name(q) + std::string(ends[k]), long_name + end_words[k], q == 0 ? "1" : "degree",
                   GridVariable::value});
  }
  for (int k = 0; k < 3; ++k)
    v.push_back({std::string("shmax") + ends[k],
                 std::string("azimuth of the maximum horizontal stress, clockwise from north, in [0, 180)") +
                     end_words[k],
                 "degree", GridVariable::value});
  v.push_back({"regime_share", "share of the accepted resamples in the best fit's regime", "1", GridVariable::value});
  for (int k = 0; k < 3; ++k)
    v.push_back({std::string("aphi") + ends[k], std::string("regime index A-phi (Simpson 1997)") + end_words[k],
                 "1", GridVariable::value});
  v.push_back({"regime", "faulting regime of the best fit (World Stress Map)", "", GridVariable::flags});
  v.push_back({"input", "resample results file of the point", "", GridVariable::text});
  v.push_back({"notes", "codes of the health notes of the point's input", "", GridVariable::text});
  return v;
}

// The span of a dimension from its least to its greatest index, as a count.
double span_of(std::span<const TableRow> rows, int Grid::*which) {
  if (rows.empty()) return 0.0;
  const auto [low, high] = std::minmax_element(rows.begin(), rows.end(), [which](const auto& a, const auto& b) {
    return a.grid.*which < b.grid.*which;
  });
  return static_cast<double>(high->grid.*which) - static_cast<double>(low->grid.*which) + 1.0;
}

}  // namespace

const std::vector<GridVariable>& grid_variables() {
  static const std::vector<GridVariable> variables = make();
  return variables;
}

std::string netcdf_fault(std::span<const TableRow> rows) {
  std::map<std::array<int, 4>, std::size_t> seen;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Grid& g = rows[i].grid;
    const auto [at, fresh] = seen.emplace(std::array<int, 4>{g.x, g.y, g.z, g.t}, i);
    if (!fresh)
      return "rows " + std::to_string(at->second + 1) + " and " + std::to_string(i + 1) +
             " have the same grid indices (" + std::to_string(g.x) + " " + std::to_string(g.y) + " " +
             std::to_string(g.z) + " " + std::to_string(g.t) + "); a netCDF grid holds one value a cell";
  }
  double planes = 1.0;
  for (int Grid::*which : {&Grid::z, &Grid::t}) {
    std::vector<int> v;
    for (const TableRow& r : rows) v.push_back(r.grid.*which);
    std::sort(v.begin(), v.end());
    planes *= static_cast<double>(std::unique(v.begin(), v.end()) - v.begin());
  }
  const double cells = span_of(rows, &Grid::x) * span_of(rows, &Grid::y) * planes;
  if (cells > kGridCellsFree && cells > kGridCellsPerPoint * static_cast<double>(rows.size()))
    return "the grid indices of " + std::to_string(rows.size()) + " points span " +
           std::to_string(static_cast<long long>(cells)) + " cells; too sparse for a netCDF grid";
  return {};
}

}  // namespace tilvex::formats
