// End-to-end runs of tilvex-plot: the picture, the errors, and that nothing
// is written on error.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../plot/svg_reading.hpp"
#include "../support/run.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

const std::string kTwoGrids =
    "3 7 0 1 0.45 0 12 125 3 250 80\n3 7 0 1 0.55 350 7 300 -4 235 75\n"
    "4 7 0 1 0.40 175 -12 118 6 60 -79\n";

TEST(PlotCli, DrawsOneGridPoint) {
  ScratchDir dir;
  spill(dir / "accepted.txt", kTwoGrids);
  Outcome o = run(TILVEX_PLOT, {dir / "accepted.txt", "--grid", "3", "7", "0", "1", "-o",
                                dir / "net.svg"},
                  dir / "stdout");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.printed, "");
  const std::string svg = slurp(dir / "net.svg");
  EXPECT_NE(svg.find("2 accepted resamples"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "net.svg.partial"));
  // Without -o the picture goes to standard output.
  o = run(TILVEX_PLOT, {dir / "accepted.txt", "--grid", "3", "7", "0", "1"}, dir / "stdout");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.printed, svg);
}

TEST(PlotCli, ErrorsWriteNothing) {
  ScratchDir dir;
  spill(dir / "accepted.txt", kTwoGrids);
  spill(dir / "bad.txt", "3 7 0 1 0.45 0 12 125 3 250 80\n3 7 0 1 0.55 350 7 x -4 235 75\n");
  spill(dir / "net.svg", "old picture");
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{dir / "accepted.txt", "-o", dir / "net.svg"}, 1},  // two grid points, none chosen
      {{dir / "accepted.txt", "--grid", "1", "1", "1", "1", "-o", dir / "net.svg"}, 1},
      {{dir / "bad.txt", "-o", dir / "net.svg"}, 1},
      {{dir / "missing.txt", "-o", dir / "net.svg"}, 1},
      {{dir / "accepted.txt", "--grid", "3", "7", "0"}, 2},
      {{}, 2},
  };
  for (const Case& c : cases) {
    Outcome o = run(TILVEX_PLOT, c.args, dir / "stdout");
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.printed, "");
    EXPECT_EQ(slurp(dir / "net.svg"), "old picture");
  }
}

// Renders an SVG with a real renderer (rsvg-convert) and reads pixels of
// the PNG: "r g b" per point.
std::vector<std::string> rendered_pixels(const ScratchDir& dir, const std::string& svg,
                                         const std::vector<std::pair<int, int>>& points) {
  if (std::system("command -v rsvg-convert >/dev/null 2>&1") != 0 ||
      std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0) {
    if (const char* ci = std::getenv("CI"); ci != nullptr && std::string(ci) == "true")
      ADD_FAILURE() << "rsvg-convert or Pillow is missing (Debian packages librsvg2-bin, python3-pil)";
    return {};
  }
  Outcome o = run("/usr/bin/rsvg-convert", {svg, "-o", dir / "figure.png"}, dir / "rsvg.out",
                  Launch{"/dev/null", -1, dir / "rsvg.err"});
  EXPECT_EQ(o.status, 0) << slurp(dir / "rsvg.err");
  std::vector<std::string> args = {TILVEX_PNG_PIXEL, dir / "figure.png"};
  for (const auto& [x, y] : points) args.push_back(std::to_string(x) + "," + std::to_string(y));
  o = run("/usr/bin/python3", args, dir / "pixels.txt");
  std::vector<std::string> out;
  std::istringstream in(o.printed);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Whether a pixel "r g b" is within `tolerance` of the colour in each
// channel (a renderer blends edges and gradients a little).
bool near_colour(const std::string& pixel, int r, int g, int b, int tolerance = 8) {
  int got[3] = {-999, -999, -999};
  std::istringstream(pixel) >> got[0] >> got[1] >> got[2];
  return std::abs(got[0] - r) <= tolerance && std::abs(got[1] - g) <= tolerance && std::abs(got[2] - b) <= tolerance;
}

// Where the net puts an axis (the picture's coordinates).
std::pair<int, int> on_net(double trend, double plunge) {
  const double t = trend * M_PI / 180, p = plunge * M_PI / 180;
  const double n = std::cos(p) * std::cos(t), e = std::cos(p) * std::sin(t), d = std::sin(p);
  const double scale = 1.0 / std::sqrt(1.0 + d);
  return {static_cast<int>(std::lround(300 + 250 * e * scale)), static_cast<int>(std::lround(330 - 250 * n * scale))};
}

// The run itself: the best fit drawn large at its place on the net, in
// axis 1's colour (#D55E00), the level and the counts in the title, the
// histogram's marks; the background white where nothing is drawn.
TEST(PlotCli, TheRunItselfWithItsBestFit) {
  ScratchDir dir;
  const std::string input = std::string(TILVEX_EXAMPLES) + "/realistic.vrin";
  Outcome o = run(TILVEX_PLOT, {"--vrin", input, "--level", "95", "-o", dir / "net.svg"}, dir / "stdout");
  ASSERT_EQ(o.status, 0);
  const std::string svg = slurp(dir / "net.svg");
  EXPECT_NE(svg.find("confidence level 95%: 1900 of 2000 resamples accepted"), std::string::npos);
  for (const char* mark : {"class=\"best1\"", "class=\"best3\"", "class=\"best-phi\"",
                           "class=\"phi-bound\"", "the smallest regions holding", ">resamples<"})
    EXPECT_NE(svg.find(mark), std::string::npos) << mark;
  // The best fit of the example: trend 327.97, plunge 32.38 for axis 1.
  const auto pixels = rendered_pixels(dir, dir / "net.svg", {on_net(327.97, 32.38), {950, 590}});
  if (!pixels.empty()) {
    ASSERT_EQ(pixels.size(), 2u);
    EXPECT_TRUE(near_colour(pixels[0], 0xd5, 0x5e, 0x00)) << pixels[0];
    EXPECT_TRUE(near_colour(pixels[1], 255, 255, 255, 0)) << pixels[1];
  }
  // Called sigma for a stress tensor.
  o = run(TILVEX_PLOT, {"--vrin", input, "--level", "95", "--sigma"}, dir / "sigma.svg");
  EXPECT_NE(o.printed.find(">\u03c3\u2081<"), std::string::npos);  // σ₁
  // The title names the file, not its path, unless --title sets it; the
  // contours and their levels are those asked for.
  EXPECT_NE(svg.find("font-size=\"16\">realistic.vrin</text>"), std::string::npos);
  o = run(TILVEX_PLOT, {"--vrin", input, "--level", "95", "--title", "Site 4 & 5", "--contours", "sigma", "--levels",
                        "3,7"},
          dir / "titled.svg");
  EXPECT_NE(o.printed.find("font-size=\"16\">Site 4 &amp; 5</text>"), std::string::npos);
  EXPECT_NE(o.printed.find(">Kamb contours at 3.0 and 7.0 sigma,<"), std::string::npos);
  o = run(TILVEX_PLOT, {"--vrin", input, "--level", "95", "--levels", "68,95"}, dir / "shares.svg");
  EXPECT_NE(o.printed.find(">68 and 95% of each axis<"), std::string::npos);
  o = run(TILVEX_PLOT, {"--vrin", input, "--level", "95", "--contours", "density"}, dir / "density.svg");
  EXPECT_NE(o.printed.find(">density (exponential smoothing)<"), std::string::npos);
}

// A million accepted lines: read as a stream, drawn as density only, in a
// file of bounded size that a renderer takes.
TEST(PlotCli, AMillionLinesAsDensity) {
  ScratchDir dir;
  {
    std::ofstream out(dir / "many.txt", std::ios::binary);
    std::string block;
    char line[128];
    for (int i = 0; i < 1000; ++i) {
      std::snprintf(line, sizeof line, "1 2 3 4 0.%04d %.6f %.6f %.6f %.6f %.6f %.6f\n", i * 7 % 10000,
                    40.0 + i % 37, 30.0 + i % 11, 160.0 + i % 29, 20.0 + i % 13, 270.0 + i % 23, 50.0 + i % 7);
      block += line;
    }
    for (int k = 0; k < 1000; ++k) out << block;
  }
  const Outcome o = run(TILVEX_PLOT, {dir / "many.txt", "-o", dir / "many.svg"}, dir / "stdout");
  ASSERT_EQ(o.status, 0);
  const std::string svg = slurp(dir / "many.svg");
  EXPECT_LT(svg.size(), 2u << 20);
  EXPECT_EQ(svg.find("class=\"axis1\""), std::string::npos);
  EXPECT_NE(svg.find(">1000000 accepted resamples<"), std::string::npos);
  EXPECT_NE(svg.find(">density only (more than 3000)<"), std::string::npos);
  EXPECT_NE(svg.find("class=\"contours1\""), std::string::npos);
  rendered_pixels(dir, dir / "many.svg", {});
}

// The map of a grid's table: one slice, a failed point marked, the colour
// bar; several slices must be chosen from.
TEST(PlotCli, TheGridMap) {
  ScratchDir dir;
  std::string list;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 2; ++y) {
      const std::string input = dir / ("p" + std::to_string(x) + std::to_string(y) + ".vrin");
      ASSERT_EQ(run(TILVEX_GENERATE, {"300", std::to_string(10 * x + y)}, input).status, 0);
      list += input + " " + std::to_string(x) + " " + std::to_string(y) + " 0 0\n";
    }
  list += dir / "missing.vrin" + " 3 1 0 0\n" + dir / "p00.vrin" + " 0 0 1 0\n";
  spill(dir / "grid.txt", list);
  run(TILVEX_GRID, {dir / "grid.txt", dir / "s", "95", dir / "a", "--table", dir / "t.tsv", "--quiet"},
      dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
  Outcome o = run(TILVEX_PLOT, {"--map", dir / "t.tsv", "-o", dir / "map.svg"}, dir / "stdout",
                  Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(slurp(dir / "stderr").find("holds 2 slices; choose one with --slice Z T: 0 0, 1 0"), std::string::npos);
  o = run(TILVEX_PLOT, {"--map", dir / "t.tsv", "--slice", "0", "0", "-o", dir / "map.svg"}, dir / "stdout",
          Launch{"/dev/null", -1, dir / "stderr"});
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(slurp(dir / "stderr"), "");
  std::string svg = slurp(dir / "map.svg");
  // SHmax of each point, in the colour of the regime its row gives.
  const std::map<std::string, std::string> colours = {{"NF", "#e41a1c"}, {"NS", "#f781bf"}, {"SS", "#2ca02c"},
                                                      {"TS", "#56b4e9"}, {"TF", "#1f3fcc"}, {"U", "#000000"}};
  std::vector<std::string> expected;
  std::istringstream table(slurp(dir / "t.tsv"));
  for (std::string line; std::getline(table, line);) {
    std::vector<std::string> c;
    std::istringstream in(line);
    for (std::string column; std::getline(in, column, '\t');) c.push_back(column);
    if (c.size() >= 34 && c[5] == "ok" && c[3] == "0") expected.push_back(colours.at(c[33]));
  }
  EXPECT_EQ(expected.size(), 6u);
  EXPECT_EQ(attributes_of(svg, "bar", "stroke"), expected);
  EXPECT_EQ(occurrences(svg, "class=\"failed\""), 1u);
  EXPECT_EQ(occurrences(svg, "class=\"colour-bar\""), 0u);
  // Shaded by phi: the colour bar's top is phi 1 (#ffea46), its bottom phi 0
  // (#00204c), both at half opacity on white; the corner of the canvas white.
  o = run(TILVEX_PLOT, {"--map", dir / "t.tsv", "--slice", "0", "0", "--field", "phi", "-o", dir / "map.svg"},
          dir / "stdout");
  ASSERT_EQ(o.status, 0);
  svg = slurp(dir / "map.svg");
  EXPECT_EQ(occurrences(svg, "class=\"cell\""), 6u);
  const double bx = numbers_of(svg, "colour-bar", "x").at(0).at(0), by = numbers_of(svg, "colour-bar", "y").at(0).at(0),
               bh = numbers_of(svg, "colour-bar", "height").at(0).at(0);
  const auto [width, height] = canvas_of(svg);
  const auto pixels = rendered_pixels(dir, dir / "map.svg",
                                      {{static_cast<int>(bx + 12), static_cast<int>(by + 3)},
                                       {static_cast<int>(bx + 12), static_cast<int>(by + bh - 3)},
                                       {static_cast<int>(width - 3), static_cast<int>(height - 3)}});
  if (!pixels.empty()) {
    EXPECT_TRUE(near_colour(pixels[0], 255, 245, 163)) << pixels[0];
    EXPECT_TRUE(near_colour(pixels[1], 128, 144, 166)) << pixels[1];
    EXPECT_TRUE(near_colour(pixels[2], 255, 255, 255, 0)) << pixels[2];
  }
}

// A table row of tilvex-grid's with grid indices (x, y, 0, 0): status ok,
// axis 1's trend 30 degrees, or a failed point.
std::string table_row(long long x, long long y, bool ok = true) {
  std::string row = "p.vrin\t" + std::to_string(x) + "\t" + std::to_string(y) + "\t0\t0\t";
  if (!ok) {
    row += "unable to open p.vrin";
    for (int k = 0; k < 24; ++k) row += "\tnan";
    return row + "\n";
  }
  row += "ok\t100\t95\t0.9";
  for (const char* v : {"0.5", "0.4", "0.6", "30", "20", "40", "10", "5", "15", "120", "110", "130", "20", "10",
                        "30", "250", "240", "260", "60", "50", "70"})
    row += std::string("\t") + v;
  return row + "\n";
}

const std::string kTableHeader =
    "input\txgrid\tygrid\tzgrid\ttgrid\tstatus\tn\taccepted\tthreshold\tphi\tphi_low\tphi_high\ttr1\ttr1_low\t"
    "tr1_high\tpl1\tpl1_low\tpl1_high\ttr2\ttr2_low\ttr2_high\tpl2\tpl2_low\tpl2_high\ttr3\ttr3_low\ttr3_high\t"
    "pl3\tpl3_low\tpl3_high\n";

// The peak resident size in bytes of tilvex-plot with `args`, its output
// and errors to /dev/null; and its status. With `bounded`, within 256 MiB
// of address space and 10 s of processor time (a loop that never ends is
// stopped by SIGXCPU, whatever the machine's load).
std::pair<int, long> peak_of(const std::vector<std::string>& args, bool bounded = false) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (bounded) {
      const rlimit cpu{10, 10};
      setrlimit(RLIMIT_CPU, &cpu);
#if !defined(__SANITIZE_ADDRESS__)  // it reserves far more address space
      const rlimit as{256L << 20, 256L << 20};
      setrlimit(RLIMIT_AS, &as);
#endif
    }
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0), dup2(null, 1), dup2(null, 2);
    std::vector<char*> argv{const_cast<char*>(TILVEX_PLOT)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TILVEX_PLOT, argv.data());
    _exit(127);
  }
  int ws = 0;
  rusage use{};
  wait4(pid, &ws, 0, &use);
  return {WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws), use.ru_maxrss * 1024L};
}

// Regression: a two-row table with x indices 1 and 2000000000 made the map
// draw two thousand million labels (past 1.2 GB), and INT_MIN and INT_MAX a
// label loop that never ended. The map is laid out by the indices that occur:
// each case's points at the places the layout in plot/map.hpp gives, and the
// labels drawn, in a whole SVG made within 64 MiB. (The rows are of a table
// of 30 columns: the map shows axis 1.)
TEST(PlotCli, TheMapOfSparseIndices) {
  ScratchDir dir;
  struct Case {
    std::vector<std::pair<long long, long long>> points;  // (x, y); the last one failed
    bool x_unit, y_unit;                                  // unit steps, or only the indices that occur
    std::vector<long long> x_labels, y_labels;
  };
  std::vector<long long> every10;
  for (long long x = 0; x < 200; x += 10) every10.push_back(x);  // 7 * 3 + 8 px apart in cells of 3.2 px
  std::vector<std::pair<long long, long long>> row_of_200;
  for (long long x = 0; x < 200; ++x) row_of_200.push_back({x, 0});
  const Case cases[] = {
      {{{1, 0}, {2000000000, 0}}, false, true, {1, 2000000000}, {0}},
      {{{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}}, false, false, {INT_MIN, INT_MAX}, {INT_MIN, INT_MAX}},
      {{{INT_MIN, 0}, {INT_MAX, 0}, {0, 0}}, false, true, {INT_MIN, 0, INT_MAX}, {0}},
      {{{0, 5}, {3, 5}}, true, true, {0, 1, 2, 3}, {5}},  // a span of 4 for 2 indices: unit steps
      {{{0, 5}, {4, 5}}, false, true, {0, 4}, {5}},       // 5 for 2: only those that occur
      {row_of_200, true, true, every10, {0}},
  };
  for (const Case& c : cases) {
    std::string table = kTableHeader;
    for (std::size_t i = 0; i < c.points.size(); ++i)
      table += table_row(c.points[i].first, c.points[i].second, i + 1 < c.points.size());
    spill(dir / "t.tsv", table);
    const auto [status, peak] = peak_of({"--map", dir / "t.tsv", "-o", dir / "map.svg"}, true);
    const std::string svg = slurp(dir / "map.svg");
    const std::string what = "case with x " + std::to_string(c.points.front().first) + " and " +
                             std::to_string(c.points.back().first);
    ASSERT_EQ(status, 0) << what;
#if !defined(__SANITIZE_ADDRESS__)  // its shadow memory counts too
    EXPECT_LE(peak, 64L << 20) << what;
#endif
    ASSERT_GE(svg.size(), 7u) << what;
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n") << what;

    // The layout, from the distinct indices of each axis.
    std::vector<long long> xs, ys;
    for (const auto& [x, y] : c.points) xs.push_back(x), ys.push_back(y);
    for (auto* v : {&xs, &ys}) {
      std::sort(v->begin(), v->end());
      v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    const long long columns = c.x_unit ? xs.back() - xs.front() + 1 : static_cast<long long>(xs.size());
    const long long rows = c.y_unit ? ys.back() - ys.front() + 1 : static_cast<long long>(ys.size());
    const double cell = std::min({640.0 / static_cast<double>(columns), 560.0 / static_cast<double>(rows), 160.0});
    ASSERT_EQ(numbers_of(svg, "frame", "x").size(), 1u) << what;
    const double left = numbers_of(svg, "frame", "x")[0].at(0);
    const auto place = [&](long long x, long long y) {
      const long long col = c.x_unit ? x - xs.front() : std::find(xs.begin(), xs.end(), x) - xs.begin();
      const long long row = c.y_unit ? y - ys.front() : std::find(ys.begin(), ys.end(), y) - ys.begin();
      return std::pair{left + (static_cast<double>(col) + 0.5) * cell,
                       70 + (static_cast<double>(rows - 1 - row) + 0.5) * cell};
    };

    // Each point's bar, or the failed point's cross, is centred on its place.
    const auto bars = numbers_of(svg, "bar", "d");
    const auto crosses = numbers_of(svg, "failed", "d");
    ASSERT_EQ(bars.size(), c.points.size() - 1) << what;
    ASSERT_EQ(crosses.size(), 1u) << what;
    for (std::size_t i = 0; i < c.points.size(); ++i) {
      const auto& d = i + 1 < c.points.size() ? bars[i] : crosses[0];
      const auto [x, y] = place(c.points[i].first, c.points[i].second);
      EXPECT_NEAR((d.at(0) + d.at(2)) / 2, x, 0.1) << what << ", point " << i;
      EXPECT_NEAR((d.at(1) + d.at(3)) / 2, y, 0.1) << what << ", point " << i;
    }
    // The labels: these, under their columns and beside their rows.
    const auto xl = labels_of(svg, "xlabel"), yl = labels_of(svg, "ylabel");
    EXPECT_EQ(xl.size(), c.x_labels.size()) << what;
    EXPECT_EQ(yl.size(), c.y_labels.size()) << what;
    for (long long x : c.x_labels) {
      ASSERT_EQ(xl.count(std::to_string(x)), 1u) << what << ", x label " << x;
      EXPECT_NEAR(xl.at(std::to_string(x)).first, place(x, ys.front()).first, 0.06) << what;
      EXPECT_NEAR(xl.at(std::to_string(x)).second, 70 + static_cast<double>(rows) * cell + 18, 0.06) << what;
    }
    for (long long y : c.y_labels) {
      ASSERT_EQ(yl.count(std::to_string(y)), 1u) << what << ", y label " << y;
      EXPECT_NEAR(yl.at(std::to_string(y)).second, place(xs.front(), y).second + 4, 0.06) << what;
    }
    EXPECT_EQ(occurrences(svg, "indices that occur)"), (c.x_unit ? 0u : 1u) + (c.y_unit ? 0u : 1u)) << what;
  }
}

// A refusal of a map or a net says what the file holds to choose from, up
// to ten of them. Regressions: "--slice 0 0" on a table without that slice
// said only "no point in slice 0 0"; a file of 296 grid points and no --grid
// listed all 296 on one line.
TEST(PlotCli, RefusalsListWhatThereIsToChoose) {
  ScratchDir dir;
  const auto table = [&](const std::string& name, const std::vector<std::pair<int, int>>& slices) {
    std::string text = kTableHeader;
    for (const auto& [z, t] : slices) {
      const std::string row = table_row(1, 1);
      text += "p.vrin\t1\t1\t" + std::to_string(z) + "\t" + std::to_string(t) + row.substr(row.find("\tok"));
    }
    spill(dir / name, text);
    return dir / name;
  };
  struct Case {
    std::vector<std::string> args;
    std::string err;  // all of standard error
  };
  const std::string one = table("one.tsv", {{0, 1}}), two = table("two.tsv", {{0, 2}, {0, 1}});
  std::vector<std::pair<int, int>> slices;
  for (int t = 24; t >= 0; --t) slices.push_back({0, t});
  const std::string many = table("many.tsv", slices);
  const std::string ten_slices = "0 0, 0 1, 0 2, 0 3, 0 4, 0 5, 0 6, 0 7, 0 8, 0 9";
  const auto accepted = [&](const std::string& name, int points) {
    std::string text;
    for (int x = points - 1; x >= 0; --x) text += std::to_string(x) + " 7 0 1 0.45 0 12 125 3 250 80\n";
    spill(dir / name, text);
    return dir / name;
  };
  const std::string ten = accepted("ten.txt", 10), twelve = accepted("twelve.txt", 12);
  const std::string ten_points = "0 7 0 1, 1 7 0 1, 2 7 0 1, 3 7 0 1, 4 7 0 1, 5 7 0 1, 6 7 0 1, 7 7 0 1, 8 7 0 1, 9 7 0 1";
  const Case cases[] = {
      {{"--map", many}, "tilvex-plot: " + many + ": holds 25 slices; choose one with --slice Z T: " + ten_slices +
                            ", ... and 15 more\n"},
      {{"--map", many, "--slice", "1", "0"},
       "tilvex-plot: " + many + ": no point in slice 1 0; it holds 25 slices: " + ten_slices + ", ... and 15 more\n"},
      {{ten}, "tilvex-plot: " + ten + ": holds 10 grid points; choose one with --grid X Y Z T: " + ten_points + "\n"},
      {{twelve}, "tilvex-plot: " + twelve + ": holds 12 grid points; choose one with --grid X Y Z T: " + ten_points +
                     ", ... and 2 more\n"},
      {{"--map", one, "--slice", "0", "0"}, "tilvex-plot: " + one + ": no point in slice 0 0; it holds 1 slice: 0 1\n"},
      {{"--map", two, "--slice", "1", "1"},
       "tilvex-plot: " + two + ": no point in slice 1 1; it holds 2 slices: 0 1, 0 2\n"},
      {{"--map", two}, "tilvex-plot: " + two + ": holds 2 slices; choose one with --slice Z T: 0 1, 0 2\n"},
  };
  for (const Case& c : cases) {
    const Outcome o = run(TILVEX_PLOT, c.args, dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
    EXPECT_EQ(o.status, 1) << c.args.back();
    EXPECT_EQ(o.printed, "") << c.args.back();
    EXPECT_EQ(slurp(dir / "stderr"), c.err) << c.args.back();
  }
}

// --vrin warns of what tilvex warns of in the same file, in the same words:
// the file's health is one function for every program.
TEST(PlotCli, TheRunsWarningsAreTilvexs) {
  ScratchDir dir;
  for (const char* name : {"missing-solution.vrin", "unparsed-fields.vrin", "worked.vrin"}) {
    const std::string input = std::string(TILVEX_TEST_DATA) + "/" + name;
    run(TILVEX_BINARY, {input, dir / "s.txt", "95", dir / "a.txt", "1", "2", "3", "4"}, dir / "stdout",
        Launch{"/dev/null", -1, dir / "tilvex.stderr"});
    std::string expected, line;
    std::istringstream said(slurp(dir / "tilvex.stderr"));
    while (std::getline(said, line))
      if (line.rfind("tilvex: warning: '" + input + "'", 0) == 0 || line.find(" of '" + input + "' did not read") != std::string::npos)
        expected += "tilvex-plot" + line.substr(6) + "\n";
    const Outcome o = run(TILVEX_PLOT, {"--vrin", input, "--level", "95", "-o", dir / "net.svg"}, dir / "stdout",
                          Launch{"/dev/null", -1, dir / "plot.stderr"});
    EXPECT_EQ(o.status, 0) << name;
    EXPECT_EQ(slurp(dir / "plot.stderr"), expected) << name;
    if (std::string(name) != "worked.vrin") {
      EXPECT_NE(expected, "") << name;
    }
  }
}

// A row of a table of 39 columns: table_row's, with SHmax (its azimuth and
// range), the regime and A-phi.
std::string stress_row(long long x, long long y, const std::string& shmax, const std::string& low,
                       const std::string& high, const std::string& regime, const std::string& aphi) {
  std::string row = table_row(x, y);
  row.pop_back();
  return row + "\t" + shmax + "\t" + low + "\t" + high + "\t" + regime + "\t0.9\t" + aphi + "\t0.1\t2.9\t\n";
}

// The map's options, and a table written before the stress columns: by
// default the map of axis 1 with a warning; SHmax or A-phi asked of it, a
// refusal and nothing written.
TEST(PlotCli, TheMapsOptionsAndOlderTables) {
  ScratchDir dir;
  const std::string older = dir / "older.tsv", newer = dir / "newer.tsv", out = dir / "map.svg";
  spill(older, kTableHeader + table_row(0, 0));
  spill(newer, stress_row(0, 0, "30", "20", "40", "NF", "0.5"));
  const std::string lack = older + ": slice z 0 t 0 has no stress columns (a table written before them)";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;       // all of standard error; "usage" its first word
    std::string subtitle;  // of the map drawn
  };
  const Case cases[] = {
      {{"--map", newer, "--bars", "axis"}, 2, "tilvex-plot: --bars takes shmax or axis1\n", ""},
      {{"--map", newer, "--field", "A-phi"}, 2, "tilvex-plot: --field takes aphi or phi\n", ""},
      {{"--map", newer, "--field"}, 2, "tilvex-plot: --field takes aphi or phi\n", ""},
      {{newer, "--bars", "axis1"}, 2, "usage", ""},
      {{"--vrin", newer, "--level", "95", "--field", "phi"}, 2, "usage", ""},
      {{"--map", older, "--bars", "shmax"}, 1, "tilvex-plot: " + lack + "; draw axis 1 with --bars axis1\n", ""},
      {{"--map", older, "--field", "aphi"}, 1, "tilvex-plot: " + lack + ", so no A-phi; shade phi with --field phi\n", ""},
      {{"--map", older}, 0, "tilvex-plot: warning: " + lack + "; the map shows axis 1 (--bars axis1)\n",
       "horizontal projection of axis 1 (bar) and its trend range (wedge), coloured by regime"},
      {{"--map", older, "--bars", "axis1", "--field", "phi", "--sigma"}, 0, "",
       "horizontal projection of \u03c3\u2081 (bar) and its trend range (wedge), coloured by regime; cells shaded by phi"},
      {{"--map", newer, "--field", "aphi"}, 0, "",
       "SHmax (bar) and its confidence range (wedge), coloured by regime; cells shaded by A-phi"},
  };
  for (const Case& c : cases) {
    spill(out, "old picture");
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", out});
    const Outcome o = run(TILVEX_PLOT, args, dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
    std::string what;
    for (const std::string& a : c.args) what += a + " ";
    EXPECT_EQ(o.status, c.status) << what;
    const std::string err = slurp(dir / "stderr");
    if (c.err == "usage")
      EXPECT_EQ(err.rfind("usage: ", 0), 0u) << what << err;
    else
      EXPECT_EQ(err, c.err) << what;
    if (c.status != 0) {
      EXPECT_EQ(slurp(out), "old picture") << what;
      continue;
    }
    EXPECT_EQ(occurrences(slurp(out), ">" + c.subtitle + "</text>"), 1u) << what;
    EXPECT_EQ(occurrences(slurp(out), "class=\"bar\""), 1u) << what;
  }
}

// As a renderer draws it: SHmax's range from 170 clockwise to 20 (across
// north) tints north and south of the point and leaves east and the
// azimuth 160 white; --field aphi tints the cell (A-phi 0.5, #e46a5f, at
// half opacity).
TEST(PlotCli, TheWedgeAcrossNorthAsDrawn) {
  ScratchDir dir;
  spill(dir / "t.tsv", stress_row(0, 0, "15", "170", "20", "NF", "0.5"));
  for (const char* field : {"", "aphi"}) {
    std::vector<std::string> args = {"--map", dir / "t.tsv", "-o", dir / "map.svg"};
    if (*field != 0) args.insert(args.end(), {"--field", field});
    ASSERT_EQ(run(TILVEX_PLOT, args, dir / "stdout").status, 0);
    const std::string svg = slurp(dir / "map.svg");
    const double cx = numbers_of(svg, "frame", "x").at(0).at(0) + 80, cy = 70 + 80, r = 48;
    const auto at = [&](double degrees) {
      const double t = degrees * M_PI / 180;
      return std::pair{static_cast<int>(std::lround(cx + r * std::sin(t))),
                       static_cast<int>(std::lround(cy - r * std::cos(t)))};
    };
    const auto pixels = rendered_pixels(dir, dir / "map.svg",
                                        {at(0), at(180), at(90), at(160), {static_cast<int>(cx - 75), 75 + 4}});
    if (pixels.empty()) return;
    ASSERT_EQ(pixels.size(), 5u);
    if (*field == 0) {  // #e41a1c at 0.35 on white
      EXPECT_TRUE(near_colour(pixels[0], 246, 175, 176)) << pixels[0];
      EXPECT_TRUE(near_colour(pixels[1], 246, 175, 176)) << pixels[1];
      EXPECT_TRUE(near_colour(pixels[2], 255, 255, 255, 0)) << pixels[2];
      EXPECT_TRUE(near_colour(pixels[3], 255, 255, 255, 0)) << pixels[3];
      EXPECT_TRUE(near_colour(pixels[4], 255, 255, 255, 0)) << pixels[4];
    } else {
      EXPECT_TRUE(near_colour(pixels[4], 242, 181, 175)) << pixels[4];
    }
  }
}

// --each: every point of a grid drawn from one reading, each the very bytes
// of its own run with --grid and --table (negative indices in the names);
// the table's point without lines and the file's point outside the table
// said on a line each, status 0; nothing half-written left.
TEST(PlotCli, EachPointAsItsOwnRun) {
  ScratchDir dir;
  std::string list;
  for (int x = -1; x < 2; ++x)
    for (int y = 0; y < 2; ++y) {
      const std::string input = dir / ("p" + std::to_string(x + 1) + std::to_string(y) + ".vrin");
      ASSERT_EQ(run(TILVEX_GENERATE, {"200", std::to_string(20 + 10 * x + y)}, input).status, 0);
      list += input + " " + std::to_string(x) + " " + std::to_string(y) + " 0 0\n";
    }
  list += dir / "missing.vrin" + " 3 1 0 0\n";
  spill(dir / "grid.txt", list);
  run(TILVEX_GRID, {dir / "grid.txt", dir / "s", "95", dir / "a", "--table", dir / "t.tsv", "--quiet"},
      dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
  spill(dir / "a", slurp(dir / "a") + "9 9 9 9 0.5 10 20 100 30 250 50\n");
  const fs::path out = fs::path(dir / "figures") / "each";  // made, with its parent
  Outcome o = run(TILVEX_PLOT, {dir / "a", "--table", dir / "t.tsv", "--each", out, "--sigma"}, dir / "stdout",
                  Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.printed, "");
  EXPECT_EQ(slurp(dir / "stderr"),
            "tilvex-plot: 1 of 7 points of " + dir / "t.tsv" + " have no accepted resample in " + dir / "a" +
                ", so no stereonet: 3 1 0 0\n"
                "tilvex-plot: 1 grid points of " + dir / "a" + " have no row with status ok in " + dir / "t.tsv" +
                ", so no stereonet: 9 9 9 9\n");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  const std::vector<std::string> expected = {"point_-1_0_0_0.svg", "point_-1_1_0_0.svg", "point_0_0_0_0.svg",
                                             "point_0_1_0_0.svg",  "point_1_0_0_0.svg",  "point_1_1_0_0.svg"};
  EXPECT_EQ(names, expected);
  for (int x = -1; x < 2; ++x)
    for (int y = 0; y < 2; ++y) {
      const std::string gx = std::to_string(x), gy = std::to_string(y);
      o = run(TILVEX_PLOT, {dir / "a", "--grid", gx, gy, "0", "0", "--table", dir / "t.tsv", "--sigma"},
              dir / "stdout");
      ASSERT_EQ(o.status, 0);
      EXPECT_EQ(slurp(out / ("point_" + gx + "_" + gy + "_0_0.svg")), o.printed) << gx << " " << gy;
    }
}

// --each where it cannot draw: a point whose lines come apart in the file
// (drawn when its first lines ended, so its figure is removed: status 1,
// the others still drawn), a file and a table with no point in common
// (status 1, nothing written), a line that does not read (status 1, the
// figures of the points whose lines ended before it whole), a wrong command line (status 2).
TEST(PlotCli, EachRefusals) {
  ScratchDir dir;
  spill(dir / "t.tsv", kTableHeader + table_row(3, 7) + table_row(4, 7) + table_row(5, 7));
  const std::string a = "3 7 0 0 0.45 0 12 125 3 250 80\n", b = "4 7 0 0 0.40 175 -12 118 6 60 -79\n",
                    c = "5 7 0 0 0.5 10 20 100 30 250 50\n";
  // 9 9 0 0, outside the table, comes apart too: only said to be outside it.
  spill(dir / "apart.txt", a + "9 9 0 0 0.5 10 20 100 30 250 50\n" + b + a + "9 9 0 0 0.5 10 20 100 30 250 50\n" + c);
  spill(dir / "other.txt", "1 1 0 0 0.45 0 12 125 3 250 80\n");
  spill(dir / "bad.txt", a + b + "5 7 0 0 0.5 10 x 100 30 250 50\n");
  struct Case {
    std::string file;
    std::vector<std::string> written;
    int status;
    std::string said;  // a piece of standard error
  };
  const Case cases[] = {
      {"apart.txt", {"point_4_7_0_0.svg", "point_5_7_0_0.svg"}, 1,
       "1 grid points have their lines apart in " + dir / "apart.txt" + " (not one after another), so no "
       "stereonet (draw each with --grid): 3 7 0 0\n"},
      {"other.txt", {}, 1, "no point of " + dir / "t.tsv" + " has accepted resamples in " + dir / "other.txt"},
      // 4 7's lines may go on past the line that does not read: not drawn.
      {"bad.txt", {"point_3_7_0_0.svg"}, 1,
       "bad.txt:3: field 7 is not a number: x (1 stereonets written in " + dir / "out" + " before it)\n"},
  };
  for (const Case& k : cases) {
    fs::remove_all(dir / "out");
    const Outcome o = run(TILVEX_PLOT, {dir / k.file, "--table", dir / "t.tsv", "--each", dir / "out"},
                          dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
    EXPECT_EQ(o.status, k.status) << k.file;
    EXPECT_NE(slurp(dir / "stderr").find(k.said), std::string::npos) << k.file << ": " << slurp(dir / "stderr");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir / "out")) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, k.written) << k.file;
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {dir / "apart.txt", "--each", dir / "out"},                                         // no table
           {dir / "apart.txt", "--table", dir / "t.tsv", "--each", dir / "out", "-o", "x.svg"},  // one file
           {dir / "apart.txt", "--table", dir / "t.tsv", "--each", dir / "out", "--grid", "3", "7", "0", "0"},
           {"--table", dir / "t.tsv", "--each", dir / "out"}}) {  // no accepted file
    EXPECT_EQ(run(TILVEX_PLOT, args, dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"}).status, 2);
  }
}

// A figure that cannot be written is a refusal (status 1, "cannot write",
// nothing left beside it), not a crash: a name whose ".partial" is too long
// for the file system (-o), a folder so deep that the figures' paths are
// (--each).
TEST(PlotCli, UnwritableFiguresAreRefused) {
  ScratchDir dir;
  spill(dir / "t.tsv", kTableHeader + table_row(3, 7));
  spill(dir / "a.txt", "3 7 0 0 0.45 0 12 125 3 250 80\n");
  fs::path deep = dir / "deep";
  while (deep.string().size() < 4000) deep /= std::string(200, 'd');
  deep /= std::string(4085 - deep.string().size() - 1, 'e');  // made; its figures' names too long
  const std::string long_name = dir / (std::string(250, 'n') + ".svg");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {dir / "a.txt", "-o", long_name},
           {dir / "a.txt", "--table", dir / "t.tsv", "-o", long_name},
           {dir / "a.txt", "--table", dir / "t.tsv", "--each", deep}}) {
    const Outcome o = run(TILVEX_PLOT, args, dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
    EXPECT_EQ(o.status, 1) << args.back().size();
    EXPECT_EQ(slurp(dir / "stderr").rfind("tilvex-plot: cannot write ", 0), 0u) << slurp(dir / "stderr");
  }
  EXPECT_FALSE(fs::exists(long_name));
  EXPECT_EQ(std::distance(fs::directory_iterator(deep), fs::directory_iterator{}), 0);
}

// --each where a figure cannot be written (a folder of its name in the
// way) after a point's lines came apart: the figure of that point is still
// removed, whether the failure is found at the end or while the reading
// goes on; status 1, the failure said; the figure drawn before them stays.
TEST(PlotCli, EachRemovesApartFiguresWhenAWriteFails) {
  ScratchDir dir;
  spill(dir / "t.tsv", kTableHeader + table_row(3, 7) + table_row(4, 7) + table_row(5, 7) + table_row(6, 7) +
                           table_row(7, 7));
  const auto lines = [](int x) { return std::to_string(x) + " 7 0 0 0.45 0 12 125 3 250 80\n"; };
  spill(dir / "last.txt", lines(4) + lines(3) + lines(4) + lines(5));
  spill(dir / "middle.txt", lines(4) + lines(3) + lines(4) + lines(5) + lines(6) + lines(7));
  for (const char* file : {"last.txt", "middle.txt"}) {
    fs::remove_all(dir / "out");
    fs::create_directories(fs::path(dir / "out") / "point_5_7_0_0.svg" / "in the way");
    const Outcome o = run(TILVEX_PLOT, {dir / file, "--table", dir / "t.tsv", "--each", dir / "out"},
                          dir / "stdout", Launch{"/dev/null", -1, dir / "stderr"});
    EXPECT_EQ(o.status, 1) << file;
    EXPECT_EQ(slurp(dir / "stderr"), "tilvex-plot: cannot write " + dir / "out/point_5_7_0_0.svg\n") << file;
    EXPECT_FALSE(fs::exists(fs::path(dir / "out") / "point_4_7_0_0.svg")) << file;
    EXPECT_EQ(slurp(fs::path(dir / "out") / "point_3_7_0_0.svg"),
              run(TILVEX_PLOT, {dir / file, "--grid", "3", "7", "0", "0", "--table", dir / "t.tsv"}, dir / "stdout")
                  .printed)
        << file;
  }
}

// --each holds a few points' resamples at a time (as many as it has
// threads drawing, and as many waiting), however many the file holds: its
// peak resident size over 48 points of 3000 lines (held together, some 20
// MB of markers and axes) stays within 4 MiB of its peak over 12.
TEST(PlotCli, EachHoldsAFewPointsAtATime) {
  ScratchDir dir;
  const auto make = [&](int points, const std::string& name) {
    std::string table = kTableHeader;
    std::ofstream out(dir / (name + ".txt"), std::ios::binary);
    char line[128];
    for (int p = 0; p < points; ++p) {
      table += table_row(p % 10, p / 10);
      for (int i = 0; i < 3000; ++i) {
        std::snprintf(line, sizeof line, "%d %d 0 0 0.%04d %.6f %.6f %.6f %.6f %.6f %.6f\n", p % 10, p / 10,
                      i * 7 % 10000, 40.0 + i % 37, 30.0 + i % 11, 160.0 + i % 29, 20.0 + i % 13, 270.0 + i % 23,
                      50.0 + i % 7);
        out << line;
      }
    }
    spill(dir / (name + ".tsv"), table);
  };
  make(12, "few"), make(48, "many");
  const auto [few_status, few] = peak_of({dir / "few.txt", "--table", dir / "few.tsv", "--each", dir / "few"});
  const auto [many_status, many] = peak_of({dir / "many.txt", "--table", dir / "many.tsv", "--each", dir / "many"});
  ASSERT_EQ(few_status, 0);
  ASSERT_EQ(many_status, 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "many"), fs::directory_iterator{}), 48);
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LE(many, few + (4L << 20)) << "12 points " << few << " bytes, 48 points " << many;
#endif
}

// --report: map.svg the bytes of --map, the map inline in index.html, the
// stereonets the bytes of --each, a row's cells in the page as the table
// writes them (an input named to end the script stays inside it); without
// ACCEPTED_FILE no stereonet; a table of several slices and no --slice
// refused before anything is made.
TEST(PlotCli, ReportBesideItsFigures) {
  ScratchDir dir;
  std::string table = kTableHeader + table_row(3, 7) + table_row(4, 7) + table_row(5, 7, false);
  const std::size_t at = table.find("p.vrin");
  table.replace(at, 6, "x</script><b>.vrin");
  spill(dir / "t.tsv", table);
  spill(dir / "a.txt", "3 7 0 0 0.45 0 12 125 3 250 80\n3 7 0 0 0.55 350 7 300 -4 235 75\n"
                       "4 7 0 0 0.40 175 -12 118 6 60 -79\n");
  Outcome o = run(TILVEX_PLOT, {"--report", dir / "r", "--table", dir / "t.tsv", dir / "a.txt"}, dir / "stdout",
                  Launch{"/dev/null", -1, dir / "stderr"});
  ASSERT_EQ(o.status, 0) << slurp(dir / "stderr");
  o = run(TILVEX_PLOT, {dir / "a.txt", "--table", dir / "t.tsv", "--each", dir / "e"}, dir / "stdout",
          Launch{"/dev/null", -1, dir / "stderr"});
  ASSERT_EQ(o.status, 0);
  for (const char* name : {"point_3_7_0_0.svg", "point_4_7_0_0.svg"})
    EXPECT_EQ(slurp(fs::path(dir / "r") / name), slurp(fs::path(dir / "e") / name)) << name;
  EXPECT_FALSE(fs::exists(fs::path(dir / "r") / "point_5_7_0_0.svg"));
  const std::string map = run(TILVEX_PLOT, {"--map", dir / "t.tsv"}, dir / "stdout").printed;
  EXPECT_EQ(slurp(fs::path(dir / "r") / "map.svg"), map);
  const std::string page = slurp(fs::path(dir / "r") / "index.html");
  EXPECT_NE(page.find(map.substr(map.find("<svg"))), std::string::npos);
  EXPECT_NE(page.find("\"x\\u003c/script>\\u003cb>.vrin\",\"3\",\"7\",\"0\",\"0\",\"ok\",\"100\",\"95\",\"0.9\""),
            std::string::npos);
  EXPECT_EQ(page.find("</script><b>"), std::string::npos);
  EXPECT_NE(page.find("points: 3</span><span id=\"ok\">ok: 2</span>"), std::string::npos);
  EXPECT_NE(page.find(">failed: 1</span>"), std::string::npos);
  EXPECT_NE(page.find("\"svg\":\"point_3_7_0_0.svg\""), std::string::npos);
  EXPECT_NE(page.find("\"svg\":null"), std::string::npos);  // the failed point
  // Without the accepted file: the page and the map, no stereonet.
  o = run(TILVEX_PLOT, {"--report", dir / "m", "--table", dir / "t.tsv"}, dir / "stdout");
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "m"), fs::directory_iterator{}), 2);
  EXPECT_EQ(slurp(fs::path(dir / "m") / "index.html").find("\"svg\":\"point_"), std::string::npos);
  // Two slices, none chosen: refused, no folder made.
  spill(dir / "two.tsv", table + table_row(3, 7).replace(table_row(3, 7).find("\t0\t0\t"), 5, "\t1\t0\t"));
  o = run(TILVEX_PLOT, {"--report", dir / "two", "--table", dir / "two.tsv", dir / "a.txt"}, dir / "stdout",
          Launch{"/dev/null", -1, dir / "stderr"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(slurp(dir / "stderr").find("choose one with --slice Z T"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "two"));
  EXPECT_EQ(run(TILVEX_PLOT, {"--report", dir / "r", dir / "a.txt"}, dir / "stdout",
                Launch{"/dev/null", -1, dir / "stderr"}).status, 2);  // no table
}

}  // namespace
}  // namespace tilvex::test
