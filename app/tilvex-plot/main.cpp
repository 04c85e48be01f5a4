// tilvex-plot: figures of tilvex's results, as standalone SVG.
//
// tilvex-plot ACCEPTED_FILE [--grid X Y Z T] [--table TABLE.tsv] [--sigma] [-o OUT.svg]
// tilvex-plot --vrin FILE.vrin --level L [--grid X Y Z T] [--sigma] [-o OUT.svg]
// tilvex-plot --map TABLE.tsv [--slice Z T] [--sigma] [-o OUT.svg]
//
// Errors go to standard error, with status 1 (2 for a wrong command line);
// nothing is written then.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "files/input_file.hpp"
#include "files/journal.hpp"
#include "formats/table.hpp"
#include "plot/accepted.hpp"
#include "plot/map.hpp"
#include "plot/stereonet.hpp"
#include "text/reader.hpp"
#include "text/words.hpp"
#include "tilvex/analyse.hpp"

namespace {

using namespace tilvex;
using namespace tilvex::plot;

constexpr const char* kUsage =
    "usage: tilvex-plot ACCEPTED_FILE [--grid X Y Z T] [--table TABLE.tsv] [--sigma] [-o OUT.svg]\n"
    "       tilvex-plot --vrin FILE.vrin --level L [--grid X Y Z T] [--sigma] [-o OUT.svg]\n"
    "       tilvex-plot --map TABLE.tsv [--slice Z T] [--sigma] [-o OUT.svg]\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "tilvex-plot: %s\n", message.c_str());
  return 1;
}

std::optional<int> whole_number(std::string_view s) {
  std::size_t end = 0;
  const auto v = read_int(s, &end);
  return end == s.size() ? v : std::nullopt;
}

std::string grid_text(const Grid& g) {
  return std::to_string(g.x) + " " + std::to_string(g.y) + " " + std::to_string(g.z) + " " +
         std::to_string(g.t);
}

// Writes `text` to `path` whole or not at all: into a new file beside it,
// then renamed over it.
bool write_whole(const std::string& path, const std::string& text) {
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::filesystem::remove(partial);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(partial, path, ec);
  if (ec) std::filesystem::remove(partial);
  return !ec;
}

// The committed part of a result file, read a chunk at a time: lines are
// handed over one by one, so a file of any size needs little memory.
template <typename Line>
void stream_lines(const std::string& path, Line line) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  struct stat st {};
  if (f == nullptr || ::fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
    if (f != nullptr) std::fclose(f);
    throw PlotError("cannot read " + path + (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
  }
  off_t left = journal::committed_length(path, st.st_dev, st.st_ino, st.st_size);
  std::string carry;
  std::vector<char> buf(1 << 20);
  std::size_t number = 0;
  while (left > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<off_t>(left, static_cast<off_t>(buf.size())));
    const std::size_t got = std::fread(buf.data(), 1, want, f);
    if (got == 0) break;
    left -= static_cast<off_t>(got);
    std::string_view chunk(buf.data(), got);
    while (!chunk.empty()) {
      const std::size_t end = chunk.find('\n');
      if (end == std::string_view::npos) {
        carry.append(chunk);
        break;
      }
      if (carry.empty()) {
        line(chunk.substr(0, end), ++number);
      } else {
        carry.append(chunk.substr(0, end));
        line(std::string_view(carry), ++number);
        carry.clear();
      }
      chunk.remove_prefix(end + 1);
    }
  }
  std::fclose(f);
  if (!carry.empty()) line(std::string_view(carry), ++number);
}

std::optional<BestFit> best_from(const grid::TableRow& row) {
  if (!row.ok()) return std::nullopt;
  BestFit b;
  for (int k = 0; k < 3; ++k) b.phi[k] = row.value(0, k);
  for (int k = 0; k < 3; ++k) {
    b.trend[k] = row.value(1 + 2 * k, 0);
    b.plunge[k] = row.value(2 + 2 * k, 0);
  }
  return b;
}

std::vector<grid::TableRow> read_table_file(const std::string& path) {
  InputFile f;
  if (!f.open(path) || !f.read()) throw PlotError("cannot read " + path);
  std::string fault;
  auto rows = grid::read_table(f.text(), path, fault);
  if (!fault.empty()) throw PlotError(fault);
  return rows;
}

std::string accepted_figure(const std::string& input, const std::optional<Grid>& chosen,
                            const std::string& table, bool sigma) {
  // One pass: the lines of the chosen grid point, or of the first one if
  // there is only one (the others are only listed).
  Cloud cloud;
  std::optional<Grid> grid = chosen;
  std::set<Grid> found;
  stream_lines(input, [&](std::string_view line, std::size_t number) {
    const auto a = parse_accepted_line(line, input, number);
    if (!a) return;
    found.insert(a->grid);
    if (!grid) grid = a->grid;
    if (a->grid == *grid) cloud.add(*a);
  });
  if (found.empty()) throw PlotError(input + ": holds no accepted resamples");
  if (!chosen && found.size() > 1) {
    std::string list;
    for (const Grid& g : found) list += (list.empty() ? "" : ", ") + grid_text(g);
    throw PlotError(input + ": holds " + std::to_string(found.size()) +
                    " grid points; choose one with --grid X Y Z T: " + list);
  }
  if (cloud.count == 0) throw PlotError(input + ": no accepted resample for grid point " + grid_text(*grid));
  Figure f;
  f.title = input + ", grid point " + grid_text(*grid);
  f.sigma_names = sigma;
  if (!table.empty()) {
    for (const grid::TableRow& row : read_table_file(table))
      if (row.grid == *grid) f.best = best_from(row);
    if (!f.best) throw PlotError(table + ": no row of grid point " + grid_text(*grid) + " with status ok");
    f.subtitle = "best fit from " + table;
  }
  return render_svg(cloud, f);
}

std::string vrin_figure(const std::string& input, float level, const Grid& grid, bool sigma) {
  InputFile file;
  if (!file.open(input)) throw PlotError("cannot open " + input + ": " + std::strerror(errno));
  if (!file.read()) throw PlotError("cannot read " + input + ": " + std::strerror(file.error()));
  if (file.text().empty()) throw PlotError(input + " is empty");
  if (const std::string why = not_resample_results(file.text()); !why.empty())
    throw PlotError(input + " is not a resample results file: " + why);
  // The accepted resamples go straight to the figure, as the analysis
  // finds them.
  class ToCloud : public AcceptedSink {
   public:
    explicit ToCloud(Cloud& c) : cloud_(c) {}
    void accept(std::size_t, const Solution& s) override {
      AcceptedLine a;
      a.phi = s.phi;
      for (int k = 0; k < 3; ++k) a.trend[k] = s.axis[k].trend, a.plunge[k] = s.axis[k].plunge;
      cloud_.add(a);
    }

   private:
    Cloud& cloud_;
  };
  Cloud cloud;
  ToCloud sink(cloud);
  const Analysis a = analyse(file.text(), level, sink);
  Figure f;
  f.title = input + (grid == Grid{} ? "" : ", grid point " + grid_text(grid));
  char sub[160];
  std::snprintf(sub, sizeof sub, "confidence level %g%%: %zu of %zu resamples accepted, threshold %.6g",
                static_cast<double>(level), a.accepted, a.count, static_cast<double>(a.threshold));
  f.subtitle = sub;
  f.sigma_names = sigma;
  BestFit b;
  b.phi[0] = a.summary.phi.best, b.phi[1] = a.summary.phi.low, b.phi[2] = a.summary.phi.high;
  for (int k = 0; k < 3; ++k) b.trend[k] = a.summary.trend[k].best, b.plunge[k] = a.summary.plunge[k].best;
  f.best = b;
  if (cloud.count == 0) throw PlotError(input + ": no resample accepted at " + std::to_string(level) + " per cent");
  return render_svg(cloud, f);
}

std::string map_figure(const std::string& table, const std::optional<std::pair<int, int>>& slice, bool sigma) {
  const auto rows = read_table_file(table);
  if (rows.empty()) throw PlotError(table + ": holds no rows");
  std::set<std::pair<int, int>> slices;
  for (const grid::TableRow& r : rows) slices.insert({r.grid.z, r.grid.t});
  std::pair<int, int> chosen = *slices.begin();
  if (slice) {
    chosen = *slice;
  } else if (slices.size() > 1) {
    std::string list;
    for (const auto& [z, t] : slices) list += (list.empty() ? "" : ", ") + std::to_string(z) + " " + std::to_string(t);
    throw PlotError(table + ": holds " + std::to_string(slices.size()) +
                    " slices; choose one with --slice Z T: " + list);
  }
  std::vector<grid::TableRow> in_slice;
  for (const grid::TableRow& r : rows)
    if (r.grid.z == chosen.first && r.grid.t == chosen.second) in_slice.push_back(r);
  if (in_slice.empty())
    throw PlotError(table + ": no point in slice " + std::to_string(chosen.first) + " " + std::to_string(chosen.second));
  return render_map(in_slice, table + ", slice z " + std::to_string(chosen.first) + " t " + std::to_string(chosen.second),
                    sigma);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("tilvex-plot %s\n", TILVEX_VERSION);
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::printf(
        "%s\nFigures of tilvex's results as standalone SVG (without -o, on standard output):\n"
        "  ACCEPTED_FILE   the accepted resamples of one grid point (output_file2) on a\n"
        "                  lower-hemisphere equal-area net, with Kamb density contours and\n"
        "                  a histogram of phi; --table gives the best fit from tilvex-grid's table\n"
        "  --vrin          the same from a resample results file, analysed here at --level\n"
        "  --map           one z/t slice of tilvex-grid's table: axis 1's trend and range\n"
        "  --sigma         call the axes sigma 1, 2, 3 (for a stress tensor)\n"
        "The manual: man tilvex-plot (in the build tree: man build/tilvex-plot.1).\n",
        kUsage);
    return 0;
  }
  std::string input, output, table, vrin, map;
  std::optional<float> level;
  std::optional<Grid> grid;
  std::optional<std::pair<int, int>> slice;
  bool sigma = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--grid") {
      if (i + 4 >= argc) return usage();
      std::optional<int> v[4];
      for (int k = 0; k < 4; ++k) v[k] = whole_number(argv[i + 1 + k]);
      if (!v[0] || !v[1] || !v[2] || !v[3]) return usage();
      grid = Grid{*v[0], *v[1], *v[2], *v[3]};
      i += 4;
    } else if (arg == "--slice") {
      if (i + 2 >= argc) return usage();
      const auto z = whole_number(argv[i + 1]), t = whole_number(argv[i + 2]);
      if (!z || !t) return usage();
      slice = std::pair{*z, *t};
      i += 2;
    } else if (arg == "--level") {
      if (i + 1 >= argc || !(level = read_level(argv[++i]))) return usage();
    } else if (arg == "-o" || arg == "--table" || arg == "--vrin" || arg == "--map") {
      if (i + 1 >= argc) return usage();
      (arg == "-o" ? output : arg == "--table" ? table : arg == "--vrin" ? vrin : map) = argv[++i];
    } else if (arg == "--sigma") {
      sigma = true;
    } else if (input.empty() && !arg.empty() && arg[0] != '-') {
      input = arg;
    } else {
      return usage();
    }
  }
  const int modes = !input.empty() + !vrin.empty() + !map.empty();
  if (modes != 1 || (!vrin.empty() && !level) || (!map.empty() && (grid || !table.empty())) ||
      (!vrin.empty() && !table.empty()) || (slice && map.empty()))
    return usage();

  std::string svg;
  try {
    if (!map.empty()) svg = map_figure(map, slice, sigma);
    else if (!vrin.empty()) svg = vrin_figure(vrin, *level, grid.value_or(Grid{}), sigma);
    else svg = accepted_figure(input, grid, table, sigma);
  } catch (const PlotError& e) {
    return fail(e.what());
  }
  if (output.empty()) {
    if (std::fwrite(svg.data(), 1, svg.size(), stdout) != svg.size() || std::fflush(stdout) != 0)
      return fail("cannot write the picture to standard output");
    return 0;
  }
  if (!write_whole(output, svg)) return fail("cannot write " + output);
  return 0;
}
