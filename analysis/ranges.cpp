#include "ranges.hpp"

#include "numeric/exact_float.hpp"
#include "numeric/routines.hpp"

namespace tilvex {

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

float radians(float degrees) {
  return static_cast<float>(static_cast<double>(degrees) * kRadiansPerDegree);
}

// (value - ref) in float, widened and turned into degrees, rounded to float.
float deviation(float value, float ref) {
  const float difference = value - ref;
  return static_cast<float>(static_cast<double>(difference) * kDegreesPerRadian);
}

// A deviation in degrees plus the best-fit value: ref (radians) back in
// degrees, in double, the sum rounded to float.
float bound(float deviation_degrees, float ref) {
  const double base = static_cast<double>(ref) * kDegreesPerRadian;
  return static_cast<float>(static_cast<double>(deviation_degrees) + base);
}

}  // namespace

float wrap_trend(float T, float Tref) {
  for (;;) {
    const float difference = T - Tref;
    if (!(static_cast<double>(difference) > kPi)) break;
    const float next = static_cast<float>(static_cast<double>(T) - kTwoPi);
    if (next == T) break;
    T = next;
  }
  for (;;) {
    const float difference = T - Tref;
    if (!(static_cast<double>(difference) < -kPi)) break;
    const float next = static_cast<float>(static_cast<double>(T) + kTwoPi);
    if (next == T) break;
    T = next;
  }
  return T;
}

Ranges::Ranges(const Solution& best) : best_phi_(best.phi) {
  for (int k = 0; k < 3; ++k) {
    BestAxis& b = best_[k];
    b.trend = best.axis[k].trend;
    b.plunge = best.axis[k].plunge;
    b.Tref = radians(b.trend);
    b.Pref = radians(b.plunge);
    vectorR(b.r, b.trend, b.plunge);
  }
}

void Ranges::take(const Solution& s) {
  for (int k = 0; k < 3; ++k) {
    const BestAxis& b = best_[k];
    const float trend = s.axis[k].trend, plunge = s.axis[k].plunge;
    float u[3];
    vectorR(u, trend, plunge);
    // d = (ux rx + uy ry) + uz rz, each product rounded
    const float ux = u[0] * b.r[0], uy = u[1] * b.r[1], uz = u[2] * b.r[2];
    const float d = (ux + uy) + uz;
    float T = radians(trend), P = radians(plunge);
    if (d < 0.0f) {  // points away from the best-fit axis: reverse it
      P = -P;
      T = static_cast<float>(static_cast<double>(T) - kPi);
    }
    T = wrap_trend(T, b.Tref);
    plunge_[k].extend(deviation(P, b.Pref));
    trend_[k].extend(deviation(T, b.Tref));
  }
  phi_.extend(s.phi);
}

Summary Ranges::finish() const {
  Summary out;
  out.phi = {best_phi_, phi_.low, phi_.high};
  for (int k = 0; k < 3; ++k) {
    const BestAxis& b = best_[k];
    out.plunge[k] = {b.plunge, bound(plunge_[k].low, b.Pref), bound(plunge_[k].high, b.Pref)};
    out.trend[k] = {b.trend, bound(trend_[k].low, b.Tref), bound(trend_[k].high, b.Tref)};
  }
  return out;
}

}  // namespace tilvex
