#include "routines.hpp"

#include <algorithm>
#include <cmath>

#include "angles.hpp"
#include "exact_float.hpp"

namespace tilvex::inline detail {

void tenmag(const float t[9], float* mag) {
  double sum = 0.0;
  for (int k = 0; k < 9; ++k) {
    const float square = t[k] * t[k];
    sum += static_cast<double>(square);
  }
  *mag = static_cast<float>(std::sqrt(sum));
}

void tendot(const float a[9], const float b[9], float* dot, float amag, float bmag) {
  float sum = 0.0f;
  for (int k = 0; k < 9; ++k) {
    const float product = a[k] * b[k];
    sum = product + sum;
  }
  const float denominator = amag * bmag;
  *dot = sum / denominator;
}

void vectorR(float v[3], float trend, float plunge) {
  const double t = static_cast<double>(trend) * kRadiansPerDegree;
  const double p = static_cast<double>(plunge) * kRadiansPerDegree;
  const double sin_t = std::sin(t), cos_t = std::cos(t);
  const double sin_p = std::sin(p), cos_p = std::cos(p);
  v[0] = static_cast<float>(cos_t * cos_p);
  v[1] = static_cast<float>(sin_t * cos_p);
  v[2] = static_cast<float>(sin_p);
}

void calangle(const float a[3], const float b[3], float* cosang) {
  const float ab0 = a[0] * b[0], ab1 = a[1] * b[1], ab2 = a[2] * b[2];
  const float dot = (ab0 + ab1) + ab2;
  const float aa0 = a[0] * a[0], aa1 = a[1] * a[1], aa2 = a[2] * a[2];
  const float bb0 = b[0] * b[0], bb1 = b[1] * b[1], bb2 = b[2] * b[2];
  const float a_norm = std::sqrt((aa0 + aa1) + aa2);
  const float b_norm = std::sqrt((bb0 + bb1) + bb2);
  const float norms = a_norm * b_norm;
  *cosang = dot / norms;
}

void sort(float* values, std::size_t count) {
  std::stable_sort(values, values + count, [](float x, float y) {
    return x < y || (!std::isnan(x) && std::isnan(y));
  });
}

}  // namespace tilvex::inline detail
