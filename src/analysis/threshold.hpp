#pragma once
// The confidence threshold: the similarity that the accepted resamples
// reach.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

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

// The key that orders similarities as that sort does: ascending with the
// value, 0 and -0 alike, every NaN last and alike.
std::uint32_t order_key(float f);

// Counts of a table's values by the top 16 bits of their order_key.
using KeyCounts = std::array<std::size_t, 65536>;

// The same threshold, for a table that is not held whole: `high` counts
// its n > 0 values by the top 16 bits of their keys, and each(f) calls f
// on every value in table order (once or three times). Holds only the
// values that share their top 16 bits with the threshold, up to a bound;
// under(top), where given, returns them (whose keys' top 16 bits are
// `top`), in table order as parts one after the other, in place of a
// reading by each(f).
using Each = std::function<void(const std::function<void(float)>&)>;
using Under = std::function<std::vector<std::vector<float>>(std::uint32_t top)>;
float confidence_threshold(const KeyCounts& high, std::size_t n, float confidence_level, const Each& each,
                           const Under& under = {});

}  // namespace tilvex::inline detail
