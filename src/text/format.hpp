#pragma once
// Printing numbers exactly as printf does, fast.

namespace tilvex::inline detail {

// The most bytes put_fixed uses: a float widened to double has at most 39
// integer digits, so with a sign, a point, six decimals and a byte of
// scratch it fits.
inline constexpr int kMaxFixed = 48;
// The most bytes put_int writes.
inline constexpr int kMaxInt = 11;

// Writes `value` widened to double as printf("%*.*f", width, precision, ...)
// does in the POSIX locale, for precision 2 or 6 and width at most 7:
// rounded to nearest, ties to even, on the exact binary value; "-" for
// every negative value and -0; "nan", "-nan", "inf" and "-inf" for the
// others; blanks on the left up to `width`. Returns the end of the output.
// Uses at most kMaxFixed bytes from `out`: the output and perhaps one byte
// of scratch after it.
char* put_fixed(char* out, float value, int precision, int width = 0);

// Writes `value` as printf("%d") does. Returns the end of the output.
char* put_int(char* out, int value);

}  // namespace tilvex::inline detail
