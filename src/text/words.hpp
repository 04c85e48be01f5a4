#pragma once
// Words and integers in text, as the standard scan reads them in the POSIX
// locale.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace tilvex::inline detail {

// White space for the standard scan in the POSIX locale: blank, \t, \n, \v,
// \f and \r.
constexpr bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The first blank-delimited word of `text`; empty if there is none.
std::string_view first_word(std::string_view text);

// The blank-delimited words of `text`, in order.
std::vector<std::string_view> words(std::string_view text);

// The int at the start of `text` as the standard "%d" scan reads it:
// blanks, an optional sign, decimal digits. Empty if no digit follows, or
// if the number lies outside the range of int. `*end` (if given) receives
// the length of what was read, so a caller that wants the whole text to be
// the number checks `*end == text.size()`.
std::optional<int> read_int(std::string_view text, std::size_t* end = nullptr);

// A confidence level as the standard "%f" scan reads it: a leading number,
// the rest ignored. Empty if no number starts `text`, or if it reads as
// not-a-number.
std::optional<float> read_level(const char* text);

}  // namespace tilvex::inline detail
