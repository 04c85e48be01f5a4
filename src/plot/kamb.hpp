#pragma once
// The density of axes on a lower-hemisphere equal-area net, by Kamb's
// counting-circle method: at each node, the number of axes within a
// counting circle (a cone about the node's direction; an axis counts at
// either end), against the number expected from a uniform distribution.
//
// With N axes and a circle covering the fraction A of the hemisphere, the
// count is binomial with mean E = N A and standard deviation
// sigma = sqrt(N A (1 - A)). Kamb chose A = 9 / (N + 9), so that E = 3
// sigma. That area shrinks as N grows, and a tight cloud of 10^5 axes then
// peaks at hundreds of sigma; so here A never falls below kMinArea (1 per
// cent of the hemisphere, a circle of 8.1 degrees), and the contour levels
// are chosen from the peak (see levels()).

#include <array>
#include <cstddef>
#include <vector>

namespace tilvex::plot {

using Direction = std::array<double, 3>;  // unit vector (north, east, down)

inline constexpr double kMinArea = 0.01;

// The counting circle's area, a fraction of the hemisphere, for N axes.
double counting_area(std::size_t n);

// How many of the weighted axes lie within the counting circle of area
// `area` about `node`: |axis . node| >= 1 - area.
double kamb_count(const std::vector<Direction>& axes, const std::vector<double>& weights,
                  const Direction& node, double area);

// A density on a square grid over the net (radius 1), in multiples of
// sigma: count / sigma at each node. Nodes outside the net take the value
// of the nearest point of its rim.
struct DensityGrid {
  int size = 0;  // nodes per side
  std::vector<double> sigmas;  // size * size, row by row from the north-west
  double peak = 0;
  double at(int row, int column) const { return sigmas[static_cast<std::size_t>(row * size + column)]; }
};

DensityGrid kamb_density(const std::vector<Direction>& axes, const std::vector<double>& weights,
                         double total, int size);

// A handful of contour levels, in sigma: 2, 4, 6, ... below a peak of 12;
// above it, five or six levels evenly spaced from 2 up to the peak, at a
// round step (so the figure shows a few contours at any N).
std::vector<double> levels(double peak);

// The smoothed density of axes, by Robin and Jowett's (1986) exponential
// kernel: at a node n, the sum over the axes a of w exp(k (|a . n| - 1))
// (an axis counts at either end), with k = 2 / counting_area(N), which
// weighs like Kamb's counting circle (k <= 200: half-weight at 4.8
// degrees). In multiples of the density of N axes spread uniformly, N (1 -
// exp(-k)) / k, in single precision, leaving out the weights below e^-12
// (at most 1.3e-3 of the uniform density in all). Nodes outside the net
// within a grid cell's diagonal of it (the corners of the cells the rim
// crosses) take the value of its rim; those farther out, which no contour
// on the net reaches, are 0.
// `wide`: with AVX2 where the processor has it (the same bits either way).
DensityGrid smoothed_density(const std::vector<Direction>& axes, const std::vector<double>& weights,
                             double total, int size, bool wide = true);
// Whether this processor has AVX2.
bool wide_vectors();

// The grid's value at a point of the net, interpolated bilinearly between
// its four nodes.
double density_at(const DensityGrid& grid, double east, double north);

// The levels of the smallest regions that hold `shares` (each from 0 to
// 1) of the weighted axes (given as points of the net): the density
// reached at the axes, interpolated on the grid, at the share's quantile
// from the top (highest-density regions, Hyndman 1996). A level for each
// share, in order; none for an empty set.
std::vector<double> mass_levels(const DensityGrid& grid, const std::vector<std::array<double, 2>>& points,
                                const std::vector<double>& weights, const std::vector<double>& shares);

// The contour lines of the grid at `level`, as segments of points on the
// net ((east, north), radius 1), by marching squares.
std::vector<std::array<double, 4>> contour(const DensityGrid& grid, double level);

// The direction below a point of the net (the inverse of the equal-area
// projection), and the projection of a direction.
Direction direction_at(double east, double north);

}  // namespace tilvex::plot
