#include "words.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdint>

namespace tilvex::inline detail {

std::string_view first_word(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && is_blank(text[begin])) ++begin;
  std::size_t end = begin;
  while (end < text.size() && !is_blank(text[end])) ++end;
  return text.substr(begin, end - begin);
}

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> out;
  while (true) {
    const std::string_view word = first_word(text);
    if (word.empty()) return out;
    out.push_back(word);
    text.remove_prefix(static_cast<std::size_t>(word.data() + word.size() - text.data()));
  }
}

std::optional<int> read_int(std::string_view text, std::size_t* end) {
  std::size_t at = 0;
  while (at < text.size() && is_blank(text[at])) ++at;
  const bool negative = at < text.size() && text[at] == '-';
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  const std::size_t digits = at;
  std::int64_t magnitude = 0;  // saturates above the range of int
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
    if (magnitude <= INT_MAX + std::int64_t{1}) magnitude = magnitude * 10 + (text[at] - '0');
  if (at == digits) return std::nullopt;
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < INT_MIN || value > INT_MAX) return std::nullopt;
  if (end != nullptr) *end = at;
  return static_cast<int>(value);
}

std::optional<float> read_level(const char* text) {
  float value = 0.0f;
  if (std::sscanf(text, "%f", &value) != 1 || std::isnan(value)) return std::nullopt;
  return value;
}

}  // namespace tilvex::inline detail
