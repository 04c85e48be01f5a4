#pragma once
// The similarity of a resample to the best fit, and the confidence threshold
// that the accepted resamples reach.

#include <cstddef>
#include <span>

#include "tilvex/records.hpp"

namespace tilvex {

// The nine elements, in row order, of the symmetric tensor with these
// components: rows (s11 s12 s13), (s12 s22 s23), (s13 s23 s33).
void to_tensor(const Components& c, float t[9]);

// The best-fit tensor R with its magnitude, and the similarity of a resample
// tensor B to it: tendot(B, R) with the magnitudes tenmag(B) and tenmag(R),
// a float. It is NaN or infinite where a magnitude is 0, for example for an
// all-zero tensor.
class Similarity {
 public:
  explicit Similarity(const Components& best);
  float operator()(const Components& resample) const;

 private:
  float best_[9];
  float best_magnitude_;
};

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

}  // namespace tilvex
