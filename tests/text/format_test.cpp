// The fast printing against printf, for the four formats the result files
// use, over many floats.

#include "text/format.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tilvex {
namespace {

struct Format {
  const char* printf_format;
  int precision, width;
};
const Format kFormats[] = {{"%f", 6, 0}, {"%4.2f", 2, 4}, {"%6.2f", 2, 6}, {"%7.2f", 2, 7}};

void expect_same_print(float v) {
  for (const Format& f : kFormats) {
    char want[512], got[kMaxFixed + 8];
    std::snprintf(want, sizeof want, f.printf_format, static_cast<double>(v));
    char* end = put_fixed(got, v, f.precision, f.width);
    ASSERT_EQ(std::string(got, static_cast<std::size_t>(end - got)), want)
        << f.printf_format << " of bits 0x" << std::hex << std::bit_cast<std::uint32_t>(v);
  }
}

TEST(PutFixed, SpecialValues) {
  const float inf = std::numeric_limits<float>::infinity();
  const float values[] = {0.0f, -0.0f, inf, -inf, std::numeric_limits<float>::quiet_NaN(),
                          -std::numeric_limits<float>::quiet_NaN(),
                          std::bit_cast<float>(0x7f800001u), std::bit_cast<float>(0xffc12345u),
                          std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
                          std::numeric_limits<float>::min(), std::numeric_limits<float>::denorm_min(),
                          -std::numeric_limits<float>::denorm_min(), 0x1p63f, 0x1p64f, 0x1p65f,
                          0x1.fffffep63f, 0x1.fffffep64f, 1e-7f, -5e-7f, 5e-7f, 4.9999999e-7f,
                          0.005f, 0.015f, 0.995f, 9.995f, 99.995f, 999.995f, 61.3f, 365.0f,
                          0.47500002f, 0.475f, 123.4f, 1e30f, -1e-30f};
  for (float v : values) expect_same_print(v);
}

// Odd multiples of 1/128 lie exactly halfway between two six-decimal
// numbers, and odd multiples of 1/8 halfway between two-decimal ones:
// both round to even.
TEST(PutFixed, ExactHalfwayCases) {
  for (int i = 0; i < 300000; ++i) {
    expect_same_print(static_cast<float>(2 * i + 1) / 128.0f);
    expect_same_print(-static_cast<float>(2 * i + 1) / 8.0f);
  }
}

TEST(PutFixed, AgreesWithPrintfOnRandomFloats) {
  std::mt19937 rng(1208);
  for (int i = 0; i < 300000; ++i) expect_same_print(std::bit_cast<float>(static_cast<std::uint32_t>(rng())));
  // Ordinary angles and ratios, as the files hold them.
  std::uniform_real_distribution<float> angle(-720.0f, 720.0f);
  for (int i = 0; i < 300000; ++i) expect_same_print(angle(rng));
}

TEST(PutInt, AgreesWithPrintf) {
  for (int v : {0, 1, -1, 7, -42, 2147483647, -2147483647 - 1, 1000000}) {
    char want[32], got[kMaxInt];
    std::snprintf(want, sizeof want, "%d", v);
    EXPECT_EQ(std::string(got, static_cast<std::size_t>(put_int(got, v) - got)), want);
  }
}

}  // namespace
}  // namespace tilvex
