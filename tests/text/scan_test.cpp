// The fast scan against the standard scan it replaces, on generated and
// hostile lines: every field must get the same bits, and the scan must stop
// at the same field.

#include "text/scan.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace tilvex {
namespace {

int reference(const std::string& line, float* f, int count) {
  const char* s = line.c_str();  // a NUL inside the line ends it here too
  const int got = count == 6
                      ? std::sscanf(s, "%f %f %f %f %f %f", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5])
                      : std::sscanf(s, "%f %f %f %f %f %f %f", &f[0], &f[1], &f[2], &f[3], &f[4],
                                    &f[5], &f[6]);
  return got < 0 ? 0 : got;
}

// Scans `line` both ways from the same starting fields and reports any difference.
void expect_same_scan(const std::string& line, int count) {
  float expected[7], actual[7];
  for (int k = 0; k < 7; ++k) expected[k] = actual[k] = static_cast<float>(-1000 - k);
  const int want = reference(line, expected, count);
  bool plain = false;
  const int got =
      scan_fields(line.data(), line.data() + line.size(), line.data() + line.size(), actual, count, plain);
  ASSERT_EQ(got, want) << '"' << line << '"';
  for (int k = 0; k < 7; ++k)
    ASSERT_EQ(std::bit_cast<std::uint32_t>(actual[k]), std::bit_cast<std::uint32_t>(expected[k]))
        << '"' << line << "\" field " << k;
  // Within a longer text, reading on past the line changes nothing: not the
  // fields, not whether the line was plain. (A line shorter than 64 bytes is
  // then read by its tokens' bounds, found all at once.)
  const std::string text = line + "12345678901234567890.5e1 -0.123456 1.5 22.25 7.0\n-1.75 0.5 3.125 9.5 0.25\n";
  float within[7];
  for (int k = 0; k < 7; ++k) within[k] = static_cast<float>(-1000 - k);
  bool plain_within = !plain;
  ASSERT_EQ(scan_fields(text.data(), text.data() + line.size(), text.data() + text.size(), within,
                        count, plain_within),
            want);
  for (int k = 0; k < 7; ++k)
    ASSERT_EQ(std::bit_cast<std::uint32_t>(within[k]), std::bit_cast<std::uint32_t>(expected[k]));
  ASSERT_EQ(plain_within, plain) << '"' << line << '"';
}

const std::vector<std::string> kHostile = {
    // partial tokens and lone signs or points
    "1e", "1e+", "1e-", "1E", ".", "-", "+", "-.", "+.e1", ".e5", "0x", "0X", "0x.", "0x.p1",
    "0x1p", "0x1p+", "0x1p-", "0xg", "1..2", "1.5.3", "--1", "+-1", "1e+x", "1e5x", "1ee5",
    // every spelling of inf and nan
    "inf", "INF", "Inf", "-inf", "+inf", "infinity", "INFINITY", "-Infinity", "infinit", "infx",
    "in", "i", "nan", "NAN", "-nan", "+nan", "nan(123)", "nan(", "nan(abc)x", "nan()", "na", "n",
    // hex floats
    "0x1p3", "0x1.8p1", "-0X1.FFFFFEP127", "0x1p-149", "0x1p-150", "0x1p128", "0x.8", "0x10",
    // overflow, underflow and the edges of float
    "1e39", "-1e39", "3.4028235e38", "3.40282357e38", "3.4028236e38", "1e400", "-1e400",
    "1e-46", "7e-46", "7.1e-46", "1e-45", "1.4e-45", "1.17549435e-38", "1e-38", "1e-400",
    "-0", "+0", "-0.0e5", "0e99999999", "1e-99999999", "0.000000000000000000000000000001e30",
    // long mantissas and ties between floats
    "1.00000005960464477539062500000000001", "1.000000059604644775390625",
    "16777217", "16777216.5", "33554435", "123456789012345678901234567890",
    "8388608.5", "8388609.5", "1677721.7e1", "0.16777217e8", "16777216.99999999999", "16777217.00000000001",
    "3.4028235677973366e38", "3.40282356779733661637539395458142568448e38", "1.1754942e-38", "1.17549428e-38",
    "9999999999999999999e27", "1e-27", "1844674407370955161.5e1",
    // 19 digits next to a point halfway between two floats, which a 64-bit
    // significand rounds onto it
    "7435062565619432462e-27", "1.219268824570463039e-5", "949010654949233867.2e-23", "-2754806628217920661e-22",
    "9893165435642004013e-21", "3.10720149609977625e-9", "+5743979691885670036e-26", "7.446426195656385971e-7",
    // and where a double's two roundings (of the digits, of the quotient)
    // would carry it past that point
    "5555636562348809091e-23", "-1.031268404005913909e-7", "+555563656234880909.2e-22",
    "0.1000000000000000055511151231257827021181583404541015625",
    // junk, and the bytes on either side of the digits ('/' and ':')
    "x", ",", "#", "1,5", "\x80", "\xff" "1", "1\xa0" "2", "0x1g", "1:5", "1.5:", "2/3", "1./5",
    "0.5/", "9:", "/1", ":1", "12.34:5", "-1.2/",
};

const char kBlanks[] = " \t\n\v\f\r";

std::string random_number(std::mt19937_64& rng) {
  char buf[128];
  const float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
  const double d = static_cast<double>(f);
  switch (rng() % 14) {
    case 8: std::snprintf(buf, sizeof buf, rng() % 2 ? "%.17g" : "%+.8E", d); break;
    case 9: {  // up to 19 digits and a short exponent, as a long double rounds them
      const std::uint64_t w = rng() >> (rng() % 64);
      std::snprintf(buf, sizeof buf, "%llu%se%d", static_cast<unsigned long long>(w), rng() % 2 ? "" : ".",
                    static_cast<int>(rng() % 61) - 30);
      break;
    }
    case 10:
    case 11: {  // a point halfway between two floats of 2^24 to 2^62, or next to it
      const float low = std::ldexp(1.0f + static_cast<float>(rng() % (1 << 23)) * 0x1p-23f, 24 + static_cast<int>(rng() % 38));
      const long double half = (static_cast<long double>(low) + std::nextafter(low, 2 * low)) / 2;
      const long double near = half + static_cast<long double>(static_cast<int>(rng() % 3) - 1);
      std::snprintf(buf, sizeof buf, rng() % 2 ? "%.0Lf" : "%.0Lf.000", rng() % 2 ? half : near);
      break;
    }
    case 12:
    case 13: {  // within a few doubles of a point halfway between two floats, in 17 to 19 digits
      const float low = std::ldexp(1.0f + static_cast<float>(rng() % (1 << 23)) * 0x1p-23f,
                                   static_cast<int>(rng() % 252) - 125);
      double near = (static_cast<double>(low) + static_cast<double>(std::nextafter(low, 2 * low))) / 2;
      for (int steps = static_cast<int>(rng() % 25) - 12; steps != 0; steps += steps > 0 ? -1 : 1)
        near = std::nextafter(near, steps > 0 ? 1e300 : 0.0);
      std::snprintf(buf, sizeof buf, rng() % 2 ? "%.17g" : "%.18e", near);
      break;
    }
    case 0: std::snprintf(buf, sizeof buf, "%.9g", d); break;
    case 1: std::snprintf(buf, sizeof buf, "%.6f", d); break;
    case 2: std::snprintf(buf, sizeof buf, "%e", d); break;
    case 3: std::snprintf(buf, sizeof buf, "%.3E", d); break;
    case 4: std::snprintf(buf, sizeof buf, "%a", d); break;
    case 5: std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(rng() % 40000) / 100 - 200); break;
    case 6: std::snprintf(buf, sizeof buf, "%.4f", static_cast<double>(rng() % 20000) / 10000); break;
    default: {  // digits, a point, an exponent, each maybe
      std::string s;
      if (rng() % 3 == 0) s += "+-"[rng() % 2];
      for (int n = static_cast<int>(rng() % 25); n > 0; --n) s += static_cast<char>('0' + rng() % 10);
      if (rng() % 2) s += '.';
      for (int n = static_cast<int>(rng() % 25); n > 0; --n) s += static_cast<char>('0' + rng() % 10);
      if (rng() % 3 == 0) {
        s += "eE"[rng() % 2];
        if (rng() % 2) s += "+-"[rng() % 2];
        for (int n = static_cast<int>(rng() % 4); n > 0; --n) s += static_cast<char>('0' + rng() % 10);
      }
      return s;
    }
  }
  return buf;
}

TEST(ScanFields, AgreesWithTheStandardScan) {
  std::mt19937_64 rng(20261208);
  for (int i = 0; i < 200000; ++i) {
    std::string line;
    if (rng() % 2) line += kBlanks[rng() % 6];
    for (int k = static_cast<int>(rng() % 9); k > 0; --k) {
      line += rng() % 5 == 0 ? kHostile[rng() % kHostile.size()] : random_number(rng);
      for (int b = static_cast<int>(rng() % 3) + (rng() % 10 == 0 ? -1 : 0); b > 0; --b)
        line += kBlanks[rng() % 6];
    }
    if (rng() % 10 == 0) line.insert(rng() % (line.size() + 1), 1, '\0');
    if (rng() % 2) line += '\n';
    expect_same_scan(line, 6 + static_cast<int>(rng() % 2));
  }
}

// Lines of short decimals ([-] digits . digits), as most files hold them,
// about 64 bytes long, some with what such a line must not take put in: a
// second point or sign, a plus, an exponent, a NUL, a newline, junk; and
// tokens with too many digits or values above 2^24.
TEST(ScanFields, ShortDecimalLinesNearSixtyFourBytes) {
  std::mt19937_64 rng(20261209);
  const std::string spoilers[] = {".", "-", "+", "e5", "E-1", std::string(1, '\0'), "\n", "7", "x", "\xb0"};
  for (int i = 0; i < 200000; ++i) {
    std::string line;
    const std::size_t length = 40 + rng() % 40;
    while (line.size() < length) {
      if (rng() % 2) line += '-';
      for (int n = 1 + static_cast<int>(rng() % (rng() % 4 == 0 ? 9 : 4)); n > 0; --n)
        line += static_cast<char>('0' + rng() % 10);
      if (rng() % 16 != 0) line += '.';
      for (int n = static_cast<int>(rng() % 9); n > 0; --n) line += static_cast<char>('0' + rng() % 10);
      for (int b = rng() % 8 == 0 ? 0 : 1 + static_cast<int>(rng() % 2); b > 0; --b)
        line += kBlanks[rng() % 6];
    }
    if (rng() % 3 == 0) line.insert(rng() % (line.size() + 1), spoilers[rng() % std::size(spoilers)]);
    if (rng() % 4 != 0) line += '\n';
    expect_same_scan(line, 6 + static_cast<int>(rng() % 2));
  }
}

TEST(ScanFields, HostileTokensAloneAndInContext) {
  for (const std::string& t : kHostile) {
    for (const std::string& line :
         {t, t + "\n", "1 " + t + " 2 3 4 5 6 7", t + " 2", t + "2 3", " \v" + t + "\f3"}) {
      expect_same_scan(line, 6);
      expect_same_scan(line, 7);
    }
  }
  expect_same_scan("", 6);
  expect_same_scan(std::string("1 2\0 3 4 5 6", 12), 6);
  expect_same_scan(std::string(3000, '1') + " " + std::string(2000, ' ') + "5", 6);
}

}  // namespace
}  // namespace tilvex
