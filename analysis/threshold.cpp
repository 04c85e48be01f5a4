#include "threshold.hpp"

#include "numeric/exact_float.hpp"
#include "numeric/routines.hpp"

namespace tilvex {

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

std::size_t threshold_index(float confidence_level, std::size_t n) {
  // The division comes before the multiplication: 43 per cent of 100 gives
  // 56.99999999999999, index 56.
  const double x = (100.0 - static_cast<double>(confidence_level)) / 100.0 * static_cast<double>(n);
  if (!(x >= 0.0)) return 0;
  if (x >= static_cast<double>(n - 1)) return n - 1;
  return static_cast<std::size_t>(x);
}

float confidence_threshold(std::span<float> table, float confidence_level) {
  sort(table.data(), table.size());
  return table[threshold_index(confidence_level, table.size())];
}

}  // namespace tilvex
