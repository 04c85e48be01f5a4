#include "numeric/routines.hpp"

#include "numeric/angles.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace tilvex {
namespace {

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }
#define EXPECT_BITS(actual, expected) EXPECT_EQ(bits(actual), bits(expected))

// The nine elements of the symmetric tensor with components s11 s12 s13 s22 s23 s33.
std::vector<float> tensor(float s11, float s12, float s13, float s22, float s23, float s33) {
  return {s11, s12, s13, s12, s22, s23, s13, s23, s33};
}

float mag(const std::vector<float>& t) {
  float m = -1.0f;
  tenmag(t.data(), &m);
  return m;
}

float dot(const std::vector<float>& a, const std::vector<float>& b) {
  float d = -1.0f;
  tendot(a.data(), b.data(), &d, mag(a), mag(b));
  return d;
}

TEST(Tenmag, IdentityZeroAndVanishingSquares) {
  EXPECT_BITS(mag(tensor(1, 0, 0, 1, 0, 1)), 0x1.bb67aep+0f);  // sqrt(3)
  EXPECT_BITS(mag(tensor(0, 0, 0, 0, 0, 0)), 0.0f);
  // Squares below the smallest float vanish, although the sum in double
  // could hold them.
  EXPECT_BITS(mag(tensor(2.6e-23f, 1e-23f, 0, -2.6e-23f, 0, 1e-30f)), 0.0f);
  EXPECT_BITS(mag(tensor(2.7e-23f, 0, 0, 0, 0, 0)), 0x1.6a09e6p-75f);  // sqrt(2^-149)
  EXPECT_TRUE(std::isnan(mag(tensor(NAN, 0, 0, 0, 0, 0))));
  EXPECT_BITS(mag(tensor(INFINITY, 0, 0, 0, 0, 0)), INFINITY);
}

TEST(Tendot, SelfNegationAndZeroMagnitudes) {
  // Self-similarity is 1 only within rounding, on either side of it.
  const auto a = tensor(0.3f, -0.7f, 0.11f, 0.2f, 0.05f, -0.5f);
  const auto b = tensor(2, 1, 1, 3, 1, 4);
  const auto neg = [](std::vector<float> t) {
    for (float& v : t) v = -v;
    return t;
  };
  EXPECT_BITS(dot(a, a), 0x1.000002p+0f);
  EXPECT_BITS(dot(a, neg(a)), -0x1.000002p+0f);
  EXPECT_BITS(dot(b, b), 0x1.fffffcp-1f);
  EXPECT_BITS(dot(neg(b), b), -0x1.fffffcp-1f);

  const auto zero = tensor(0, 0, 0, 0, 0, 0);
  const auto tiny = tensor(1e-23f, 0, 0, 1e-23f, 0, 1e-23f);
  const auto identity = tensor(1, 0, 0, 1, 0, 1);
  EXPECT_TRUE(std::isnan(dot(zero, identity)));  // 0 / 0
  EXPECT_TRUE(std::isnan(dot(identity, zero)));
  EXPECT_TRUE(std::isnan(dot(tiny, tiny)));      // products vanish too
  EXPECT_BITS(dot(tiny, identity), INFINITY);    // 3e-23 / 0
  EXPECT_BITS(dot(neg(tiny), identity), -INFINITY);
}

// Guards the build against contracting a product and a sum into a fused
// multiply-add: (1 + 2^-12)^2 rounds to 1 + 2^-11 as a float product (a tie
// to even), while a fused operation keeps its 2^-24.
TEST(Tendot, ProductsAreRoundedBeforeTheyAreAdded) {
  const float e = 0x1.002p+0f;  // 1 + 2^-11
  const float h = 0x1.001p+0f;  // 1 + 2^-12
  const auto a = tensor(-e, h, 0, 0, 0, 0);
  const auto b = tensor(1, h, 0, 0, 0, 0);
  float d = 0.0f;
  tendot(a.data(), b.data(), &d, 1.0f, 1.0f);
  EXPECT_BITS(d, e);  // fused: 0x1.002002p+0

  const float u[3] = {h, h, 0}, v[3] = {h, -h, 0};
  float c = -1.0f;
  calangle(u, v, &c);
  EXPECT_BITS(c, 0.0f);  // fused: +-2^-24 over the norms
}

TEST(VectorR, CardinalDirections) {
  struct Case {
    float trend, plunge, x, y, z;
  };
  // cos(pi/2) in double is 6.12e-17, not 0; sin(pi) is 1.22e-16.
  const Case cases[] = {
      {0, 0, 1, 0, 0},
      {90, 0, 0x1.1a6264p-54f, 1, 0},
      {0, 90, 0x1.1a6264p-54f, 0, 1},
      {180, 0, -1, 0x1.1a6264p-53f, 0},
      {0, -90, 0x1.1a6264p-54f, 0, -1},
  };
  for (const Case& c : cases) {
    float v[3] = {-9, -9, -9};
    vectorR(v, c.trend, c.plunge);
    EXPECT_BITS(v[0], c.x) << c.trend << '/' << c.plunge;
    EXPECT_BITS(v[1], c.y) << c.trend << '/' << c.plunge;
    EXPECT_BITS(v[2], c.z) << c.trend << '/' << c.plunge;
  }
  float v[3];
  vectorR(v, INFINITY, 0);
  EXPECT_TRUE(std::isnan(v[0]) && std::isnan(v[1]));
  EXPECT_BITS(v[2], 0.0f);
}

// Degrees become radians by a double product rounded once; a float
// product gives 0x1.8c89eep+2 and 0x1.8f716ap-1 here.
TEST(Radians, DoubleProductRoundedOnce) {
  EXPECT_BITS(radians(355.0f), 0x1.8c89fp+2f);
  EXPECT_BITS(radians(44.7f), 0x1.8f716cp-1f);
}

TEST(Calangle, ParallelOppositeAndZero) {
  const float a[3] = {1, 2, 2}, b[3] = {-2, -4, -4}, zero[3] = {0, 0, 0};
  float c = 0.0f;
  calangle(a, a, &c);
  EXPECT_BITS(c, 1.0f);
  calangle(a, b, &c);
  EXPECT_BITS(c, -1.0f);
  calangle(a, zero, &c);
  EXPECT_TRUE(std::isnan(c));
}

std::vector<std::uint32_t> bits_of(const std::vector<float>& v) {
  std::vector<std::uint32_t> out;
  for (float f : v) out.push_back(bits(f));
  return out;
}

TEST(Sort, AscendingStableNaNLast) {
  struct Case {
    std::vector<float> in, out;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {{}, {}},
      {{nan}, {nan}},
      {{3}, {3}},
      {{1, 2, 2, 3}, {1, 2, 2, 3}},
      {{3, 2, 1, -1}, {-1, 1, 2, 3}},
      // Equal values keep their order: -0 and 0 are equal.
      {{0.0f, -1, -0.0f, 0.0f, -0.0f}, {-1, 0.0f, -0.0f, 0.0f, -0.0f}},
      // Numbers before NaNs, ascending across them.
      {{2, nan, -INFINITY, -nan, 1, INFINITY}, {-INFINITY, 1, 2, INFINITY, nan, -nan}},
  };
  for (const Case& c : cases) {
    std::vector<float> v = c.in;
    sort(v.data(), v.size());
    EXPECT_EQ(bits_of(v), bits_of(c.out));
  }
}

}  // namespace
}  // namespace tilvex
