#include "kamb.hpp"

#include <algorithm>
#include <cmath>

namespace tilvex::plot {

double counting_area(std::size_t n) {
  return std::max(kMinArea, 9.0 / (static_cast<double>(n) + 9.0));
}

double kamb_count(const std::vector<Direction>& axes, const std::vector<double>& weights,
                  const Direction& node, double area) {
  const double cos_radius = 1.0 - area;
  double count = 0;
  for (std::size_t i = 0; i < axes.size(); ++i) {
    const Direction& a = axes[i];
    if (std::fabs(a[0] * node[0] + a[1] * node[1] + a[2] * node[2]) >= cos_radius) count += weights[i];
  }
  return count;
}

Direction direction_at(double east, double north) {
  // Equal area: a point at distance r from the centre lies at plunge p with
  // r = sqrt(1 - sin p) (the net's radius is 1).
  double r2 = east * east + north * north;
  if (r2 > 1.0) {  // beyond the rim: the nearest point of the rim
    const double r = std::sqrt(r2);
    east /= r, north /= r, r2 = 1.0;
  }
  const double down = 1.0 - r2;
  const double horizontal = std::sqrt(std::max(0.0, 1.0 - down * down));
  const double r = std::sqrt(r2);
  if (r == 0.0) return {0.0, 0.0, 1.0};
  return {north / r * horizontal, east / r * horizontal, down};
}

DensityGrid kamb_density(const std::vector<Direction>& axes, const std::vector<double>& weights,
                         double total, int size) {
  DensityGrid g;
  g.size = size;
  g.sigmas.assign(static_cast<std::size_t>(size * size), 0.0);
  if (total <= 0) return g;
  const double area = counting_area(static_cast<std::size_t>(total));
  const double sigma = std::sqrt(total * area * (1.0 - area));
  for (int row = 0; row < size; ++row) {
    for (int column = 0; column < size; ++column) {
      const double east = -1.0 + 2.0 * column / (size - 1), north = 1.0 - 2.0 * row / (size - 1);
      const double v = kamb_count(axes, weights, direction_at(east, north), area) / sigma;
      g.sigmas[static_cast<std::size_t>(row * size + column)] = v;
      g.peak = std::max(g.peak, v);
    }
  }
  return g;
}

std::vector<double> levels(double peak) {
  std::vector<double> out;
  double step = 2.0;
  if (peak > 12.0) {
    const double raw = (peak - 2.0) / 5.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double nice : {1.0, 2.0, 5.0, 10.0})
      if (nice * magnitude >= raw) {
        step = nice * magnitude;
        break;
      }
  }
  for (double v = 2.0; v < peak && out.size() < 8; v += step) out.push_back(v);
  return out;
}

std::vector<std::array<double, 4>> contour(const DensityGrid& g, double level) {
  std::vector<std::array<double, 4>> segments;
  const auto x = [&](double column) { return -1.0 + 2.0 * column / (g.size - 1); };
  const auto y = [&](double row) { return 1.0 - 2.0 * row / (g.size - 1); };
  for (int r = 0; r + 1 < g.size; ++r) {
    for (int c = 0; c + 1 < g.size; ++c) {
      // Corners clockwise from the north-west, and where the level crosses
      // each edge (north, east, south, west).
      const double v[4] = {g.at(r, c), g.at(r, c + 1), g.at(r + 1, c + 1), g.at(r + 1, c)};
      const int code = (v[0] >= level) | (v[1] >= level) << 1 | (v[2] >= level) << 2 | (v[3] >= level) << 3;
      if (code == 0 || code == 15) continue;
      const auto t = [&](double a, double b) { return (level - a) / (b - a); };
      const double edge[4][2] = {
          {x(c + t(v[0], v[1])), y(r)},
          {x(c + 1), y(r + t(v[1], v[2]))},
          {x(c + 1 - t(v[2], v[3])), y(r + 1)},
          {x(c), y(r + 1 - t(v[3], v[0]))},
      };
      // The edges each case joins (the saddles 5 and 10 join two pairs).
      static const int pairs[16][4] = {{-1, -1, -1, -1}, {3, 0, -1, -1}, {0, 1, -1, -1}, {3, 1, -1, -1},
                                       {1, 2, -1, -1},   {3, 0, 1, 2},   {0, 2, -1, -1}, {3, 2, -1, -1},
                                       {2, 3, -1, -1},   {0, 2, -1, -1}, {0, 1, 2, 3},   {1, 2, -1, -1},
                                       {1, 3, -1, -1},   {0, 1, -1, -1}, {3, 0, -1, -1}, {-1, -1, -1, -1}};
      for (int k = 0; k < 4 && pairs[code][k] >= 0; k += 2) {
        const int a = pairs[code][k], b = pairs[code][k + 1];
        segments.push_back({edge[a][0], edge[a][1], edge[b][0], edge[b][1]});
      }
    }
  }
  return segments;
}

}  // namespace tilvex::plot
