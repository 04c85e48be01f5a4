#include "map.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "numeric/angles.hpp"
#include "svg.hpp"

namespace tilvex::plot {

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

namespace {

using svg::document_start;
using svg::number;
using svg::text;
using svg::upward_text;

// One axis of the map: the indices that occur, and their columns.
struct Axis {
  std::vector<int> occur;  // sorted, distinct
  bool unit = true;        // a column per index of the span, else per index that occurs
  std::int64_t columns = 1;

  explicit Axis(std::vector<int> v) : occur(std::move(v)) {
    std::sort(occur.begin(), occur.end());
    occur.erase(std::unique(occur.begin(), occur.end()), occur.end());
    const auto count = static_cast<std::int64_t>(occur.size());
    const std::int64_t span = std::int64_t{occur.back()} - occur.front() + 1;  // up to 2^32
    unit = span <= 2 * count;
    columns = unit ? span : count;
  }
  std::int64_t column(int v) const {
    if (unit) return std::int64_t{v} - occur.front();
    return std::lower_bound(occur.begin(), occur.end(), v) - occur.begin();
  }
  int index(std::int64_t column) const {
    return unit ? static_cast<int>(occur.front() + column) : occur[static_cast<std::size_t>(column)];
  }
  // Every how many columns a label goes, for labels at least `apart` px
  // apart in cells of `cell` px.
  static std::int64_t label_step(double apart, double cell) {
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(apart / cell)));
  }
};

constexpr double kWidth = 960, kHeight = 640, kLeft = 70, kTop = 70, kPlot = 520;

// Where the points of a slice go: a column per index of each axis, square
// cells, north up.
struct Layout {
  Axis ax, ay;
  double cell, width, height;  // px

  static std::vector<int> indices(const std::vector<formats::TableRow>& rows, int Grid::*which) {
    std::vector<int> v;
    for (const formats::TableRow& row : rows) v.push_back(row.grid.*which);
    if (rows.empty()) v.push_back(0);
    return v;
  }
  explicit Layout(const std::vector<formats::TableRow>& rows)
      : ax(indices(rows, &Grid::x)), ay(indices(rows, &Grid::y)),
        cell(kPlot / static_cast<double>(std::max(ax.columns, ay.columns))),
        width(static_cast<double>(ax.columns) * cell), height(static_cast<double>(ay.columns) * cell) {}
  double px(int x) const { return kLeft + (static_cast<double>(ax.column(x)) + 0.5) * cell; }
  double py(int y) const { return kTop + (static_cast<double>(ay.columns - 1 - ay.column(y)) + 0.5) * cell; }
};

// A grey cross from corner to corner of the box; `cls` its class, if any.
std::string cross(double left, double top, double right, double bottom, const std::string& cls) {
  return "<path" + (cls.empty() ? std::string() : " class=\"" + cls + "\"") + " d=\"M" + number(left) + " " +
         number(top) + "L" + number(right) + " " + number(bottom) + "M" + number(left) + " " + number(bottom) +
         "L" + number(right) + " " + number(top) + "\" stroke=\"#777777\" stroke-width=\"2\"/>\n";
}

// The frame, with the grid indices as labels: x to the east, y to the
// north; as many labels as fit apart (about 7 px a character across, 16
// px down).
std::string frame(const Layout& m) {
  std::string svg = "<rect x=\"" + number(kLeft) + "\" y=\"" + number(kTop) + "\" width=\"" + number(m.width) +
                    "\" height=\"" + number(m.height) + "\" fill=\"none\" stroke=\"#bbbbbb\"/>\n";
  std::size_t widest = 1;
  for (int x : {m.ax.occur.front(), m.ax.occur.back()}) widest = std::max(widest, std::to_string(x).size());
  const std::int64_t x_step = Axis::label_step(7.0 * static_cast<double>(widest) + 8.0, m.cell);
  const std::int64_t y_step = Axis::label_step(16.0, m.cell);
  for (std::int64_t c = 0; c < m.ax.columns; c += x_step) {
    const int x = m.ax.index(c);
    svg += text(m.px(x), kTop + m.height + 18, std::to_string(x), " class=\"xlabel\" text-anchor=\"middle\"");
  }
  for (std::int64_t c = 0; c < m.ay.columns; c += y_step) {
    const int y = m.ay.index(c);
    svg += text(kLeft - 8, m.py(y) + 4, std::to_string(y), " class=\"ylabel\" text-anchor=\"end\"");
  }
  svg += text(kLeft + m.width / 2, kTop + m.height + 38,
              m.ax.unit ? "xgrid (east)" : "xgrid (east; indices that occur)", " text-anchor=\"middle\"");
  svg += upward_text(kLeft - 40, kTop + m.height / 2,
                     m.ay.unit ? "ygrid (north)" : "ygrid (north; indices that occur)", " text-anchor=\"middle\"");
  return svg;
}

// One point of radius r px at (cx, cy): axis 1's confidence range as a
// wedge at both ends of the axis (a disc for a range of 360 degrees or
// more), its trend as a bar, in the colour of phi; a failed point a cross.
std::string point(const formats::TableRow& row, double cx, double cy, double r, double cell) {
  if (!row.ok()) {
    const double d = 0.25 * cell;
    return cross(cx - d, cy - d, cx + d, cy + d, "failed");
  }
  std::string svg;
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
  return svg;
}

// The key on the right: the colour bar of phi, the failed point's cross,
// and how the indices are laid out (`unit`: unit steps on both axes).
std::string key(bool unit) {
  const double bx = 700, by = kTop + 20, bh = 300;
  std::string svg = "<defs><linearGradient id=\"phi\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">";
  for (int k = 0; k <= 10; ++k)
    svg += "<stop offset=\"" + number(k / 10.0) + "\" stop-color=\"" + phi_colour(k / 10.0) + "\"/>";
  svg += "</linearGradient></defs>\n";
  svg += "<rect class=\"colour-bar\" x=\"" + number(bx) + "\" y=\"" + number(by) + "\" width=\"24\" height=\"" +
         number(bh) + "\" fill=\"url(#phi)\" stroke=\"black\"/>\n";
  for (const char* v : {"0", "0.25", "0.5", "0.75", "1"})
    svg += text(bx + 32, by + bh * (1.0 - std::atof(v)) + 4, v);
  svg += text(bx, by - 10, "phi", " font-style=\"italic\"");
  svg += cross(bx + 8, by + bh + 40, bx + 16, by + bh + 48, "");
  svg += text(bx + 28, by + bh + 49, "failed point");
  svg += text(bx, by + bh + 74, "north is up; grid indices are labels,");
  if (unit) {
    svg += text(bx, by + bh + 92, "x to the east, y to the north, unit steps");
  } else {
    svg += text(bx, by + bh + 92, "x to the east, y to the north;");
    svg += text(bx, by + bh + 110, "indices that occur: evenly spaced");
  }
  return svg;
}

}  // namespace

std::string render_map(const std::vector<formats::TableRow>& rows, const std::string& title,
                       bool sigma_names) {
  const Layout m(rows);
  std::string svg = document_start(kWidth, kHeight);
  svg += text(20, 28, title, " font-size=\"16\"");
  const std::string axis = sigma_names ? "sigma 1" : "axis 1";
  svg += text(20, 48, "trend of " + axis + " (bar) and its confidence range (wedge), coloured by phi");
  svg += frame(m);
  for (const formats::TableRow& row : rows)
    svg += point(row, m.px(row.grid.x), m.py(row.grid.y), 0.42 * m.cell, m.cell);
  svg += key(m.ax.unit && m.ay.unit);
  return svg + "</svg>\n";
}

}  // namespace tilvex::plot
