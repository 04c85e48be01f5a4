#pragma once
// The confidence threshold: the similarity that the accepted resamples
// reach.

#include <cstddef>
#include <span>

namespace tilvex::inline detail {

// Where the threshold stands in the ascending table of n > 0 similarities:
// trunc((100 - confidence_level) / 100 * n), computed in double, clamped to
// 0 .. n-1 before any conversion (a level far above 100 gives 0, one at or
// below 0 gives n-1, NaN gives 0).
std::size_t threshold_index(float confidence_level, std::size_t n);

// The confidence threshold: the similarity that `sort` (ascending, stable,
// NaNs last) would put at threshold_index, to the bit (of equal values such
// as 0 and -0, or NaNs, the one that order puts there). Small tables are
// sorted in a copy; large ones are read three times with a 512 KiB
// histogram, in linear time. `table` must not be empty.
float confidence_threshold(std::span<const float> table, float confidence_level);

// The same for the table made of `parts` one after the other (not all
// empty), without joining them.
float confidence_threshold(std::span<const std::span<const float>> parts, float confidence_level);

}  // namespace tilvex::inline detail
