#include "kamb.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "numeric/angles.hpp"

namespace tilvex::plot {

double counting_area(std::size_t n) {
  return std::max(kMinArea, 9.0 / (static_cast<double>(n) + 9.0));
}

double kamb_count(const std::vector<Direction>& axes, const std::vector<double>& weights,
                  const Direction& node, double area) {
  const double cos_radius = 1.0 - area;
  double count = 0;
  for (std::size_t i = 0; i < axes.size(); ++i) {
    const Direction& a = axes[i];
    if (std::fabs(a[0] * node[0] + a[1] * node[1] + a[2] * node[2]) >= cos_radius) count += weights[i];
  }
  return count;
}

Direction direction_at(double east, double north) {
  // Equal area: a point at distance r from the centre lies at plunge p with
  // r = sqrt(1 - sin p) (the net's radius is 1).
  double r2 = east * east + north * north;
  if (r2 > 1.0) {  // beyond the rim: the nearest point of the rim
    const double r = std::sqrt(r2);
    east /= r, north /= r, r2 = 1.0;
  }
  const double down = 1.0 - r2;
  const double horizontal = std::sqrt(std::max(0.0, 1.0 - down * down));
  const double r = std::sqrt(r2);
  if (r == 0.0) return {0.0, 0.0, 1.0};
  return {north / r * horizontal, east / r * horizontal, down};
}

DensityGrid kamb_density(const std::vector<Direction>& axes, const std::vector<double>& weights,
                         double total, int size) {
  DensityGrid g;
  g.size = size;
  g.sigmas.assign(static_cast<std::size_t>(size * size), 0.0);
  if (total <= 0) return g;
  const double area = counting_area(static_cast<std::size_t>(total));
  const double sigma = std::sqrt(total * area * (1.0 - area));
  for (int row = 0; row < size; ++row) {
    for (int column = 0; column < size; ++column) {
      const double east = -1.0 + 2.0 * column / (size - 1), north = 1.0 - 2.0 * row / (size - 1);
      const double v = kamb_count(axes, weights, direction_at(east, north), area) / sigma;
      g.sigmas[static_cast<std::size_t>(row * size + column)] = v;
      g.peak = std::max(g.peak, v);
    }
  }
  return g;
}

namespace {

// Eight floats at a time, by the compilers' vector extensions: two SSE
// registers, or one AVX register where the processor has AVX2 (the same
// code compiled twice, chosen when the program runs). Each lane does the
// IEEE operations the code spells in its order, so every processor and
// both compilers give the same bits. (These functions are all inlined
// into the two compiled copies, so the ABI of passing 32-byte vectors,
// which GCC warns of, never arises: the build turns that warning off for
// this file.)
typedef float Floats __attribute__((vector_size(32)));
typedef std::int32_t Ints __attribute__((vector_size(32)));
constexpr int kLanes = 8;

[[gnu::always_inline]] inline Floats splat(float v) { return Floats{} + v; }

// The smoothing kernel's weights below e^-kTail are left out: at most N
// axes weighing e^-12 each, N e^-12 / (N / 200), 1.3e-3 of the uniform
// density (well below any contour drawn, and far less where the axes lie
// beyond the kernel's reach rather than at its edge).
constexpr float kTail = 12.0f;
constexpr double kLog2e = 1.4426950408889634;

// 2^x for x from -kTail log2(e) to 0 (below it, as at it), to 2e-7
// relatively: x is split into the nearest integer j and f in [-1/2,
// 1/2]; 2^f is the series of e^(f ln 2) to the sixth power, and 2^j goes
// into the exponent's bits.
[[gnu::always_inline]] inline Floats exp2_tail(Floats x) {
  const Floats low = splat(static_cast<float>(-kTail * kLog2e));
  x = x < low ? low : x;
  constexpr float kRound = 12582912.0f;  // 1.5 * 2^23: x + kRound rounds x to an integer
  const Floats shifted = x + splat(kRound);
  const Floats f = x - (shifted - splat(kRound));
  // (ln 2)^n / n!
  Floats p = splat(1.5403530393381609e-4f);
  p = p * f + splat(1.3333558146428443e-3f);
  p = p * f + splat(9.6181291076284772e-3f);
  p = p * f + splat(5.5504108664821580e-2f);
  p = p * f + splat(2.4022650695910071e-1f);
  p = p * f + splat(6.9314718055994531e-1f);
  p = p * f + splat(1.0f);
  // The bits of `shifted` are those of kRound plus j.
  const Ints exponent = (reinterpret_cast<Ints>(shifted) - 0x4B400000 + 127) << 23;
  return p * reinterpret_cast<Floats>(exponent);
}

// The axes' ends as the kernel sums them, in single precision and scaled
// by s = k log2(e) (so that s (v . n - 1) is the kernel's weight as a
// power of 2), filed by where they fall on the net's plane in polar cells:
// rings of equal width in the radius, sectors of equal angle in the
// azimuth.
struct Filed {
  static constexpr int kRings = 32, kSectors = 64;
  static constexpr double kOuter = 1.42;  // the rings' outer radius: past sqrt(1 + sin 60)
  std::vector<float> north, east, down, weight;
  std::vector<std::size_t> start;  // each cell's first, kRings * kSectors + 1
  float scale = 0;                 // s

  static int ring(double r) { return std::clamp(static_cast<int>(r / kOuter * kRings), 0, kRings - 1); }
  static int sector(double azimuth) {  // azimuth in radians, any turn
    const int s = static_cast<int>(std::floor(azimuth / (2 * M_PI) * kSectors));
    return ((s % kSectors) + kSectors) % kSectors;
  }
};

// An end of an axis: the unit vector v the kernel tests, and where it falls
// on the net's plane.
struct End {
  Direction v;
  double weight;
  double r, azimuth;
};

Filed file(const std::vector<End>& ends, double scale) {
  constexpr std::size_t kCells = Filed::kRings * Filed::kSectors;
  Filed f;
  f.scale = static_cast<float>(scale);
  std::vector<std::size_t> cell(ends.size());
  f.start.assign(kCells + 1, 0);
  for (std::size_t i = 0; i < ends.size(); ++i) {
    cell[i] = static_cast<std::size_t>(Filed::ring(ends[i].r) * Filed::kSectors + Filed::sector(ends[i].azimuth));
    ++f.start[cell[i] + 1];
  }
  for (std::size_t c = 0; c < kCells; ++c) f.start[c + 1] += f.start[c];
  const std::size_t size = ends.size() + kLanes;  // the last lanes may be read past the end
  f.north.assign(size, 0.0f), f.east.assign(size, 0.0f), f.down.assign(size, 0.0f), f.weight.assign(size, 0.0f);
  std::vector<std::size_t> next(f.start.begin(), f.start.end() - 1);
  for (std::size_t i = 0; i < ends.size(); ++i) {  // in order within each cell
    const std::size_t at = next[cell[i]]++;
    f.north[at] = static_cast<float>(ends[i].v[0] * scale);
    f.east[at] = static_cast<float>(ends[i].v[1] * scale);
    f.down[at] = static_cast<float>(ends[i].v[2] * scale);
    f.weight[at] = static_cast<float>(ends[i].weight);
  }
  return f;
}

// What a node takes: its direction in single precision, and the cells of
// the ends within reach of it, a run of sectors (first to last,
// cyclically) in each of its rings. The same for every cloud with the
// same grid and reach, so the last ones made are kept.
struct Span {
  int ring, first, last;
};
struct Node {
  float north, east, down;
  bool beyond;  // farther from the net than a cell's diagonal: left 0
  std::size_t spans, spans_end;  // in Nodes::spans
};
struct Nodes {
  std::vector<Node> nodes;
  std::vector<Span> spans;
};

// The cells within `reach` of the direction d at polar angle u (from
// straight down) and azimuth a. A direction at polar angle t and azimuth
// a + e lies within reach where cos u cos t + sin u sin t cos e >= cos
// reach; in the band of t of a ring, e is widest at the t nearest to
// acos(cos u / cos reach) (where the cap's edge runs along the meridian).
void add_spans(double u, double azimuth, double reach, std::vector<Span>& spans) {
  constexpr double kMargin = 1e-3;  // radians: past the float test's rounding
  const double low = std::max(0.0, u - reach - kMargin), high = std::min(M_PI, u + reach + kMargin);
  const auto polar = [](double r) { return 2.0 * std::asin(std::min(1.0, r / std::sqrt(2.0))); };
  const int inner = Filed::ring(std::sqrt(2.0) * std::sin(low / 2)),
            outer = Filed::ring(std::sqrt(2.0) * std::sin(high / 2));
  const double widest = std::acos(std::clamp(std::cos(u) / std::cos(reach), -1.0, 1.0));
  for (int ring = inner; ring <= outer; ++ring) {
    const double band_low = std::max(low, polar(ring * Filed::kOuter / Filed::kRings)),
                 band_high = std::min(high, polar((ring + 1) * Filed::kOuter / Filed::kRings));
    const double t = std::clamp(widest, band_low, band_high);
    const double across = std::sin(u) * std::sin(t);
    double spread = M_PI;  // every azimuth, unless the band keeps within less
    if (across > 1e-9) {
      const double c = (std::cos(reach + kMargin) - std::cos(u) * std::cos(t)) / across;
      if (c > -1.0) spread = std::acos(std::min(1.0, c)) + kMargin;
    }
    if (2 * spread >= M_PI * 2 - 2 * M_PI / Filed::kSectors) {
      spans.push_back({ring, 0, Filed::kSectors - 1});
    } else {
      spans.push_back({ring, Filed::sector(azimuth - spread), Filed::sector(azimuth + spread)});
    }
  }
}

const Nodes& nodes_of(int size, double reach) {
  thread_local int kept_size = 0;
  thread_local double kept_reach = -1;
  thread_local Nodes kept;
  if (size == kept_size && reach == kept_reach) return kept;
  kept.nodes.clear(), kept.spans.clear();
  for (int row = 0; row < size; ++row) {
    for (int column = 0; column < size; ++column) {
      const double east = -1.0 + 2.0 * column / (size - 1), north = 1.0 - 2.0 * row / (size - 1);
      const Direction d = direction_at(east, north);
      Node n{static_cast<float>(d[0]), static_cast<float>(d[1]), static_cast<float>(d[2]),
             std::hypot(east, north) > 1.0 + 2.0 * std::sqrt(2.0) / (size - 1), kept.spans.size(), 0};
      if (reach >= 0)
        add_spans(std::acos(std::clamp(d[2], -1.0, 1.0)), std::atan2(d[1], d[0]), reach, kept.spans);
      n.spans_end = kept.spans.size();
      kept.nodes.push_back(n);
    }
  }
  kept_size = size, kept_reach = reach;
  return kept;
}

// The kernel's sum at the node n over the ends from `begin` to `end`
// whose weight is at least e^-kTail, by v . n (or |v . n| with kAbs),
// into `sum`. The last lanes may run past `end` (the arrays hold kLanes
// more) and count for nothing.
template <bool kAbs>
[[gnu::always_inline]] inline void add_kernel(const Filed& f, std::size_t begin, std::size_t end, const Floats n[3],
                                              Floats& sum) {
  const Floats low = splat(static_cast<float>(-kTail * kLog2e)), scale = splat(f.scale);
  Floats here{};  // in a register, not through `sum`'s memory each time
  for (std::size_t i = begin; i < end; i += kLanes) {
    const auto load = [&](const std::vector<float>& v) {
      Floats out;
      std::memcpy(&out, v.data() + i, sizeof out);
      return out;
    };
    Floats dot = load(f.north) * n[0] + load(f.east) * n[1] + load(f.down) * n[2];
    if constexpr (kAbs) dot = reinterpret_cast<Floats>(reinterpret_cast<Ints>(dot) & 0x7FFFFFFF);
    const Floats x = dot - scale;  // s (v . n - 1)
    Ints in = x >= low;
    if (end - i < kLanes) in &= Ints{0, 1, 2, 3, 4, 5, 6, 7} < static_cast<std::int32_t>(end - i);
    const Floats w = exp2_tail(x) * load(f.weight);
    here += reinterpret_cast<Floats>(reinterpret_cast<Ints>(w) & in);
  }
  sum += here;
}

// The sums at every node not beyond the net, in `out`.
[[gnu::always_inline]] inline void sum_nodes(const Filed& f, const Nodes& nodes, bool filed,
                                             std::vector<double>& out) {
  for (std::size_t i = 0; i < nodes.nodes.size(); ++i) {
    const Node& node = nodes.nodes[i];
    if (node.beyond) continue;
    const Floats n[3] = {splat(node.north), splat(node.east), splat(node.down)};
    Floats sum{};
    if (!filed) add_kernel<true>(f, 0, f.start.back(), n, sum);
    for (std::size_t s = node.spans; filed && s < node.spans_end; ++s) {
      const Span& span = nodes.spans[s];
      const std::size_t base = static_cast<std::size_t>(span.ring * Filed::kSectors);
      const auto first = static_cast<std::size_t>(span.first), last = static_cast<std::size_t>(span.last);
      if (first <= last) {
        add_kernel<false>(f, f.start[base + first], f.start[base + last + 1], n, sum);
      } else {  // across azimuth 0
        add_kernel<false>(f, f.start[base + first], f.start[base + Filed::kSectors], n, sum);
        add_kernel<false>(f, f.start[base], f.start[base + last + 1], n, sum);
      }
    }
    double total = 0;
    for (int l = 0; l < kLanes; ++l) total += sum[l];
    out[i] = total;
  }
}

void sum_nodes_sse(const Filed& f, const Nodes& nodes, bool filed, std::vector<double>& out) {
  sum_nodes(f, nodes, filed, out);
}
#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx2")]] void sum_nodes_avx2(const Filed& f, const Nodes& nodes, bool filed,
                                             std::vector<double>& out) {
  sum_nodes(f, nodes, filed, out);
}
#endif

}  // namespace

bool wide_vectors() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

DensityGrid smoothed_density(const std::vector<Direction>& axes, const std::vector<double>& weights,
                             double total, int size, bool wide) {
  DensityGrid g;
  g.size = size;
  g.sigmas.assign(static_cast<std::size_t>(size * size), 0.0);
  if (total <= 0) return g;
  const double k = 2.0 / counting_area(static_cast<std::size_t>(total));
  const double uniform = total * (1.0 - std::exp(-k)) / k;
  // Beyond |a . n| < 1 - kTail / k, an angle `reach` from the node, an
  // axis weighs less than e^-kTail: left out.
  const double reach = std::acos(std::clamp(1.0 - kTail / k, -1.0, 1.0));
  // Each axis by its lower end a (polar angle t from straight down), where
  // the net puts it: radius sqrt(1 - cos t) = sqrt 2 sin(t / 2), at its
  // azimuth. An axis near horizontal reaches nodes by its upper end -a
  // too, filed where that projection carried on past the rim puts it:
  // polar angle 180 - t, radius sqrt(1 + cos t), the azimuth opposite.
  // A node takes only the cells where directions within reach of it lie
  // (add_spans). Each end is tested by its own sign (at most one is within
  // reach, both being within 90 degrees), so an axis counts once at a
  // node. Where the reach is wide (few axes), every axis is tested at
  // every node, by |a . n|.
  const bool filed = reach <= 60.0 * kRadiansPerDegree;
  std::vector<End> ends;
  for (std::size_t i = 0; i < axes.size(); ++i) {
    Direction a = axes[i];
    if (a[2] < 0) a = {-a[0], -a[1], -a[2]};
    const double azimuth = std::atan2(a[1], a[0]);
    ends.push_back({a, weights[i], std::sqrt(std::max(0.0, 1.0 - a[2])), azimuth});
    if (filed && a[2] <= std::sin(reach) + 1e-6)
      ends.push_back({{-a[0], -a[1], -a[2]}, weights[i], std::sqrt(1.0 + a[2]), azimuth + M_PI});
  }
  const Filed f = file(ends, k * kLog2e);
  const Nodes& nodes = nodes_of(size, filed ? reach : -1.0);
  std::vector<double> sums(nodes.nodes.size(), 0.0);
#if defined(__x86_64__) || defined(__i386__)
  if (wide && wide_vectors())
    sum_nodes_avx2(f, nodes, filed, sums);
  else
#endif
    sum_nodes_sse(f, nodes, filed, sums);
  for (std::size_t i = 0; i < sums.size(); ++i) {
    g.sigmas[i] = sums[i] / uniform;
    g.peak = std::max(g.peak, g.sigmas[i]);
  }
  return g;
}

double density_at(const DensityGrid& g, double east, double north) {
  if (g.size < 2) return 0.0;
  const double last = g.size - 1;
  const double x = std::clamp((east + 1.0) / 2.0 * last, 0.0, last);
  const double y = std::clamp((1.0 - north) / 2.0 * last, 0.0, last);
  const int c = std::min(static_cast<int>(x), g.size - 2), r = std::min(static_cast<int>(y), g.size - 2);
  const double fx = x - c, fy = y - r;
  return (1 - fy) * ((1 - fx) * g.at(r, c) + fx * g.at(r, c + 1)) +
         fy * ((1 - fx) * g.at(r + 1, c) + fx * g.at(r + 1, c + 1));
}

std::vector<double> mass_levels(const DensityGrid& grid, const std::vector<std::array<double, 2>>& points,
                                const std::vector<double>& weights, const std::vector<double>& shares) {
  std::vector<std::pair<double, double>> at;  // density, weight: densest first
  double total = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    at.emplace_back(density_at(grid, points[i][0], points[i][1]), weights[i]);
    total += weights[i];
  }
  std::vector<double> out;
  if (at.empty() || total <= 0) return out;
  const auto denser = [](const auto& a, const auto& b) { return a.first > b.first; };
  if (std::all_of(weights.begin(), weights.end(), [](double w) { return w == 1.0; })) {
    // Each axis its own: the share's quantile is the density at a rank,
    // found without sorting them all (the i-th below as the loop below
    // finds it: held is i after i axes).
    for (double share : shares) {
      std::size_t i = 0;
      while (i + 1 < at.size() && static_cast<double>(i) + 1.0 < share * total) ++i;
      std::nth_element(at.begin(), at.begin() + static_cast<std::ptrdiff_t>(i), at.end(), denser);
      out.push_back(at[i].first);
    }
    return out;
  }
  std::sort(at.begin(), at.end(), denser);
  for (double share : shares) {
    double held = 0;
    std::size_t i = 0;
    while (i + 1 < at.size() && held + at[i].second < share * total) held += at[i++].second;
    out.push_back(at[i].first);
  }
  return out;
}

std::vector<double> levels(double peak) {
  std::vector<double> out;
  double step = 2.0;
  if (peak > 12.0) {
    const double raw = (peak - 2.0) / 5.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double nice : {1.0, 2.0, 5.0, 10.0})
      if (nice * magnitude >= raw) {
        step = nice * magnitude;
        break;
      }
  }
  for (double v = 2.0; v < peak && out.size() < 8; v += step) out.push_back(v);
  return out;
}

std::vector<std::array<double, 4>> contour(const DensityGrid& g, double level) {
  std::vector<std::array<double, 4>> segments;
  const auto x = [&](double column) { return -1.0 + 2.0 * column / (g.size - 1); };
  const auto y = [&](double row) { return 1.0 - 2.0 * row / (g.size - 1); };
  for (int r = 0; r + 1 < g.size; ++r) {
    for (int c = 0; c + 1 < g.size; ++c) {
      // Corners clockwise from the north-west, and where the level crosses
      // each edge (north, east, south, west).
      const double v[4] = {g.at(r, c), g.at(r, c + 1), g.at(r + 1, c + 1), g.at(r + 1, c)};
      const int code = (v[0] >= level) | (v[1] >= level) << 1 | (v[2] >= level) << 2 | (v[3] >= level) << 3;
      if (code == 0 || code == 15) continue;
      const auto t = [&](double a, double b) { return (level - a) / (b - a); };
      const double edge[4][2] = {
          {x(c + t(v[0], v[1])), y(r)},
          {x(c + 1), y(r + t(v[1], v[2]))},
          {x(c + 1 - t(v[2], v[3])), y(r + 1)},
          {x(c), y(r + 1 - t(v[3], v[0]))},
      };
      // The edges each case joins (the saddles 5 and 10 join two pairs).
      static const int pairs[16][4] = {{-1, -1, -1, -1}, {3, 0, -1, -1}, {0, 1, -1, -1}, {3, 1, -1, -1},
                                       {1, 2, -1, -1},   {3, 0, 1, 2},   {0, 2, -1, -1}, {3, 2, -1, -1},
                                       {2, 3, -1, -1},   {0, 2, -1, -1}, {0, 1, 2, 3},   {1, 2, -1, -1},
                                       {1, 3, -1, -1},   {0, 1, -1, -1}, {3, 0, -1, -1}, {-1, -1, -1, -1}};
      for (int k = 0; k < 4 && pairs[code][k] >= 0; k += 2) {
        const int a = pairs[code][k], b = pairs[code][k + 1];
        segments.push_back({edge[a][0], edge[a][1], edge[b][0], edge[b][1]});
      }
    }
  }
  return segments;
}

}  // namespace tilvex::plot
