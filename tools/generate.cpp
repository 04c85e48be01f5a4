// tilvex-generate: writes a realistic resample results file to standard
// output, for examples, benchmarks and compiler cross-checks.
//
//   tilvex-generate N [SEED [TREND_OFFSET]]
//
// The best fit is a deviatoric tensor with principal values 1, 2 phi - 1 and
// -1 along random orthogonal axes. Each resample turns those axes by a small
// random rotation and perturbs phi; its tensor is built from them, so tensor
// and axes agree. As inversion codes report them, axes point into the lower
// hemisphere (plunge >= 0), but a share is given the other way round (trend
// + 180, plunge negated) and a share has its trend off by +-360 degrees.
// TREND_OFFSET (degrees, default 0) is added to every resample trend: with
// 1e9, every trend takes a wrap of millions of steps. The same arguments
// always give the same file.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "numeric/angles.hpp"

namespace {

using tilvex::kPi;

struct Rng {
  std::uint64_t s;
  std::uint64_t next() {  // splitmix64
    std::uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1p-53; }
  double normal() {
    const double u = 1.0 - uniform(), v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * kPi * v);
  }
};

using Vec = double[3];

void cross(const Vec a, const Vec b, Vec out) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

void normalise(Vec v) {
  const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (int i = 0; i < 3; ++i) v[i] /= n;
}

void random_unit(Rng& rng, Vec v) {
  for (int i = 0; i < 3; ++i) v[i] = rng.normal();
  normalise(v);
}

// Rotates v about the unit axis by angle (Rodrigues).
void rotate(Vec v, const Vec axis, double angle) {
  Vec c;
  cross(axis, v, c);
  const double d = axis[0] * v[0] + axis[1] * v[1] + axis[2] * v[2];
  const double cs = std::cos(angle), sn = std::sin(angle);
  for (int i = 0; i < 3; ++i) v[i] = v[i] * cs + c[i] * sn + axis[i] * d * (1 - cs);
}

struct Solution {
  double phi;
  Vec e[3];  // principal axes 1 to 3
};

void print_record(const Solution& s, Rng& rng, double reversed_share, double offset_share,
                  double trend_offset) {
  const double lambda[3] = {1.0, 2.0 * s.phi - 1.0, -1.0};
  double t[3][3] = {};
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) t[i][j] += lambda[k] * s.e[k][i] * s.e[k][j];
  std::printf("%.6f %.6f %.6f %.6f %.6f %.6f\n", t[0][0], t[0][1], t[0][2], t[1][1], t[1][2],
              t[2][2]);
  std::printf("%.4f", s.phi);
  for (int k = 0; k < 3; ++k) {
    Vec v = {s.e[k][0], s.e[k][1], s.e[k][2]};
    if (v[2] < 0)
      for (double& c : v) c = -c;  // lower hemisphere
    double trend = std::atan2(v[1], v[0]) * 180.0 / kPi;
    double plunge = std::asin(std::fmin(1.0, v[2])) * 180.0 / kPi;
    if (trend < 0) trend += 360.0;
    if (rng.uniform() < reversed_share) {
      trend = std::fmod(trend + 180.0, 360.0);
      plunge = -plunge;
    }
    if (rng.uniform() < offset_share) trend += rng.uniform() < 0.5 ? 360.0 : -360.0;
    std::printf(" %.2f %.2f", trend + trend_offset, plunge);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const char* usage = "usage: tilvex-generate N [SEED [TREND_OFFSET]]\n";
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("tilvex-generate %s\n", TILVEX_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "%s\nWrites a realistic resample results file of N resamples to standard output:\n"
        "axes scattered about a random best fit, a tenth reported the other way round, a\n"
        "twentieth with trends off by 360 degrees. SEED (default 1) picks the file;\n"
        "TREND_OFFSET (degrees, default 0) is added to every resample trend.\n",
        usage);
    return 0;
  }
  if (argc < 2 || argc > 4) {
    std::fputs(usage, stderr);
    return 2;
  }
  // Every argument must be a number, whole where it counts.
  char* end = nullptr;
  const long n = std::strtol(argv[1], &end, 10);
  if (end == argv[1] || *end != '\0' || n < 0) {
    std::fprintf(stderr, "tilvex-generate: N must be a whole number of resamples, not '%s'\n", argv[1]);
    return 2;
  }
  const unsigned long long seed = argc >= 3 ? std::strtoull(argv[2], &end, 10) : 1;
  if (argc >= 3 && (end == argv[2] || *end != '\0' || argv[2][0] == '-')) {
    std::fprintf(stderr, "tilvex-generate: SEED must be a whole number, not '%s'\n", argv[2]);
    return 2;
  }
  const double trend_offset = argc == 4 ? std::strtod(argv[3], &end) : 0.0;
  if (argc == 4 && (end == argv[3] || *end != '\0')) {
    std::fprintf(stderr, "tilvex-generate: TREND_OFFSET must be a number of degrees, not '%s'\n",
                 argv[3]);
    return 2;
  }
  Rng rng{seed};

  Solution best;
  best.phi = 0.2 + 0.6 * rng.uniform();
  random_unit(rng, best.e[0]);
  Vec helper;
  random_unit(rng, helper);
  cross(best.e[0], helper, best.e[1]);
  normalise(best.e[1]);
  cross(best.e[0], best.e[1], best.e[2]);
  print_record(best, rng, 0.0, 0.0, 0.0);

  const double spread = (5.0 + 15.0 * rng.uniform()) * kPi / 180.0;
  for (long i = 0; i < n; ++i) {
    Solution r = best;
    Vec axis;
    random_unit(rng, axis);
    const double angle = spread * rng.normal();
    for (auto& e : r.e) rotate(e, axis, angle);
    r.phi = std::fmin(1.0, std::fmax(0.0, best.phi + 0.1 * rng.normal()));
    print_record(r, rng, 0.1, 0.05, trend_offset);
  }
  return 0;
}
