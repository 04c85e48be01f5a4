// End-to-end runs of tilvex-plot: the picture, the errors, and that nothing
// is written on error.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../support/run.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

std::size_t occurrences(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

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
  if (std::system("command -v rsvg-convert >/dev/null 2>&1") != 0) {
    if (const char* ci = std::getenv("CI"); ci != nullptr && std::string(ci) == "true")
      ADD_FAILURE() << "rsvg-convert is missing (Debian package librsvg2-bin)";
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
                           "class=\"phi-bound\"", "Kamb contours at ", ">resamples<"})
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
  EXPECT_NE(o.printed.find(">sigma 1<"), std::string::npos);
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
  EXPECT_NE(svg.find("1000000 accepted resamples (density only"), std::string::npos);
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
  o = run(TILVEX_PLOT, {"--map", dir / "t.tsv", "--slice", "0", "0", "-o", dir / "map.svg"}, dir / "stdout");
  ASSERT_EQ(o.status, 0);
  const std::string svg = slurp(dir / "map.svg");
  EXPECT_EQ(occurrences(svg, "class=\"bar\""), 6u);
  EXPECT_EQ(occurrences(svg, "class=\"failed\""), 1u);
  EXPECT_NE(svg.find("class=\"colour-bar\""), std::string::npos);
  // The colour bar's top is phi 1 (#ffea46), its bottom phi 0 (#00204c).
  const auto pixels = rendered_pixels(dir, dir / "map.svg", {{712, 92}, {712, 388}, {940, 630}});
  if (!pixels.empty()) {
    EXPECT_TRUE(near_colour(pixels[0], 0xff, 0xea, 0x46)) << pixels[0];
    EXPECT_TRUE(near_colour(pixels[1], 0x00, 0x20, 0x4c)) << pixels[1];
    EXPECT_TRUE(near_colour(pixels[2], 255, 255, 255, 0)) << pixels[2];
  }
}

}  // namespace
}  // namespace tilvex::test
