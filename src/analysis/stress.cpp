#include "stress.hpp"

#include <cmath>
#include <limits>

#include "numeric/angles.hpp"

namespace tilvex::inline detail {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The horizontal 2x2 part of a tensor in the north-east frame.
struct Horizontal {
  double nn = 0.0, ee = 0.0, ne = 0.0;
};

// Adds sigma v v' for the unit vector v of the axis (trend, plunge), in
// degrees: v = (cos t cos p, sin t cos p, sin p) north, east, down. Only the
// horizontal part (cos p times the trend's direction) counts, so an axis
// pointing up adds what the same axis pointing down adds.
void add_axis(Horizontal& h, const Axis& axis, double sigma) {
  const double t = static_cast<double>(axis.trend) * kRadiansPerDegree;
  const double p = static_cast<double>(axis.plunge) * kRadiansPerDegree;
  const double north = std::cos(t) * std::cos(p), east = std::sin(t) * std::cos(p);
  h.nn += sigma * (north * north);
  h.ee += sigma * (east * east);
  h.ne += sigma * (north * east);
}

}  // namespace

double fold_azimuth(double degrees) {
  // fmod is exact and keeps the sign: a in (-180, 180). Each correction is
  // exact too (Sterbenz: a and 180 within a factor 2 of each other).
  double a = std::fmod(degrees, 180.0);
  if (a > 90.0) {
    a -= 180.0;
  } else if (a <= -90.0) {
    a += 180.0;
  }
  return a;
}

float folded_float(double degrees, double period) {
  double a = std::fmod(degrees, period);
  if (a < 0.0) a += period;
  const auto f = static_cast<float>(a);
  return f >= static_cast<float>(period) ? 0.0f : f + 0.0f;  // -0 is 0
}

double shmax_azimuth(const Solution& s) {
  const double phi = static_cast<double>(s.phi);
  if (!std::isfinite(phi)) return kNaN;
  // sigma1 = 1, sigma2 = phi, sigma3 = 0.
  Horizontal h;
  add_axis(h, s.axis[0], 1.0);
  add_axis(h, s.axis[1], phi);
  // The normal stress on the vertical plane whose normal has azimuth a is
  //   nn cos^2 a + 2 ne sin a cos a + ee sin^2 a
  //   = (nn + ee) / 2 + d cos 2a + ne sin 2a,  d = (nn - ee) / 2,
  // greatest at 2a = atan2(ne, d) (tan 2a = 2 ne / (nn - ee)), where it
  // exceeds the least, at a + 90, by 2 r, r = hypot(d, ne).
  const double d = 0.5 * (h.nn - h.ee);
  const double r = std::hypot(d, h.ne);
  if (!(r > kIsotropicHorizontal)) return kNaN;  // also a NaN r
  // atan2 is in [-pi, pi], so a is in [-90, 90]; the fold takes -90 to 90.
  return fold_azimuth(0.5 * (std::atan2(h.ne, d) * kDegreesPerRadian));
}

std::string_view regime_code(Regime r) {
  switch (r) {
    case Regime::kNormal: return "NF";
    case Regime::kNormalStrikeSlip: return "NS";
    case Regime::kStrikeSlip: return "SS";
    case Regime::kThrustStrikeSlip: return "TS";
    case Regime::kThrust: return "TF";
    case Regime::kUnknown: break;
  }
  return "U";
}

Regime regime(const Solution& s) {
  const float p1 = std::fabs(s.axis[0].plunge);
  const float p2 = std::fabs(s.axis[1].plunge);
  const float p3 = std::fabs(s.axis[2].plunge);
  if (p1 >= 52.0f && p3 <= 35.0f) return Regime::kNormal;
  if (p1 >= 40.0f && p1 < 52.0f && p3 <= 20.0f) return Regime::kNormalStrikeSlip;
  if (p1 < 40.0f && p2 >= 45.0f && p3 <= 20.0f) return Regime::kStrikeSlip;
  if (p1 <= 20.0f && p2 >= 45.0f && p3 < 40.0f) return Regime::kStrikeSlip;
  if (p1 <= 20.0f && p3 >= 40.0f && p3 < 52.0f) return Regime::kThrustStrikeSlip;
  if (p1 <= 35.0f && p3 >= 52.0f) return Regime::kThrust;
  return Regime::kUnknown;
}

double regime_index(const Solution& s) {
  int n = -1;  // the axis nearest vertical
  for (int k = 0; k < 3; ++k) {
    const float p = std::fabs(s.axis[k].plunge);
    if (!std::isnan(p) && (n < 0 || p > std::fabs(s.axis[n].plunge))) n = k;
  }
  if (n < 0) return kNaN;
  // phi - 0.5 is exact for a float phi >= 2^-29 (its last bit is at least
  // 2^-52), so the sum is the one rounding.
  const double centred = static_cast<double>(s.phi) - 0.5;
  return (n + 0.5) + (n == 1 ? -centred : centred);
}

StressRanges::StressRanges(const Solution& best)
    : shmax_(shmax_azimuth(best)), regime_(regime(best)) {
  const double index = regime_index(best);
  index_ = {index, index, index};
}

void StressRanges::take(const Solution& s) {
  // A NaN deviation (a NaN azimuth on either side) fails both tests.
  const double deviation = fold_azimuth(shmax_azimuth(s) - shmax_);
  if (deviation < low_) low_ = deviation;
  if (deviation > high_) high_ = deviation;
  ++taken_;
  if (regime(s) == regime_) ++same_regime_;
  // fmin and fmax leave a NaN out.
  const double index = regime_index(s);
  index_.low = std::fmin(index_.low, index);
  index_.high = std::fmax(index_.high, index);
}

StressSummary StressRanges::finish() const {
  StressSummary out;
  out.shmax = {shmax_, shmax_ + low_, shmax_ + high_};
  out.regime = regime_;
  out.regime_count = same_regime_;
  out.regime_share =
      taken_ == 0 ? kNaN : static_cast<double>(same_regime_) / static_cast<double>(taken_);
  out.regime_index = index_;
  return out;
}

StressSummary stress_summary(const Solution& best, std::span<const Solution> accepted) {
  StressRanges ranges(best);
  for (const Solution& s : accepted) ranges.take(s);
  return ranges.finish();
}

}  // namespace tilvex::inline detail
