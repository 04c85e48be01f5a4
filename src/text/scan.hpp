#pragma once
// Scanning numbers from a line exactly as the standard "%f %f ..." scan
// does, fast.

#include <cstdint>

namespace tilvex::inline detail {

// Scans up to `count` numbers from [begin, end), one line, exactly as
// sscanf with the format "%f %f ..." (count conversions) scans that line in
// the POSIX locale: each field gets the same float, and the scan stops at
// the same field, which keeps its value along with every field after it.
// A NUL byte ends the line. Returns the number of fields converted.
//
// Plain decimal tokens ending at a blank or the end of the line are
// converted here; anything else (inf, nan, hex, partial tokens such as "1e+",
// junk) goes to sscanf itself. Allocates only while a scratch buffer for
// those grows to the longest line that needs it.
int scan_fields(const char* begin, const char* end, float* fields, int count);

// The same, where the bytes up to `readable` (at least `end`) may be read
// past the line, which makes the scan faster; they do not change it.
int scan_fields(const char* begin, const char* end, const char* readable, float* fields,
                int count);

// The same, telling in `plain` whether the line was all plain decimals:
// every field converted was read here (a plain decimal, with or without an
// exponent, ended by a blank; never the standard scan), and only blanks
// follow the last one, or the line ended before `count`. Such a line holds
// exactly the converted fields as its blank-separated words, each finite.
int scan_fields(const char* begin, const char* end, const char* readable, float* fields, int count,
                bool& plain);

// w / 10^n correctly rounded to float, for w <= 2^24 and 0 <= n <= 7.
float decimal_to_float(std::uint64_t w, int n);

}  // namespace tilvex::inline detail
