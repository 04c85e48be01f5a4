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

DensityGrid smoothed_density(const std::vector<Direction>& axes, const std::vector<double>& weights,
                             double total, int size) {
  DensityGrid g;
  g.size = size;
  g.sigmas.assign(static_cast<std::size_t>(size * size), 0.0);
  if (total <= 0) return g;
  const double k = 2.0 / counting_area(static_cast<std::size_t>(total));
  const double uniform = total * (1.0 - std::exp(-k)) / k;
  // Beyond |a . n| < 1 - 40 / k an axis weighs less than e^-40: left out.
  const double nearest = 1.0 - 40.0 / k;
  for (int row = 0; row < size; ++row) {
    for (int column = 0; column < size; ++column) {
      const double east = -1.0 + 2.0 * column / (size - 1), north = 1.0 - 2.0 * row / (size - 1);
      const Direction n = direction_at(east, north);
      double sum = 0;
      for (std::size_t i = 0; i < axes.size(); ++i) {
        const Direction& a = axes[i];
        const double c = std::fabs(a[0] * n[0] + a[1] * n[1] + a[2] * n[2]);
        if (c >= nearest) sum += weights[i] * std::exp(k * (c - 1.0));
      }
      const double v = sum / uniform;
      g.sigmas[static_cast<std::size_t>(row * size + column)] = v;
      g.peak = std::max(g.peak, v);
    }
  }
  return g;
}

double density_at(const DensityGrid& g, double east, double north) {
  if (g.size < 2) return 0.0;
  const double last = g.size - 1;
  const double x = std::clamp((east + 1.0) / 2.0 * last, 0.0, last);
  const double y = std::clamp((1.0 - north) / 2.0 * last, 0.0, last);
  const int c = std::min(static_cast<int>(x), g.size - 2), r = std::min(static_cast<int>(y), g.size - 2);
  const double fx = x - c, fy = y - r;
  return (1 - fy) * ((1 - fx) * g.at(r, c) + fx * g.at(r, c + 1)) +
         fy * ((1 - fx) * g.at(r + 1, c) + fx * g.at(r + 1, c + 1));
}

std::vector<double> mass_levels(const DensityGrid& grid, const std::vector<std::array<double, 2>>& points,
                                const std::vector<double>& weights, const std::vector<double>& shares) {
  std::vector<std::pair<double, double>> at;  // density, weight: densest first
  double total = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    at.emplace_back(density_at(grid, points[i][0], points[i][1]), weights[i]);
    total += weights[i];
  }
  std::vector<double> out;
  if (at.empty() || total <= 0) return out;
  std::sort(at.begin(), at.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (double share : shares) {
    double held = 0;
    std::size_t i = 0;
    while (i + 1 < at.size() && held + at[i].second < share * total) held += at[i++].second;
    out.push_back(at[i].first);
  }
  return out;
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
