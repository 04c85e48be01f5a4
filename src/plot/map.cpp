#include "map.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "numeric/angles.hpp"

namespace tilvex::plot {

namespace {

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

std::string escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
  }
  return out;
}

std::string text(double x, double y, const std::string& s, const std::string& extra = "") {
  return "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\"" + extra + ">" + escape(s) + "</text>\n";
}

}  // namespace

std::string phi_colour(double phi) {
  if (!(phi >= 0.0 && phi <= 1.0)) return "#999999";
  static const int anchors[6][3] = {{0x00, 0x20, 0x4c}, {0x31, 0x44, 0x6b}, {0x66, 0x68, 0x70},
                                    {0x95, 0x8f, 0x78}, {0xcb, 0xba, 0x69}, {0xff, 0xea, 0x46}};
  const double at = phi * 5.0;
  const int i = std::min(4, static_cast<int>(at));
  const double f = at - i;
  char buf[8];
  int c[3];
  for (int k = 0; k < 3; ++k)
    c[k] = static_cast<int>(std::lround(anchors[i][k] + f * (anchors[i + 1][k] - anchors[i][k])));
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c[0], c[1], c[2]);
  return buf;
}

std::string render_map(const std::vector<grid::TableRow>& rows, const std::string& title,
                       bool sigma_names) {
  constexpr double kWidth = 960, kHeight = 640, kLeft = 70, kTop = 70, kPlot = 520;
  int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Grid& g = rows[i].grid;
    if (i == 0) x0 = x1 = g.x, y0 = y1 = g.y;
    x0 = std::min(x0, g.x), x1 = std::max(x1, g.x), y0 = std::min(y0, g.y), y1 = std::max(y1, g.y);
  }
  const double cell = kPlot / std::max(x1 - x0 + 1, y1 - y0 + 1);
  const auto px = [&](int x) { return kLeft + (x - x0 + 0.5) * cell; };
  const auto py = [&](int y) { return kTop + (y1 - y + 0.5) * cell; };  // north up

  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
      number(kWidth) + "\" height=\"" + number(kHeight) + "\" viewBox=\"0 0 " + number(kWidth) + " " +
      number(kHeight) + "\" font-family=\"sans-serif\" font-size=\"13\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += text(20, 28, title, " font-size=\"16\"");
  const std::string axis = sigma_names ? "sigma 1" : "axis 1";
  svg += text(20, 48, "trend of " + axis + " (bar) and its confidence range (wedge), coloured by phi");

  // The frame, with the grid indices as labels: x to the east, y to the north.
  svg += "<rect x=\"" + number(kLeft) + "\" y=\"" + number(kTop) + "\" width=\"" + number((x1 - x0 + 1) * cell) +
         "\" height=\"" + number((y1 - y0 + 1) * cell) + "\" fill=\"none\" stroke=\"#bbbbbb\"/>\n";
  for (int x = x0; x <= x1; ++x)
    svg += text(px(x), kTop + (y1 - y0 + 1) * cell + 18, std::to_string(x), " text-anchor=\"middle\"");
  for (int y = y0; y <= y1; ++y) svg += text(kLeft - 8, py(y) + 4, std::to_string(y), " text-anchor=\"end\"");
  svg += text(kLeft + (x1 - x0 + 1) * cell / 2, kTop + (y1 - y0 + 1) * cell + 38, "xgrid (east)",
              " text-anchor=\"middle\"");
  svg += text(kLeft - 40, kTop + (y1 - y0 + 1) * cell / 2, "ygrid (north)",
              " text-anchor=\"middle\" transform=\"rotate(-90 " + number(kLeft - 40) + " " +
                  number(kTop + (y1 - y0 + 1) * cell / 2) + ")\"");

  const double r = 0.42 * cell;
  for (const grid::TableRow& row : rows) {
    const double cx = px(row.grid.x), cy = py(row.grid.y);
    if (!row.ok()) {  // a failed point: a grey cross
      const double d = 0.25 * cell;
      svg += "<path class=\"failed\" d=\"M" + number(cx - d) + " " + number(cy - d) + "L" + number(cx + d) + " " +
             number(cy + d) + "M" + number(cx - d) + " " + number(cy + d) + "L" + number(cx + d) + " " +
             number(cy - d) + "\" stroke=\"#777777\" stroke-width=\"2\"/>\n";
      continue;
    }
    const std::string colour = phi_colour(row.value(0, 0));
    const double trend = row.value(1, 0), low = row.value(1, 1), high = row.value(1, 2);
    const auto at = [&](double degrees, double radius) {
      const double t = degrees * kRadiansPerDegree;
      return number(cx + radius * std::sin(t)) + " " + number(cy - radius * std::cos(t));
    };
    if (std::isfinite(low) && std::isfinite(high) && high > low) {
      if (high - low >= 360.0) {
        svg += "<circle class=\"wedge\" cx=\"" + number(cx) + "\" cy=\"" + number(cy) + "\" r=\"" + number(r) +
               "\" fill=\"" + colour + "\" fill-opacity=\"0.35\"/>\n";
      } else {  // both ends of the axis: the range and its opposite
        for (double flip : {0.0, 180.0})
          svg += "<path class=\"wedge\" d=\"M" + number(cx) + " " + number(cy) + "L" + at(low + flip, r) + "A" +
                 number(r) + " " + number(r) + " 0 " + (high - low > 180.0 ? "1" : "0") + " 1 " +
                 at(high + flip, r) + "Z\" fill=\"" + colour + "\" fill-opacity=\"0.35\"/>\n";
      }
    }
    if (std::isfinite(trend))
      svg += "<path class=\"bar\" d=\"M" + at(trend + 180.0, r) + "L" + at(trend, r) + "\" stroke=\"" + colour +
             "\" stroke-width=\"" + number(std::max(2.0, cell / 12)) + "\" stroke-linecap=\"round\"/>\n";
  }

  // The colour bar.
  const double bx = 700, by = kTop + 20, bh = 300;
  svg += "<defs><linearGradient id=\"phi\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">";
  for (int k = 0; k <= 10; ++k)
    svg += "<stop offset=\"" + number(k / 10.0) + "\" stop-color=\"" + phi_colour(k / 10.0) + "\"/>";
  svg += "</linearGradient></defs>\n";
  svg += "<rect class=\"colour-bar\" x=\"" + number(bx) + "\" y=\"" + number(by) + "\" width=\"24\" height=\"" +
         number(bh) + "\" fill=\"url(#phi)\" stroke=\"black\"/>\n";
  for (const char* v : {"0", "0.25", "0.5", "0.75", "1"})
    svg += text(bx + 32, by + bh * (1.0 - std::atof(v)) + 4, v);
  svg += text(bx, by - 10, "phi", " font-style=\"italic\"");
  svg += "<path d=\"M" + number(bx + 8) + " " + number(by + bh + 40) + "L" + number(bx + 16) + " " +
         number(by + bh + 48) + "M" + number(bx + 8) + " " + number(by + bh + 48) + "L" + number(bx + 16) + " " +
         number(by + bh + 40) + "\" stroke=\"#777777\" stroke-width=\"2\"/>\n";
  svg += text(bx + 28, by + bh + 49, "failed point");
  svg += text(bx, by + bh + 74, "north is up; grid indices are labels,");
  svg += text(bx, by + bh + 92, "x to the east, y to the north, unit steps");
  return svg + "</svg>\n";
}

}  // namespace tilvex::plot
