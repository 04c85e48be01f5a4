// tilvex-plot: figures of tilvex's results, as standalone SVG.
//
// tilvex-plot ACCEPTED_FILE [--grid X Y Z T] [--table TABLE.tsv] [--sigma] [-o OUT.svg]
// tilvex-plot --vrin FILE.vrin --level L [--grid X Y Z T] [--sigma] [-o OUT.svg]
// tilvex-plot --map TABLE.tsv [--slice Z T] [--bars shmax|axis1] [--field aphi|phi] [--sigma] [-o OUT.svg]
// tilvex-plot ACCEPTED_FILE --table TABLE.tsv --each DIR
// tilvex-plot --report DIR --table TABLE.tsv [ACCEPTED_FILE]
//
// Errors go to standard error, with status 1 (2 for a wrong command line);
// nothing is written then.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "files/input_file.hpp"
#include "files/posix.hpp"
#include "formats/accepted.hpp"
#include "formats/committed_file.hpp"
#include "formats/health.hpp"
#include "formats/resample_results.hpp"
#include "formats/table.hpp"
#include "options.hpp"
#include "plot/background.hpp"
#include "plot/map.hpp"
#include "plot/report.hpp"
#include "plot/stereonet.hpp"
#include "text/reader.hpp"
#include "tilvex/analyse.hpp"

namespace {

using namespace tilvex;
using namespace tilvex::plot;
using namespace tilvex::formats;

int fail(const std::string& message) {
  std::fprintf(stderr, "tilvex-plot: %s\n", message.c_str());
  return 1;
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
      std::error_code ignored;  // (a name too long to make is too long to remove)
      std::filesystem::remove(partial, ignored);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(partial, path, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
  }
  return !ec;
}

// Items joined by ", ": every one up to ten, else the first ten and how many
// more, so that a refusal stays one line a reader takes in.
std::string some_of(const std::vector<std::string>& items) {
  constexpr std::size_t kShown = 10;
  std::string text;
  for (std::size_t i = 0; i < items.size() && i < kShown; ++i) text += (i == 0 ? "" : ", ") + items[i];
  if (items.size() > kShown) text += ", ... and " + std::to_string(items.size() - kShown) + " more";
  return text;
}

// The refusal of a file of several grid points and no --grid lists every
// point ("NAME: holds 296 grid points; choose one with --grid X Y Z T: 0 0 0
// 0, 0 1 0 0, ..."); this keeps some of them.
std::string with_some_points(const std::string& reason) {
  static const std::string kList = "; choose one with --grid X Y Z T: ";
  const std::size_t at = reason.rfind(kList);
  if (at == std::string::npos) return reason;
  std::vector<std::string> points;
  for (std::size_t from = at + kList.size(), comma = 0; comma != std::string::npos; from = comma + 2) {
    comma = reason.find(", ", from);
    points.push_back(reason.substr(from, comma == std::string::npos ? comma : comma - from));
  }
  return reason.substr(0, at + kList.size()) + some_of(points);
}

std::optional<BestFit> best_from(const TableRow& row) {
  if (!row.ok()) return std::nullopt;
  BestFit b;
  for (int k = 0; k < 3; ++k) b.phi[k] = row.value(0, k);
  for (int k = 0; k < 3; ++k) {
    b.trend[k] = row.value(1 + 2 * k, 0);
    b.plunge[k] = row.value(2 + 2 * k, 0);
  }
  return b;
}

std::vector<TableRow> read_table_file(const std::string& path) {
  InputFile f;
  if (!f.open(path) || !f.read()) throw Error("cannot read " + path);
  return read_table(f.text(), path);
}

// The name of a file without its folders: a title names the file, not
// where it lies.
std::string file_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

// What the command line asks of a stereonet.
Figure figure_of(const plot_cli::CommandLine& line, const std::string& title) {
  Figure f;
  f.title = line.title.value_or(title);
  f.sigma_names = line.sigma;
  f.contours = line.contours.value_or(plot::Contours::regions);
  f.levels = line.levels;
  return f;
}

std::string accepted_figure(const plot_cli::CommandLine& line) {
  const std::string& input = line.input;
  const std::optional<Grid>& chosen = line.grid;
  const std::string& table = line.table;
  Cloud cloud;
  Grid grid;
  try {
    grid = select_grid(input, chosen, [&](const AcceptedLine& a) { cloud.add(a); });
  } catch (const formats::FileError& e) {
    throw Error("cannot read " + input + ": " + std::strerror(e.error_number()));
  } catch (const Error& e) {
    throw Error(with_some_points(e.reason()), e.status(), e.fixed());
  }
  Figure f = figure_of(line, file_name(input) + ", grid point " + grid_text(grid));
  if (!table.empty()) {
    for (const TableRow& row : read_table_file(table))
      if (row.grid == grid) f.best = best_from(row);
    if (!f.best) throw Error(table + ": no row of grid point " + grid_text(grid) + " with status ok");
    f.subtitle = "best fit from " + file_name(table);
  }
  return render_svg(cloud, f);
}

std::string vrin_figure(const plot_cli::CommandLine& line) {
  const std::string& input = line.vrin;
  const float level = *line.level;
  const Grid grid = line.grid.value_or(Grid{});
  InputFile file;
  if (!file.open(input)) throw Error("cannot open " + input + ": " + std::strerror(errno));
  if (!file.read()) throw Error("cannot read " + input + ": " + std::strerror(file.error()));
  if (file.text().empty()) throw Error(input + " is empty");
  if (const std::string why = formats::not_resample_results_file(file.text(), input); !why.empty())
    throw Error(why);
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
  std::vector<formats::HealthNote> notes = formats::health_of(file.text(), "'" + input + "'");
  const Analysis a = analyse(file.text(), level, sink);
  formats::add_unread(notes, "'" + input + "'", a);
  for (const formats::HealthNote& n : notes) std::fprintf(stderr, "tilvex-plot: warning: %s\n", n.text.c_str());
  Figure f = figure_of(line, file_name(input) + (grid == Grid{} ? "" : ", grid point " + grid_text(grid)));
  char sub[160];
  std::snprintf(sub, sizeof sub, "confidence level %g%%: %zu of %zu resamples accepted, threshold %.6g",
                static_cast<double>(level), a.accepted, a.count, static_cast<double>(a.threshold));
  f.subtitle = sub;
  BestFit b;
  b.phi[0] = a.summary.phi.best, b.phi[1] = a.summary.phi.low, b.phi[2] = a.summary.phi.high;
  for (int k = 0; k < 3; ++k) b.trend[k] = a.summary.trend[k].best, b.plunge[k] = a.summary.plunge[k].best;
  f.best = b;
  if (cloud.count == 0) throw Error(input + ": no resample accepted at " + std::to_string(level) + " per cent");
  return render_svg(cloud, f);
}

std::string map_figure(const std::string& table, const plot_cli::CommandLine& line) {
  const auto& slice = line.slice;
  const auto rows = read_table_file(table);
  if (rows.empty()) throw Error(table + ": holds no rows");
  std::set<std::pair<int, int>> slices;
  for (const TableRow& r : rows) slices.insert({r.grid.z, r.grid.t});
  std::vector<std::string> names;
  for (const auto& [z, t] : slices) names.push_back(std::to_string(z) + " " + std::to_string(t));
  const std::string list = some_of(names);
  const std::string count = std::to_string(slices.size()) + (slices.size() == 1 ? " slice" : " slices");
  std::pair<int, int> chosen = *slices.begin();
  if (slice) {
    chosen = *slice;
  } else if (slices.size() > 1) {
    throw Error(table + ": holds " + count + "; choose one with --slice Z T: " + list);
  }
  std::vector<TableRow> in_slice;
  for (const TableRow& r : rows)
    if (r.grid.z == chosen.first && r.grid.t == chosen.second) in_slice.push_back(r);
  if (in_slice.empty())
    throw Error(table + ": no point in slice " + std::to_string(chosen.first) + " " + std::to_string(chosen.second) +
                "; it holds " + count + ": " + list);
  const std::string name = "slice z " + std::to_string(chosen.first) + " t " + std::to_string(chosen.second);
  MapStyle style;
  style.field = line.field;
  style.sigma_names = line.sigma;
  style.bars = line.bars.value_or(MapBars::shmax);
  // A slice of a table written before the stress columns has no SHmax and
  // no A-phi: asked for, a refusal; by default, the map of axis 1, with a
  // warning. (A slice where only some rows lack them draws those as dots.)
  const std::size_t without = rows_without_stress(in_slice);
  const std::size_t ok = static_cast<std::size_t>(
      std::count_if(in_slice.begin(), in_slice.end(), [](const TableRow& r) { return r.ok(); }));
  const bool lacking = without > 0 && without == ok;
  const std::string lack = table + ": " + name + " has no stress columns (a table written before them)";
  if (lacking && style.field == MapField::aphi) throw Error(lack + ", so no A-phi; shade phi with --field phi");
  if (lacking && style.bars == MapBars::shmax) {
    if (line.bars) throw Error(lack + "; draw axis 1 with --bars axis1");
    std::fprintf(stderr, "tilvex-plot: warning: %s; the map shows axis 1 (--bars axis1)\n", lack.c_str());
    style.bars = MapBars::axis1;
  }
  return render_map(in_slice, line.title.value_or(file_name(table) + ", " + name), style);
}

// The stereonets of every point of a table, from one reading of the
// accepted file; what came of it.
struct EachOutcome {
  std::set<Grid> drawn;
  int status = 0;
};

// Reads ACCEPTED_FILE once and writes into `dir` the stereonet of each of
// its points that the table holds with status ok, as `ACCEPTED_FILE --grid
// X Y Z T --table TABLE` draws it, each whole or not at all. A point's
// figure is drawn and written when its lines end (tilvex and tilvex-grid
// append a point's lines together), on as many threads as there are
// processors (up to 8) while the reading goes on; so only a point's Cloud a thread,
// and as many waiting, are held at a time. Said on standard error, a line
// each: the table's points without accepted lines and the file's points
// not in the table with status ok (status unchanged: a grid's failed
// points have none), and points whose lines come apart in the file (their
// figures removed, status 1).
EachOutcome each_figure(const plot_cli::CommandLine& line, const std::string& table, const std::string& dir) {
  const std::string& input = line.input;
  const std::vector<TableRow> rows = read_table_file(table);
  std::map<Grid, std::optional<BestFit>> best;  // the last row of a point counts, as for --grid
  for (const TableRow& row : rows) best[row.grid] = best_from(row);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw Error("cannot create " + dir + ": " + ec.message());

  EachOutcome out;
  std::mutex drawn_mutex;  // out.drawn, as the threads write
  std::set<Grid> seen, not_in_table, apart;
  std::optional<Grid> current;
  Cloud cloud;
  const auto path_of = [&](const Grid& g) { return (std::filesystem::path(dir) / point_file_name(g)).string(); };
  // At most 8 threads: what they hold stays some 40 MB on any machine,
  // and more would outrun the one reading.
  Background drawers(std::min(posix::usable_processors(), 8u));
  const auto finish = [&] {
    if (!current || apart.count(*current) != 0 || not_in_table.count(*current) != 0) return;
    Figure f = figure_of(line, file_name(input) + ", grid point " + grid_text(*current));
    f.best = best.at(*current);
    f.subtitle = "best fit from " + file_name(table);
    drawers.add([&, grid = *current, points = std::make_shared<Cloud>(std::move(cloud)), f = std::move(f)] {
      const std::string path = path_of(grid);
      if (!write_whole(path, render_svg(*points, f))) throw Error("cannot write " + path);
      const std::lock_guard lock(drawn_mutex);
      out.drawn.insert(grid);
    });
  };
  // Once every figure drawn is written, or one failed to: those of points
  // whose lines came apart are removed, then the failure is told.
  const auto settle = [&] {
    std::exception_ptr failed;
    try {
      drawers.finish();
    } catch (const Error&) {
      failed = std::current_exception();
    }
    for (const Grid& g : apart) {
      std::error_code gone;
      if (out.drawn.erase(g) != 0) std::filesystem::remove(path_of(g), gone);
    }
    if (failed) std::rethrow_exception(failed);
  };
  const auto settle_quietly = [&] {  // before another error is told
    try {
      settle();
    } catch (const Error&) {
    }
  };
  try {
    read_accepted(input, [&](const AcceptedLine& a) {
      if (current && a.grid == *current) {
        if (apart.count(a.grid) == 0 && not_in_table.count(a.grid) == 0) cloud.add(a);
        return;
      }
      finish();
      cloud = Cloud{};
      current = a.grid;
      if (!seen.insert(a.grid).second) {  // its lines come apart (no matter outside the table)
        if (not_in_table.count(a.grid) == 0) apart.insert(a.grid);
        return;
      }
      const auto row = best.find(a.grid);
      if (row == best.end() || !row->second) {
        not_in_table.insert(a.grid);
        return;
      }
      cloud.add(a);
    });
    finish();
    settle();
  } catch (const formats::FileError& e) {
    settle_quietly();
    throw Error("cannot read " + input + ": " + std::strerror(e.error_number()) + " (" +
                std::to_string(out.drawn.size()) + " stereonets written in " + dir + ")");
  } catch (const AcceptedLineError& e) {
    settle_quietly();
    throw Error(e.reason() + " (" + std::to_string(out.drawn.size()) + " stereonets written in " + dir + " before it)");
  } catch (const Error&) {  // a figure not written, told as the next one was handed over
    settle_quietly();
    throw;
  }

  const auto names = [](const std::set<Grid>& grids) {
    std::vector<std::string> v;
    for (const Grid& g : grids) v.push_back(grid_text(g));
    return some_of(v);
  };
  std::set<Grid> without;
  for (const auto& [g, b] : best)
    if (seen.count(g) == 0) without.insert(g);
  if (!without.empty())
    std::fprintf(stderr, "tilvex-plot: %zu of %zu points of %s have no accepted resample in %s, so no stereonet: %s\n",
                 without.size(), best.size(), table.c_str(), input.c_str(), names(without).c_str());
  if (!not_in_table.empty())
    std::fprintf(stderr, "tilvex-plot: %zu grid points of %s have no row with status ok in %s, so no stereonet: %s\n",
                 not_in_table.size(), input.c_str(), table.c_str(), names(not_in_table).c_str());
  if (!apart.empty()) {
    std::fprintf(stderr,
                 "tilvex-plot: %zu grid points have their lines apart in %s (not one after another), so no "
                 "stereonet (draw each with --grid): %s\n",
                 apart.size(), input.c_str(), names(apart).c_str());
    out.status = 1;
  }
  if (out.drawn.empty() && apart.empty()) {
    std::fprintf(stderr, "tilvex-plot: no point of %s has accepted resamples in %s; no stereonet written\n",
                 table.c_str(), input.c_str());
    out.status = 1;
  }
  return out;
}

// DIR/map.svg as --map draws it, the stereonets as --each writes them
// (with ACCEPTED_FILE), and DIR/index.html over them.
int report(const plot_cli::CommandLine& line) {
  const std::string& dir = line.report;
  const std::string map = map_figure(line.table, line);
  InputFile f;
  if (!f.open(line.table) || !f.read()) throw Error("cannot read " + line.table);
  const std::vector<TableRow> rows = read_table(f.text(), line.table);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw Error("cannot create " + dir + ": " + ec.message());
  EachOutcome each;
  if (!line.input.empty()) each = each_figure(line, line.table, dir);
  const std::string page = render_report(f.text(), rows, map, each.drawn, !line.input.empty(), file_name(line.table));
  for (const auto& [name, text] : {std::pair<std::string, const std::string&>{"map.svg", map}, {"index.html", page}}) {
    const std::string path = (std::filesystem::path(dir) / name).string();
    if (!write_whole(path, text)) throw Error("cannot write " + path);
  }
  return each.status;
}

}  // namespace

int main(int argc, char** argv) {
  const plot_cli::CommandLine line = plot_cli::read_command_line({argv + 1, argv + argc});
  if (const auto status = cli::conclude(plot_cli::interface(), line)) return *status;
  std::string svg;
  try {
    if (!line.report.empty()) return report(line);
    if (!line.each.empty()) return each_figure(line, line.table, line.each).status;
    if (!line.map.empty()) svg = map_figure(line.map, line);
    else if (!line.vrin.empty()) svg = vrin_figure(line);
    else svg = accepted_figure(line);
  } catch (const Error& e) {
    return fail(e.reason());
  }
  if (line.output.empty()) {
    if (std::fwrite(svg.data(), 1, svg.size(), stdout) != svg.size() || std::fflush(stdout) != 0)
      return fail("cannot write the picture to standard output");
    return 0;
  }
  if (!write_whole(line.output, svg)) return fail("cannot write " + line.output);
  return 0;
}
