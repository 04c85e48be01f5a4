#include "map.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "formats/accepted.hpp"
#include "numeric/angles.hpp"
#include "svg.hpp"
#include "text/error.hpp"

namespace tilvex::plot {
namespace {

// "#rrggbb" of the colour a fraction f of the way from a to b.
std::string between(const int (&a)[3], const int (&b)[3], double f) {
  char buf[8];
  int c[3];
  for (int k = 0; k < 3; ++k) c[k] = static_cast<int>(std::lround(a[k] + f * (b[k] - a[k])));
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c[0], c[1], c[2]);
  return buf;
}

}  // namespace

std::string phi_colour(double phi) {
  if (!(phi >= 0.0 && phi <= 1.0)) return "#999999";
  static const int anchors[6][3] = {{0x00, 0x20, 0x4c}, {0x31, 0x44, 0x6b}, {0x66, 0x68, 0x70},
                                    {0x95, 0x8f, 0x78}, {0xcb, 0xba, 0x69}, {0xff, 0xea, 0x46}};
  const double at = phi * 5.0;
  const int i = std::min(4, static_cast<int>(at));
  return between(anchors[i], anchors[i + 1], at - i);
}

std::string aphi_colour(double aphi) {
  if (!(aphi >= 0.0 && aphi <= 3.0)) return "#999999";
  // Pale and deep tint of each third (ColorBrewer's Reds, Greens, Blues).
  static const int ends[3][2][3] = {{{0xfc, 0xbb, 0xa1}, {0xcb, 0x18, 0x1d}},
                                    {{0xc7, 0xe9, 0xc0}, {0x23, 0x8b, 0x45}},
                                    {{0xc6, 0xdb, 0xef}, {0x21, 0x71, 0xb5}}};
  const int third = std::min(2, static_cast<int>(aphi));
  return between(ends[third][0], ends[third][1], aphi - third);
}

namespace {
int regime_index(std::string_view code) {
  for (std::size_t k = 0; k < kRegimes.size(); ++k)
    if (code == kRegimes[k].code) return static_cast<int>(k);
  return -1;
}
}  // namespace

std::string regime_colour(std::string_view code) {
  const int k = regime_index(code);
  return k < 0 ? std::string() : kRegimes[static_cast<std::size_t>(k)].colour;
}

std::size_t rows_without_stress(const std::vector<formats::TableRow>& rows) {
  return static_cast<std::size_t>(
      std::count_if(rows.begin(), rows.end(), [](const formats::TableRow& r) { return r.ok() && r.regime.empty(); }));
}

namespace {

using svg::document_start;
using svg::number;
using svg::text;
using svg::characters;
using svg::shortened;
using svg::text_width;
using svg::upward_text;

constexpr double kMargin = 20, kTop = 70, kMaxWide = 640, kMaxTall = 560, kMaxCell = 160;
constexpr double kFont = 13, kTitleFont = 16;

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
  // The labels drawn: every `step`-th index from the first.
  std::vector<int> labels(std::int64_t step) const {
    std::vector<int> v;
    for (std::int64_t c = 0; c < columns; c += step) v.push_back(index(c));
    return v;
  }
};

std::vector<int> indices(const std::vector<formats::TableRow>& rows, int Grid::*which) {
  std::vector<int> v;
  for (const formats::TableRow& row : rows) v.push_back(row.grid.*which);
  if (rows.empty()) v.push_back(0);
  return v;
}

// Where the points of a slice go: a column per index of each axis, square
// cells, north up; and where the frame's labels and titles go.
struct Layout {
  Axis ax, ay;
  double cell, width, height;  // px: a cell, the frame
  std::vector<int> x_labels, y_labels;
  std::string x_title, y_title;
  double left = 0;              // the frame's left edge
  double y_title_x = 0, y_title_y = 0, x_title_x = 0;
  double right = 0, bottom = 0;  // of the frame with its labels and titles

  explicit Layout(const std::vector<formats::TableRow>& rows)
      : ax(indices(rows, &Grid::x)), ay(indices(rows, &Grid::y)),
        cell(std::min({kMaxWide / static_cast<double>(ax.columns), kMaxTall / static_cast<double>(ay.columns),
                       kMaxCell})),
        width(static_cast<double>(ax.columns) * cell), height(static_cast<double>(ay.columns) * cell) {
    std::size_t widest = 1;
    for (int x : {ax.occur.front(), ax.occur.back()}) widest = std::max(widest, std::to_string(x).size());
    x_labels = ax.labels(Axis::label_step(7.0 * static_cast<double>(widest) + 8.0, cell));
    y_labels = ay.labels(Axis::label_step(16.0, cell));
    x_title = ax.unit ? "xgrid (east)" : "xgrid (east; indices that occur)";
    y_title = ay.unit ? "ygrid (north)" : "ygrid (north; indices that occur)";
    // Across, from the margin: the y title (rotated, its glyphs 10 px left
    // and 3 px right of its baseline), 8 px, the y labels (anchored at
    // their end), 8 px, the frame; and the first x label, centred under
    // its column, within the margin.
    double y_label = 0;
    for (int y : y_labels) y_label = std::max(y_label, text_width(std::to_string(y)));
    y_title_x = kMargin + 10;
    const double first_x = text_width(std::to_string(x_labels.front()));
    left = std::ceil(std::max(y_title_x + 3 + 8 + y_label + 8, kMargin + first_x / 2 - cell / 2));
    // Down: the y title centred beside the frame, but never above its top.
    const double y_title_length = text_width(y_title);
    y_title_y = std::max(kTop + height / 2, kTop + y_title_length / 2);
    // The x title centred under the frame, but within the margin.
    const double x_title_length = text_width(x_title);
    x_title_x = std::max(left + width / 2, kMargin + x_title_length / 2);
    right = std::max(left + width, x_title_x + x_title_length / 2);
    const double last_x = text_width(std::to_string(x_labels.back()));
    right = std::max(right, px(x_labels.back()) + last_x / 2);
    bottom = std::max(kTop + height + 38 + 4, y_title_y + y_title_length / 2);
  }
  double px(int x) const { return left + (static_cast<double>(ax.column(x)) + 0.5) * cell; }
  double py(int y) const { return kTop + (static_cast<double>(ay.columns - 1 - ay.column(y)) + 0.5) * cell; }
};

// The point at `degrees` clockwise from north (up), `radius` px from (cx, cy).
std::string at(double cx, double cy, double degrees, double radius) {
  const double t = degrees * kRadiansPerDegree;
  return number(cx + radius * std::sin(t)) + " " + number(cy - radius * std::cos(t));
}

// A grey cross from corner to corner of the box; `cls` its class, if any.
std::string cross(double left, double top, double right, double bottom, const std::string& cls) {
  return "<path" + (cls.empty() ? std::string() : " class=\"" + cls + "\"") + " d=\"M" + number(left) + " " +
         number(top) + "L" + number(right) + " " + number(bottom) + "M" + number(left) + " " + number(bottom) +
         "L" + number(right) + " " + number(top) + "\" stroke=\"" + kCrossGrey + "\" stroke-width=\"2\"/>\n";
}

// A bar through (cx, cy) along the axis of azimuth `degrees`, `half` px each
// way.
std::string bar(const std::string& cls, double cx, double cy, double degrees, double half, const std::string& colour,
                double stroke) {
  return "<path class=\"" + cls + "\" d=\"M" + at(cx, cy, degrees + 180.0, half) + "L" + at(cx, cy, degrees, half) +
         "\" stroke=\"" + colour + "\" stroke-width=\"" + number(stroke) + "\" stroke-linecap=\"round\"/>\n";
}

// The axes from `low` clockwise through `width` degrees (0 < width < 180)
// as two sectors of radius r about (cx, cy), one at each end of the axes.
std::string wedges(double cx, double cy, double low, double width, double r, const std::string& colour) {
  std::string svg;
  for (double flip : {0.0, 180.0})
    svg += "<path class=\"wedge\" d=\"M" + number(cx) + " " + number(cy) + "L" + at(cx, cy, low + flip, r) + "A" +
           number(r) + " " + number(r) + " 0 0 1 " + at(cx, cy, low + flip + width, r) + "Z\" fill=\"" + colour +
           "\" fill-opacity=\"0.35\"/>\n";
  return svg;
}

std::string circle(const std::string& cls, double cx, double cy, double r, const std::string& fill,
                   const std::string& rest = "") {
  return "<circle class=\"" + cls + "\" cx=\"" + number(cx) + "\" cy=\"" + number(cy) + "\" r=\"" + number(r) +
         "\" fill=\"" + fill + "\"" + rest + "/>\n";
}

// What a point shows, for the key: each kind once.
struct Shown {
  bool regime[kRegimes.size()] = {};
  bool isotropic = false, no_stress = false, no_regime = false, failed = false;
};

// One point at (cx, cy) in cells of `cell` px.
std::string point(const formats::TableRow& row, const MapStyle& style, double cx, double cy, double cell,
                  Shown& shown) {
  if (!row.ok()) {
    shown.failed = true;
    const double d = 0.25 * cell;
    return cross(cx - d, cy - d, cx + d, cy + d, "failed");
  }
  const int k = regime_index(row.regime);
  if (k < 0 && !row.regime.empty())
    throw Error("grid point " + formats::grid_text(row.grid) + " has regime '" + row.regime +
                "', none of NF, NS, SS, TS, TF, U");
  if (k >= 0) shown.regime[k] = true;
  const std::string colour = k >= 0 ? kRegimes[static_cast<std::size_t>(k)].colour : kNoRegime;
  const double r = 0.42 * cell, stroke = std::max(2.0, cell / 12);
  std::string svg;
  if (style.bars == MapBars::axis1) {
    if (k < 0) shown.no_regime = true;
    // The horizontal projection of the axis: cos(plunge) of its length.
    const double trend = row.value(1, 0), low = row.value(1, 1), high = row.value(1, 2);
    const double half = r * std::fabs(std::cos(row.value(2, 0) * kRadiansPerDegree));
    // The trend range is of a direction, unfolded (low <= trend <= high);
    // as an axis it takes every azimuth once 180 degrees wide.
    if (std::isfinite(low) && std::isfinite(high) && std::isfinite(half) && high > low) {
      if (high - low >= 180.0)
        svg += circle("wedge", cx, cy, half, colour, " fill-opacity=\"0.35\"");
      else
        svg += wedges(cx, cy, low, high - low, half, colour);
    }
    if (std::isfinite(trend) && std::isfinite(half)) svg += bar("bar", cx, cy, trend, half, colour, stroke);
    return svg;
  }
  if (k < 0) {  // a table without the stress columns
    shown.no_stress = true;
    return circle("no-stress", cx, cy, std::max(1.5, 0.08 * cell), kNoRegime);
  }
  const double azimuth = row.shmax[0], low = row.shmax[1], high = row.shmax[2];
  if (!std::isfinite(azimuth)) {  // horizontal stress isotropic
    shown.isotropic = true;
    return circle("isotropic", cx, cy, 0.25 * cell, "none",
                  " stroke=\"" + colour + "\" stroke-width=\"" + number(std::max(1.5, cell / 20)) + "\"");
  }
  // low and high are in [0, 180), the range clockwise from low to high:
  // across north low is the greater.
  if (std::isfinite(low) && std::isfinite(high) && low != high)
    svg += wedges(cx, cy, low, high > low ? high - low : high - low + 180.0, r, colour);
  return svg + bar("bar", cx, cy, azimuth, r, colour, stroke);
}

// A gradient stop's offset (0 to 1), to four decimals.
std::string offset(double f) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.4f", f);
  return buf;
}

// The key, from (x, y) down: the regimes and symbols shown, the field's
// colour bar, how the indices are laid out (`unit`: unit steps on both
// axes). Its width and height in px.
struct Key {
  std::string svg;
  double width = 0, height = 0;
};

Key key(double x, double y0, const Shown& shown, const MapStyle& style, bool unit) {
  Key k;
  double y = y0 + 12;
  const auto line = [&](const std::string& s, double indent = 28, const std::string& extra = " class=\"key\"") {
    k.svg += text(x + indent, y, s, extra);
    k.width = std::max(k.width, indent + text_width(s));
    y += 20;
  };
  if (std::find(std::begin(shown.regime), std::end(shown.regime), true) != std::end(shown.regime) || shown.no_regime)
    line("regime", 0, " class=\"key\" font-style=\"italic\"");
  for (std::size_t i = 0; i < kRegimes.size(); ++i) {
    if (!shown.regime[i]) continue;
    k.svg += "<path class=\"key-bar\" d=\"M" + number(x + 2) + " " + number(y - 4) + "L" + number(x + 20) + " " +
             number(y - 4) + "\" stroke=\"" + kRegimes[i].colour + "\" stroke-width=\"4\" stroke-linecap=\"round\"/>\n";
    line(std::string(kRegimes[i].code) + " " + kRegimes[i].name);
  }
  if (shown.no_regime) {
    k.svg += "<path d=\"M" + number(x + 2) + " " + number(y - 4) + "L" + number(x + 20) + " " + number(y - 4) +
             "\" stroke=\"" + kNoRegime + "\" stroke-width=\"4\" stroke-linecap=\"round\"/>\n";
    line("regime not in the table");
  }
  if (shown.isotropic) {
    k.svg += "<circle cx=\"" + number(x + 11) + "\" cy=\"" + number(y - 4) +
             "\" r=\"6.0\" fill=\"none\" stroke=\"black\" stroke-width=\"1.5\"/>\n";
    line("no SHmax: horizontal stress isotropic");
  }
  if (shown.no_stress) {
    k.svg += "<circle cx=\"" + number(x + 11) + "\" cy=\"" + number(y - 4) + "\" r=\"3.0\" fill=\"" + kNoRegime +
             "\"/>\n";
    line("no stress columns in the table");
  }
  if (shown.failed) {
    k.svg += cross(x + 7, y - 8, x + 15, y, "");
    line("failed point");
  }
  if (style.field != MapField::none) {
    const bool aphi = style.field == MapField::aphi;
    y += 8;
    line(aphi ? "A-phi (cells)" : "phi (cells)", 0, " class=\"key\" font-style=\"italic\"");
    const double bh = 150, by = y - 8;
    k.svg += "<defs><linearGradient id=\"field\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">";
    if (aphi) {  // hard steps at 1 and 2: the thirds
      for (int third = 0; third < 3; ++third)
        for (int end = 0; end < 2; ++end) {
          const double v = third + end * 1.0;
          k.svg += "<stop offset=\"" + offset(v / 3.0) + "\" stop-color=\"" +
                   aphi_colour(end == 1 ? v - 1e-9 : v) + "\"/>";
        }
    } else {
      for (int i = 0; i <= 10; ++i)
        k.svg += "<stop offset=\"" + offset(i / 10.0) + "\" stop-color=\"" + phi_colour(i / 10.0) + "\"/>";
    }
    k.svg += "</linearGradient></defs>\n";
    k.svg += "<rect class=\"colour-bar\" x=\"" + number(x) + "\" y=\"" + number(by) + "\" width=\"24\" height=\"" +
             number(bh) + "\" fill=\"url(#field)\" fill-opacity=\"0.5\" stroke=\"black\"/>\n";
    const std::vector<std::pair<double, std::string>> ticks =
        aphi ? std::vector<std::pair<double, std::string>>{{0, "0"}, {1, "1"}, {2, "2"}, {3, "3"}}
             : std::vector<std::pair<double, std::string>>{{0, "0"}, {0.25, "0.25"}, {0.5, "0.5"}, {0.75, "0.75"},
                                                           {1, "1"}};
    const double top = aphi ? 3.0 : 1.0;
    for (const auto& [v, s] : ticks) {
      k.svg += text(x + 30, by + bh * (1.0 - v / top) + 4, s);
      k.width = std::max(k.width, 30 + text_width(s));
    }
    if (aphi) {
      const char* thirds[3] = {"normal", "strike-slip", "thrust"};
      for (int i = 0; i < 3; ++i) {
        k.svg += text(x + 64, by + bh * (1.0 - (i + 0.5) / 3.0) + 4, thirds[i], " class=\"key\"");
        k.width = std::max(k.width, 64 + text_width(thirds[i]));
      }
    }
    y = by + bh + 28;
  }
  y += 8;
  const std::string note = " class=\"note\"";
  line("north is up; grid indices are labels,", 0, note);
  if (unit) {
    line("x to the east, y to the north, unit steps", 0, note);
  } else {
    line("x to the east, y to the north;", 0, note);
    line("indices that occur: evenly spaced", 0, note);
  }
  k.height = y - 20 + 4 - y0;  // to the last line's descent
  return k;
}

// The frame, with the grid indices as labels: x to the east, y to the
// north, as Layout places them.
std::string frame(const Layout& m) {
  std::string svg = "<rect class=\"frame\" x=\"" + number(m.left) + "\" y=\"" + number(kTop) + "\" width=\"" +
                    number(m.width) + "\" height=\"" + number(m.height) + "\" fill=\"none\" stroke=\"#bbbbbb\"/>\n";
  for (int x : m.x_labels)
    svg += text(m.px(x), kTop + m.height + 18, std::to_string(x), " class=\"xlabel\" text-anchor=\"middle\"");
  for (int y : m.y_labels)
    svg += text(m.left - 8, m.py(y) + 4, std::to_string(y), " class=\"ylabel\" text-anchor=\"end\"");
  svg += text(m.x_title_x, kTop + m.height + 38, m.x_title, " text-anchor=\"middle\"");
  svg += upward_text(m.y_title_x, m.y_title_y, m.y_title, " text-anchor=\"middle\"");
  return svg;
}

}  // namespace

std::string render_map(const std::vector<formats::TableRow>& rows, const std::string& title,
                       const MapStyle& style) {
  const Layout m(rows);
  std::string cells, points;
  if (style.field != MapField::none) {
    for (const formats::TableRow& row : rows) {
      const double v = style.field == MapField::aphi ? row.aphi[0] : row.value(0, 0);
      if (!row.ok() || !std::isfinite(v)) continue;
      const double cx = m.px(row.grid.x), cy = m.py(row.grid.y);
      cells += "<rect class=\"cell\" x=\"" + number(cx - m.cell / 2) + "\" y=\"" + number(cy - m.cell / 2) +
               "\" width=\"" + number(m.cell) + "\" height=\"" + number(m.cell) + "\" fill=\"" +
               (style.field == MapField::aphi ? aphi_colour(v) : phi_colour(v)) + "\"/>\n";
    }
  }
  Shown shown;
  // Each point in a group of its own that names it (data-grid "X Y Z T")
  // and its place and half cell (data-cx, data-cy, data-r): a page can find
  // the point a click falls near; the group draws nothing itself.
  for (const formats::TableRow& row : rows) {
    const double cx = m.px(row.grid.x), cy = m.py(row.grid.y);
    points += "<g class=\"point\" data-grid=\"" + formats::grid_text(row.grid) + "\" data-cx=\"" + number(cx) +
              "\" data-cy=\"" + number(cy) + "\" data-r=\"" + number(m.cell / 2) + "\">" +
              point(row, style, cx, cy, m.cell, shown) + "</g>\n";
  }
  const Key k = key(m.right + 30, kTop, shown, style, m.ax.unit && m.ay.unit);

  const std::string axis = style.sigma_names ? "\u03c3\u2081" : "axis 1";  // σ₁
  std::string subtitle = style.bars == MapBars::shmax
                             ? "SHmax (bar) and its confidence range (wedge), coloured by regime"
                             : "horizontal projection of " + axis + " (bar) and its trend range (wedge), coloured by regime";
  if (style.field != MapField::none)
    subtitle += style.field == MapField::aphi ? "; cells shaded by A-phi" : "; cells shaded by phi";
  const std::string heading = shortened(title);
  const double width = std::ceil(std::max({m.right + 30 + k.width, kMargin + text_width(heading, kTitleFont),
                                           kMargin + text_width(subtitle)}) +
                                 kMargin);
  const double height = std::ceil(std::max(m.bottom, kTop + k.height) + kMargin);

  std::string svg = document_start(width, height);
  svg += text(kMargin, 28, heading, " font-size=\"16\"");
  svg += text(kMargin, 48, subtitle);
  if (!cells.empty()) svg += "<g fill-opacity=\"0.5\">\n" + cells + "</g>\n";
  svg += frame(m) + points + k.svg;
  return svg + "</svg>\n";
}

}  // namespace tilvex::plot
