#pragma once
// The similarity of a resample to the best fit: the cosine of the angle
// between their tensors seen as nine-component vectors.

#include "tilvex/records.hpp"

namespace tilvex::inline detail {

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

}  // namespace tilvex::inline detail
