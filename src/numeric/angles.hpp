#pragma once
// The angle constants of the arithmetic, each written once. They are part
// of the results: degrees become radians by one double multiplication by
// kRadiansPerDegree (not by a division by kDegreesPerRadian), and back by
// one multiplication by kDegreesPerRadian.

namespace tilvex::inline detail {

inline constexpr double kRadiansPerDegree = 0.017453292519943295;  // pi / 180
inline constexpr double kDegreesPerRadian = 57.29577951308232;     // 180 / pi
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;

// `degrees` widened to double, in radians, rounded to float.
inline float radians(float degrees) {
  return static_cast<float>(static_cast<double>(degrees) * kRadiansPerDegree);
}

}  // namespace tilvex::inline detail
