#include "stereonet.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "numeric/angles.hpp"

namespace tilvex::plot {

namespace {

constexpr double kDegree = kRadiansPerDegree;

// Where the net sits in the picture.
constexpr double kWidth = 960, kHeight = 600;
constexpr double kCentreX = 300, kCentreY = 320, kRadius = 250;

// A direction (north, east, down) of length 1, projected; down >= 0.
NetPoint project_down(double north, double east, double down) {
  const double scale = 1.0 / std::sqrt(1.0 + down);  // sqrt(1 - down) / horizontal length
  return {east * scale, north * scale};
}

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

double svg_x(const NetPoint& p) { return kCentreX + kRadius * p.east; }
double svg_y(const NetPoint& p) { return kCentreY - kRadius * p.north; }

std::string escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters are not allowed in XML text.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
    }
  }
  return out;
}

// A graticule line through directions v(s) for s from 0 to 1.
template <typename Direction>
std::string polyline(Direction v) {
  std::string points;
  for (int i = 0; i <= 90; ++i) {
    double n, e, d;
    v(i / 90.0, n, e, d);
    const NetPoint p = project_down(n, e, std::max(0.0, d));
    points += number(svg_x(p)) + "," + number(svg_y(p)) + " ";
  }
  return "<polyline points=\"" + points + "\"/>\n";
}

std::string graticule() {
  std::string g = "<g fill=\"none\" stroke=\"#c8c8c8\" stroke-width=\"0.6\">\n";
  for (int step = 1; step <= 17; ++step) {
    const double a = 10.0 * step * kDegree;
    if (step <= 9) {  // great circles through N and S, dipping east and west
      for (double side : {1.0, -1.0}) {
        if (step == 9 && side < 0) continue;  // the vertical one once
        g += polyline([&](double s, double& n, double& e, double& d) {
          const double t = s * 180.0 * kDegree;
          n = std::cos(t);
          e = std::sin(t) * std::cos(a) * side;
          d = std::sin(t) * std::sin(a);
        });
      }
    }
    if (step != 9) {  // small circles about the N-S line
      g += polyline([&](double s, double& n, double& e, double& d) {
        const double t = s * 180.0 * kDegree;
        n = std::cos(a);
        e = std::sin(a) * std::cos(t);
        d = std::sin(a) * std::sin(t);
      });
    }
  }
  return g + "</g>\n";
}

// A marker for axis 0, 1 or 2 at (x, y) in the picture; `counted` gives it
// the class that marks the axes of the resamples (the legend's are not).
std::string marker(int axis, double x, double y, bool counted) {
  const std::string cls =
      counted ? " class=\"axis" + std::to_string(axis + 1) + "\"" : std::string();
  switch (axis) {
    case 0:
      return "<circle" + cls + " cx=\"" + number(x) + "\" cy=\"" + number(y) + "\" r=\"3.2\"/>\n";
    case 1:
      return "<rect" + cls + " x=\"" + number(x - 2.8) + "\" y=\"" + number(y - 2.8) +
             "\" width=\"5.6\" height=\"5.6\"/>\n";
    default:
      return "<polygon" + cls + " points=\"" + number(x) + "," + number(y - 3.8) + " " +
             number(x - 3.3) + "," + number(y + 2.0) + " " + number(x + 3.3) + "," +
             number(y + 2.0) + "\"/>\n";
  }
}

std::string text(double x, double y, const std::string& s, const char* extra = "") {
  return "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\"" + extra + ">" + escape(s) +
         "</text>\n";
}

std::string histogram(const std::vector<AcceptedLine>& lines) {
  constexpr int kBins = 20;
  constexpr double kLeft = 640, kRight = 920, kBase = 540, kTall = 200;
  int count[kBins] = {};
  int outside = 0;
  for (const AcceptedLine& a : lines) {
    if (!(a.phi >= 0.0 && a.phi <= 1.0)) {
      ++outside;
      continue;
    }
    ++count[std::min(kBins - 1, static_cast<int>(a.phi * kBins))];
  }
  const int most = std::max(1, *std::max_element(count, count + kBins));
  std::string h = "<g class=\"histogram\">\n";
  const double bar = (kRight - kLeft) / kBins;
  for (int b = 0; b < kBins; ++b) {
    const double tall = kTall * count[b] / most;
    h += "<rect x=\"" + number(kLeft + b * bar) + "\" y=\"" + number(kBase - tall) +
         "\" width=\"" + number(bar - 1.0) + "\" height=\"" + number(tall) +
         "\" fill=\"#7f7f7f\"/>\n";
  }
  h += "<line x1=\"" + number(kLeft) + "\" y1=\"" + number(kBase) + "\" x2=\"" + number(kRight) +
       "\" y2=\"" + number(kBase) + "\" stroke=\"black\"/>\n";
  for (double tick : {0.0, 0.5, 1.0})
    h += text(kLeft + tick * (kRight - kLeft), kBase + 16, number(tick),
              " text-anchor=\"middle\"");
  h += text((kLeft + kRight) / 2, kBase + 34, "phi", " text-anchor=\"middle\" font-style=\"italic\"");
  h += text(kLeft - 6, kBase - kTall + 4, std::to_string(most), " text-anchor=\"end\"");
  h += text(kLeft, kBase - kTall - 14, "phi of the accepted resamples");
  if (outside > 0)
    h += text(kLeft, kBase + 52, std::to_string(outside) + " outside 0 to 1 or not a number");
  return h + "</g>\n";
}

}  // namespace

std::optional<NetPoint> project(double trend, double plunge) {
  if (!std::isfinite(trend) || !std::isfinite(plunge)) return std::nullopt;
  const double t = trend * kDegree, p = plunge * kDegree;
  double n = std::cos(p) * std::cos(t), e = std::cos(p) * std::sin(t), d = std::sin(p);
  if (d < 0.0) n = -n, e = -e, d = -d;  // the antipode
  return project_down(n, e, d);
}

std::string render_svg(const std::vector<AcceptedLine>& lines, const std::string& title) {
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(kWidth) + "\" height=\"" +
      number(kHeight) + "\" viewBox=\"0 0 " + number(kWidth) + " " + number(kHeight) +
      "\" font-family=\"sans-serif\" font-size=\"13\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += text(20, 30, title, " font-size=\"16\"");

  // The net.
  svg += graticule();
  svg += "<circle cx=\"" + number(kCentreX) + "\" cy=\"" + number(kCentreY) + "\" r=\"" +
         number(kRadius) + "\" fill=\"none\" stroke=\"black\" stroke-width=\"1.2\"/>\n";
  svg += "<path d=\"M " + number(kCentreX - 6) + " " + number(kCentreY) + " h 12 M " +
         number(kCentreX) + " " + number(kCentreY - 6) + " v 12\" stroke=\"black\"/>\n";
  svg += text(kCentreX, kCentreY - kRadius - 8, "N", " text-anchor=\"middle\" font-weight=\"bold\"");
  svg += text(kCentreX + kRadius + 8, kCentreY + 5, "E", " font-weight=\"bold\"");
  svg += text(kCentreX, kCentreY + kRadius + 20, "S", " text-anchor=\"middle\" font-weight=\"bold\"");
  svg += text(kCentreX - kRadius - 8, kCentreY + 5, "W", " text-anchor=\"end\" font-weight=\"bold\"");

  // The axes, one group per axis so that each has its own look.
  const char* looks[3] = {"fill=\"#d62728\" fill-opacity=\"0.55\"",
                          "fill=\"#2ca02c\" fill-opacity=\"0.55\"",
                          "fill=\"#1f77b4\" fill-opacity=\"0.55\""};
  int left_out = 0;
  for (int k = 0; k < 3; ++k) {
    svg += "<g " + std::string(looks[k]) + ">\n";
    for (const AcceptedLine& a : lines) {
      if (const auto p = project(a.trend[k], a.plunge[k]))
        svg += marker(k, svg_x(*p), svg_y(*p), true);
      else
        ++left_out;
    }
    svg += "</g>\n";
  }

  // The legend.
  const double lx = 640, ly = 70;
  const char* names[3] = {"axis 1", "axis 2", "axis 3"};
  for (int k = 0; k < 3; ++k) {
    svg += "<g " + std::string(looks[k]) + ">" + marker(k, lx, ly + 22.0 * k, false) + "</g>\n";
    svg += text(lx + 12, ly + 22.0 * k + 5, names[k]);
  }
  svg += text(lx - 4, ly + 74, std::to_string(lines.size()) + " accepted resamples");
  svg += text(lx - 4, ly + 94, "lower hemisphere, equal area");
  if (left_out > 0)
    svg += text(lx - 4, ly + 114, std::to_string(left_out) + " axes not drawn (not a number)");

  svg += histogram(lines);
  return svg + "</svg>\n";
}

}  // namespace tilvex::plot
