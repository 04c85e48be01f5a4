#include "writer.hpp"

#include <cstdio>

namespace tilvex {

namespace {

// Appends printf output of at most 256 bytes per call, which every format
// here stays within unless a value is huge; longer output is formatted again
// into a buffer of its exact size.
template <typename... Args>
void appendf(std::string& out, const char* format, Args... args) {
  char buf[256];
  int len = std::snprintf(buf, sizeof buf, format, args...);
  if (len < 0) return;
  if (static_cast<std::size_t>(len) < sizeof buf) {
    out.append(buf, static_cast<std::size_t>(len));
    return;
  }
  std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(len) + 1);
  std::snprintf(out.data() + at, static_cast<std::size_t>(len) + 1, format, args...);
  out.resize(at + static_cast<std::size_t>(len));
}

double w(float v) { return static_cast<double>(v); }

}  // namespace

void append_accepted_line(std::string& out, const Grid& g, const Solution& s) {
  appendf(out, "%d %d %d %d %f %f %f ", g.x, g.y, g.z, g.t, w(s.phi), w(s.axis[0].trend),
          w(s.axis[0].plunge));
  appendf(out, "%f %f ", w(s.axis[1].trend), w(s.axis[1].plunge));
  appendf(out, "%f %f\n", w(s.axis[2].trend), w(s.axis[2].plunge));
}

void append_summary_line(std::string& out, const Summary& s) {
  appendf(out,
          "phi= %4.2f %4.2f %4.2f tr1= %7.2f %7.2f %7.2f pl1= %6.2f %6.2f %6.2f "
          "tr2= %7.2f %7.2f %7.2f ",
          w(s.phi.best), w(s.phi.low), w(s.phi.high), w(s.trend[0].best), w(s.trend[0].low),
          w(s.trend[0].high), w(s.plunge[0].best), w(s.plunge[0].low), w(s.plunge[0].high),
          w(s.trend[1].best), w(s.trend[1].low), w(s.trend[1].high));
  appendf(out,
          "pl2= %6.2f %6.2f %6.2f tr3= %7.2f %7.2f %7.2f pl3= %6.2f %6.2f %6.2f\n",
          w(s.plunge[1].best), w(s.plunge[1].low), w(s.plunge[1].high), w(s.trend[2].best),
          w(s.trend[2].low), w(s.trend[2].high), w(s.plunge[2].best), w(s.plunge[2].low),
          w(s.plunge[2].high));
}

}  // namespace tilvex
