#pragma once
// The confidence ranges: the least and greatest phi of the accepted
// resamples, and per axis the least and greatest deviation of trend and
// plunge from the best-fit axis, turned into absolute bounds at the end.

#include "tilvex/records.hpp"

namespace tilvex::inline detail {

// Brings `trend` (radians, float) to within pi of `reference`, giving bit
// for bit what these stepwise loops give: while float(trend - reference) >
// pi, trend = float(double(trend) - 2 pi); then while float(trend -
// reference) < -pi, trend = float(double(trend) + 2 pi). A step that leaves
// the trend unchanged (infinite, or too large for 2 pi to count) ends its
// loop; a NaN leaves both loops at once. Takes many steps at once, so its
// time is bounded whatever the two are (a few thousand operations at most).
float wrap_trend(float trend, float reference);

// Whether the axis (trend, plunge), in degrees, points away from the
// best-fit axis with direction vector r: d < 0 for the float
// d = (ux rx + uy ry) + uz rz, u = vectorR(trend, plunge), each product
// rounded. Exactly that test, but the library sine and cosine are taken only
// where d is within about 1e-5 of 0 (or for huge, infinite or NaN angles).
bool points_away(const float r[3], float trend, float plunge);

// The same, for the best-fit axis (best_trend, best_plunge) in degrees
// with direction vector r: an axis plainly near that axis, or near its
// opposite, is told by the differences of the angles alone.
bool points_away(const float r[3], float best_trend, float best_plunge, float trend, float plunge);

class Ranges {
 public:
  // Prepares the best-fit axes and seeds the accumulators: deviations at 0,
  // phi low at 1 and phi high at 0.
  explicit Ranges(const Solution& best);

  // Takes one accepted resample: each axis is reversed where it points away
  // from the best-fit axis, its trend wrapped to within 180 degrees of the
  // best-fit trend, and its deviations kept where they extend the range.
  // NaN deviations and NaN phi never extend a range.
  void take(const Solution& resample);

  // Takes in the ranges of the resamples after those taken here, of the
  // same best fit: as if this had taken them itself, in order.
  void join(const Ranges& later);

  // The summary: best-fit values as read, and the bounds, each deviation
  // plus the best-fit value (float, through double).
  Summary finish() const;

 private:
  struct BestAxis {
    float trend_degrees, plunge_degrees;  // as read
    float trend, plunge;                  // radians, rounded to float
    float direction[3];                   // vectorR of the axis
  };
  struct Range {
    float low = 0.0f, high = 0.0f;
    void extend(float v) {
      if (v < low) low = v;
      if (v > high) high = v;
    }
  };

  BestAxis best_[3];
  float best_phi_;
  Range phi_{1.0f, 0.0f};
  Range trend_[3], plunge_[3];
};

}  // namespace tilvex::inline detail
