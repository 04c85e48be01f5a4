#include "format.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tilvex::inline detail {

char* put_int(char* out, int value) { return std::to_chars(out, out + kMaxInt, value).ptr; }

namespace {

// For 0 to 999: the digits without leading zeros, then their count in the
// fourth byte; and the three digits with leading zeros.
struct DigitTables {
  char plain[1000][4];
  char padded[1000][4];
  constexpr DigitTables() : plain(), padded() {
    for (int v = 0; v < 1000; ++v) {
      const char d[3] = {static_cast<char>('0' + v / 100), static_cast<char>('0' + v / 10 % 10),
                         static_cast<char>('0' + v % 10)};
      const int n = v >= 100 ? 3 : v >= 10 ? 2 : 1;
      for (int k = 0; k < n; ++k) plain[v][k] = d[3 - n + k];
      plain[v][3] = static_cast<char>(n);
      for (int k = 0; k < 3; ++k) padded[v][k] = d[k];
    }
  }
};
constexpr DigitTables kDigits;

// Writes 4 bytes, of which the first 3 are the digits of v padded with
// zeros; the fourth is overwritten by whatever follows.
char* put_three(char* t, std::uint64_t v) {
  std::memcpy(t, kDigits.padded[v], 4);
  return t + 3;
}

// The digits of m * 2^e with Precision decimals, rounded to nearest with
// ties to even on the exact value, at t; m is below 2^24 and e at most 40.
template <int Precision>
char* put_digits(char* t, char* limit, std::uint64_t m, int e) {
  constexpr std::uint64_t scale = Precision == 6 ? 1000000 : 100;
  std::uint64_t integer = 0, decimals = 0;
  if (e >= 0) {
    integer = m << e;
  } else {
    // The value in units of the last decimal, m * scale * 2^e. m * scale
    // stays below 2^44, so from 2^-64 on it rounds to 0.
    const int shift = -e;
    std::uint64_t units = 0;
    if (shift < 64) {
      const std::uint64_t n = m * scale;
      units = n >> shift;
      const std::uint64_t rest = n & ((std::uint64_t{1} << shift) - 1);
      const std::uint64_t half = std::uint64_t{1} << (shift - 1);
      // Up if the rest is more than half, or half and units odd (to even).
      units += (rest + (units & 1) > half) ? 1 : 0;
    }
    integer = units / scale;
    decimals = units % scale;
  }
  if (integer < 1000) {
    std::memcpy(t, kDigits.plain[integer], 4);
    t += kDigits.plain[integer][3];
  } else {
    t = std::to_chars(t, limit, integer).ptr;
  }
  *t++ = '.';
  if constexpr (Precision == 6) {
    t = put_three(t, decimals / 1000);
    t = put_three(t, decimals % 1000);
  } else {
    t = put_three(t, decimals * 10) - 1;  // two digits
  }
  return t;
}

}  // namespace

char* put_fixed(char* out, float value, int precision, int width) {
  if (width > 0) {
    char text[kMaxFixed];
    const auto length = put_fixed(text, value, precision, 0) - text;
    for (auto k = length; k < width; ++k) *out++ = ' ';
    std::memcpy(out, text, static_cast<std::size_t>(length));
    return out + length;
  }
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  const std::uint32_t biased = (bits >> 23) & 0xff;
  const std::uint32_t fraction = bits & 0x7fffff;
  // value = m * 2^e exactly, m below 2^24.
  const std::uint64_t m = biased == 0 ? fraction : (fraction | 0x800000u);
  const int e = biased == 0 ? -149 : static_cast<int>(biased) - 150;
  if (biased != 0xff && e > 40) {  // at least 2^64: rare enough for printf itself
    char text[kMaxFixed + 1];
    const int n = std::snprintf(text, sizeof text, "%.*f", precision, static_cast<double>(value));
    std::memcpy(out, text, static_cast<std::size_t>(n));
    return out + n;
  }
  *out = '-';
  out += bits >> 31;
  if (biased == 0xff) {
    std::memcpy(out, fraction != 0 ? "nan" : "inf", 3);
    return out + 3;
  }
  return precision == 6 ? put_digits<6>(out, out + kMaxFixed, m, e)
                        : put_digits<2>(out, out + kMaxFixed, m, e);
}

}  // namespace tilvex::inline detail
