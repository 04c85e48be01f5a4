#include "ranges.hpp"


#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>

#include "numeric/angles.hpp"
#include "numeric/exact_float.hpp"
#include "numeric/routines.hpp"

namespace tilvex::inline detail {

namespace {

// (value - best) in float, both in radians, widened and turned into
// degrees, rounded to float.
float deviation(float value, float best) {
  const float difference = value - best;
  return static_cast<float>(static_cast<double>(difference) * kDegreesPerRadian);
}

// A deviation in degrees plus the best-fit value: `best` (radians) back in
// degrees, in double, the sum rounded to float.
float bound(float deviation_degrees, float best) {
  const double base = static_cast<double>(best) * kDegreesPerRadian;
  return static_cast<float>(static_cast<double>(deviation_degrees) + base);
}

// sin x and cos x to within 2e-10 for |x| <= 2^20, without the library:
// x less the nearest multiple k of pi/2 (pi/2 split in two so that k times
// the first part is exact), then Taylor polynomials on |r| <= pi/4, whose
// remainders are below 7e-12 (sine, to r^11) and 2e-10 (cosine, to r^10).
// The quadrant is chosen without branches: it is random for trends.
inline void approximate_sincos(double x, double* sine, double* cosine) {
  constexpr double kTwoOverPi = 0.6366197723675814;
  constexpr double kHalfPiHigh = 1.57079632673412561417e+00;  // 33 bits
  constexpr double kHalfPiLow = 6.07710050650619224932e-11;
  // The nearest integer: adding and taking away 1.5 * 2^52 rounds away
  // every fraction bit, for |x * 2/pi| below 2^51.
  constexpr double kRound = 0x1.8p52;
  const double k = (x * kTwoOverPi + kRound) - kRound;
  const double r = (x - k * kHalfPiHigh) - k * kHalfPiLow;
  const double r2 = r * r;
  const double s = r + r * r2 * (-1.0 / 6 + r2 * (1.0 / 120 + r2 * (-1.0 / 5040 + r2 * (1.0 / 362880 +
                                                                     r2 * (-1.0 / 39916800)))));
  const double c = 1.0 + r2 * (-0.5 + r2 * (1.0 / 24 + r2 * (-1.0 / 720 + r2 * (1.0 / 40320 +
                                                                 r2 * (-1.0 / 3628800)))));
  const auto q = static_cast<unsigned>(static_cast<long long>(k) & 3);
  const double values[4] = {s, c, -s, -c};
  *sine = values[q];            // sin(r + q pi/2)
  *cosine = values[(q + 1) & 3];  // cos(r + q pi/2) = sin(r + (q + 1) pi/2)
}

}  // namespace

namespace {

// The library computation: the sign of the float d.
bool points_away_exactly(const float r[3], float trend, float plunge) {
  float u[3];
  vectorR(u, trend, plunge);
  // d = (ux rx + uy ry) + uz rz, each product rounded
  const float ux = u[0] * r[0], uy = u[1] * r[1], uz = u[2] * r[2];
  const float d = (ux + uy) + uz;
  return d < 0.0f;
}

}  // namespace

bool points_away(const float r[3], float trend, float plunge) {
  // The float d below is within 3e-7 of the exact cosine D of the angle
  // between the two directions (|r| is 1 within rounding): each component
  // of u is within 6e-8 of its exact value, and five float roundings add at
  // most 2e-7. The approximation is within 1e-9 of D, so beyond 1e-5 its
  // sign is the sign of d, and d is not 0.
  constexpr double kLimit = 1048576.0;  // 2^20 radians
  constexpr double kMargin = 1e-5;
  const double t = static_cast<double>(trend) * kRadiansPerDegree;
  const double p = static_cast<double>(plunge) * kRadiansPerDegree;
  if (std::fabs(t) <= kLimit && std::fabs(p) <= kLimit) {
    double sin_t, cos_t, sin_p, cos_p;
    approximate_sincos(t, &sin_t, &cos_t);
    approximate_sincos(p, &sin_p, &cos_p);
    const double D = cos_t * cos_p * static_cast<double>(r[0]) +
                     sin_t * cos_p * static_cast<double>(r[1]) + sin_p * static_cast<double>(r[2]);
    if (D > kMargin || D < -kMargin) {
      assert((D < 0) == points_away_exactly(r, trend, plunge));
      return D < 0;
    }
  }
  return points_away_exactly(r, trend, plunge);
}

namespace {

// The angle between two directions is at most their trend difference
// (taken along a parallel, no shorter than the great circle) plus their
// plunge difference (along a meridian), for any plunges. So an axis within
// 89 degrees of the best-fit axis by those differences has a cosine D of
// at least cos 89 = 0.017 with it, far from the 3e-7 within which the
// float test can err: it does not point away. One within 89 degrees of the
// opposite axis (trend + 180, -plunge) does. 1 near, -1 opposite, 0 where
// the angles do not tell (or are huge, infinite or NaN).
int side_by_angles(float best_trend, float best_plunge, float trend, float plunge) {
  constexpr double kRound = 0x1.8p52;  // adding and taking it away rounds to an integer
  constexpr double kNear = 89.0;
  const double dt = static_cast<double>(trend) - static_cast<double>(best_trend);
  const double dp = static_cast<double>(plunge) - static_cast<double>(best_plunge);
  if (!(std::fabs(dt) < 1e6 && std::fabs(dp) < 1e6)) return 0;
  // The trend difference brought within about 180 degrees, and its
  // opposite's: errors of 1e-10 degrees at most, against a margin of 1.
  const double turns = (dt / 360.0 + kRound) - kRound;
  const double t = std::fabs(dt - 360.0 * turns);
  if (t + std::fabs(dp) < kNear) return 1;
  const double opposite_dp = -static_cast<double>(plunge) - static_cast<double>(best_plunge);
  if (std::fabs(180.0 - t) + std::fabs(opposite_dp) < kNear) return -1;
  return 0;
}

}  // namespace

bool points_away(const float r[3], float best_trend, float best_plunge, float trend, float plunge) {
  const int side = side_by_angles(best_trend, best_plunge, trend, plunge);
  if (side != 0) {
    assert((side < 0) == points_away_exactly(r, trend, plunge));
    return side < 0;
  }
  return points_away(r, trend, plunge);
}

namespace {

// The loop `while (condition(trend)) { next = float(double(trend) + step); if (next
// == trend) break; trend = next; }`, in bounded time. `condition` must turn false
// and stay false as the steps go on (it compares trend - reference with a bound).
//
// Within a binade, every step whose operand and result lie at least two
// steps away from the binade's edges moves trend by the same amount: trend is a
// multiple of the binade's ulp, so the double sum rounds 2 pi to the same
// multiple of 2^-52 of the binade each time, and the float rounding of that
// never ties. (tests/exhaustive/wrap_steps_test.cpp checks this for every
// float, both signs and both directions.)
// So trend + j * delta, for as many j as stay clear of the edges, are the
// loop's own values, and the first j where the condition fails is found by
// bisection. Near the edges the loop takes single steps. A wrap thus costs
// a few operations per binade crossed, at most some thousands, instead of
// up to millions of steps.
template <typename Condition>
float run_wrap_loop(float trend, double step, Condition condition) {
  while (condition(trend)) {
    const float next = static_cast<float>(static_cast<double>(trend) + step);
    if (next == trend) break;
    const double delta = static_cast<double>(next) - static_cast<double>(trend);  // exact
    const double size = std::fabs(static_cast<double>(trend)), stride = std::fabs(delta);
    // The binade [low, high) of |trend|, from its exponent bits (subnormals and
    // 0 get an empty binade, so they take single steps).
    const std::uint32_t biased = (std::bit_cast<std::uint32_t>(trend) >> 23) & 0xff;
    const double low = std::bit_cast<double>(static_cast<std::uint64_t>(biased + 896) << 52);
    const double high = 2.0 * low;
    const bool growing = (trend > 0.0f) == (delta > 0.0);
    const double room = growing ? (high - 2.0 * stride) - size : size - (low + 2.0 * stride);
    if (biased == 0 || size < low + 2.0 * stride || size > high - 2.0 * stride || room < stride) {
      trend = next;  // near an edge of the binade: one step
      continue;
    }
    const auto at = [&](std::int64_t j) {
      return static_cast<float>(static_cast<double>(trend) + static_cast<double>(j) * delta);  // exact
    };
    const auto last = static_cast<std::int64_t>(room / stride);  // below 2^25
    if (condition(at(last))) {
      trend = at(last);
      continue;
    }
    std::int64_t yes = 0, no = last;  // condition(at(yes)) holds, condition(at(no)) fails
    while (no - yes > 1) {
      const std::int64_t middle = (yes + no) / 2;
      (condition(at(middle)) ? yes : no) = middle;
    }
    return at(no);
  }
  return trend;
}

}  // namespace

float wrap_trend(float trend, float reference) {
  trend = run_wrap_loop(trend, -kTwoPi, [reference](float t) {
    const float difference = t - reference;
    return static_cast<double>(difference) > kPi;
  });
  return run_wrap_loop(trend, kTwoPi, [reference](float t) {
    const float difference = t - reference;
    return static_cast<double>(difference) < -kPi;
  });
}

Ranges::Ranges(const Solution& best) : best_phi_(best.phi) {
  for (int k = 0; k < 3; ++k) {
    BestAxis& b = best_[k];
    b.trend_degrees = best.axis[k].trend;
    b.plunge_degrees = best.axis[k].plunge;
    b.trend = radians(b.trend_degrees);
    b.plunge = radians(b.plunge_degrees);
    vectorR(b.direction, b.trend_degrees, b.plunge_degrees);
  }
}

void Ranges::take(const Solution& s) {
  for (int k = 0; k < 3; ++k) {
    const BestAxis& b = best_[k];
    const Axis& axis = s.axis[k];  // degrees
    float trend = radians(axis.trend), plunge = radians(axis.plunge);
    if (points_away(b.direction, b.trend_degrees, b.plunge_degrees, axis.trend, axis.plunge)) {  // reverse it
      plunge = -plunge;
      trend = static_cast<float>(static_cast<double>(trend) - kPi);
    }
    trend = wrap_trend(trend, b.trend);
    plunge_[k].extend(deviation(plunge, b.plunge));
    trend_[k].extend(deviation(trend, b.trend));
  }
  phi_.extend(s.phi);
}

// A range holds the first of its least and of its greatest values, the
// seed first; the later ranges' least is below this one's only if one of
// their values is, and the first such is it (and so for the greatest).
void Ranges::join(const Ranges& later) {
  const auto take = [](Range& r, const Range& l) {
    if (l.low < r.low) r.low = l.low;
    if (l.high > r.high) r.high = l.high;
  };
  for (int k = 0; k < 3; ++k) {
    take(plunge_[k], later.plunge_[k]);
    take(trend_[k], later.trend_[k]);
  }
  take(phi_, later.phi_);
}

Summary Ranges::finish() const {
  Summary out;
  out.phi = {best_phi_, phi_.low, phi_.high};
  for (int k = 0; k < 3; ++k) {
    const BestAxis& b = best_[k];
    out.plunge[k] = {b.plunge_degrees, bound(plunge_[k].low, b.plunge),
                     bound(plunge_[k].high, b.plunge)};
    out.trend[k] = {b.trend_degrees, bound(trend_[k].low, b.trend), bound(trend_[k].high, b.trend)};
  }
  return out;
}

}  // namespace tilvex::inline detail
