#include "stereonet.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "numeric/angles.hpp"
#include "kamb.hpp"
#include "svg.hpp"

namespace tilvex::plot {

namespace {

using svg::document_start;
using svg::number;
using svg::text;
using svg::upward_text;

constexpr double kDegree = kRadiansPerDegree;

// Where the net sits in the picture.
constexpr double kWidth = 960, kHeight = 600;
constexpr double kCentreX = 300, kCentreY = 330, kRadius = 250;

// A direction (north, east, down) of length 1, projected; down >= 0.
NetPoint project_down(double north, double east, double down) {
  const double scale = 1.0 / std::sqrt(1.0 + down);  // sqrt(1 - down) / horizontal length
  return {east * scale, north * scale};
}

double svg_x(const NetPoint& p) { return kCentreX + kRadius * p.east; }
double svg_y(const NetPoint& p) { return kCentreY - kRadius * p.north; }

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

// A marker for axis 0, 1 or 2 at (x, y) in the picture, `scale` times the
// usual size; `cls` marks it (the resamples' are "axis1" to "axis3").
std::string marker(int axis, double x, double y, const std::string& cls, double scale = 1.0,
                   const char* extra = "") {
  const std::string c = cls.empty() ? std::string() : " class=\"" + cls + "\"";
  switch (axis) {
    case 0:
      return "<circle" + c + " cx=\"" + number(x) + "\" cy=\"" + number(y) + "\" r=\"" +
             number(3.2 * scale) + "\"" + extra + "/>\n";
    case 1:
      return "<rect" + c + " x=\"" + number(x - 2.8 * scale) + "\" y=\"" + number(y - 2.8 * scale) +
             "\" width=\"" + number(5.6 * scale) + "\" height=\"" + number(5.6 * scale) + "\"" + extra + "/>\n";
    default:
      return "<polygon" + c + " points=\"" + number(x) + "," + number(y - 3.8 * scale) + " " +
             number(x - 3.3 * scale) + "," + number(y + 2.0 * scale) + " " + number(x + 3.3 * scale) +
             "," + number(y + 2.0 * scale) + "\"" + extra + "/>\n";
  }
}

const auto& kColour = kAxisColours;

// A round step for counts up to `most`: 1, 2 or 5 times a power of ten,
// the least that gives at most five steps.
long long count_step(long long most) {
  for (long long magnitude = 1;; magnitude *= 10)
    for (long long nice : {1, 2, 5})
      if (nice * magnitude * 5 >= most) return nice * magnitude;
}

std::string histogram(const Cloud& cloud, const Figure& f) {
  constexpr double kLeft = 640, kRight = 920, kBase = 540, kTall = 180;
  const int most = std::max(1, *std::max_element(cloud.phi_bins.begin(), cloud.phi_bins.end()));
  std::string h = "<g class=\"histogram\">\n";
  const double bar = (kRight - kLeft) / Cloud::kBins;
  for (int b = 0; b < Cloud::kBins; ++b) {
    const double tall = kTall * cloud.phi_bins[static_cast<std::size_t>(b)] / most;
    h += "<rect x=\"" + number(kLeft + b * bar) + "\" y=\"" + number(kBase - tall) + "\" width=\"" +
         number(bar - 1.0) + "\" height=\"" + number(tall) + "\" fill=\"#999999\"/>\n";
  }
  h += "<line x1=\"" + number(kLeft) + "\" y1=\"" + number(kBase) + "\" x2=\"" + number(kRight) +
       "\" y2=\"" + number(kBase) + "\" stroke=\"black\"/>\n";
  // Ticks: phi every 0.2; the counts at a round step (1, 2 or 5 times a
  // power of ten) that gives three to six of them up to the tallest bar.
  for (int t = 0; t <= 5; ++t) {
    const double x = kLeft + t / 5.0 * (kRight - kLeft);
    h += "<line x1=\"" + number(x) + "\" y1=\"" + number(kBase) + "\" x2=\"" + number(x) + "\" y2=\"" +
         number(kBase + 4) + "\" stroke=\"black\"/>\n";
    h += text(x, kBase + 17, number(t / 5.0), " text-anchor=\"middle\"");
  }
  h += text((kLeft + kRight) / 2, kBase + 34, "phi", " text-anchor=\"middle\" font-style=\"italic\"");
  for (long long tick = 0, step = count_step(most); tick <= most; tick += step) {
    const double y = kBase - kTall * static_cast<double>(tick) / most;
    h += "<line x1=\"" + number(kLeft - 4) + "\" y1=\"" + number(y) + "\" x2=\"" + number(kLeft) + "\" y2=\"" +
         number(y) + "\" stroke=\"black\"/>\n";
    h += text(kLeft - 6, y + 4, std::to_string(tick), " text-anchor=\"end\"");
  }
  // Beside the widest count label (8.5 pixels a digit at most).
  const double label_x = kLeft - 18 - 8.5 * static_cast<double>(std::to_string(most).size());
  h += upward_text(label_x, kBase - kTall / 2, "resamples", " text-anchor=\"middle\"");
  h += text(kLeft, kBase - kTall - 14, "phi of the accepted resamples");
  if (f.best) {  // the best fit, solid, and its bounds, dashed
    const auto mark = [&](double phi, const char* dash, const char* cls) {
      if (!(phi >= 0.0 && phi <= 1.0)) return std::string();
      const double x = kLeft + phi * (kRight - kLeft);
      return "<line class=\"" + std::string(cls) + "\" x1=\"" + number(x) + "\" y1=\"" + number(kBase + 4) +
             "\" x2=\"" + number(x) + "\" y2=\"" + number(kBase - kTall - 4) +
             "\" stroke=\"black\" stroke-width=\"1.5\"" + dash + "/>\n";
    };
    h += mark(f.best->phi[0], "", "best-phi");
    h += mark(f.best->phi[1], " stroke-dasharray=\"4 3\"", "phi-bound");
    h += mark(f.best->phi[2], " stroke-dasharray=\"4 3\"", "phi-bound");
    h += text(kRight, kBase + 52, "best fit: solid line; bounds: dashed", " text-anchor=\"end\" font-size=\"11\"");
  }
  if (cloud.phi_outside > 0)
    h += text(kLeft, kBase - kTall - 32, std::to_string(cloud.phi_outside) + " outside 0 to 1 or not a number",
              " font-size=\"11\"");
  return h + "</g>\n";
}

// The net: its graticule, the clip path of its circle (for the contours),
// the primitive circle, a cross at the centre and N, E, S, W.
std::string net() {
  std::string svg = graticule();
  svg += "<clipPath id=\"net\"><circle cx=\"" + number(kCentreX) + "\" cy=\"" + number(kCentreY) +
         "\" r=\"" + number(kRadius) + "\"/></clipPath>\n";
  svg += "<circle cx=\"" + number(kCentreX) + "\" cy=\"" + number(kCentreY) + "\" r=\"" +
         number(kRadius) + "\" fill=\"none\" stroke=\"black\" stroke-width=\"1.2\"/>\n";
  svg += "<path d=\"M " + number(kCentreX - 6) + " " + number(kCentreY) + " h 12 M " +
         number(kCentreX) + " " + number(kCentreY - 6) + " v 12\" stroke=\"black\"/>\n";
  svg += text(kCentreX, kCentreY - kRadius - 8, "N", " text-anchor=\"middle\" font-weight=\"bold\"");
  svg += text(kCentreX + kRadius + 8, kCentreY + 5, "E", " font-weight=\"bold\"");
  svg += text(kCentreX, kCentreY + kRadius + 16, "S", " text-anchor=\"middle\" font-weight=\"bold\"");
  svg += text(kCentreX - kRadius - 8, kCentreY + 5, "W", " text-anchor=\"end\" font-weight=\"bold\"");
  return svg;
}

// Every resample's axes as markers, a group per axis in its colour.
std::string resample_markers(const Cloud& cloud) {
  std::string svg;
  for (int k = 0; k < 3; ++k) {
    svg += "<g fill=\"" + std::string(kColour[k]) + "\" fill-opacity=\"0.5\">\n";
    for (const NetPoint& p : cloud.markers[k])
      svg += marker(k, svg_x(p), svg_y(p), "axis" + std::to_string(k + 1));
    svg += "</g>\n";
  }
  return svg;
}

// The contours of one axis's density at the levels `at` (sigma), a path a
// level, each thicker than the one below; `stroke` their colour.
std::string contour_group(int axis, const DensityGrid& g, const std::vector<double>& at, const std::string& stroke) {
  std::string svg = "<g class=\"contours" + std::to_string(axis + 1) +
                    "\" clip-path=\"url(#net)\" fill=\"none\" stroke=\"" + stroke + "\">\n";
  for (std::size_t l = 0; l < at.size(); ++l) {
    std::string d;
    for (const auto& seg : contour(g, at[l]))
      d += "M" + number(svg_x({seg[0], seg[1]})) + " " + number(svg_y({seg[0], seg[1]})) + "L" +
           number(svg_x({seg[2], seg[3]})) + " " + number(svg_y({seg[2], seg[3]}));
    if (!d.empty())
      svg += "<path class=\"level\" d=\"" + d + "\" stroke-width=\"" + number(0.8 + 0.4 * static_cast<double>(l)) + "\"/>\n";
  }
  return svg + "</g>\n";
}

// "2.0, 4.0 and 6.0"; with `whole`, whole numbers without decimals: "50, 90 and 95".
std::string listed(const std::vector<double>& v, bool whole = false) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    std::string n = number(v[i]);
    if (whole && v[i] == std::round(v[i]) && std::fabs(v[i]) < 1e9) n = std::to_string(static_cast<long long>(v[i]));
    out += (i == 0 ? "" : i + 1 == v.size() ? " and " : ", ") + n;
  }
  return out;
}

// The contours of contours_of() as SVG, black over the markers.
std::string contour_lines(const ContourSet& set, bool over_markers) {
  std::string svg;
  for (const AxisContours& a : set.axes)
    svg += contour_group(a.axis, a.grid, a.levels,
                         over_markers ? std::string("black") : std::string(kColour[a.axis]));
  return svg;
}

}  // namespace

ContourSet contours_of(const Cloud& cloud, const Figure& f) {
  ContourSet c;
  if (cloud.count < 10) return c;
  std::vector<double> given = f.levels;
  std::sort(given.begin(), given.end());
  if (f.contours == Contours::regions) {
    // Each axis its own levels: the densest region last (drawn last).
    std::vector<double> shares = given.empty() ? std::vector<double>{50, 90, 95} : given;
    std::vector<double> fractions;
    for (auto it = shares.rbegin(); it != shares.rend(); ++it) fractions.push_back(*it / 100.0);
    for (int k = 0; k < 3; ++k) {
      if (cloud.drawn[k] < 10) continue;
      DensityGrid g = cloud.smoothed(k);
      std::vector<std::array<double, 2>> at;
      std::vector<double> weights;
      cloud.points(k, at, weights);
      std::vector<double> levels = mass_levels(g, at, weights, fractions);
      c.axes.push_back({k, std::move(g), std::move(levels)});
    }
    if (!c.axes.empty())
      c.method = {"contours: the smallest regions holding", listed(shares, true) + "% of each axis"};
    return c;
  }
  DensityGrid grids[3];
  double peak = 0;
  for (int k = 0; k < 3; ++k) {
    if (cloud.drawn[k] < 10) continue;
    grids[k] = f.contours == Contours::sigma ? cloud.density(k) : cloud.smoothed(k);
    peak = std::max(peak, grids[k].peak);
  }
  if (peak == 0) return c;
  const std::vector<double> at = given.empty() ? levels(peak) : given;
  for (int k = 0; k < 3; ++k)
    if (cloud.drawn[k] >= 10) c.axes.push_back({k, std::move(grids[k]), at});
  const std::string list = at.empty() ? std::string("none") : listed(at);
  if (f.contours == Contours::sigma)
    c.method = {"Kamb contours at " + list + " sigma,",
                "counting circle " + number(100.0 * counting_area(cloud.drawn[0])) + "% of the hemisphere"};
  else
    c.method = {"contours at " + list + " times the uniform", "density (exponential smoothing)"};
  return c;
}

namespace {

// The best fit's axes, large and outlined (classes "best1" to "best3").
std::string best_fit_markers(const BestFit& best) {
  std::string svg;
  for (int k = 0; k < 3; ++k)
    if (const auto p = project(best.trend[k], best.plunge[k]))
      svg += "<g fill=\"" + std::string(kColour[k]) + "\" stroke=\"black\" stroke-width=\"1.5\">" +
             marker(k, svg_x(*p), svg_y(*p), "best" + std::to_string(k + 1), 2.4) + "</g>\n";
  return svg;
}

// The legend beside the net: a key of the markers, then the counts, the
// projection and the density method.
std::string legend(const Cloud& cloud, const Figure& f, bool markers, const ContourSet& contours) {
  const double lx = 640, ly = 80;
  std::string svg;
  for (int k = 0; k < 3; ++k) {
    static const char* const kSigma[3] = {"\u03c3\u2081", "\u03c3\u2082", "\u03c3\u2083"};  // σ₁ σ₂ σ₃
    const std::string name = f.sigma_names ? std::string(kSigma[k]) : "axis " + std::to_string(k + 1);
    svg += "<g fill=\"" + std::string(kColour[k]) + "\">" + marker(k, lx, ly + 22.0 * k, "") + "</g>\n";
    svg += text(lx + 12, ly + 22.0 * k + 5, name);
    if (f.best)
      svg += "<g fill=\"" + std::string(kColour[k]) + "\" stroke=\"black\" stroke-width=\"1.5\">" +
             marker(k, lx + 120, ly + 22.0 * k, "", 1.6) + "</g>\n";
  }
  if (f.best) svg += text(lx + 134, ly + 49, "best fit");
  double y = ly + 74;
  svg += text(lx - 4, y, std::to_string(cloud.count) + " accepted resamples");
  if (!markers)
    svg += text(lx - 4, y += 18, "density only (more than " + std::to_string(Cloud::kMaxMarkers) + ")",
                " font-size=\"12\"");
  svg += text(lx - 4, y += 20, "lower hemisphere, equal area");
  // The method's lines, each cut to fit beside the net (48 characters of
  // 11 px).
  std::vector<std::string> method;
  for (const std::string& line : contours.method)
    for (std::string& part : svg::wrapped(line, 48)) method.push_back(std::move(part));
  for (std::size_t i = 0; i < method.size(); ++i)
    svg += text(lx - 4, y += (i == 0 ? 20 : 15), method[i],
                i == 0 ? " class=\"method\" font-size=\"11\"" : " font-size=\"11\"");
  if (cloud.left_out > 0)
    svg += text(lx - 4, y += 20, std::to_string(cloud.left_out) + " axes not drawn (not a number)");
  return svg;
}

}  // namespace

std::optional<NetPoint> project(double trend, double plunge) {
  if (!std::isfinite(trend) || !std::isfinite(plunge)) return std::nullopt;
  const double t = trend * kDegree, p = plunge * kDegree;
  double n = std::cos(p) * std::cos(t), e = std::cos(p) * std::sin(t), d = std::sin(p);
  if (d < 0.0) n = -n, e = -e, d = -d;  // the antipode
  return project_down(n, e, d);
}

void Cloud::add(const AcceptedLine& a) {
  ++count;
  const double phi = a.phi;  // the bin in double, as for every figure
  if (phi >= 0.0 && phi <= 1.0)
    ++phi_bins[static_cast<std::size_t>(std::min(kBins - 1, static_cast<int>(phi * kBins)))];
  else
    ++phi_outside;
  for (int k = 0; k < 3; ++k) {
    const auto p = project(a.trend[k], a.plunge[k]);
    if (!p) {
      ++left_out;
      continue;
    }
    if (count <= kMaxMarkers) markers[k].push_back(*p);
    const Direction d = direction_at(p->east, p->north);
    ++drawn[k];
    if (exact) {
      axes[k].push_back(d);
      continue;
    }
    bin(k, *p);
  }
  if (exact && count > kMaxExact) {  // from here on, counted in fine bins
    exact = false;
    for (int k = 0; k < 3; ++k) {
      for (const Direction& d : axes[k]) {
        // back to the net: r = sqrt(1 - down)
        const double h = std::sqrt(d[0] * d[0] + d[1] * d[1]), r = std::sqrt(std::max(0.0, 1.0 - d[2]));
        bin(k, h > 0 ? NetPoint{d[1] / h * r, d[0] / h * r} : NetPoint{});
      }
      axes[k].clear();
      axes[k].shrink_to_fit();
    }
  }
}

void Cloud::bin(int axis, const NetPoint& p) {
  auto& bins = binned[axis];
  if (bins.empty()) bins.assign(kBinsPerSide * kBinsPerSide, 0.0);
  const auto cell = [](double v) {
    return std::clamp(static_cast<int>((v + 1.0) / 2.0 * kBinsPerSide), 0, kBinsPerSide - 1);
  };
  bins[static_cast<std::size_t>(cell(-p.north) * kBinsPerSide + cell(p.east))] += 1.0;
}

DensityGrid Cloud::density(int axis) const {
  if (exact) return kamb_density(axes[axis], std::vector<double>(axes[axis].size(), 1.0),
                                 static_cast<double>(drawn[axis]), kGrid);
  std::vector<Direction> centres;
  std::vector<double> weights;
  const auto& bins = binned[axis];
  for (int row = 0; row < kBinsPerSide; ++row)
    for (int column = 0; column < kBinsPerSide; ++column) {
      const double w = bins.empty() ? 0.0 : bins[static_cast<std::size_t>(row * kBinsPerSide + column)];
      if (w == 0.0) continue;
      centres.push_back(direction_at(-1.0 + (column + 0.5) * 2.0 / kBinsPerSide,
                                     1.0 - (row + 0.5) * 2.0 / kBinsPerSide));
      weights.push_back(w);
    }
  return kamb_density(centres, weights, static_cast<double>(drawn[axis]), kGrid);
}

void Cloud::points(int axis, std::vector<std::array<double, 2>>& at, std::vector<double>& weights) const {
  at.clear();
  weights.clear();
  if (exact) {
    for (const Direction& d : axes[axis]) {
      const NetPoint p = project_down(d[0], d[1], d[2]);
      at.push_back({p.east, p.north});
      weights.push_back(1.0);
    }
    return;
  }
  const auto& bins = binned[axis];
  for (int row = 0; row < kBinsPerSide; ++row)
    for (int column = 0; column < kBinsPerSide; ++column) {
      const double w = bins.empty() ? 0.0 : bins[static_cast<std::size_t>(row * kBinsPerSide + column)];
      if (w == 0.0) continue;
      at.push_back({-1.0 + (column + 0.5) * 2.0 / kBinsPerSide, 1.0 - (row + 0.5) * 2.0 / kBinsPerSide});
      weights.push_back(w);
    }
}

DensityGrid Cloud::smoothed(int axis) const {
  std::vector<std::array<double, 2>> at;
  std::vector<double> weights;
  points(axis, at, weights);
  // The kernel weighs each fine bin's axes at its centre: within half a bin
  // (about 0.3 degree) of each axis, a sixteenth of the kernel's half-width
  // and far below the net's grid, and a tight cloud of thousands of axes
  // fills a few hundred bins.
  // The bins' sums in a plane of bins kept for the next call, and the
  // bins touched, emptied again after.
  thread_local std::vector<double> plane;
  plane.resize(kBinsPerSide * kBinsPerSide);
  std::vector<int> touched;
  const auto cell = [](double v) {
    return std::clamp(static_cast<int>((v + 1.0) / 2.0 * kBinsPerSide), 0, kBinsPerSide - 1);
  };
  for (std::size_t i = 0; i < at.size(); ++i) {
    const int b = cell(-at[i][1]) * kBinsPerSide + cell(at[i][0]);
    double& sum = plane[static_cast<std::size_t>(b)];
    if (sum == 0.0) touched.push_back(b);
    sum += weights[i];
  }
  std::sort(touched.begin(), touched.end());
  touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
  std::vector<Direction> directions;
  std::vector<double> binned_weights;
  for (const int b : touched) {
    double& sum = plane[static_cast<std::size_t>(b)];
    const int row = b / kBinsPerSide, column = b % kBinsPerSide;
    directions.push_back(direction_at(-1.0 + (column + 0.5) * 2.0 / kBinsPerSide,
                                      1.0 - (row + 0.5) * 2.0 / kBinsPerSide));
    binned_weights.push_back(sum);
    sum = 0.0;
  }
  return smoothed_density(directions, binned_weights, static_cast<double>(drawn[axis]), kFineGrid);
}

std::string render_svg(const Cloud& cloud, const Figure& f) {
  std::string svg = document_start(kWidth, kHeight);
  // At most 96 characters of 16 px, 140 of 13 px (0.6 em each) fit.
  svg += text(20, 26, svg::shortened(f.title, 96), " font-size=\"16\"");
  if (!f.subtitle.empty()) svg += text(20, 46, svg::shortened(f.subtitle, 118));
  svg += net();
  // The resamples' axes, while few enough to be told apart; over them, the
  // density.
  const bool markers = cloud.count <= Cloud::kMaxMarkers;
  if (markers) svg += resample_markers(cloud);
  const ContourSet contours = contours_of(cloud, f);
  svg += contour_lines(contours, markers);
  if (f.best) svg += best_fit_markers(*f.best);
  svg += legend(cloud, f, markers, contours);
  svg += histogram(cloud, f);
  return svg + "</svg>\n";
}

std::string render_svg(const std::vector<AcceptedLine>& lines, const std::string& title) {
  Cloud cloud;
  for (const AcceptedLine& a : lines) cloud.add(a);
  Figure f;
  f.title = title;
  return render_svg(cloud, f);
}

}  // namespace tilvex::plot
