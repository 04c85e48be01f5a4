#include "analysis/stress.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace tilvex {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kNaNf = std::numeric_limits<float>::quiet_NaN();
constexpr double kRadians = 3.141592653589793 / 180.0;

Solution solution(float phi, Axis s1, Axis s2, Axis s3) {
  Solution s;
  s.phi = phi;
  s.axis[0] = s1;
  s.axis[1] = s2;
  s.axis[2] = s3;
  return s;
}

// Solutions whose only plunges matter (regime, regime index).
Solution plunges(float p1, float p2, float p3, float phi = 0.5f) {
  return solution(phi, {0.0f, p1}, {0.0f, p2}, {0.0f, p3});
}

// How far azimuth a is from azimuth b as horizontal axes, in degrees, in
// [0, 90].
double axial_gap(double a, double b) { return std::fabs(std::remainder(a - b, 180.0)); }

// The unit vector of an axis: north, east, down.
std::array<double, 3> unit(const Axis& a) {
  const double t = a.trend * kRadians, p = a.plunge * kRadians;
  return {std::cos(t) * std::cos(p), std::sin(t) * std::cos(p), std::sin(p)};
}

// Axes from a random rotation (a random unit quaternion), so that they are
// orthogonal; trends anywhere in (-540, 540], plunges of either sign.
std::array<Axis, 3> random_axes(std::mt19937_64& rng) {
  std::normal_distribution<double> normal;
  double q[4];
  double norm = 0.0;
  do {
    norm = 0.0;
    for (double& c : q) {
      c = normal(rng);
      norm += c * c;
    }
  } while (norm < 1e-6);
  norm = std::sqrt(norm);
  const double w = q[0] / norm, x = q[1] / norm, y = q[2] / norm, z = q[3] / norm;
  // The columns of the rotation matrix.
  const double m[3][3] = {
      {1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
      {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
      {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)},
  };
  std::uniform_int_distribution<int> turns(-1, 1);
  std::array<Axis, 3> axes;
  for (int k = 0; k < 3; ++k) {
    const double n = m[0][k], e = m[1][k], d = m[2][k];
    axes[k].trend = static_cast<float>(std::atan2(e, n) / kRadians + 360.0 * turns(rng));
    axes[k].plunge = static_cast<float>(std::asin(std::fmax(-1.0, std::fmin(1.0, d))) / kRadians);
  }
  return axes;
}

TEST(FoldAzimuth, TakesEveryAzimuthIntoItsRangeExactly) {
  const double above_90 = std::nextafter(90.0, 180.0);
  struct Case {
    double in, out;
  };
  const Case cases[] = {
      {0.0, 0.0},
      {89.5, 89.5},
      {90.0, 90.0},                    // kept: the range is (-90, 90]
      {-90.0, 90.0},                   // the same axis
      {-89.5, -89.5},
      {90.5, -89.5},
      {-90.5, 89.5},
      {above_90, above_90 - 180.0},    // no rounding at the edge
      {180.0, 0.0},
      {270.0, 90.0},
      {-270.0, 90.0},
      {359.75, -0.25},
      {-359.75, 0.25},
      {1000000.25, -79.75},            // 1e6 = 5555 * 180 + 100
      {-1000000.25, 79.75},
  };
  for (const Case& c : cases) EXPECT_EQ(fold_azimuth(c.in), c.out) << c.in;
  EXPECT_TRUE(std::isnan(fold_azimuth(kNaN)));
  EXPECT_TRUE(std::isnan(fold_azimuth(kInf)));
  EXPECT_TRUE(std::isnan(fold_azimuth(-kInf)));
}

TEST(ShmaxAzimuth, LimitCases) {
  struct Case {
    const char* what;
    Solution s;
    double shmax;
  };
  const Case cases[] = {
      // sigma1 horizontal: its trend, folded, whatever phi.
      {"s1 horizontal at 30", solution(0.5f, {30, 0}, {0, 90}, {120, 0}), 30.0},
      {"s1 horizontal at 210", solution(0.5f, {210, 0}, {0, -90}, {300, 0}), 30.0},
      {"s1 horizontal at 135, s3 vertical", solution(0.8f, {135, 0}, {45, 0}, {0, 90}), -45.0},
      {"s1 horizontal at 90", solution(0.5f, {90, 0}, {0, 90}, {0, 0}), 90.0},
      {"s1 horizontal at 270", solution(0.2f, {270, 0}, {180, 0}, {0, 90}), 90.0},
      {"s1 horizontal at -100", solution(0.0f, {-100, 0}, {0, 90}, {-10, 0}), 80.0},
      {"s1 horizontal, s2 steep, phi 1", solution(1.0f, {200, 0}, {110, 60}, {290, 30}), 20.0},
      // sigma1 vertical: sigma2's trend.
      {"s1 vertical, s2 at 70", solution(0.5f, {0, 90}, {70, 0}, {160, 0}), 70.0},
      {"s1 vertical upwards, s2 at 250", solution(0.3f, {10, -90}, {250, 0}, {340, 0}), 70.0},
      {"s1 vertical, s2 at 0", solution(0.01f, {0, 90}, {0, 0}, {90, 0}), 0.0},
      // sigma3 horizontal with sigma1 vertical: sigma3's trend + 90.
      {"s1 vertical, s3 at 10", solution(0.5f, {0, 90}, {100, 0}, {10, 0}), -80.0},
      {"s1 vertical, s3 at -45", solution(0.9f, {0, 90}, {45, 0}, {-45, 0}), 45.0},
  };
  for (const Case& c : cases) {
    const double a = shmax_azimuth(c.s);
    EXPECT_LT(axial_gap(a, c.shmax), 1e-9) << c.what << ": " << a;
    EXPECT_TRUE(a > -90.0 && a <= 90.0) << c.what << ": " << a;
  }
}

// The closed form against a plain search: the normal stress
// (v1.h)^2 + phi (v2.h)^2 on the horizontal direction h of each azimuth, in
// steps of 0.001 degree; the best step is within 0.0005 degree of SHmax.
TEST(ShmaxAzimuth, AgreesWithASearchOverAzimuths) {
  constexpr int kSteps = 180000;
  std::vector<double> cosines(kSteps), sines(kSteps);
  for (int i = 0; i < kSteps; ++i) {
    const double a = (-90.0 + 0.001 * i) * kRadians;
    cosines[i] = std::cos(a);
    sines[i] = std::sin(a);
  }
  std::mt19937_64 rng(2007);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  int flat = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const std::array<Axis, 3> axes = random_axes(rng);
    const float phi = trial % 10 == 0 ? 0.0f : trial % 10 == 1 ? 1.0f : uniform(rng);
    const Solution s = solution(phi, axes[0], axes[1], axes[2]);
    const std::array<double, 3> v1 = unit(axes[0]), v2 = unit(axes[1]);
    double best = -1.0, least = 2.0;
    int at = 0;
    for (int i = 0; i < kSteps; ++i) {
      const double d1 = v1[0] * cosines[i] + v1[1] * sines[i];
      const double d2 = v2[0] * cosines[i] + v2[1] * sines[i];
      const double normal = d1 * d1 + phi * (d2 * d2);
      if (normal > best) {
        best = normal;
        at = i;
      }
      if (normal < least) least = normal;
    }
    const double a = shmax_azimuth(s);
    if (best - least < 1e-3) {  // too flat for the search to place
      ++flat;
      continue;
    }
    const double searched = -90.0 + 0.001 * at;
    EXPECT_LT(axial_gap(a, searched), 0.01) << "trial " << trial << " searched " << searched;
    EXPECT_TRUE(a > -90.0 && a <= 90.0) << a;
  }
  EXPECT_LT(flat, 4);
}

// Adding the same angle to every trend turns the tensor about the vertical:
// SHmax turns by that angle. The trends are multiples of 1/64 degree, so
// the sums are exact in float and the axes turn exactly.
TEST(ShmaxAzimuth, TurnsWithTheAxesAboutTheVertical) {
  std::mt19937_64 rng(1997);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  const float turns[] = {90.0f, -45.0f, 137.25f, 360.0f, 1000.5f, -0.015625f};
  for (int trial = 0; trial < 100; ++trial) {
    std::array<Axis, 3> axes = random_axes(rng);
    for (Axis& a : axes) a.trend = std::round(a.trend * 64.0f) / 64.0f;
    const float phi = uniform(rng);
    const double before = shmax_azimuth(solution(phi, axes[0], axes[1], axes[2]));
    ASSERT_FALSE(std::isnan(before));
    for (float turn : turns) {
      std::array<Axis, 3> turned = axes;
      for (Axis& a : turned) a.trend += turn;
      const double after = shmax_azimuth(solution(phi, turned[0], turned[1], turned[2]));
      EXPECT_LT(axial_gap(after, before + turn), 1e-9) << "trial " << trial << " turn " << turn;
    }
  }
}

TEST(ShmaxAzimuth, IsNaNWhereTheHorizontalStressIsIsotropic) {
  const float tiny_below = 1.9e-6f, tiny_above = 2.1e-6f;  // half: 0.95e-6, 1.05e-6
  struct Case {
    const char* what;
    Solution s;
    double shmax;  // NaN: none
  };
  const Case cases[] = {
      {"s1 vertical, s2 = s3", solution(0.0f, {0, 90}, {70, 0}, {160, 0}), kNaN},
      {"s3 vertical, s1 = s2", solution(1.0f, {30, 0}, {120, 0}, {0, 90}), kNaN},
      // The float trends are 90 degrees apart only to about 5e-6 degree.
      {"s3 vertical, s1 = s2, trends rounded", solution(1.0f, {30.1f, 0}, {120.1f, 0}, {0, 90}), kNaN},
      {"s3 at plunge -90, s1 = s2", solution(1.0f, {17, 0}, {107, 0}, {0, -90}), kNaN},
      {"just under the tolerance", solution(tiny_below, {0, 90}, {70, 0}, {160, 0}), kNaN},
      {"just over the tolerance", solution(tiny_above, {0, 90}, {70, 0}, {160, 0}), 70.0},
      {"s1 nearly vertical, s2 = s3", solution(0.0f, {40, 89.9f}, {130, 0}, {220, 0.1f}), 40.0},
      {"NaN phi", solution(kNaNf, {30, 0}, {0, 90}, {120, 0}), kNaN},
      {"infinite phi", solution(INFINITY, {30, 0}, {0, 90}, {120, 0}), kNaN},
      {"NaN trend of s1", solution(0.5f, {kNaNf, 0}, {0, 90}, {120, 0}), kNaN},
      {"infinite plunge of s2", solution(0.5f, {30, 0}, {0, INFINITY}, {120, 0}), kNaN},
      // sigma3's stress is 0: its axis plays no part.
      {"NaN trend of s3", solution(0.5f, {30, 0}, {0, 90}, {kNaNf, 0}), 30.0},
  };
  for (const Case& c : cases) {
    const double a = shmax_azimuth(c.s);
    if (std::isnan(c.shmax)) {
      EXPECT_TRUE(std::isnan(a)) << c.what << ": " << a;
    } else {
      EXPECT_LT(axial_gap(a, c.shmax), 1e-6) << c.what << ": " << a;
    }
  }
}

// Each row's bounds on both sides: a bound in the row is met exactly, the
// float next to it on the outside is not.
TEST(Regime, RowsOfTheTableAtTheirBounds) {
  const auto below = [](float x) { return std::nextafter(x, 0.0f); };
  const auto above = [](float x) { return std::nextafter(x, 90.0f); };
  struct Case {
    float p1, p2, p3;
    const char* code;
  };
  const Case cases[] = {
      // NF: pl1 >= 52, pl3 <= 35
      {52, 0, 35, "NF"},
      {90, 0, 0, "NF"},
      {-60, 10, -35, "NF"},               // magnitudes
      {below(52), 0, 35, "U"},
      {below(52), 0, 20, "NS"},
      {52, 0, above(35), "U"},
      // NS: 40 <= pl1 < 52, pl3 <= 20
      {40, 0, 20, "NS"},
      {below(40), 0, 20, "U"},
      {40, 0, above(20), "U"},
      {-45, 0, -20, "NS"},
      // SS: pl1 < 40, pl2 >= 45, pl3 <= 20
      {below(40), 45, 20, "SS"},
      {below(40), below(45), 20, "U"},
      {below(40), 45, above(20), "U"},
      {30, -70, 10, "SS"},
      // SS: pl1 <= 20, pl2 >= 45, pl3 < 40
      {20, 45, below(40), "SS"},
      {above(20), 45, below(40), "U"},
      {20, below(45), below(40), "U"},
      // TS: pl1 <= 20, 40 <= pl3 < 52 (pl2 free)
      {20, 45, 40, "TS"},
      {20, 0, 40, "TS"},
      {20, 0, below(40), "U"},
      {20, 0, below(52), "TS"},
      {above(20), 0, 40, "U"},
      // TF: pl1 <= 35, pl3 >= 52
      {20, 0, 52, "TF"},
      {35, 0, 52, "TF"},
      {above(35), 0, 52, "U"},
      {35, 0, below(52), "U"},
      {0, 0, -90, "TF"},
      // NaN fails every comparison it is in.
      {kNaNf, 90, 0, "U"},
      {60, kNaNf, 0, "NF"},               // NF does not look at pl2
      {0, 90, kNaNf, "U"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(regime_code(regime(plunges(c.p1, c.p2, c.p3))), c.code) << c.p1 << " " << c.p2 << " " << c.p3;
}

TEST(RegimeIndex, AnchorsAndContinuityAcrossRegimes) {
  struct Case {
    const char* what;
    Solution s;
    double index;
  };
  const double step = 0x1p-10;
  const float near_1 = static_cast<float>(1.0 - step), near_0 = static_cast<float>(step);
  const Case cases[] = {
      // The anchors: phi 0.5 with each axis vertical.
      {"s1 vertical, phi 0.5", plunges(90, 0, 0, 0.5f), 0.5},
      {"s2 vertical, phi 0.5", plunges(0, 90, 0, 0.5f), 1.5},
      {"s3 vertical, phi 0.5", plunges(0, 0, 90, 0.5f), 2.5},
      // The ends of each regime.
      {"s1 vertical, phi 0", plunges(90, 0, 0, 0.0f), 0.0},
      {"s1 vertical, phi 1", plunges(90, 0, 0, 1.0f), 1.0},
      {"s2 vertical, phi 1", plunges(0, 90, 0, 1.0f), 1.0},   // s1 = s2: the same state
      {"s2 vertical, phi 0", plunges(0, 90, 0, 0.0f), 2.0},
      {"s3 vertical, phi 0", plunges(0, 0, 90, 0.0f), 2.0},   // s2 = s3: the same state
      {"s3 vertical, phi 1", plunges(0, 0, 90, 1.0f), 3.0},
      // Near them the index moves by as much as phi does: s1 and s2 at 45
      // degrees, one a little steeper, then the other.
      {"s1 steeper, phi near 1", plunges(45.5f, 44.5f, 0, near_1), 1.0 - step},
      {"s2 steeper, phi near 1", plunges(44.5f, 45.5f, 0, near_1), 1.0 + step},
      {"s2 steeper, phi near 0", plunges(0, 45.5f, 44.5f, near_0), 2.0 - step},
      {"s3 steeper, phi near 0", plunges(0, 44.5f, 45.5f, near_0), 2.0 + step},
      // Nearest vertical by magnitude; a tie goes to the first; NaN left out.
      {"s3 steepest upwards", plunges(10, 30, -80, 0.25f), 2.25},
      {"s1 steepest upwards", plunges(-80, 10, 5, 0.25f), 0.25},
      {"all three at 35.26", plunges(35.26f, 35.26f, 35.26f, 0.25f), 0.25},
      {"s2 and s3 tied", plunges(10, 60, -60, 0.25f), 1.75},
      {"s1 NaN", plunges(kNaNf, 30, 20, 0.25f), 1.75},
      {"all NaN", plunges(kNaNf, kNaNf, kNaNf, 0.25f), kNaN},
      {"phi NaN", plunges(90, 0, 0, kNaNf), kNaN},
  };
  for (const Case& c : cases) {
    const double index = regime_index(c.s);
    if (std::isnan(c.index)) {
      EXPECT_TRUE(std::isnan(index)) << c.what << ": " << index;
    } else {
      EXPECT_EQ(index, c.index) << c.what;
    }
  }
}

// Solutions with sigma2 vertical (strike-slip, A-phi 2 - phi) and sigma1
// horizontal at `trend`, so that SHmax is the trend, folded.
Solution strike_slip(float trend, float phi) {
  return solution(phi, {trend, 0}, {0, 90}, {trend + 90, 0});
}

TEST(StressSummary, BoundsOverTheAcceptedResamples) {
  const Solution thrust = solution(0.5f, {95, 0}, {5, 0}, {0, 90});         // SHmax -85, TF, 2.5
  const Solution isotropic = solution(1.0f, {30, 0}, {120, 0}, {0, 90});    // no SHmax, TF, 3.0
  const Solution normal = solution(0.25f, {0, 90}, {10, 0}, {100, 0});      // SHmax 10, NF, 0.25
  struct Case {
    const char* what;
    Solution best;
    std::vector<Solution> accepted;
    StressBounds shmax;
    const char* regime;
    std::size_t same;
    double share;
    StressBounds index;
  };
  const Case cases[] = {
      {"around 85, over +90 on the high side",
       strike_slip(85, 0.5f),
       {strike_slip(80, 0.4f), strike_slip(95, 0.6f), strike_slip(100, 0.5f), strike_slip(89, 0.5f),
        isotropic},
       {85, 80, 100}, "SS", 4, 0.8, {1.5, 2.0 - 0.6f, 3.0}},
      {"around -88, under -90 on the low side",
       strike_slip(92, 0.5f),
       {strike_slip(87, 0.5f), strike_slip(100, 0.5f), thrust},
       {-88, -93, -80}, "SS", 2, 2.0 / 3.0, {1.5, 1.5, 2.5}},
      {"around 0, every resample on one side (the best fit stays inside)",
       strike_slip(0, 0.5f),
       {strike_slip(5, 0.5f), strike_slip(12, 0.5f), normal},
       {0, 0, 12}, "SS", 2, 2.0 / 3.0, {1.5, 0.25, 1.5}},
      {"no resample", strike_slip(40, 0.3f), {}, {40, 40, 40}, "SS", 0, kNaN, {2.0 - 0.3f, 2.0 - 0.3f, 2.0 - 0.3f}},
      {"a best fit with no SHmax", isotropic,
       {strike_slip(10, 0.5f), thrust},
       {kNaN, kNaN, kNaN}, "TF", 1, 0.5, {3.0, 1.5, 3.0}},
      {"a best fit with a NaN phi: A-phi's range from the resamples",
       strike_slip(30, kNaNf),
       {strike_slip(20, 0.5f), normal, strike_slip(25, kNaNf)},
       {kNaN, kNaN, kNaN}, "SS", 2, 2.0 / 3.0, {kNaN, 0.25, 1.5}},
  };
  const auto near = [](double got, double want) {
    return std::isnan(want) ? std::isnan(got) : std::fabs(got - want) < 1e-9;
  };
  for (const Case& c : cases) {
    const StressSummary s = stress_summary(c.best, c.accepted);
    EXPECT_TRUE(near(s.shmax.best, c.shmax.best)) << c.what << ": " << s.shmax.best;
    EXPECT_TRUE(near(s.shmax.low, c.shmax.low)) << c.what << ": " << s.shmax.low;
    EXPECT_TRUE(near(s.shmax.high, c.shmax.high)) << c.what << ": " << s.shmax.high;
    EXPECT_EQ(regime_code(s.regime), c.regime) << c.what;
    EXPECT_EQ(s.regime_count, c.same) << c.what;
    EXPECT_TRUE(near(s.regime_share, c.share)) << c.what << ": " << s.regime_share;
    EXPECT_TRUE(near(s.regime_index.best, c.index.best)) << c.what << ": " << s.regime_index.best;
    EXPECT_TRUE(near(s.regime_index.low, c.index.low)) << c.what << ": " << s.regime_index.low;
    EXPECT_TRUE(near(s.regime_index.high, c.index.high)) << c.what << ": " << s.regime_index.high;
  }
}

}  // namespace
}  // namespace tilvex
