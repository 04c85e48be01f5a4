#include "analysis/ranges.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

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

}  // namespace
}  // namespace tilvex
