#pragma once
// Tensor, axis and sort routines: pure functions with no state, which
// allocate nothing. Their arithmetic is part of the results: every width and
// summation order below is fixed, and results are exact to the bit.
//
// A tensor is nine floats in row order (a symmetric 3x3 matrix); a direction
// vector is three floats (x, y, z).

#include <cstddef>

namespace tilvex::inline detail {

// mag = sqrt(sum of the nine squares). Each square is a float, widened and
// summed in double in row order; the double root is rounded to float.
// Elements below about 2.6e-23 in size square to 0. NaN and infinity
// propagate.
void tenmag(const float t[9], float* mag);

// dot = (sum of a[k]*b[k]) / (amag*bmag): a float sum in row order, each
// product rounded to float before it is added; amag*bmag is rounded to float,
// then one float division. A zero denominator gives the IEEE result: NaN for
// 0/0, an infinity otherwise.
void tendot(const float a[9], const float b[9], float* dot, float amag, float bmag);

// v = (cos t cos p, sin t cos p, sin p) for trend t and plunge p in degrees:
// the angles are widened to double and converted to radians, sine and cosine
// are taken in double, and each component is rounded to float. NaN or
// infinite angles give NaN components.
void vectorR(float v[3], float trend, float plunge);

// cosang = cosine of the angle between a and b, all in float:
// ((a0 b0 + a1 b1) + a2 b2) / (|a| |b|), each product rounded before it is
// added, float square roots. A zero vector gives NaN.
void calangle(const float a[3], const float b[3], float* cosang);

// Sorts values[0..count-1] ascending, in place and stably (equal values,
// such as 0 and -0, keep their order), in O(count log count). NaNs go after
// every number, in their original order. May allocate a temporary buffer.
void sort(float* values, std::size_t count);

}  // namespace tilvex::inline detail
