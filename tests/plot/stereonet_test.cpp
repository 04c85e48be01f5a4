#include "plot/stereonet.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "svg_reading.hpp"

namespace tilvex::plot {
namespace {

void expect_near(const std::optional<NetPoint>& p, double east, double north) {
  ASSERT_TRUE(p.has_value());
  EXPECT_NEAR(p->east, east, 1e-12);
  EXPECT_NEAR(p->north, north, 1e-12);
}

TEST(Project, KnownPoints) {
  // Plunge 90 at the centre, whatever the trend.
  for (double t : {0.0, 37.0, 300.0}) expect_near(project(t, 90), 0, 0);
  // Plunge 0 on the primitive circle at the trend's azimuth.
  expect_near(project(0, 0), 0, 1);
  expect_near(project(90, 0), 1, 0);
  expect_near(project(180, 0), 0, -1);
  expect_near(project(270, 0), -1, 0);
  expect_near(project(45, 0), std::sqrt(0.5), std::sqrt(0.5));
  // Equal area: plunge p at distance sqrt(1 - sin p).
  const auto p = project(90, 30);
  expect_near(p, std::sqrt(1 - std::sin(30 * M_PI / 180)), 0);
  // A negative plunge is drawn at its antipode; trends off by 360 coincide.
  for (double t : {10.0, 135.0, 250.0}) {
    for (double pl : {5.0, 42.0, 89.0}) {
      const auto up = project(t, -pl), down = project(t + 180, pl), round = project(t + 360, pl);
      ASSERT_TRUE(up && down && round);
      EXPECT_NEAR(up->east, down->east, 1e-12);
      EXPECT_NEAR(up->north, down->north, 1e-12);
      EXPECT_NEAR(round->east, project(t, pl)->east, 1e-12);
    }
  }
  EXPECT_FALSE(project(NAN, 10));
  EXPECT_FALSE(project(10, INFINITY));
}

// Tags balance, attribute values are quoted, text holds no raw '<' or bare
// '&'. Returns an empty string when well-formed, or what is wrong.
std::string xml_fault(const std::string& doc) {
  if (doc.rfind("<?xml version=\"1.0\"", 0) != 0) return "no XML declaration";
  std::vector<std::string> open;
  std::size_t at = doc.find("?>") + 2;
  bool root_seen = false;
  while (at < doc.size()) {
    const std::size_t lt = doc.find('<', at);
    const std::string text = doc.substr(at, lt == std::string::npos ? std::string::npos : lt - at);
    for (std::size_t amp = text.find('&'); amp != std::string::npos; amp = text.find('&', amp + 1))
      if (text.find(';', amp) == std::string::npos) return "bare & in text";
    if (lt == std::string::npos) break;
    const std::size_t gt = doc.find('>', lt);
    if (gt == std::string::npos) return "unclosed tag";
    const std::string tag = doc.substr(lt + 1, gt - lt - 1);
    if (std::count(tag.begin(), tag.end(), '"') % 2 != 0) return "unbalanced quotes in <" + tag;
    if (tag[0] == '/') {
      if (open.empty() || open.back() != tag.substr(1)) return "mismatched </" + tag.substr(1);
      open.pop_back();
    } else {
      if (open.empty() && root_seen) return "content after the root";
      const std::string name = tag.substr(0, tag.find_first_of(" /"));
      if (open.empty() && name != "svg") return "root is not svg";
      root_seen = true;
      if (tag.back() != '/') open.push_back(name);
    }
    at = gt + 1;
  }
  return open.empty() && root_seen ? "" : "unclosed <" + (open.empty() ? "" : open.back());
}

std::size_t occurrences(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

TEST(RenderSvg, WellFormedWithOneMarkerPerAxis) {
  std::vector<AcceptedLine> lines;
  for (int i = 0; i < 50; ++i) {
    AcceptedLine a;
    a.phi = static_cast<float>(i) / 49.0f;
    for (int k = 0; k < 3; ++k) {
      a.trend[k] = static_cast<float>(120 * k + i);
      a.plunge[k] = static_cast<float>((i % 2 ? -1 : 1) * (10 + i));
    }
    lines.push_back(a);
  }
  lines[7].trend[2] = NAN;  // not drawn, and said so
  lines[9].plunge[0] = NAN;  // still an accepted resample
  const std::string svg = render_svg(lines, "run <7> & \"more\"");
  EXPECT_EQ(xml_fault(svg), "");
  EXPECT_EQ(occurrences(svg, "class=\"axis1\""), 49u);
  EXPECT_EQ(occurrences(svg, "class=\"axis2\""), 50u);
  EXPECT_EQ(occurrences(svg, "class=\"axis3\""), 49u);
  EXPECT_NE(svg.find("50 accepted resamples"), std::string::npos);
  EXPECT_NE(svg.find("2 axes not drawn"), std::string::npos);
  EXPECT_NE(svg.find("run &lt;7&gt; &amp; &quot;more&quot;"), std::string::npos);
  for (const char* mark : {">N<", ">E<", ">S<", ">W<"}) EXPECT_NE(svg.find(mark), std::string::npos);
}

// Contours are drawn from 10 accepted resamples on: 9 give none, 10 give
// a group for each axis: by default the regions of 50, 90 and 95 per cent
// (or the shares given), in sigma at the levels of a peak of 19/3 sigma
// (ten axes alike: see Kamb.DensityInBinomialSigmas) or those given.
TEST(RenderSvg, ContoursFromTenResamplesOn) {
  AcceptedLine a;
  a.phi = 0.5;
  for (int k = 0; k < 3; ++k) {
    a.trend[k] = static_cast<float>(120 * k);
    a.plunge[k] = k == 0 ? 90.0f : 0.0f;
  }
  struct Case {
    Contours contours;
    std::vector<double> levels;
    std::string method;
  };
  const Case cases[] = {
      {Contours::regions, {}, ">contours: the smallest regions holding<"},
      {Contours::regions, {}, ">50, 90 and 95% of each axis<"},
      {Contours::regions, {95, 68}, ">68 and 95% of each axis<"},
      {Contours::sigma, {}, ">Kamb contours at 2.0, 4.0 and 6.0 sigma,<"},
      {Contours::sigma, {3, 5}, ">Kamb contours at 3.0 and 5.0 sigma,<"},
      {Contours::density, {2}, ">contours at 2.0 times the uniform<"},
  };
  for (std::size_t n : {9u, 10u}) {
    for (const Case& c : cases) {
      Cloud cloud;
      for (std::size_t i = 0; i < n; ++i) cloud.add(a);
      Figure f;
      f.title = "ten";
      f.contours = c.contours;
      f.levels = c.levels;
      const std::string svg = render_svg(cloud, f);
      EXPECT_EQ(occurrences(svg, "<g class=\"contours"), n == 10 ? 3u : 0u) << n << c.method;
      EXPECT_EQ(occurrences(svg, c.method), n == 10 ? 1u : 0u) << n << c.method;
      // A level given is a level drawn: one path each, where it is crossed.
      if (n == 10 && !c.levels.empty() && c.contours == Contours::sigma) {
        EXPECT_EQ(occurrences(svg, "class=\"level\""), 3 * c.levels.size()) << c.method;
      }
    }
  }
}

// phi = 1 falls in the last of the twenty bins, not past it, and is not
// counted as outside 0 to 1.
TEST(RenderSvg, HistogramHoldsBothEndsOfPhi) {
  std::vector<AcceptedLine> lines(3);
  lines[0].phi = 1.0;
  lines[1].phi = 1.0;
  lines[2].phi = 0.0;
  const std::string svg = render_svg(lines, "ends");
  EXPECT_NE(svg.find("<rect x=\"906.0\" y=\"360.0\" width=\"13.0\" height=\"180.0\""),
            std::string::npos);  // the last bin, full height
  EXPECT_NE(svg.find("<rect x=\"640.0\" y=\"450.0\" width=\"13.0\" height=\"90.0\""),
            std::string::npos);  // the first, half
  EXPECT_EQ(svg.find("outside 0 to 1"), std::string::npos);
}

// The figure's memory stays bounded: markers for the first resamples only,
// since beyond them it shows density only.
TEST(Cloud, KeepsMarkersForTheFirstResamplesOnly) {
  Cloud cloud;
  AcceptedLine a;
  a.trend[0] = a.trend[1] = a.trend[2] = 10;
  for (std::size_t i = 0; i <= Cloud::kMaxMarkers; ++i) cloud.add(a);
  EXPECT_EQ(cloud.count, Cloud::kMaxMarkers + 1);
  for (const auto& m : cloud.markers) EXPECT_EQ(m.size(), Cloud::kMaxMarkers);
}


// Every text of the figure inside the canvas, at 0.6 em a character, for
// awkward inputs: a title of 300 characters, counts of ten million, no
// resample, twenty levels of each kind of contours, the axes called sigma.
TEST(RenderSvg, NothingIsClipped) {
  AcceptedLine a;
  a.phi = 0.5;
  for (int k = 0; k < 3; ++k) {
    a.trend[k] = static_cast<float>(120 * k + 7);
    a.plunge[k] = k == 0 ? 60.0f : 10.0f;
  }
  std::string long_title;
  for (int i = 0; i < 30; ++i) long_title += "r\xc3\xa9sultats/";
  struct Case {
    std::string name;
    std::size_t lines;
    Contours contours;
    std::vector<double> levels;
    bool huge = false;
  };
  std::vector<double> twenty, shares;
  for (int i = 1; i <= 20; ++i) twenty.push_back(0.5 * i);
  for (int i = 1; i <= 19; ++i) shares.push_back(5.0 * i);
  const Case cases[] = {
      {"no resample", 0, Contours::regions, {}},
      {"ten million", 40, Contours::regions, {}, true},
      {"nineteen shares", 40, Contours::regions, shares},
      {"twenty sigmas", 40, Contours::sigma, twenty},
      {"twenty multiples", 40, Contours::density, twenty},
  };
  for (const Case& c : cases) {
    Cloud cloud;
    for (std::size_t i = 0; i < c.lines; ++i) {
      AcceptedLine b = a;
      b.trend[0] += static_cast<float>(i % 7);
      b.plunge[1] += static_cast<float>(i % 5);
      cloud.add(b);
    }
    if (c.huge) {
      cloud.count = 10000000;
      cloud.phi_bins[3] = 9999999;
      cloud.left_out = 12345678;
      cloud.phi_outside = 7654321;
    }
    Figure f;
    f.title = long_title + " grid point -2147483648 2147483647 -2147483648 2147483647";
    f.subtitle = "confidence level 99.9999%: 10000000 of 10000000 resamples accepted, threshold 0.999999";
    f.sigma_names = true;
    f.contours = c.contours;
    f.levels = c.levels;
    BestFit best;
    best.phi[0] = 0.5, best.phi[1] = 0.25, best.phi[2] = 0.75;
    f.best = best;
    const std::string svg = render_svg(cloud, f);
    const auto [width, height] = test::canvas_of(svg);
    for (const test::TextElement& t : test::text_elements(svg)) {
      const auto [x0, y0, x1, y1] = test::box_of(t);
      EXPECT_GE(x0, 0) << c.name << ": " << t.words;
      EXPECT_LE(x1, width) << c.name << ": " << t.words;
      EXPECT_GE(y0, 0) << c.name << ": " << t.words;
      EXPECT_LE(y1, height) << c.name << ": " << t.words;
    }
    // The title keeps its start and its end around "...".
    EXPECT_NE(svg.find(">r\xc3\xa9sultats/r\xc3\xa9sultats/r\xc3\xa9sultats/r\xc3\xa9sultats/r\xc3\xa9sult..."
                       " -2147483648 2147483647 -2147483648 2147483647</text>"),
              std::string::npos)
        << c.name;
  }
}

// The histogram's counts at a round step that gives three to six ticks
// (387 resamples in the tallest bar: 0, 100, 200, 300), phi every 0.2.
TEST(RenderSvg, HistogramTicksAtRoundSteps) {
  Cloud cloud;
  cloud.phi_bins[3] = 387;
  const std::string svg = render_svg(cloud, Figure{});
  std::vector<std::string> ticks;
  for (const test::TextElement& t : test::text_elements(svg))
    if (t.anchor == "end" && t.x == 634.0) ticks.push_back(t.words);
  EXPECT_EQ(ticks, (std::vector<std::string>{"0", "100", "200", "300"}));
  for (const char* phi : {">0.0<", ">0.2<", ">0.4<", ">0.6<", ">0.8<", ">1.0<"})
    EXPECT_EQ(occurrences(svg, phi), 1u) << phi;
}
}  // namespace
}  // namespace tilvex::plot
