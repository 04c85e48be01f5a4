#include "scan.hpp"


#include <algorithm>
#include <bit>
#include <cassert>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "numeric/exact_float.hpp"
#include "words.hpp"

namespace tilvex::inline detail {

namespace {

// White space but the newline, which ends every line the scan below sees.
bool blank_in_line(char c) { return is_blank(c) && c != '\n'; }
bool digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The number of leading decimal digits in the 8 bytes v holds (bytes in
// memory order), 0 to 8. A byte's top bit in the mask is set where the byte
// is not a digit; a carry or borrow only starts at such a byte and spreads
// upwards, past the first.
int leading_digits(std::uint64_t v) {
  const std::uint64_t not_digit =
      ((v + 0x4646464646464646u) | (v - 0x3030303030303030u)) & 0x8080808080808080u;
  return not_digit == 0 ? 8 : std::countr_zero(not_digit) / 8;
}

// The value of the first `count` (1 to 8) bytes of v, all digits.
std::uint64_t digits_value(std::uint64_t v, int count) {
  // The digits move to the top bytes, zeros fill the bottom: leading zeros.
  v = ((v - 0x3030303030303030u) << (8 * (8 - count))) & 0x0f0f0f0f0f0f0f0fu;
  v = (v * 2561) >> 8;
  v = ((v & 0x00ff00ff00ff00ffu) * 6553601) >> 16;
  return ((v & 0x0000ffff0000ffffu) * 42949672960001u) >> 32;
}

// value, negated if `negative`, without a branch: signs are random.
float with_sign(float value, bool negative) {
  return std::bit_cast<float>(std::bit_cast<std::uint32_t>(value) ^
                              (static_cast<std::uint32_t>(negative) << 31));
}

std::uint64_t load8(const char* q) {
  std::uint64_t v;
  std::memcpy(&v, q, 8);
  return v;
}

// Powers of ten that floats hold exactly, and small ones as integers.
constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
constexpr std::uint64_t kPow10Int[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000,
                                       100000000};
constexpr double kInvPow10[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7};

}  // namespace

// w / 10^n correctly rounded to float, for w <= 2^24 and n <= 7, with a
// multiplication in place of the slower division: the double product is
// within 2.3e-16 (relative) of the quotient, while a float rounding
// boundary is at least 1 / (10^n 2^26) > 1.4e-15 away from any such
// quotient that is not a float itself; none is a tie. The tests check all
// of them.
namespace {
[[gnu::always_inline]] inline float short_to_float(std::uint64_t w, int n) {
  assert(w <= (std::uint64_t{1} << 24) && n >= 0 && n <= 7);
  return static_cast<float>(static_cast<double>(w) * kInvPow10[n]);
}
}  // namespace

float decimal_to_float(std::uint64_t w, int n) { return short_to_float(w, n); }

namespace {

// 10^n for n from 0 to 27, each exact in a significand of 64 bits (5^27 <
// 2^63).
constexpr long double kPow10Long[] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,
                                      1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L,
                                      1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};

// w 10^exponent correctly rounded to float, where w (at most 19 digits)
// and 10^|exponent| (|exponent| <= 27) are exact in long double's
// significand of 64 bits or more: one multiplication or division rounds
// the value to that precision, and rounding that to float gives the
// value's own rounding to float, unless it lands exactly halfway between
// two floats (which it may have reached from either side). Empty then, and
// outside float's normal range (where float holds fewer bits), and where
// long double is no wider than double.
bool long_decimal(std::uint64_t w, int exponent, float* out) {
  if constexpr (std::numeric_limits<long double>::digits < 64) {
    return false;
  } else {
    if (exponent < -27 || exponent > 27) return false;
    const long double x = exponent < 0 ? static_cast<long double>(w) / kPow10Long[-exponent]
                                       : static_cast<long double>(w) * kPow10Long[exponent];
    if (!(x >= std::numeric_limits<float>::min() && x <= std::numeric_limits<float>::max())) return false;
    const float f = static_cast<float>(x);
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(f);
    const long double above = (static_cast<long double>(f) + std::bit_cast<float>(bits + 1)) / 2,
                      below = (static_cast<long double>(f) + std::bit_cast<float>(bits - 1)) / 2;
    if (x == above || x == below) return false;
    *out = f;
    return true;
  }
}

// 10^e for e from -64 to 38, each the double nearest it.
constexpr double kPow10Double[] = {
    1e-64, 1e-63, 1e-62, 1e-61, 1e-60, 1e-59, 1e-58, 1e-57, 1e-56, 1e-55, 1e-54, 1e-53, 1e-52,
    1e-51, 1e-50, 1e-49, 1e-48, 1e-47, 1e-46, 1e-45, 1e-44, 1e-43, 1e-42, 1e-41, 1e-40, 1e-39,
    1e-38, 1e-37, 1e-36, 1e-35, 1e-34, 1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26,
    1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13,
    1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2,
    1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18,
    1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31, 1e32, 1e33,
    1e34, 1e35, 1e36, 1e37, 1e38};
constexpr int kPow10DoubleLeast = -64, kPow10DoubleMost = 38;

// w 10^exponent correctly rounded to float, by doubles: w and 10^exponent
// each rounded to double and their product rounded, d is within 3 units
// in the last place (ulps) of the value. A float's rounding changes only at
// the midpoints between floats, and in float's normal range every such
// midpoint is a double whose 29 bits below float's precision are 1000...0.
// Where d is more than 8 ulps from one, the value is on d's side of every
// midpoint, and rounds to float as d does. False near a midpoint and
// outside float's normal range: the caller converts those another way.
bool double_decimal(std::uint64_t w, int exponent, float* out) {
  if (exponent < kPow10DoubleLeast || exponent > kPow10DoubleMost) return false;
  const double d = static_cast<double>(w) * kPow10Double[exponent - kPow10DoubleLeast];
  if (!(d >= 0x1p-125 && d <= static_cast<double>(std::numeric_limits<float>::max()))) return false;
  constexpr std::uint64_t kBelow = (std::uint64_t{1} << 29) - 1, kMidpoint = std::uint64_t{1} << 28;
  const std::uint64_t below = std::bit_cast<std::uint64_t>(d) & kBelow;
  if (below + 8 - kMidpoint <= 16) return false;  // within 8 ulps of a midpoint
  *out = static_cast<float>(d);
  return true;
}

// Converts a plain decimal token at p: [+-] digits [. digits] [eE [+-] digits],
// at least one mantissa digit, ended by a blank. The line it lies in ends
// with a newline at `newline`. Returns the end of the token, or nullptr when
// the token is not plain or its value is not found here; the caller then
// asks the standard scan.
const char* plain_decimal(const char* p, const char* newline, float* out) {
  const char* const start = p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  const char* const unsigned_start = p;

  // The mantissa digits as one integer w; exact while there are at most 19.
  std::uint64_t w = 0;
  const char* q = p;
  for (; digit(*q); ++q) w = w * 10 + static_cast<unsigned>(*q - '0');
  std::ptrdiff_t digits = q - p;
  int exponent = 0;
  if (*q == '.') {
    const char* const fraction = ++q;
    // Eight digits at a time, twice at most (17 significant digits), while
    // q..q+7 lie in the line and w stays exact.
    for (int chunk = 0; chunk < 2 && newline - q >= 7 && w < 100000000000u; ++chunk) {
      const std::uint64_t v = load8(q);
      const int n = leading_digits(v);
      if (n > 0) w = w * kPow10Int[n] + digits_value(v, n);
      q += n;
      if (n < 8) break;
    }
    for (; digit(*q); ++q) w = w * 10 + static_cast<unsigned>(*q - '0');
    digits += q - fraction;
    exponent = -static_cast<int>(std::min<std::ptrdiff_t>(q - fraction, 1 << 20));
  }
  if (digits == 0) return nullptr;
  p = q;
  if ((*p | 0x20) == 'e') {
    ++p;
    const bool negative_exponent = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    if (!digit(*p)) return nullptr;
    int e = 0;
    for (; digit(*p); ++p)
      if (e < 100000) e = e * 10 + (*p - '0');
    exponent += negative_exponent ? -e : e;
  }
  if (!is_blank(*p)) return nullptr;

  float value;
  if (digits <= 19 && w == 0) {
    value = 0.0f;
  } else if (digits <= 19 && w <= (1u << 24) && exponent >= -7 && exponent <= 0) {
    value = short_to_float(w, -exponent);
  } else if (digits <= 19 && w <= (1u << 24) && exponent >= -10 && exponent <= 10) {
    // w and 10^|exponent| are exact floats, so one float operation rounds
    // the decimal value correctly.
    const float f = static_cast<float>(w);
    value = exponent < 0 ? f / kPow10[-exponent] : f * kPow10[exponent];
  } else if (digits <= 19 && double_decimal(w, exponent, &value)) {
    // (9 significant digits, 17, exponents: what programs print)
  } else if (digits <= 19 && long_decimal(w, exponent, &value)) {
    // (beside a midpoint)
  } else {
    const auto r = std::from_chars(negative ? start : unsigned_start, p, value);
    if (r.ec != std::errc() || r.ptr != p) return nullptr;
    *out = value;
    return p;
  }
  *out = with_sign(value, negative);
  return p;
}

// The most common token, [-] 1 to 7 digits . 1 to 7 digits, ended by a
// blank, with few branches. 17 bytes from p must be readable. Returns the
// end of the token, or nullptr for any other token.
const char* short_decimal(const char* p, float* out) {
  const bool negative = *p == '-';
  const char* const q = p + (negative ? 1 : 0);
  const std::uint64_t integer = load8(q);
  const int n1 = leading_digits(integer);
  if (n1 == 0 || n1 == 8 || q[n1] != '.') return nullptr;
  const std::uint64_t fraction = load8(q + n1 + 1);
  const int n2 = leading_digits(fraction);
  const char* const end = q + n1 + 1 + n2;
  if (n2 == 0 || n2 == 8 || !is_blank(*end)) return nullptr;
  const std::uint64_t w = digits_value(integer, n1) * kPow10Int[n2] + digits_value(fraction, n2);
  if (w > (1u << 24)) return nullptr;
  *out = with_sign(short_to_float(w, n2), negative);
  return end;
}

// Which of the 64 bytes at p are blanks but the newline, digits, points
// and minus signs: bit i for byte p[i].
struct ByteClasses {
  std::uint64_t blank = 0, digit = 0, point = 0, minus = 0;
  bool operator==(const ByteClasses&) const = default;
};

// Byte by byte: where there is no SSE2, and what the SSE2 version is
// checked against where assertions are on.
[[maybe_unused]] ByteClasses classify64_by_bytes(const char* p) {
  ByteClasses c;
  for (int i = 0; i < 64; ++i) {
    const std::uint64_t bit = std::uint64_t{1} << i;
    if (blank_in_line(p[i])) c.blank |= bit;
    if (digit(p[i])) c.digit |= bit;
    if (p[i] == '.') c.point |= bit;
    if (p[i] == '-') c.minus |= bit;
  }
  return c;
}

#if defined(__SSE2__)
ByteClasses classify64(const char* p) {
  ByteClasses c;
  const auto bits = [](__m128i m) {
    return static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(m)));
  };
  // x <= most, unsigned, byte by byte.
  const auto at_most = [](__m128i x, char most) {
    return _mm_cmpeq_epi8(_mm_min_epu8(x, _mm_set1_epi8(most)), x);
  };
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    // \t, \v, \f, \r are 9, 11, 12, 13; the newline (10) is not a blank here.
    const __m128i controls = _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                              at_most(_mm_sub_epi8(v, _mm_set1_epi8('\t')), '\r' - '\t'));
    const int shift = 16 * i;
    c.blank |= bits(_mm_or_si128(controls, _mm_cmpeq_epi8(v, _mm_set1_epi8(' ')))) << shift;
    c.digit |= bits(at_most(_mm_sub_epi8(v, _mm_set1_epi8('0')), 9)) << shift;
    c.point |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))) << shift;
    c.minus |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('-'))) << shift;
  }
  assert(c == classify64_by_bytes(p));
  return c;
}
#else
ByteClasses classify64(const char* p) { return classify64_by_bytes(p); }
#endif

// Bytes a short line needs readable from its start: its 64, and the 8
// that a token's last digits may be loaded with.
constexpr std::ptrdiff_t kShortLineReadable = 72;

// A line of fewer than 64 bytes, its newline at p + length, whose tokens
// are all short decimals (as short_decimal reads them), read with the
// tokens' bounds found for the whole line at once: the tokens' conversions
// do not wait on each other. Reads up to `count` fields and returns how
// many it read; `*stop` is then where the caller goes on from: the token
// it could not read (the caller reads it, and the rest, the slow way), or
// nullptr if it read `count` fields or the line ended. `*more` tells
// whether a token follows the last field read.
int short_line(const char* p, std::ptrdiff_t length, float* fields, int count, const char** stop,
               bool* more) {
  assert(length >= 0 && length < 64);
  const ByteClasses c = classify64(p);
  const std::uint64_t in_line = (std::uint64_t{1} << length) - 1;
  const std::uint64_t word = ~c.blank & in_line;
  std::uint64_t starts = word & ~(word << 1);
  std::uint64_t ends = ~word & (word << 1);  // the blank after each token (the newline at the last)
  *stop = nullptr;
  int k = 0;
  for (; k < count && starts != 0; ++k) {
    const int s = std::countr_zero(starts), e = std::countr_zero(ends);
    starts &= starts - 1;
    ends &= ends - 1;
    const std::uint64_t token = (std::uint64_t{1} << e) - (std::uint64_t{1} << s);
    const std::uint64_t sign = c.minus & (std::uint64_t{1} << s);
    const std::uint64_t point = c.point & token;
    const int integer = s + (sign != 0 ? 1 : 0), dot = std::countr_zero(point);
    const int n1 = dot - integer, n2 = e - dot - 1;
    // [-] 1 to 7 digits . 1 to 7 digits: a point, the sign, and digits alone.
    if (point == 0 || (point & (point - 1)) != 0 || (token & ~c.digit) != (point | sign) ||
        n1 < 1 || n1 > 7 || n2 < 1 || n2 > 7) {
      *stop = p + s;
      break;
    }
    std::uint64_t w;
    if (n1 + n2 <= 7) {
      // All the digits are in the 8 bytes from the first: as one number,
      // the point taken out (the bytes after it moved down by one).
      const std::uint64_t v = load8(p + integer), before_point = (std::uint64_t{1} << (8 * n1)) - 1;
      w = digits_value((v & before_point) | ((v >> 8) & ~before_point), n1 + n2);
    } else {
      w = digits_value(load8(p + integer), n1) * kPow10Int[n2] + digits_value(load8(p + dot + 1), n2);
    }
    if (w > (1u << 24)) {
      *stop = p + s;
      break;
    }
    fields[k] = with_sign(short_to_float(w, n2), sign != 0);
  }
  *more = starts != 0;
  return k;
}

// The standard scan of one field at p, on a terminated copy of [p, end).
// Returns the end of what it read, or nullptr if nothing converted.
const char* standard_scan(const char* p, const char* end, float* out) {
  thread_local std::string scratch;
  scratch.assign(p, end);
  int used = 0;
  if (std::sscanf(scratch.c_str(), "%f%n", out, &used) != 1) return nullptr;
  return p + used;
}

// Scans a line that ends with a newline at `newline`. `end` is where the
// line ends for the standard scan: after that newline, or at it if the
// newline was added. Bytes up to `readable` may be read.
// Tells in `plain` whether every field came from the two fast readers and
// nothing but blanks follows the last.
int scan_line(const char* p, const char* newline, const char* end, const char* readable,
              float* fields, int count, bool& plain) {
  plain = true;
  int k = 0;
  if (newline - p < 64 && readable - p >= kShortLineReadable) {
    const char* stop;
    bool more;
    k = short_line(p, newline - p, fields, count, &stop, &more);
    if (stop == nullptr) {
      plain = !(k == count && more);
      return k;
    }
    p = stop;
  }
  for (; k < count; ++k) {
    while (blank_in_line(*p)) ++p;
    if (p == newline) return k;
    float value;
    const char* next = readable - p >= 17 ? short_decimal(p, &value) : nullptr;
    if (next == nullptr) next = plain_decimal(p, newline, &value);
    if (next == nullptr) {
      plain = false;
      next = standard_scan(p, end, &value);
    }
    if (next == nullptr) return k;
    fields[k] = value;
    p = next;
  }
  while (blank_in_line(*p)) ++p;
  plain = plain && p == newline;
  return count;
}

}  // namespace

int scan_fields(const char* begin, const char* end, const char* readable, float* fields, int count,
                bool& plain) {
  plain = true;
  if (begin == end) return 0;
  if (end[-1] == '\n') return scan_line(begin, end - 1, end, readable, fields, count, plain);
  // The last line of a text may lack its newline: scan a copy that has one.
  thread_local std::string line;
  line.assign(begin, end);
  line += '\n';
  const char* copy = line.data();
  const std::size_t length = line.size() - 1;
  return scan_line(copy, copy + length, copy + length, copy + length + 1, fields, count, plain);
}

int scan_fields(const char* begin, const char* end, const char* readable, float* fields,
                int count) {
  bool plain;
  return scan_fields(begin, end, readable, fields, count, plain);
}

int scan_fields(const char* begin, const char* end, float* fields, int count) {
  return scan_fields(begin, end, end, fields, count);
}

}  // namespace tilvex::inline detail
