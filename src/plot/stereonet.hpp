#pragma once
// A picture of the accepted resamples of one grid point: their axes on a
// lower-hemisphere equal-area (Schmidt) net and a histogram of phi, as one
// standalone SVG document.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "formats/accepted.hpp"
#include "kamb.hpp"

namespace tilvex::plot {

using formats::AcceptedLine;

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

// What a figure shows besides the resamples.
struct BestFit {
  double phi[3] = {};               // best fit, low and high bound
  double trend[3] = {}, plunge[3] = {};  // the best-fit axes, degrees
};
// The contours of each axis's resamples: the smallest regions that hold
// given shares of them (per cent: 50, 90, 95 unless set), or levels of
// their density smoothed by an exponential kernel in multiples of the
// uniform density, or Kamb's counting-circle density in sigma (for both,
// a handful of levels from the peak unless set).
enum class Contours { regions, density, sigma };

struct Figure {
  std::string title, subtitle;
  std::optional<BestFit> best;
  bool sigma_names = false;  // σ₁ for "axis 1", for a stress tensor
  Contours contours = Contours::regions;
  std::vector<double> levels;  // as the contours take them; empty: the defaults
};

// The colours of axes 1, 2 and 3 (Okabe-Ito, safe for colour-blind
// readers; the shapes differ too): orange, green, blue, as "#RRGGBB".
inline constexpr const char* kAxisColours[3] = {"#D55E00", "#009E73", "#0072B2"};

// The accepted resamples of one grid point, taken one at a time: the
// markers of the first kMaxMarkers (beyond that the figure shows density
// only), the axes for the density (exactly up to kMaxExact resamples, in
// fine bins beyond), and the histogram of phi. Bounded memory at any count.
class Cloud {
 public:
  static constexpr std::size_t kMaxMarkers = 3000, kMaxExact = 20000;
  static constexpr int kBins = 20, kBinsPerSide = 200, kGrid = 41, kFineGrid = 81;

  void add(const AcceptedLine& line);
  // Kamb's density in sigma, on a grid of kGrid nodes a side.
  DensityGrid density(int axis) const;
  // The smoothed density in multiples of the uniform, on a grid of
  // kFineGrid nodes a side; and the axes as points of the net with their
  // weights (the bins' centres, beyond kMaxExact).
  DensityGrid smoothed(int axis) const;
  void points(int axis, std::vector<std::array<double, 2>>& at, std::vector<double>& weights) const;

  std::size_t count = 0, left_out = 0, phi_outside = 0;
  std::size_t drawn[3] = {};
  std::array<int, kBins> phi_bins{};
  std::vector<NetPoint> markers[3];

 private:
  void bin(int axis, const NetPoint& p);
  bool exact = true;
  std::vector<Direction> axes[3];
  std::vector<double> binned[3];
};

// The contours a figure draws (Figure::contours): for each axis with 10 or
// more drawn, of a cloud of 10 or more resamples, the grid it contours and
// its levels (regions: from the largest share to the smallest; density and
// sigma: the given levels sorted, else levels() of the greatest peak of
// the three); and the legend's lines on the method (none where no axis has
// contours). Allocates; the grids' cost is that of Cloud::smoothed or
// Cloud::density.
struct AxisContours {
  int axis = 0;  // 0, 1 or 2
  DensityGrid grid;
  std::vector<double> levels;
};
struct ContourSet {
  std::vector<AxisContours> axes;
  std::vector<std::string> method;
};
ContourSet contours_of(const Cloud& cloud, const Figure& figure);

// The SVG document: the net with a 10 degree graticule and N/E/S/W marks;
// the contours of each axis (Figure::contours); while few enough, every axis as a
// marker (axis 1 an orange circle, axis 2 a green square, axis 3 a blue
// triangle, Okabe-Ito colours, with classes "axis1" to "axis3"); the best
// fit as large outlined markers (classes "best1" to "best3"); a legend with
// the counts and the density method; beside the net a histogram of phi
// over 0 to 1, with the best fit and its bounds marked.
std::string render_svg(const Cloud& cloud, const Figure& figure);

// The same for lines held, with only a title.
std::string render_svg(const std::vector<AcceptedLine>& lines, const std::string& title);

}  // namespace tilvex::plot
