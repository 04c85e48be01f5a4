#include "plot/kamb.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

namespace tilvex::plot {
namespace {

// Counted by hand: three vertical axes (one given pointing up: an axis
// counts at either end), one horizontal to the north and one 45 degrees
// down to the east, with counting circles of 1% and 40% of the hemisphere
// (cones of 8.1 and 53.1 degrees).
TEST(Kamb, CountsAgainstAHandCount) {
  const double s = std::sqrt(0.5);
  const std::vector<Direction> axes = {{0, 0, 1}, {0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {0, s, s}};
  const std::vector<double> ones(axes.size(), 1.0);
  const Direction down{0, 0, 1}, north{1, 0, 0}, south{-1, 0, 0};
  EXPECT_EQ(kamb_count(axes, ones, down, 0.01), 3);
  EXPECT_EQ(kamb_count(axes, ones, north, 0.01), 1);
  EXPECT_EQ(kamb_count(axes, ones, south, 0.01), 1);       // the same axis, the other end
  EXPECT_EQ(kamb_count(axes, ones, down, 0.40), 4);        // 45 degrees lies within 53.1
  EXPECT_EQ(kamb_count(axes, {1, 1, 1, 2.5, 1}, north, 0.01), 2.5);  // weighted
  // Kamb's area 9 / (N + 9), never below 1%.
  EXPECT_DOUBLE_EQ(counting_area(91), 0.09);
  EXPECT_DOUBLE_EQ(counting_area(1000000), 0.01);
  // The net: the centre is straight down, the rim horizontal.
  const Direction centre = direction_at(0, 0), east = direction_at(1, 0);
  EXPECT_DOUBLE_EQ(centre[2], 1.0);
  EXPECT_NEAR(east[1], 1.0, 1e-12);
  EXPECT_NEAR(east[2], 0.0, 1e-12);
}

// The density in sigma, by hand: ten vertical axes, so A = 9 / (10 + 9),
// the count at the centre is 10, and the binomial sigma is
// sqrt(10 (9/19) (10/19)) = 30/19: the centre lies at 10 / (30/19) = 19/3
// sigma, the peak. The rim (horizontal) counts none.
TEST(Kamb, DensityInBinomialSigmas) {
  const std::vector<Direction> axes(10, Direction{0, 0, 1});
  const DensityGrid g = kamb_density(axes, std::vector<double>(axes.size(), 1.0), 10.0, 3);
  ASSERT_EQ(g.sigmas.size(), 9u);
  EXPECT_NEAR(g.at(1, 1), 19.0 / 3.0, 1e-12);
  EXPECT_NEAR(g.peak, 19.0 / 3.0, 1e-12);
  EXPECT_EQ(g.at(0, 1), 0.0);
  EXPECT_EQ(levels(g.peak), (std::vector<double>{2, 4, 6}));
}

TEST(Kamb, AHandfulOfLevelsAtAnyPeakAndTheirContours) {
  EXPECT_EQ(levels(9.0), (std::vector<double>{2, 4, 6, 8}));
  EXPECT_EQ(levels(202.0), (std::vector<double>{2, 52, 102, 152}));
  EXPECT_EQ(levels(1.5), std::vector<double>{});
  for (double peak : {13.0, 40.0, 700.0, 5000.0}) {
    const auto at = levels(peak);
    EXPECT_GE(at.size(), 3u) << peak;
    EXPECT_LE(at.size(), 6u) << peak;
  }
  // A 3 x 3 grid rising from 0 (north) to 10 (south): the level 5 runs
  // east to west across the middle.
  DensityGrid g;
  g.size = 3;
  g.sigmas = {0, 0, 0, 5, 5, 5, 10, 10, 10};
  const auto segments = contour(g, 7.5);
  ASSERT_EQ(segments.size(), 2u);
  for (const auto& s : segments) {
    EXPECT_DOUBLE_EQ(s[1], -0.5);
    EXPECT_DOUBLE_EQ(s[3], -0.5);
  }
}


// Axes drawn from a Fisher distribution about the axis (trend, plunge)
// with concentration `kappa`, as points of the net; the same for a seed on
// every machine (the engine is specified, the transforms are our own).
std::vector<std::array<double, 2>> fisher_axes(double trend, double plunge, double kappa, int n,
                                               std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  const auto uniform = [&] { return static_cast<double>(engine() >> 11) * 0x1p-53; };
  const double t = trend * M_PI / 180, p = plunge * M_PI / 180;
  const Direction mean = {std::cos(p) * std::cos(t), std::cos(p) * std::sin(t), std::sin(p)};
  // Two unit vectors across the mean.
  Direction u = {-std::sin(t), std::cos(t), 0.0};
  const Direction v = {mean[1] * u[2] - mean[2] * u[1], mean[2] * u[0] - mean[0] * u[2],
                       mean[0] * u[1] - mean[1] * u[0]};
  std::vector<std::array<double, 2>> out;
  for (int i = 0; i < n; ++i) {
    const double r = uniform();
    const double c = 1.0 + std::log(r + (1.0 - r) * std::exp(-2.0 * kappa)) / kappa;  // cos of the angle
    const double s = std::sqrt(std::max(0.0, 1.0 - c * c)), a = 2.0 * M_PI * uniform();
    Direction d;
    for (int k = 0; k < 3; ++k) d[k] = c * mean[k] + s * (std::cos(a) * u[k] + std::sin(a) * v[k]);
    if (d[2] < 0) d = {-d[0], -d[1], -d[2]};  // the lower end of the axis
    const double scale = 1.0 / std::sqrt(1.0 + d[2]);
    out.push_back({d[1] * scale, d[0] * scale});  // east, north
  }
  return out;
}

// The smallest region holding 50, 90 or 95 per cent of a bootstrap's axes
// holds that share of a fresh sample of the same distribution, within 2
// per cent: a tight cloud, a wide one, and one across the primitive circle
// (an axis near horizontal counts at both ends).
TEST(Density, TheRegionsHoldTheirShareOfAFreshSample) {
  struct Case {
    double trend, plunge, kappa;
  };
  for (const Case& c : {Case{30, 60, 50}, Case{200, 80, 8}, Case{120, 3, 150}}) {
    const auto fit = fisher_axes(c.trend, c.plunge, c.kappa, 3000, 7);
    std::vector<Direction> axes;
    for (const auto& p : fit) axes.push_back(direction_at(p[0], p[1]));
    const std::vector<double> ones(fit.size(), 1.0);
    const DensityGrid g = smoothed_density(axes, ones, static_cast<double>(fit.size()), 81);
    const std::vector<double> shares = {0.5, 0.9, 0.95};
    const std::vector<double> at = mass_levels(g, fit, ones, shares);
    ASSERT_EQ(at.size(), 3u);
    EXPECT_GT(at[0], at[1]);
    EXPECT_GT(at[1], at[2]);
    const auto fresh = fisher_axes(c.trend, c.plunge, c.kappa, 20000, 99);
    for (std::size_t l = 0; l < shares.size(); ++l) {
      double inside = 0;
      for (const auto& p : fresh) inside += density_at(g, p[0], p[1]) >= at[l];
      EXPECT_NEAR(inside / static_cast<double>(fresh.size()), shares[l], 0.02)
          << c.trend << " " << c.plunge << " " << c.kappa << " share " << shares[l];
    }
  }
  // An axis counts at both ends: on and beyond the rim, where a node and
  // the node opposite stand for the same horizontal axis, the density is
  // the same at both (here of a cloud across the rim).
  {
    const auto rim = fisher_axes(120, 3, 150, 500, 11);
    std::vector<Direction> axes;
    for (const auto& p : rim) axes.push_back(direction_at(p[0], p[1]));
    const DensityGrid g = smoothed_density(axes, std::vector<double>(axes.size(), 1.0), 500.0, 41);
    int compared = 0;
    for (int r = 0; r < g.size; ++r)
      for (int c = 0; c < g.size; ++c) {
        const double e = -1.0 + 2.0 * c / (g.size - 1), n = 1.0 - 2.0 * r / (g.size - 1);
        if (e * e + n * n < 1.0) continue;
        // (in single precision, the sums of the two taken in different orders)
        EXPECT_NEAR(g.at(r, c), g.at(g.size - 1 - r, g.size - 1 - c), 1e-5 * (1 + g.at(r, c))) << r << " " << c;
        compared += g.at(r, c) > 1.0;
      }
    EXPECT_GT(compared, 4);  // where the cloud is
  }
  // In multiples of the uniform density: axes spread evenly give about 1.
  const auto even = fisher_axes(0, 90, 1e-9, 20000, 3);
  std::vector<Direction> axes;
  for (const auto& p : even) axes.push_back(direction_at(p[0], p[1]));
  const DensityGrid g = smoothed_density(axes, std::vector<double>(axes.size(), 1.0), 20000.0, 21);
  EXPECT_NEAR(density_at(g, 0.3, -0.2), 1.0, 0.2);
  EXPECT_NEAR(density_at(g, 0.0, 0.0), 1.0, 0.2);
}

// The smoothed density, taken at each node only over the axes within the
// kernel's reach and in single precision, against the kernel summed over
// every axis at every node in double: within the weight left out (1.3e-3
// of the uniform density) and single precision's rounding, and 0 beyond a
// cell's diagonal outside the net. Clouds tight,
// wide, across the rim (each end within reach of nodes on both sides),
// near the centre, of a few axes (a kernel so wide every axis counts
// everywhere), weighted, and given by their upper ends.
TEST(Density, TheKernelsReachLeavesOutOnlyWhatWeighsNothing) {
  struct Case {
    double trend, plunge, kappa;
    int n, size;
  };
  for (const Case& c : {Case{30, 60, 50, 1500, 81}, Case{200, 20, 8, 3000, 41}, Case{120, 3, 150, 2000, 81},
                        Case{300, 1, 40, 2500, 41}, Case{10, 88, 300, 1200, 41}, Case{75, 40, 20, 12, 41},
                        Case{160, 30, 5, 300, 41}}) {
    const auto cloud = fisher_axes(c.trend, c.plunge, c.kappa, c.n, 13);
    std::vector<Direction> axes;
    std::vector<double> weights;
    for (std::size_t i = 0; i < cloud.size(); ++i) {
      Direction d = direction_at(cloud[i][0], cloud[i][1]);
      if (i % 3 == 0) d = {-d[0], -d[1], -d[2]};
      axes.push_back(d);
      weights.push_back(1.0 + static_cast<double>(i % 4));
    }
    double total = 0;
    for (double w : weights) total += w;
    const DensityGrid g = smoothed_density(axes, weights, total, c.size);
    // With AVX2 or without, the same bits.
    if (wide_vectors()) {
      EXPECT_EQ(smoothed_density(axes, weights, total, c.size, false).sigmas, g.sigmas);
    }
    const double k = 2.0 / counting_area(static_cast<std::size_t>(total));
    const double uniform = total * (1.0 - std::exp(-k)) / k;
    double peak = 0;
    for (int r = 0; r < c.size; ++r)
      for (int col = 0; col < c.size; ++col) {
        const Direction n = direction_at(-1.0 + 2.0 * col / (c.size - 1), 1.0 - 2.0 * r / (c.size - 1));
        double sum = 0;
        for (std::size_t i = 0; i < axes.size(); ++i) {
          const Direction& a = axes[i];
          sum += weights[i] * std::exp(k * (std::fabs(a[0] * n[0] + a[1] * n[1] + a[2] * n[2]) - 1.0));
        }
        const double east = -1.0 + 2.0 * col / (c.size - 1), north = 1.0 - 2.0 * r / (c.size - 1);
        const double want = std::hypot(east, north) > 1.0 + 2.0 * std::sqrt(2.0) / (c.size - 1) ? 0.0 : sum / uniform;
        peak = std::max(peak, want);
        ASSERT_NEAR(g.at(r, col), want, 1.3e-3 + 1e-5 * want) << c.trend << " " << c.plunge << " node " << r << " " << col;
      }
    EXPECT_NEAR(g.peak, peak, 1e-5 * peak);
  }
  // Clouds of other counts reach other distances: on a thread that drew a
  // few axes (every axis at every node) and then more (each node over the
  // cells within reach), the same bits as on a thread that drew only the
  // second; the same after a cloud of a nearer reach.
  const auto axes_of = [](int n, std::uint64_t seed) {
    std::vector<Direction> axes;
    for (const auto& p : fisher_axes(140, 25, 30, n, seed)) axes.push_back(direction_at(p[0], p[1]));
    return axes;
  };
  const auto density = [](const std::vector<Direction>& axes) {
    return smoothed_density(axes, std::vector<double>(axes.size(), 1.0), static_cast<double>(axes.size()), 41).sigmas;
  };
  const std::vector<Direction> few = axes_of(40, 1), some = axes_of(300, 2), many = axes_of(2000, 3);
  std::vector<double> alone_some, alone_many, after_few, after_many;
  std::thread([&] { alone_some = density(some); }).join();
  std::thread([&] { alone_many = density(many); }).join();
  std::thread([&] { density(few), after_few = density(many), after_many = density(some); }).join();
  EXPECT_EQ(after_few, alone_many);
  EXPECT_EQ(after_many, alone_some);
}

}  // namespace
}  // namespace tilvex::plot
