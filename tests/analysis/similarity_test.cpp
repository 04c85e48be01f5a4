#include "analysis/similarity.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

namespace tilvex {
namespace {

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

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
