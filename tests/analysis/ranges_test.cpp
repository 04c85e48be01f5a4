#include "analysis/ranges.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <algorithm>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "numeric/routines.hpp"

namespace tilvex {
namespace {

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

TEST(WrapTrend, EndsForEveryInput) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float T, Tref, expect;
  };
  const Case cases[] = {
      {1.0f, 0.0f, 1.0f},
      {7.0f, 0.0f, 0x1.6f0256p-1f},      // float(7 - 2 pi)
      {-7.0f, 0.0f, -0x1.6f0256p-1f},
      {0.0f, 6.0f, 0x1.921fb6p+2f},      // float(0 + 2 pi)
      {inf, 0.0f, inf},                  // a step leaves it unchanged
      {-inf, 1.0f, -inf},
      {1e30f, 0.0f, 1e30f},              // 2 pi no longer changes it
      {2.0f, inf, 0x1p+27f},             // steps up until 2 pi stops counting
      {inf, inf, inf},                   // inf - inf is NaN: no step
  };
  for (const Case& c : cases)
    EXPECT_EQ(bits(wrap_trend(c.T, c.Tref)), bits(c.expect)) << c.T << " " << c.Tref;
  EXPECT_TRUE(std::isnan(wrap_trend(nan, 0.0f)));
  EXPECT_EQ(wrap_trend(3.0f, nan), 3.0f);
}

// The test as written: d from vectorR and float products, library sine
// and cosine throughout.
bool points_away_exactly(const float r[3], float trend, float plunge) {
  float u[3];
  vectorR(u, trend, plunge);
  const float ux = u[0] * r[0], uy = u[1] * r[1], uz = u[2] * r[2];
  return (ux + uy) + uz < 0.0f;
}

TEST(PointsAway, AgreesWithTheLibraryComputation) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const double deg = 57.29577951308232;
  long near_zero = 0;
  for (int i = 0; i < 1000000; ++i) {
    float r[3];
    const float best_trend = static_cast<float>(unit(rng) * 400), best_plunge = static_cast<float>(unit(rng) * 90);
    vectorR(r, best_trend, best_plunge);
    float trend, plunge;
    if (i % 2 == 0) {  // anywhere
      trend = static_cast<float>(unit(rng) * 720);
      plunge = static_cast<float>(unit(rng) * 100);
    } else {  // nearly perpendicular to r: d within about 1e-3 of 0
      double v[3] = {unit(rng), unit(rng), unit(rng)};
      const double along = v[0] * r[0] + v[1] * r[1] + v[2] * r[2];
      const double tilt = unit(rng) * std::pow(10.0, -3.0 - 4.0 * (unit(rng) + 1.0) / 2.0);
      for (int k = 0; k < 3; ++k) v[k] -= along * r[k];
      const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      for (int k = 0; k < 3; ++k) v[k] = v[k] / n + tilt * r[k];
      trend = static_cast<float>(std::atan2(v[1], v[0]) * deg + 360.0 * std::floor(unit(rng) * 2));
      plunge = static_cast<float>(std::asin(std::clamp(v[2], -1.0, 1.0)) * deg);
      ++near_zero;
    }
    ASSERT_EQ(points_away(r, trend, plunge), points_away_exactly(r, trend, plunge))
        << "best " << best_trend << "/" << best_plunge << " axis " << trend << "/" << plunge;
    ASSERT_EQ(points_away(r, best_trend, best_plunge, trend, plunge), points_away_exactly(r, trend, plunge))
        << "best " << best_trend << "/" << best_plunge << " axis " << trend << "/" << plunge;
  }
  // Told by the angles alone: axes about a right angle away along a
  // parallel, a meridian or both, where a margin too wide would misjudge.
  for (float best_trend : {0.0f, 170.0f, -350.0f})
    for (float best_plunge : {0.0f, 30.0f, -60.0f, 89.0f})
      for (float off = 80.0f; off <= 100.0f; off += 0.25f)
        for (const auto& [dt, dp] : {std::pair{off, 0.0f}, {0.0f, off}, {off / 2, off / 2}, {180 + off, 0.0f},
                                     {-off, 0.0f}, {360 - off, 0.0f}, {180 - off / 2, -off / 2}}) {
          float r[3];
          vectorR(r, best_trend, best_plunge);
          const float trend = best_trend + dt, plunge = best_plunge + dp;
          ASSERT_EQ(points_away(r, best_trend, best_plunge, trend, plunge), points_away_exactly(r, trend, plunge))
              << "best " << best_trend << "/" << best_plunge << " axis " << trend << "/" << plunge;
        }
  // d exactly 0 is not "away"; huge, infinite and NaN angles take the library path.
  float r[3];
  vectorR(r, 45, 0);
  for (float t : {135.0f, 225.0f, 1e30f, INFINITY, NAN, 3e8f})
    EXPECT_EQ(points_away(r, t, 0), points_away_exactly(r, t, 0)) << t;
  EXPECT_FALSE(points_away(r, 135, 0));
}

// The loops as written, one step at a time.
float stepwise_wrap(float T, float Tref) {
  for (;;) {
    const float d = T - Tref;
    if (!(static_cast<double>(d) > 3.141592653589793)) break;
    const float next = static_cast<float>(static_cast<double>(T) - 6.283185307179586);
    if (next == T) break;
    T = next;
  }
  for (;;) {
    const float d = T - Tref;
    if (!(static_cast<double>(d) < -3.141592653589793)) break;
    const float next = static_cast<float>(static_cast<double>(T) + 6.283185307179586);
    if (next == T) break;
    T = next;
  }
  return T;
}

TEST(WrapTrend, MatchesTheStepwiseLoopsBitForBit) {
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<std::pair<float, float>> cases;
  // Anywhere up to 10^5 radians, against references up to 10^3.
  for (int i = 0; i < 20000; ++i) {
    const double scale = std::pow(10.0, 5.0 * (unit(rng) + 1.0) / 2.0);
    cases.emplace_back(static_cast<float>(unit(rng) * scale),
                       static_cast<float>(unit(rng) * std::pow(10.0, 3.0 * (unit(rng) + 1.0) / 2.0)));
  }
  // Values at and next to the edges of every binade a step can change,
  // for T and for Tref.
  for (int e = -3; e <= 22; ++e) {
    for (int k = -3; k <= 3; ++k) {
      for (float sign : {1.0f, -1.0f}) {
        const float edge = sign * std::ldexp(1.0f, e);
        const float near = std::nextafter(edge, k < 0 ? 0.0f : 2.0f * edge);
        const float t = k == 0 ? edge : near + static_cast<float>(k) * (near - edge);
        cases.emplace_back(t, static_cast<float>(unit(rng) * 4));
        cases.emplace_back(static_cast<float>(unit(rng) * 8), t);
        cases.emplace_back(t, t + static_cast<float>(unit(rng) * 20));
      }
    }
  }
  // Millions of steps: near 10^9 degrees, and an infinite reference, which
  // steps T up until 2 pi no longer changes it.
  for (float t : {1.7453292e7f, -1.7453292e7f, 0x1p24f, -0x1.fffffep24f, 3.3e7f})
    cases.emplace_back(t, static_cast<float>(unit(rng)));
  cases.emplace_back(0.5f, std::numeric_limits<float>::infinity());
  cases.emplace_back(-3.0f, -std::numeric_limits<float>::infinity());
  for (const auto& [T, Tref] : cases)
    ASSERT_EQ(bits(wrap_trend(T, Tref)), bits(stepwise_wrap(T, Tref)))
        << std::hexfloat << "T " << T << " Tref " << Tref;
}

TEST(Ranges, SeedsAndFinishesOnce) {
  Solution best;
  best.phi = 0.3f;
  best.axis[0] = {10, 0.475f};
  best.axis[1] = {120, 5};
  best.axis[2] = {240, 78};
  Ranges r(best);
  // No resample: phi keeps its start values; the other bounds are the
  // best-fit values after the degree-radian round trip.
  Summary s = r.finish();
  EXPECT_EQ(s.phi.best, 0.3f);
  EXPECT_EQ(s.phi.low, 1.0f);
  EXPECT_EQ(s.phi.high, 0.0f);
  EXPECT_EQ(s.plunge[0].best, 0.475f);
  EXPECT_EQ(bits(s.plunge[0].low), bits(0.47500002f));
  // One resample with phi 0.5 gives phi low and high 0.5; finishing again
  // gives the same bounds.
  Solution one = best;
  one.phi = 0.5f;
  r.take(one);
  s = r.finish();
  EXPECT_EQ(s.phi.low, 0.5f);
  EXPECT_EQ(s.phi.high, 0.5f);
  EXPECT_EQ(bits(r.finish().trend[2].high), bits(s.trend[2].high));
  // A NaN phi never extends the range.
  one.phi = std::numeric_limits<float>::quiet_NaN();
  r.take(one);
  EXPECT_EQ(r.finish().phi.low, 0.5f);
}

// Every rounding point shows in the bits of a bound, though rarely in two
// decimals: here the trend deviation (radians) is rounded to float before
// it turns into degrees; kept in double, the bound would be 0x1.65999cp+5.
TEST(Ranges, DeviationsAreRoundedToFloat) {
  Solution best;
  best.axis[0] = {15.28f, 0};
  Ranges r(best);
  Solution resample = best;
  resample.axis[0] = {44.7f, 0};
  r.take(resample);
  EXPECT_EQ(bits(r.finish().trend[0].high), bits(0x1.65999ap+5f));
}

}  // namespace
}  // namespace tilvex
