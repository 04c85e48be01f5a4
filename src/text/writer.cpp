#include "writer.hpp"

#include <cstring>

namespace tilvex::inline detail {

namespace {

char* put(char* out, const char* text) {
  const std::size_t n = std::strlen(text);
  std::memcpy(out, text, n);
  return out + n;
}

// " %W.2f %W.2f %W.2f" for one best-fit value and its bounds.
char* put_bounds(char* out, const Bounds& b, int width) {
  for (float v : {b.best, b.low, b.high}) {
    *out++ = ' ';
    out = put_fixed(out, v, 2, width);
  }
  return out;
}

}  // namespace

namespace {

// The values of an accepted-resample line after its grid indices.
char* put_solution(char* out, const Solution& s) {
  out = put_fixed(out, s.phi, 6);
  for (const Axis& a : s.axis) {
    *out++ = ' ';
    out = put_fixed(out, a.trend, 6);
    *out++ = ' ';
    out = put_fixed(out, a.plunge, 6);
  }
  *out++ = '\n';
  return out;
}

char* put_indices(char* out, const Grid& g) {
  for (int v : {g.x, g.y, g.z, g.t}) {
    out = put_int(out, v);
    *out++ = ' ';
  }
  return out;
}

}  // namespace

char* write_accepted_line(char* out, const Grid& g, const Solution& s) {
  return put_solution(put_indices(out, g), s);
}

LinePrefix::LinePrefix(const Grid& grid) : length_(static_cast<std::size_t>(put_indices(text_, grid) - text_)) {}

char* LinePrefix::write(char* out, const Solution& s) const {
  std::memcpy(out, text_, length_);
  return put_solution(out + length_, s);
}

void append_accepted_line(std::string& out, const Grid& grid, const Solution& s) {
  char line[kMaxAcceptedLine];
  out.append(line, static_cast<std::size_t>(write_accepted_line(line, grid, s) - line));
}

void append_summary_line(std::string& out, const Summary& s) {
  char line[7 * 5 + 21 * (kMaxFixed + 1) + 1];
  char* p = put(line, "phi=");
  p = put_bounds(p, s.phi, 4);
  const char* labels[3][2] = {{" tr1=", " pl1="}, {" tr2=", " pl2="}, {" tr3=", " pl3="}};
  for (int k = 0; k < 3; ++k) {
    p = put(p, labels[k][0]);
    p = put_bounds(p, s.trend[k], 7);
    p = put(p, labels[k][1]);
    p = put_bounds(p, s.plunge[k], 6);
  }
  *p++ = '\n';
  out.append(line, static_cast<std::size_t>(p - line));
}

}  // namespace tilvex::inline detail
