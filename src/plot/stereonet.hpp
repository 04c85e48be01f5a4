#pragma once
// A picture of the accepted resamples of one grid point: their axes on a
// lower-hemisphere equal-area (Schmidt) net and a histogram of phi, as one
// standalone SVG document.

#include <optional>
#include <string>
#include <vector>

#include "accepted.hpp"

namespace tilvex::plot {

// A point of a net of radius 1: east to the right, north up.
struct NetPoint {
  double east = 0.0, north = 0.0;
};

// The lower-hemisphere equal-area projection of the axis (trend, plunge) in
// degrees: plunge 90 at the centre, plunge 0 on the primitive circle at the
// trend's azimuth, at distance sqrt(1 - sin(plunge)) from the centre. An
// axis pointing up (negative plunge) is drawn as its antipode: trend + 180,
// plunge negated. Empty for a NaN or infinite angle.
std::optional<NetPoint> project(double trend, double plunge);

// The SVG document: the net with a 10 degree graticule and N/E/S/W marks,
// every axis of every line as a marker (axis 1 a red circle, axis 2 a green
// square, axis 3 a blue triangle, with classes "axis1" to "axis3"), a legend
// with the number of resamples, and beside the net a histogram of phi over
// 0 to 1. `title` heads the picture.
std::string render_svg(const std::vector<AcceptedLine>& lines, const std::string& title);

}  // namespace tilvex::plot
