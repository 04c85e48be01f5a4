// Sweeps over every input a speed trick relies on, behind the CMake option
// TILVEX_EXHAUSTIVE (off by default; CI turns it on). Each takes seconds.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "text/scan.hpp"

namespace tilvex {
namespace {

// Every quotient the fast path forms by multiplication rounds as the
// division does.
TEST(DecimalToFloat, EqualsTheFloatDivisionForEveryInput) {
  const float powers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
  for (int n = 0; n <= 7; ++n) {
    for (std::uint32_t w = 0; w <= (1u << 24); ++w) {
      const float quotient = static_cast<float>(w) / powers[n];
      if (decimal_to_float(w, n) != quotient) FAIL() << w << " / 10^" << n;
    }
  }
}

// The bounded wrap of the trends relies on this: within a binade, every
// step of 2 pi (a double sum rounded to float) whose operand lies at least
// two steps clear of the binade's edges moves the float by the same
// amount, so such steps can be taken many at once. Checked for every float
// of every binade where such a step exists, both signs, both directions:
// below 16 none does (a step moves about 2 pi, and a binade [low, 2 low)
// has room for four only from low = 25 on), and from 2^27 on 2 pi is less
// than half a unit in the last place, so a step no longer moves a float.
TEST(WrapSteps, StepsClearOfABinadesEdgesAllMoveTheSameAmount) {
  constexpr double kTwoPi = 6.283185307179586;
  std::uint64_t checked = 0;
  for (std::uint32_t biased = 127 + 3; biased <= 127 + 27; ++biased) {
    const double low = std::ldexp(1.0, static_cast<int>(biased) - 127), high = 2.0 * low;
    for (std::uint32_t sign : {0u, 0x80000000u}) {
      for (double step : {kTwoPi, -kTwoPi}) {
        bool seen = false;
        double common = 0.0;
        for (std::uint32_t m = 0; m < (1u << 23); ++m) {
          const float t = std::bit_cast<float>(sign | (biased << 23) | m);
          const float next = static_cast<float>(static_cast<double>(t) + step);
          if (next == t) continue;
          const double delta = static_cast<double>(next) - static_cast<double>(t);
          const double size = std::fabs(static_cast<double>(t)), stride = std::fabs(delta);
          if (size < low + 2.0 * stride || size > high - 2.0 * stride) continue;
          if (!seen) {
            seen = true;
            common = delta;
          } else if (delta != common) {
            FAIL() << std::hexfloat << t << " steps by " << delta << ", others by " << common;
          }
          ++checked;
        }
        if ((low < 16 || low >= 0x1p27) && seen) FAIL() << "a step clear of the edges at " << low;
      }
    }
  }
  EXPECT_GT(checked, 600000000u);
}

}  // namespace
}  // namespace tilvex
