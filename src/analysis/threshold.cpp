#include "threshold.hpp"


#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <limits>
#include <vector>

#include "numeric/exact_float.hpp"

namespace tilvex::inline detail {

std::size_t threshold_index(float confidence_level, std::size_t n) {
  // The division comes before the multiplication: 43 per cent of 100 gives
  // 56.99999999999999, index 56.
  const double x = (100.0 - static_cast<double>(confidence_level)) / 100.0 * static_cast<double>(n);
  if (!(x >= 0.0)) return 0;
  if (x >= static_cast<double>(n - 1)) return n - 1;
  return static_cast<std::size_t>(x);
}

// Orders floats as `sort` does: a key per equivalence class, ascending with
// the value. -0 shares the key of 0, every NaN the largest key.
std::uint32_t order_key(float f) {
  std::uint32_t b = std::bit_cast<std::uint32_t>(f);
  if ((b & 0x7fffffffu) > 0x7f800000u) return 0xffffffffu;
  if (b == 0x80000000u) b = 0;
  return (b & 0x80000000u) != 0 ? ~b : (b | 0x80000000u);
}

namespace {

// Of the keys that match `mask`/`prefix`, the 16-bit digit at `shift` under
// which the element of rank `rank` lies; `rank` becomes its rank among the
// keys with that digit.
std::uint32_t select_digit(std::span<const std::span<const float>> parts, std::uint32_t mask, std::uint32_t prefix,
                           int shift, std::size_t& rank, std::vector<std::size_t>& counts) {
  std::fill(counts.begin(), counts.end(), 0);
  for (std::span<const float> table : parts)
    for (float f : table) {
      const std::uint32_t k = order_key(f);
      if ((k & mask) == prefix) ++counts[(k >> shift) & 0xffffu];
    }
  std::uint32_t digit = 0;
  while (rank >= counts[digit]) rank -= counts[digit++];
  return digit;
}

// The value of rank `rank` in the order `sort` gives the parts' values
// (which keeps equal ones in their order here), by selection on a copy of
// their keys: the key of that rank, then its place among the equal ones.
float select_in_order(std::span<const std::span<const float>> parts, std::size_t size, std::size_t rank) {
  std::vector<std::uint32_t> keys;
  keys.reserve(size);
  for (std::span<const float> table : parts)
    for (float f : table) keys.push_back(order_key(f));
  std::nth_element(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(rank), keys.end());
  const std::uint32_t key = keys[rank];
  // The keys below it all come before it now.
  rank -= static_cast<std::size_t>(std::count_if(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(rank),
                                                 [key](std::uint32_t k) { return k < key; }));
  for (std::span<const float> table : parts)
    for (float f : table)
      if (order_key(f) == key && rank-- == 0) return f;
  assert(false && "the key of rank `rank` is in the parts");
  return 0.0f;
}

}  // namespace

float confidence_threshold(std::span<const float> table, float confidence_level) {
  const std::span<const float> parts[] = {table};
  return confidence_threshold(parts, confidence_level);
}

float confidence_threshold(std::span<const std::span<const float>> parts, float confidence_level) {
  std::size_t size = 0;
  for (std::span<const float> table : parts) size += table.size();
  std::size_t rank = threshold_index(confidence_level, size);
  assert(rank < size);
  if (size <= 16384) return select_in_order(parts, size, rank);  // costs less than the histograms
  std::vector<std::size_t> counts(1u << 16);
  const std::uint32_t high = select_digit(parts, 0, 0, 16, rank, counts);
  const std::uint32_t low = select_digit(parts, 0xffff0000u, high << 16, 0, rank, counts);
  const std::uint32_t key = (high << 16) | low;
  // Equal keys keep their file order, as in a stable sort.
  for (std::span<const float> table : parts)
    for (float f : table)
      if (order_key(f) == key && rank-- == 0) return f;
  assert(false && "the key of rank `rank` is in the table");
  return parts[0].empty() ? parts[1][0] : parts[0][0];
}

float confidence_threshold(const KeyCounts& high, std::size_t n, float confidence_level, const Each& each,
                           const Under& under) {
  std::size_t rank = threshold_index(confidence_level, n);
  std::uint32_t top = 0;
  while (rank >= high[top]) rank -= high[top++];
  // The values under that top, in table order, ordered as a stable sort
  // orders them, if there are not too many to hold.
  constexpr std::size_t kHeld = std::size_t{1} << 22;
  if (high[top] <= kHeld) {
    std::vector<std::vector<float>> parts;
    if (under) {
      parts = under(top);
    } else {
      std::vector<float>& all = parts.emplace_back();
      all.reserve(high[top]);
      each([&](float f) {
        if (order_key(f) >> 16 == top) all.push_back(f);
      });
    }
    const std::vector<std::span<const float>> held(parts.begin(), parts.end());
    return select_in_order(held, high[top], rank);
  }
  // Else by the low 16 bits too, and a last reading for the first of the
  // key's values at that rank.
  std::vector<std::size_t> counts(1u << 16);
  each([&](float f) {
    const std::uint32_t k = order_key(f);
    if (k >> 16 == top) ++counts[k & 0xffffu];
  });
  std::uint32_t low = 0;
  while (rank >= counts[low]) rank -= counts[low++];
  const std::uint32_t key = (top << 16) | low;
  float found = std::numeric_limits<float>::quiet_NaN();
  each([&](float f) {
    if (order_key(f) == key && rank-- == 0) found = f;
  });
  return found;
}

}  // namespace tilvex::inline detail
