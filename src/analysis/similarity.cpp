#include "similarity.hpp"

#include "numeric/exact_float.hpp"
#include "numeric/routines.hpp"

namespace tilvex::inline detail {

void to_tensor(const Components& c, float t[9]) {
  const float* s = c.s;
  t[0] = s[0], t[1] = s[1], t[2] = s[2];
  t[3] = s[1], t[4] = s[3], t[5] = s[4];
  t[6] = s[2], t[7] = s[4], t[8] = s[5];
}

Similarity::Similarity(const Components& best) {
  to_tensor(best, best_);
  tenmag(best_, &best_magnitude_);
}

float Similarity::operator()(const Components& resample) const {
  float b[9];
  to_tensor(resample, b);
  float magnitude = 0.0f, dot = 0.0f;
  tenmag(b, &magnitude);
  tendot(b, best_, &dot, magnitude, best_magnitude_);
  return dot;
}

}  // namespace tilvex::inline detail
