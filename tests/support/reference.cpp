#include "reference.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "numeric/routines.hpp"

namespace tilvex::test {

namespace {

// The physical lines, each with its newline; a last line without one counts.
std::vector<std::string> physical_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.emplace_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

// Reads lines as a stream does: a read past the end fails and leaves the
// line last read in place.
class Lines {
 public:
  explicit Lines(std::string_view text) : lines_(physical_lines(text)) {}
  bool read() {
    if (next_ == lines_.size()) return false;
    buffer_ = lines_[next_++];
    return true;
  }
  void rewind() { next_ = 0; }
  void scan6(float f[6]) const {
    std::sscanf(buffer_.c_str(), "%f %f %f %f %f %f", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
  }
  void scan7(float f[7]) const {
    std::sscanf(buffer_.c_str(), "%f %f %f %f %f %f %f", &f[0], &f[1], &f[2], &f[3], &f[4],
                &f[5], &f[6]);
  }

 private:
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  std::string buffer_;
};

void tensor_of(const float s[6], float t[9]) {
  const float rows[9] = {s[0], s[1], s[2], s[1], s[3], s[4], s[2], s[4], s[5]};
  std::copy(rows, rows + 9, t);
}

float similarity(const float resample[6], const float best[9], float best_magnitude) {
  float t[9], magnitude, dot;
  tensor_of(resample, t);
  tenmag(t, &magnitude);
  tendot(t, best, &dot, magnitude, best_magnitude);
  return dot;
}

float to_radians(float degrees) { return static_cast<float>(degrees * 0.017453292519943295); }
float deviation_degrees(float value, float best) {
  const float d = value - best;
  return static_cast<float>(d * 57.29577951308232);
}

float wrap_stepwise(float trend, float best) {
  for (;;) {
    const float d = trend - best;
    if (!(static_cast<double>(d) > 3.141592653589793)) break;
    const float next = static_cast<float>(trend - 6.283185307179586);
    if (next == trend) break;  // a step that changes nothing ends the loop
    trend = next;
  }
  for (;;) {
    const float d = trend - best;
    if (!(static_cast<double>(d) < -3.141592653589793)) break;
    const float next = static_cast<float>(trend + 6.283185307179586);
    if (next == trend) break;
    trend = next;
  }
  return trend;
}

}  // namespace

ReferenceTexts reference_run(std::string_view text, float confidence_level, const Grid& grid) {
  Lines in(text);
  float best_s[6] = {}, best_solution[7] = {}, s[6] = {}, solution[7] = {};
  in.read();
  in.scan6(best_s);
  in.read();
  in.scan7(best_solution);
  float best[9], best_magnitude;
  tensor_of(best_s, best);
  tenmag(best, &best_magnitude);

  // Pass 1.
  std::vector<float> table;
  while (in.read()) {
    in.scan6(s);
    in.read();
    table.push_back(similarity(s, best, best_magnitude));
  }
  const std::size_t n = table.size();

  // The threshold: sort a copy, numbers ascending and stable, NaNs last.
  float threshold = NAN;
  if (n > 0) {
    std::vector<float> sorted = table;
    std::stable_sort(sorted.begin(), sorted.end(), [](float a, float b) {
      return std::isnan(a) ? false : std::isnan(b) ? true : a < b;
    });
    const double x = (100.0 - static_cast<double>(confidence_level)) / 100.0 * static_cast<double>(n);
    std::size_t index = 0;
    if (x >= static_cast<double>(n - 1)) index = n - 1;
    else if (x >= 0.0) index = static_cast<std::size_t>(x);
    threshold = sorted[index];
  }

  // Pass 2.
  float best_trend[3], best_plunge[3], direction[3][3];
  for (int k = 0; k < 3; ++k) {
    best_trend[k] = to_radians(best_solution[1 + 2 * k]);
    best_plunge[k] = to_radians(best_solution[2 + 2 * k]);
    vectorR(direction[k], best_solution[1 + 2 * k], best_solution[2 + 2 * k]);
  }
  float phi_low = 1.0f, phi_high = 0.0f;
  float trend_low[3] = {}, trend_high[3] = {}, plunge_low[3] = {}, plunge_high[3] = {};
  ReferenceTexts out;
  char buf[512];
  in.rewind();
  in.read();
  in.read();
  for (std::size_t i = 0; i < n; ++i) {
    in.read();
    in.scan6(s);
    in.read();
    in.scan7(solution);
    if (!(similarity(s, best, best_magnitude) >= threshold)) continue;
    for (int k = 0; k < 3; ++k) {
      const float trend_degrees = solution[1 + 2 * k], plunge_degrees = solution[2 + 2 * k];
      float u[3];
      vectorR(u, trend_degrees, plunge_degrees);
      const float ux = u[0] * direction[k][0], uy = u[1] * direction[k][1],
                  uz = u[2] * direction[k][2];
      const float d = (ux + uy) + uz;
      float trend = to_radians(trend_degrees), plunge = to_radians(plunge_degrees);
      if (d < 0.0f) {
        plunge = -plunge;
        trend = static_cast<float>(trend - 3.141592653589793);
      }
      trend = wrap_stepwise(trend, best_trend[k]);
      const float dp = deviation_degrees(plunge, best_plunge[k]);
      const float dt = deviation_degrees(trend, best_trend[k]);
      if (dp < plunge_low[k]) plunge_low[k] = dp;
      if (dp > plunge_high[k]) plunge_high[k] = dp;
      if (dt < trend_low[k]) trend_low[k] = dt;
      if (dt > trend_high[k]) trend_high[k] = dt;
    }
    if (solution[0] < phi_low) phi_low = solution[0];
    if (solution[0] > phi_high) phi_high = solution[0];
    std::snprintf(buf, sizeof buf, "%d %d %d %d %f %f %f ", grid.x, grid.y, grid.z, grid.t,
                  solution[0], solution[1], solution[2]);
    out.lines += buf;
    std::snprintf(buf, sizeof buf, "%f %f ", solution[3], solution[4]);
    out.lines += buf;
    std::snprintf(buf, sizeof buf, "%f %f\n", solution[5], solution[6]);
    out.lines += buf;
  }

  double bound[3][4];
  for (int k = 0; k < 3; ++k) {
    const double tb = best_trend[k] * 57.29577951308232, pb = best_plunge[k] * 57.29577951308232;
    bound[k][0] = static_cast<float>(trend_low[k] + tb);
    bound[k][1] = static_cast<float>(trend_high[k] + tb);
    bound[k][2] = static_cast<float>(plunge_low[k] + pb);
    bound[k][3] = static_cast<float>(plunge_high[k] + pb);
  }
  const float* b = best_solution;
  std::snprintf(buf, sizeof buf,
                "phi= %4.2f %4.2f %4.2f tr1= %7.2f %7.2f %7.2f pl1= %6.2f %6.2f %6.2f "
                "tr2= %7.2f %7.2f %7.2f ",
                b[0], phi_low, phi_high, b[1], bound[0][0], bound[0][1], b[2], bound[0][2],
                bound[0][3], b[3], bound[1][0], bound[1][1]);
  out.summary = buf;
  std::snprintf(buf, sizeof buf,
                "pl2= %6.2f %6.2f %6.2f tr3= %7.2f %7.2f %7.2f pl3= %6.2f %6.2f %6.2f\n", b[4],
                bound[1][2], bound[1][3], b[5], bound[2][0], bound[2][1], b[6], bound[2][2],
                bound[2][3]);
  out.summary += buf;
  return out;
}

}  // namespace tilvex::test
