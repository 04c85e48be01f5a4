#include "analysis/threshold.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace tilvex {
namespace {

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

TEST(ThresholdIndex, TruncatesTheDoubleProduct) {
  struct Case {
    std::size_t n;
    float level;
    std::size_t index;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {1000, 95, 50},     {1000, 100, 0},     {10, 90, 1},        {7, 50, 3},
      {1000, 99.9f, 0},   // the float 99.90000153: 0.99998, not 1
      {1000, 68.3f, 316}, // not 317
      {100, 43, 56},      // 56.99999999999999: the division comes first
      {100, 42, 57},      {100, 71, 28},
      {10, 101, 0},       // -0.1 truncates to 0
      {1, 1e-14f, 0},
      // Outside 0 .. n-1, clamped.
      {10, 110, 0},       {10, inf, 0},       {10, 0, 9},         {10, -5, 9},
      {10, -inf, 9},      {1, 7e-15f, 0},     {3, std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(threshold_index(c.level, c.n), c.index) << "n=" << c.n << " level=" << c.level;
}

TEST(ConfidenceThreshold, PicksFromTheSortedTable) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> t = {0.5f, 0.9f, nan, 0.1f, 0.7f};
  // Index 1 of 0.1 0.5 0.7 0.9 nan.
  EXPECT_EQ(confidence_threshold(t, 70), 0.5f);
  EXPECT_EQ(bits(t[4]), bits(nan));
  // A threshold on a NaN entry is NaN: it accepts nothing.
  EXPECT_TRUE(std::isnan(confidence_threshold(t, 0)));
}

TEST(Similarity, WorkedExample) {
  Components best{{1, 0, 0, 0, 0, -1}};
  const Similarity s(best);
  EXPECT_EQ(bits(s(Components{{1, 0.1f, 0, 0, 0, -1}})), bits(0x1.fd7582p-1f));
  EXPECT_EQ(bits(s(Components{{0.9f, 0, 0.2f, 0.1f, 0, -1}})), bits(0x1.f3093p-1f));
  EXPECT_EQ(bits(s(Components{{0, 1, 0, 0, 0, 0}})), bits(0.0f));
  EXPECT_EQ(bits(s(Components{{1, 0, 0, 0, 0.05f, -0.9f}})), bits(0x1.fe966ep-1f));
  // An all-zero best fit makes every similarity NaN.
  EXPECT_TRUE(std::isnan(Similarity(Components{})(Components{{1, 0, 0, 1, 0, 1}})));
}

}  // namespace
}  // namespace tilvex
