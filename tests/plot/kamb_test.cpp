#include "plot/kamb.hpp"

#include <gtest/gtest.h>

#include <cmath>
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

}  // namespace
}  // namespace tilvex::plot
