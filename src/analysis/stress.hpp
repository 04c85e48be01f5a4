#pragma once
// The stress quantities of a solution: the azimuth of the greatest
// horizontal compression (SHmax), the faulting regime from the plunges, and
// the regime index A-phi; and over a run, their values for the best fit
// with their spread over the accepted resamples.
//
// Convention (docs/stress.md): axis k of a Solution is sigma k, compression
// positive, sigma1 >= sigma2 >= sigma3, phi = (sigma2 - sigma3) /
// (sigma1 - sigma3). Trend clockwise from north, plunge positive down, both
// in degrees; a negative plunge is the same axis pointing up. The frame is
// x north, y east, z down. These quantities are new outputs, not part of the
// exact float contract: they are computed in double, from the float values
// as read, and allocate nothing.

#include <cstddef>
#include <span>
#include <string_view>

#include "tilvex/records.hpp"

namespace tilvex::inline detail {

// The horizontal stresses count as equal (the azimuth as undefined) where
// half their difference is at most this share of sigma1 - sigma3: below it
// the float rounding of the axes as read (about 3e-7 radian for a trend
// near 360 degrees) decides the azimuth.
inline constexpr double kIsotropicHorizontal = 1e-6;

// `degrees` folded into (-90, 90] by a multiple of 180: the azimuth of the
// same horizontal axis. Exact (no rounding). NaN and infinity give NaN.
double fold_azimuth(double degrees);

// `degrees` as a float in [0, period): period 180 for the azimuth of an
// axis (SHmax), 360 for a trend. Folded in double (exactly, but for the
// period added to a negative remainder), then rounded once; a value that
// rounds up to the period is 0. NaN and infinity give NaN.
float folded_float(double degrees, double period);

// The azimuth of SHmax in degrees, in (-90, 90] (Lund and Townend, 2007):
// the tensor sigma1 v1 v1' + sigma2 v2 v2' + sigma3 v3 v3' with sigma1 = 1,
// sigma2 = phi, sigma3 = 0 and vk the axes as given (not made orthogonal);
// the horizontal direction in which its normal stress is greatest. NaN where
// the horizontal stress is isotropic (kIsotropicHorizontal) and where phi or
// an angle of sigma1 or sigma2 is NaN or infinite (sigma3's axis plays no
// part: its stress is 0). The double arithmetic errs by less than
// 1e-15 + 1e-16 / r radian, r half the horizontal difference in units of
// sigma1 - sigma3 (so 1e-8 degree at the tolerance; measured against long
// double on 2e6 axes with r from 1e-8 to 1).
double shmax_azimuth(const Solution& s);

// The faulting regime of the World Stress Map (Zoback, 1992).
enum class Regime : unsigned char {
  kNormal,             // NF
  kNormalStrikeSlip,   // NS
  kStrikeSlip,         // SS
  kThrustStrikeSlip,   // TS
  kThrust,             // TF
  kUnknown,            // U
};

// "NF", "NS", "SS", "TS", "TF" or "U".
std::string_view regime_code(Regime r);

// The regime from the plunges' magnitudes pl1, pl2, pl3 of sigma1..3 (the
// trends and phi play no part), the rows of the table tried in this order:
//   NF  pl1 >= 52             pl3 <= 35
//   NS  40 <= pl1 < 52        pl3 <= 20
//   SS  pl1 < 40   pl2 >= 45  pl3 <= 20
//   SS  pl1 <= 20  pl2 >= 45  pl3 < 40
//   TS  pl1 <= 20             40 <= pl3 < 52
//   TF  pl1 <= 35             pl3 >= 52
// and U where no row holds. A NaN plunge fails every comparison it is in.
Regime regime(const Solution& s);

// Simpson's (1997) index A-phi = (n + 0.5) + (-1)^n (phi - 0.5), with n = 0,
// 1 or 2 as sigma1, sigma2 or sigma3 is the axis nearest vertical (largest
// |plunge|; on a tie the first of them; NaN plunges left out). 0 to 1
// normal, 1 to 2 strike-slip, 2 to 3 thrust faulting for phi in [0, 1];
// phi outside is taken as it is. In double, one rounding for phi of at
// least 2^-29; NaN where phi is NaN or no plunge is a number.
double regime_index(const Solution& s);

// A value of the best fit and the least and greatest value around it.
struct StressBounds {
  double best = 0.0, low = 0.0, high = 0.0;
};

// The stress quantities of a run.
struct StressSummary {
  // SHmax of the best fit; low and high are best + the least and the
  // greatest deviation of an accepted resample's SHmax from it, each
  // deviation folded into (-90, 90] and the deviations seeded at 0. low and
  // high are NOT folded, so low <= best <= high even where the range
  // crosses north or south (fold_azimuth gives their azimuths). A NaN
  // resample azimuth is left out; a NaN best gives NaN bounds.
  StressBounds shmax;
  // The regime of the best fit, and the share (0 to 1) of the accepted
  // resamples that have the same regime; NaN when there are none.
  Regime regime = Regime::kUnknown;
  std::size_t regime_count = 0;  // how many accepted resamples share it
  double regime_share = 0.0;
  // A-phi of the best fit, and the least and greatest A-phi of the best
  // fit and the accepted resamples together; NaN values are left out.
  StressBounds regime_index;
};

// The stress quantities of a run from its best fit and accepted resamples
// (in any order: the result does not depend on it). Allocates nothing.
StressSummary stress_summary(const Solution& best, std::span<const Solution> accepted);

// The same, one accepted resample at a time (as pass 2 meets them):
// stress_summary(best, accepted) is StressRanges(best), take() of each,
// then finish().
class StressRanges {
 public:
  explicit StressRanges(const Solution& best);
  void take(const Solution& resample);
  StressSummary finish() const;

 private:
  // A deviation from the best fit's SHmax, kept as the vector (x, y) at
  // twice its angle, with a number that orders such angles.
  struct Extreme {
    double order = 0.0, x = 1.0, y = 0.0;  // 0: no deviation
  };
  struct Turned {
    double x, y;
  };
  double shmax_;                      // of the best fit
  double best_[2] = {1.0, 0.0};       // the unit vector at twice its angle
  Extreme low_, high_;                // the least and greatest deviation
  Regime regime_;
  std::size_t taken_ = 0, same_regime_ = 0;
  StressBounds index_;
};

}  // namespace tilvex::inline detail
