// The map of a grid's slice, read back from its SVG: where each point's
// bar, wedge and symbol are, their colours, the shading, the key, and that
// the canvas fits what is drawn.

#include "plot/map.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "svg_reading.hpp"
#include "text/error.hpp"

namespace tilvex::test {
namespace {

using plot::MapBars;
using plot::MapField;
using plot::MapStyle;
using plot::render_map;

// A point of a table of 39 columns; its values as the table writes them.
struct Point {
  long long x = 0, y = 0;
  std::string regime = "NF", shmax = "30", low = "20", high = "40";
  std::string tr1 = "30", tr1_low = "20", tr1_high = "40", pl1 = "10";
  std::string phi = "0.5", aphi = "0.5";
  enum Kind { ok, failed, older } kind = ok;  // older: a row of 31 columns
};

std::string line_of(const Point& p) {
  std::string row = "p.vrin\t" + std::to_string(p.x) + "\t" + std::to_string(p.y) + "\t0\t0\t";
  if (p.kind == Point::failed) {
    row += "unable to open p.vrin";
    for (int k = 0; k < 32; ++k) row += "\tnan";
    return row + "\t\n";
  }
  row += "ok\t100\t95\t0.9\t" + p.phi + "\t0.4\t0.6\t" + p.tr1 + "\t" + p.tr1_low + "\t" + p.tr1_high + "\t" + p.pl1;
  for (const char* v : {"5", "15", "120", "110", "130", "20", "10", "30", "250", "240", "260", "60", "50", "70"})
    row += std::string("\t") + v;
  if (p.kind == Point::ok)
    row += "\t" + p.shmax + "\t" + p.low + "\t" + p.high + "\t" + p.regime + "\t0.9\t" + p.aphi + "\t0.1\t2.9";
  return row + "\t\n";
}

std::vector<formats::TableRow> rows_of(const std::vector<Point>& points) {
  std::string text;
  for (const Point& p : points) text += line_of(p);
  return formats::read_table(text, "t.tsv");
}

// The frame: left, top, width, height.
std::vector<double> frame_of(const std::string& svg) {
  std::vector<double> f;
  for (const char* a : {"x", "y", "width", "height"}) f.push_back(numbers_of(svg, "frame", a).at(0).at(0));
  return f;
}

// The azimuth (clockwise from up) of (x, y) seen from (cx, cy), in [0, 360).
double azimuth(double cx, double cy, double x, double y) {
  const double a = std::atan2(x - cx, cy - y) * 180.0 / M_PI;
  return a < 0 ? a + 360.0 : a;
}

// The difference of two azimuths, modulo `period`, in [0, period / 2].
double apart(double a, double b, double period = 360.0) {
  const double d = std::fmod(std::fabs(a - b), period);
  return std::min(d, period - d);
}

const char* const kNF = "#e41a1c";
const char* const kSS = "#2ca02c";

// SHmax as a bar through each point, north up, clockwise from north, half
// 0.42 cell long, in its regime's colour; the key lists the regimes drawn
// and only those, in the order NF, NS, SS, TS, TF, U.
TEST(Map, ShmaxBarsColouredByRegime) {
  struct Case {
    long long x, y;
    const char *regime, *shmax, *colour;
  };
  const std::vector<std::vector<Case>> maps = {
      {{0, 0, "NF", "0", kNF},
       {1, 0, "NS", "30", "#f781bf"},
       {2, 0, "SS", "90", kSS},
       {0, 1, "TS", "150", "#56b4e9"},
       {1, 1, "TF", "179.5", "#1f3fcc"},
       {2, 1, "U", "45", "#000000"}},
      {{0, 0, "TF", "10", "#1f3fcc"}, {1, 0, "SS", "100", kSS}, {2, 0, "TF", "170", "#1f3fcc"}},
  };
  const std::vector<std::vector<std::string>> keys = {
      {"regime", "NF normal faulting", "NS normal and strike-slip", "SS strike-slip faulting",
       "TS thrust and strike-slip", "TF thrust faulting", "U unknown"},
      {"regime", "SS strike-slip faulting", "TF thrust faulting"},
  };
  for (std::size_t m = 0; m < maps.size(); ++m) {
    std::vector<Point> points;
    long long rows = 0;
    for (const Case& c : maps[m]) {
      Point p;
      p.x = c.x, p.y = c.y, p.regime = c.regime, p.shmax = c.shmax, p.low = p.high = c.shmax;
      points.push_back(p);
      rows = std::max(rows, c.y + 1);
    }
    const std::string svg = render_map(rows_of(points), "t", MapStyle{});
    const auto f = frame_of(svg);
    const double cell = 160;  // min(640 / 3, 560 / rows, 160)
    EXPECT_EQ(f[2], 3 * cell) << m;
    const auto bars = numbers_of(svg, "bar", "d");
    const auto strokes = attributes_of(svg, "bar", "stroke");
    ASSERT_EQ(bars.size(), maps[m].size());
    for (std::size_t i = 0; i < bars.size(); ++i) {
      const Case& c = maps[m][i];
      const auto& d = bars[i];
      const double cx = f[0] + (static_cast<double>(c.x) + 0.5) * cell;
      const double cy = f[1] + (static_cast<double>(rows - 1 - c.y) + 0.5) * cell;
      const std::string what = std::string(c.regime) + " " + c.shmax;
      EXPECT_NEAR((d.at(0) + d.at(2)) / 2, cx, 0.1) << what;
      EXPECT_NEAR((d.at(1) + d.at(3)) / 2, cy, 0.1) << what;
      EXPECT_NEAR(std::hypot(d[2] - d[0], d[3] - d[1]) / 2, 0.42 * cell, 0.1) << what;
      EXPECT_LT(apart(azimuth(cx, cy, d[2], d[3]), std::stod(c.shmax), 180.0), 0.1) << what;
      EXPECT_EQ(strokes[i], c.colour) << what;
    }
    EXPECT_EQ(texts_of(svg, "key"), keys[m]) << m;
    const auto samples = attributes_of(svg, "key-bar", "stroke");
    EXPECT_EQ(samples.size(), keys[m].size() - 1) << m;
  }
}

// SHmax's range: a sector on each side from shmax_low clockwise to
// shmax_high (a short arc), across north where low > high; none for a range
// of 0; never a disc.
TEST(Map, ShmaxRangeAsWedgesAcrossNorth) {
  struct Case {
    const char *shmax, *low, *high;
    double from, width;  // degrees; width 0: no wedge
  };
  const Case cases[] = {
      {"30", "20", "40", 20, 20},   {"0", "170", "10", 170, 20}, {"175", "170", "10", 170, 20},
      {"90", "80", "95", 80, 15},   {"30", "30", "30", 0, 0},    {"90", "0.5", "179.5", 0.5, 179},
      {"0", "179", "1", 179, 2},    {"100", "1", "0", 1, 179},
  };
  for (const Case& c : cases) {
    Point p;
    p.shmax = c.shmax, p.low = c.low, p.high = c.high;
    const std::string svg = render_map(rows_of({p}), "t", MapStyle{});
    const std::string what = std::string(c.low) + " to " + c.high;
    const auto f = frame_of(svg);
    const double cx = f[0] + 80, cy = f[1] + 80, r = 0.42 * 160;
    EXPECT_EQ(occurrences(svg, "<circle class=\"wedge\""), 0u) << what;
    const auto wedges = numbers_of(svg, "wedge", "d");
    ASSERT_EQ(wedges.size(), c.width == 0 ? 0u : 2u) << what;
    for (std::size_t k = 0; k < wedges.size(); ++k) {
      const auto& d = wedges[k];  // M cx cy L x1 y1 A r r 0 large sweep x2 y2 Z
      ASSERT_EQ(d.size(), 11u) << what;
      EXPECT_NEAR(d[0], cx, 0.05) << what;
      EXPECT_NEAR(d[1], cy, 0.05) << what;
      EXPECT_NEAR(d[4], r, 0.05) << what;
      EXPECT_EQ(d[7], 0) << what;  // the short arc
      EXPECT_EQ(d[8], 1) << what;  // clockwise on the page
      EXPECT_LT(apart(azimuth(cx, cy, d[2], d[3]), c.from + 180.0 * static_cast<double>(k)), 0.2) << what;
      EXPECT_LT(apart(azimuth(cx, cy, d[9], d[10]), c.from + c.width + 180.0 * static_cast<double>(k)), 0.2) << what;
    }
    for (const std::string& fill : attributes_of(svg, "wedge", "fill")) EXPECT_EQ(fill, kNF) << what;
  }
}

// The points without SHmax: horizontal stress isotropic (an open circle in
// its regime's colour), a row of an older table (a grey dot), a failed
// point (a cross); the key explains each one drawn and no other. A regime
// code of none of the six is refused.
TEST(Map, PointsWithoutShmax) {
  Point isotropic, failed, strike_slip, older;
  isotropic.shmax = isotropic.low = isotropic.high = "nan";
  failed.x = 1, failed.kind = Point::failed;
  strike_slip.x = 2, strike_slip.regime = "SS";
  older.x = 3, older.kind = Point::older;
  std::string svg = render_map(rows_of({isotropic, failed, strike_slip, older}), "t", MapStyle{});
  const double cell = 160, left = frame_of(svg)[0], cy = 70 + 80;
  const auto centre = [&](long long x) { return left + (static_cast<double>(x) + 0.5) * cell; };
  EXPECT_EQ(numbers_of(svg, "isotropic", "cx"), (std::vector<std::vector<double>>{{centre(0)}}));
  EXPECT_EQ(numbers_of(svg, "isotropic", "cy"), (std::vector<std::vector<double>>{{cy}}));
  EXPECT_EQ(numbers_of(svg, "isotropic", "r"), (std::vector<std::vector<double>>{{40}}));
  EXPECT_EQ(attributes_of(svg, "isotropic", "stroke"), std::vector<std::string>{kNF});
  EXPECT_EQ(attributes_of(svg, "isotropic", "fill"), std::vector<std::string>{"none"});
  const auto cross = numbers_of(svg, "failed", "d");
  ASSERT_EQ(cross.size(), 1u);
  EXPECT_NEAR((cross[0].at(0) + cross[0].at(2)) / 2, centre(1), 0.05);
  EXPECT_NEAR((cross[0].at(1) + cross[0].at(3)) / 2, cy, 0.05);
  EXPECT_EQ(attributes_of(svg, "bar", "stroke"), std::vector<std::string>{kSS});
  EXPECT_EQ(numbers_of(svg, "no-stress", "cx"), (std::vector<std::vector<double>>{{centre(3)}}));
  EXPECT_EQ(texts_of(svg, "key"),
            (std::vector<std::string>{"regime", "NF normal faulting", "SS strike-slip faulting",
                                      "no SHmax: horizontal stress isotropic", "no stress columns in the table",
                                      "failed point"}));
  EXPECT_EQ(plot::rows_without_stress(rows_of({isotropic, failed, strike_slip, older, older})), 2u);

  svg = render_map(rows_of({strike_slip}), "t", MapStyle{});
  EXPECT_EQ(texts_of(svg, "key"), (std::vector<std::string>{"regime", "SS strike-slip faulting"}));

  Point odd;
  odd.regime = "XX";
  try {
    render_map(rows_of({odd}), "t", MapStyle{});
    ADD_FAILURE() << "a regime XX was drawn";
  } catch (const Error& e) {
    // The table's reader refuses it before the map would.
    EXPECT_EQ(e.reason(), "t.tsv:1: column 34 is not a regime (NF, NS, SS, TS, TF, U): XX");
  }
}

// --bars axis1: the horizontal projection of axis 1, half 0.42 cell
// cos(plunge) long; its trend range as sectors of that radius, or a disc
// once it is 180 degrees wide (as an axis it then takes every azimuth).
// Regression: the bar was as long as a horizontal axis's whatever the
// plunge, and a trend range of 127 to 481 with a plunge of 74.85 drew a
// disc as large as the cell.
TEST(Map, AxisOneProjectedOnTheHorizontal) {
  struct Case {
    const char *trend, *plunge, *low, *high;
    std::size_t wedges, discs;
  };
  const Case cases[] = {
      {"30", "10", "20", "40", 2, 0},        {"127.9", "74.85", "127", "481", 0, 1},
      {"30", "0", "-60", "119", 2, 0},       {"30", "0", "-60", "120", 0, 1},
      {"30", "-20", "20", "40", 2, 0},       {"350", "10", "340", "365", 2, 0},
      {"30", "10", "30", "30", 0, 0},        {"30", "90", "20", "40", 2, 0},
  };
  MapStyle style;
  style.bars = MapBars::axis1;
  for (const Case& c : cases) {
    Point p;
    p.tr1 = c.trend, p.pl1 = c.plunge, p.tr1_low = c.low, p.tr1_high = c.high;
    const std::string svg = render_map(rows_of({p}), "t", style);
    const std::string what = std::string(c.trend) + "/" + c.plunge + ", " + c.low + " to " + c.high;
    const auto f = frame_of(svg);
    const double cx = f[0] + 80, cy = f[1] + 80;
    const double half = 0.42 * 160 * std::fabs(std::cos(std::stod(c.plunge) * M_PI / 180));
    const auto bar = numbers_of(svg, "bar", "d");
    ASSERT_EQ(bar.size(), 1u) << what;
    EXPECT_NEAR((bar[0].at(0) + bar[0].at(2)) / 2, cx, 0.1) << what;
    EXPECT_NEAR((bar[0].at(1) + bar[0].at(3)) / 2, cy, 0.1) << what;
    EXPECT_NEAR(std::hypot(bar[0][2] - bar[0][0], bar[0][3] - bar[0][1]) / 2, half, 0.1) << what;
    if (half > 1) {
      EXPECT_LT(apart(azimuth(cx, cy, bar[0][2], bar[0][3]), std::stod(c.trend)), 0.2) << what;
    }
    EXPECT_EQ(occurrences(svg, "<path class=\"wedge\""), c.wedges) << what;
    ASSERT_EQ(occurrences(svg, "<circle class=\"wedge\""), c.discs) << what;
    if (c.discs == 1) {
      EXPECT_NEAR(numbers_of(svg, "wedge", "cx").at(0).at(0), cx, 0.05) << what;
      EXPECT_NEAR(numbers_of(svg, "wedge", "cy").at(0).at(0), cy, 0.05) << what;
      EXPECT_NEAR(numbers_of(svg, "wedge", "r").at(0).at(0), half, 0.05) << what;
    }
    for (const auto& d : numbers_of(svg, "wedge", "d")) {
      if (c.discs == 1) break;
      EXPECT_NEAR(d.at(4), half, 0.05) << what;
      const double start = azimuth(cx, cy, d[2], d[3]);
      if (half > 1) {
        EXPECT_LT(std::min(apart(start, std::stod(c.low)), apart(start, std::stod(c.low) + 180)), 0.2) << what;
      }
    }
  }
}

// The colour scales: A-phi in thirds (1 and 2 open the upper third), the
// regime codes.
TEST(Map, ColourScales) {
  const struct {
    double aphi;
    const char* colour;
  } scale[] = {{0, "#fcbba1"}, {0.5, "#e46a5f"}, {0.999999, "#cb181d"}, {1, "#c7e9c0"}, {1.5, "#75ba83"},
               {2, "#c6dbef"},  {3, "#2171b5"},   {-0.1, "#999999"},     {3.1, "#999999"}, {NAN, "#999999"}};
  for (const auto& s : scale) EXPECT_EQ(plot::aphi_colour(s.aphi), s.colour) << s.aphi;
  EXPECT_EQ(plot::regime_colour("NS"), "#f781bf");
  EXPECT_EQ(plot::regime_colour("nan"), "");
  EXPECT_EQ(plot::regime_colour(""), "");
}

// --field: a cell per point of status ok with a value, centred on it, in
// the value's colour, under everything else and at half opacity; the
// colour bar and its labels in the key. Without it: none of them.
TEST(Map, FieldShadesTheCells) {
  std::vector<Point> points(6);
  const char* aphis[] = {"0", "0.5", "1.5", "2.9", "nan", "1"};
  const char* phis[] = {"0", "0.25", "0.5", "0.75", "1", "nan"};
  for (std::size_t i = 0; i < points.size(); ++i) {
    points[i].x = static_cast<long long>(i % 3), points[i].y = static_cast<long long>(i / 3);
    points[i].aphi = aphis[i], points[i].phi = phis[i];
  }
  Point failed;
  failed.x = 3, failed.kind = Point::failed;
  points.push_back(failed);
  const auto rows = rows_of(points);
  for (MapField field : {MapField::none, MapField::aphi, MapField::phi}) {
    MapStyle style;
    style.field = field;
    const std::string svg = render_map(rows, "t", style);
    const std::string what = field == MapField::none ? "none" : field == MapField::aphi ? "aphi" : "phi";
    std::vector<std::string> fills;
    std::vector<std::vector<double>> corners;
    const double cell = 160, left = frame_of(svg)[0];
    for (std::size_t i = 0; i < points.size() && field != MapField::none; ++i) {
      const std::string v = field == MapField::aphi ? aphis[i % 6] : phis[i % 6];
      if (i == 6 || v == "nan") continue;
      const double value = std::stof(v);  // as the table is read
      fills.push_back(field == MapField::aphi ? plot::aphi_colour(value) : plot::phi_colour(value));
      corners.push_back({left + static_cast<double>(points[i].x) * cell, 70 + static_cast<double>(1 - points[i].y) * cell});
    }
    EXPECT_EQ(attributes_of(svg, "cell", "fill"), fills) << what;
    const auto xs = numbers_of(svg, "cell", "x"), ys = numbers_of(svg, "cell", "y");
    ASSERT_EQ(xs.size(), corners.size()) << what;
    for (std::size_t i = 0; i < xs.size(); ++i) {
      EXPECT_NEAR(xs[i].at(0), corners[i][0], 0.05) << what << " " << i;
      EXPECT_NEAR(ys[i].at(0), corners[i][1], 0.05) << what << " " << i;
    }
    if (field == MapField::none) {
      EXPECT_EQ(occurrences(svg, "class=\"colour-bar\""), 0u);
      continue;
    }
    // Under the frame and the points, in a group at half opacity.
    EXPECT_LT(svg.find("<g fill-opacity=\"0.5\">\n<rect class=\"cell\""), svg.find("class=\"frame\""));
    EXPECT_EQ(attributes_of(svg, "colour-bar", "fill-opacity"), std::vector<std::string>{"0.5"}) << what;
    const auto key = texts_of(svg, "key");
    EXPECT_EQ(std::count(key.begin(), key.end(), "strike-slip"), field == MapField::aphi ? 1 : 0) << what;
    EXPECT_EQ(std::count(key.begin(), key.end(), field == MapField::aphi ? "A-phi (cells)" : "phi (cells)"), 1)
        << what;
  }
}

// The canvas fits what is drawn: square cells as large as 640 x 560 px
// allow (160 at most), the key right of the frame and its labels, every
// text inside the canvas (0.6 em a character), and no more than a margin
// of 20 px around the furthest text or the frame. Regression: a slice of
// 5 x 1 points was a strip in the top-left corner of 960 x 640 px, and
// labels of 11 digits ran off its left edge.
TEST(Map, TheCanvasFitsThePoints) {
  struct Case {
    std::string name;
    std::vector<Point> points;
    long long columns, rows;
    std::string title = "t.tsv, slice z 0 t 0";
    MapStyle style{};
  };
  const auto grid = [](long long nx, long long ny) {
    std::vector<Point> v;
    for (long long x = 0; x < nx; ++x)
      for (long long y = 0; y < ny; ++y) {
        Point p;
        p.x = x, p.y = y;
        v.push_back(p);
      }
    return v;
  };
  std::vector<Point> extremes = grid(1, 1);
  extremes[0].x = INT_MIN, extremes[0].y = INT_MIN;
  extremes.push_back(extremes[0]);
  extremes[1].x = INT_MAX, extremes[1].y = INT_MAX, extremes[1].kind = Point::failed;
  std::vector<Point> every_key = grid(3, 2);
  every_key[1].shmax = "nan", every_key[2].kind = Point::failed, every_key[3].kind = Point::older;
  every_key[4].y = 7;  // y sparse: 0, 1, 7 of a span of 8
  std::vector<Point> strip = grid(8, 1);  // a key taller than the frame
  const char* regimes[] = {"NF", "NS", "SS", "TS", "TF", "U", "NF", "NF"};
  for (std::size_t i = 0; i < strip.size(); ++i) strip[i].regime = regimes[i];
  strip[6].shmax = "nan", strip[7].kind = Point::failed;
  MapStyle aphi;
  aphi.field = MapField::aphi;
  MapStyle axis1;
  axis1.bars = MapBars::axis1;
  axis1.sigma_names = true;
  std::string long_title;
  for (int i = 0; i < 60; ++i) long_title += "d\xc3\xa9p\xc3\xb4t/";
  const Case cases[] = {
      {"1 x 1", grid(1, 1), 1, 1},
      {"5 x 4", grid(5, 4), 5, 4},
      {"5 x 1", grid(5, 1), 5, 1},
      {"200 x 1", grid(200, 1), 200, 1},
      {"1 x 30", grid(1, 30), 1, 30},
      {"INT_MIN and INT_MAX", extremes, 2, 2},
      {"every key", every_key, 3, 3, "t", aphi},
      {"a strip with a tall key", strip, 8, 1, "t", aphi},
      {"axis 1, a long title", grid(2, 2), 2, 2, long_title + " slice z 0 t 0", axis1},
  };
  for (const Case& c : cases) {
    const std::string svg = render_map(rows_of(c.points), c.title, c.style);
    const auto [width, height] = canvas_of(svg);
    const auto f = frame_of(svg);
    const double cell = std::min({640.0 / static_cast<double>(c.columns), 560.0 / static_cast<double>(c.rows), 160.0});
    EXPECT_NEAR(f[2], cell * static_cast<double>(c.columns), 0.06) << c.name;
    EXPECT_NEAR(f[3], cell * static_cast<double>(c.rows), 0.06) << c.name;
    EXPECT_EQ(f[1], 70) << c.name;
    // Each text's box, as a renderer draws it about.
    double right = f[0] + f[2], bottom = f[1] + f[3], labels_right = right;
    for (const TextElement& t : text_elements(svg)) {
      const auto [x0, y0, x1, y1] = box_of(t);
      EXPECT_GE(x0, 0) << c.name << ": " << t.words;
      EXPECT_LE(x1, width) << c.name << ": " << t.words;
      EXPECT_GE(y0, 0) << c.name << ": " << t.words;
      EXPECT_LE(y1, height) << c.name << ": " << t.words;
      if (y0 < 60) {  // the titles stay above the frame
        EXPECT_LT(y1, 70) << c.name << ": " << t.words;
      }
      right = std::max(right, x1), bottom = std::max(bottom, y1);
      if (t.cls == "xlabel" || t.words.rfind("xgrid", 0) == 0) labels_right = std::max(labels_right, x1);
    }
    EXPECT_LE(width, right + 21) << c.name;
    EXPECT_LE(height, bottom + 21) << c.name;
    // The key, right of the frame and of its labels.
    for (const auto& x : numbers_of(svg, "key", "x")) EXPECT_GE(x.at(0), labels_right + 10) << c.name;
    for (const auto& d : numbers_of(svg, "key-bar", "d")) EXPECT_GE(d.at(0), labels_right + 10) << c.name;
    for (const auto& x : numbers_of(svg, "colour-bar", "x")) EXPECT_GE(x.at(0), labels_right + 10) << c.name;
  }
  // A title of more than 100 characters: its first and last 48 around "...".
  MapStyle style;
  const std::string svg = render_map(rows_of(grid(1, 1)), long_title + " slice z 0 t 0", style);
  const std::string drawn = text_elements(svg).at(0).words;
  const std::string tail = "p\xc3\xb4t/d\xc3\xa9p\xc3\xb4t/ slice z 0 t 0";
  EXPECT_EQ(drawn.substr(0, 11), "d\xc3\xa9p\xc3\xb4t/d\xc3\xa9");
  EXPECT_EQ(drawn.substr(drawn.size() - tail.size()), tail);
  EXPECT_NE(drawn.find("d\xc3\xa9p\xc3\xb4t/...p\xc3\xb4t/d\xc3\xa9p"), std::string::npos) << drawn;
  EXPECT_EQ(drawn.size(), 8 * 8 + 3 + 5 + 5 * 8 + 14);  // bytes: 48 characters, "...", 48
}

// Each point's marks stand in a group that names the point and gives its
// place and half cell, as the layout puts it (a page finds the point a
// click falls near from them): negative and sparse indices, a failed
// point, in the table's order.
TEST(Map, EachPointInAGroupThatNamesIt) {
  std::vector<Point> points(4);
  points[0].x = -2, points[0].y = 0;
  points[1].x = 0, points[1].y = 1;
  points[2].x = 1, points[2].y = 0, points[2].kind = Point::failed;
  points[3].x = -1, points[3].y = 1;
  const std::string svg = render_map(rows_of(points), "t", MapStyle{});
  const auto f = frame_of(svg);
  const double cell = 160;  // min(640 / 4, 560 / 2, 160)
  EXPECT_EQ(attributes_of(svg, "point", "data-grid"),
            (std::vector<std::string>{"-2 0 0 0", "0 1 0 0", "1 0 0 0", "-1 1 0 0"}));
  const auto cx = attributes_of(svg, "point", "data-cx"), cy = attributes_of(svg, "point", "data-cy"),
             r = attributes_of(svg, "point", "data-r");
  ASSERT_EQ(cx.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(std::stod(cx[i]), f[0] + (static_cast<double>(points[i].x + 2) + 0.5) * cell) << i;
    EXPECT_EQ(std::stod(cy[i]), f[1] + (static_cast<double>(1 - points[i].y) + 0.5) * cell) << i;
    EXPECT_EQ(std::stod(r[i]), cell / 2) << i;
    // The group holds the point's own marks: its bar, or its cross.
    const std::size_t open = svg.find("data-grid=\"" + attributes_of(svg, "point", "data-grid")[i] + "\"");
    const std::string group = svg.substr(open, svg.find("</g>", open) - open);
    EXPECT_NE(group.find(points[i].kind == Point::failed ? "class=\"failed\"" : "class=\"bar\""), std::string::npos)
        << group;
  }
}

}  // namespace
}  // namespace tilvex::test
