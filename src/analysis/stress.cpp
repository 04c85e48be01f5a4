#include "stress.hpp"

#include <cmath>
#include <limits>

#include "numeric/angles.hpp"

namespace tilvex::inline detail {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The sine and cosine of each whole degree from -180 to 180, from the C
// library (within an ulp), made once.
struct DegreeTable {
  double sine[361], cosine[361];
  DegreeTable() {
    for (int n = -180; n <= 180; ++n) {
      sine[n + 180] = std::sin(n * kRadiansPerDegree);
      cosine[n + 180] = std::cos(n * kRadiansPerDegree);
    }
  }
};
const DegreeTable kDegrees;

// The nearest whole number to x, |x| < 2^51: adding and taking away
// 1.5 * 2^52 rounds to one (the rounding mode being to nearest).
inline double nearest_whole(double x) { return (x + 0x1.8p52) - 0x1.8p52; }

// The sine and cosine of `degrees`, in double, with little of the C
// library's trigonometry (a grid takes them for every accepted resample):
// `degrees` = 360 m + n + f exactly, n a whole number in [-180, 180] (fmod
// first for angles beyond 2^40 degrees: exact too) and |f| <= 1/2; then
// sin and cos of n from the table, of f (in radians, one rounding, |f| <
// 0.0088) by Taylor polynomials whose remainders are below 1e-19, and the
// sum formulas: an error of a few ulps. The caller has checked that
// `degrees` is finite.
[[gnu::always_inline]] inline void sincos_degrees(double degrees, double& sine, double& cosine) {
  if (std::fabs(degrees) > 0x1p40) degrees = std::fmod(degrees, 360.0);
  const double whole = nearest_whole(degrees);
  // whole - 360 m is exact, and within [-180, 180] whichever way m rounds
  // near a half turn.
  const double n = whole - 360.0 * nearest_whole(whole * (1.0 / 360.0));
  const double f = (degrees - whole) * kRadiansPerDegree, f2 = f * f;
  const double sf = f * (1.0 + f2 * (-1.0 / 6 + f2 * (1.0 / 120)));
  const double cf = 1.0 + f2 * (-0.5 + f2 * (1.0 / 24 + f2 * (-1.0 / 720)));
  const auto at = static_cast<std::size_t>(static_cast<int>(n) + 180);
  const double sn = kDegrees.sine[at], cn = kDegrees.cosine[at];
  sine = sn * cf + cn * sf;
  cosine = cn * cf - sn * sf;
}

// Half the difference of the horizontal principal stresses as a vector at
// twice SHmax's azimuth: (d, ne) with d = (S_NN - S_EE) / 2 and ne = S_NE of
// sigma1 v1 v1' + sigma2 v2 v2' (sigma1 = 1, sigma2 = phi; sigma3 = 0 adds
// nothing). Each axis adds sigma cos^2 p (cos 2t, sin 2t) / 2, with cos^2 p
// = (1 + cos 2p) / 2: its horizontal part, the same for the axis pointing
// up. False where phi or an angle is NaN or infinite, or where the
// horizontal stress is isotropic (|(d, ne)| <= kIsotropicHorizontal).
bool horizontal_difference(const Solution& s, double& d, double& ne) {
  const double phi = static_cast<double>(s.phi);
  const double t1 = s.axis[0].trend, p1 = s.axis[0].plunge, t2 = s.axis[1].trend, p2 = s.axis[1].plunge;
  if (!std::isfinite(phi) || !std::isfinite(t1) || !std::isfinite(p1) || !std::isfinite(t2) || !std::isfinite(p2))
    return false;
  d = 0.0, ne = 0.0;
  const double trends[2] = {t1, t2}, plunges[2] = {p1, p2}, sigmas[2] = {1.0, phi};
  for (int k = 0; k < 2; ++k) {
    double s2t = 0, c2t = 0, s2p = 0, c2p = 0;
    sincos_degrees(2.0 * trends[k], s2t, c2t);  // doubling is exact
    sincos_degrees(2.0 * plunges[k], s2p, c2p);
    const double w = sigmas[k] * (0.25 * (1.0 + c2p));
    d += w * c2t;
    ne += w * s2t;
  }
  return d * d + ne * ne > kIsotropicHorizontal * kIsotropicHorizontal;
}

// A number that grows with the angle of (x, y) over (-pi, pi], without
// an arctangent: 0 at (1, 0), 1 at (0, 1), 2 at (-1, 0), below 0 for y < 0.
double pseudo_angle(double x, double y) {
  const double p = 1.0 - x / (std::fabs(x) + std::fabs(y));
  return y >= 0.0 ? p : -p;
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
  // The normal stress on the vertical plane whose normal has azimuth a is
  //   (S_NN + S_EE) / 2 + d cos 2a + ne sin 2a,
  // greatest at 2a = atan2(ne, d), where it exceeds the least, at a + 90,
  // by 2 |(d, ne)|.
  double d = 0, ne = 0;
  if (!horizontal_difference(s, d, ne)) return kNaN;
  // atan2 is in [-pi, pi], so a is in [-90, 90]; the fold takes -90 to 90.
  return fold_azimuth(0.5 * (std::atan2(ne, d) * kDegreesPerRadian));
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

StressRanges::StressRanges(const Solution& best) : shmax_(shmax_azimuth(best)), regime_(regime(best)) {
  double d = 0, ne = 0;
  if (horizontal_difference(best, d, ne)) {
    const double r = std::hypot(d, ne);
    best_[0] = d / r;
    best_[1] = ne / r;
  }
  const double index = regime_index(best);
  index_ = {index, index, index};
}

void StressRanges::take(const Solution& s) {
  // The resample's vector turned back by the best fit's angle: its angle is
  // twice the deviation of its SHmax. The extremes are kept by a number
  // that grows with the angle; their angles are taken once, in finish().
  double d = 0, ne = 0;
  if (!std::isnan(shmax_) && horizontal_difference(s, d, ne)) {
    const Turned t = {d * best_[0] + ne * best_[1], ne * best_[0] - d * best_[1]};
    const double p = pseudo_angle(t.x, t.y);
    if (p < low_.order) low_ = {p, t.x, t.y};
    if (p > high_.order) high_ = {p, t.x, t.y};
  }
  ++taken_;
  if (regime(s) == regime_) ++same_regime_;
  // fmin and fmax leave a NaN out.
  const double index = regime_index(s);
  index_.low = std::fmin(index_.low, index);
  index_.high = std::fmax(index_.high, index);
}

StressSummary StressRanges::finish() const {
  // Half the angle, in (-90, 90]: a turn by -pi (y = -0) is one by pi.
  const auto deviation = [](const Extreme& e) { return 0.5 * (std::atan2(e.y + 0.0, e.x) * kDegreesPerRadian); };
  StressSummary out;
  out.shmax = {shmax_, shmax_ + deviation(low_), shmax_ + deviation(high_)};
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
