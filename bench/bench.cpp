// tilvex-bench: end-to-end time and peak memory of the real binary, and the
// time of each stage in process, on generated files of 10^3 to 10^6
// resamples.
//
//   tilvex-bench [--max N] [--floor-max N] [--runs R] [--grid-points P] [--only grid|floor]
//
// End to end: the median wall time of R runs (at least 5, after two to warm
// up) of build/tilvex, each appending to fresh result files, and the
// largest peak resident size any run reached. Stages: the median of R in-process runs of each stage
// (read, pass 1, threshold, pass 2 with the lines formatted in place, the
// locked append) on the same file, through the program's own functions.
// Against its floor: tilvex paired with tilvex-floor, which reads the
// input whole and appends as many bytes as tilvex appends, on the numbers as
// tilvex-generate writes them and as inversion codes print them (%g, %e,
// %E, 17 digits, signs), at 10^3 up to 10^7 resamples (--floor-max).
// tilvex-plot: a million accepted lines streamed; and --each on a grid of
// 300 points of 5100 resamples (1.45 million accepted lines) against runs
// with --grid.

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "spawn.hpp"
#include "files/input_file.hpp"
#include "files/result_files.hpp"
#include "run/in_place.hpp"
#include "run/passes.hpp"
#include "text/reader.hpp"
#include "text/writer.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Process {
  double seconds;
  long peak_kib;
  int status;
};

// Runs argv[0] with the arguments, standard output to `out`.
Process spawn(const std::vector<std::string>& args, const std::string& out) {
  const auto start = Clock::now();
  int failed = 0;
  const pid_t pid = tilvex::bench::spawn_to(args, out, failed);
  Process p{0, 0, -1};
  if (pid > 0) {
    int ws = 0;
    rusage ru{};
    wait4(pid, &ws, 0, &ru);
    p.seconds = seconds_since(start);
    p.peak_kib = ru.ru_maxrss;
    p.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
  }
  return p;
}

struct Stages {
  double read = 0, pass1 = 0, threshold = 0, pass2 = 0, write = 0;
};

// One in-process run through the program's own stages, each timed.
Stages time_stages(const std::string& input, const std::string& output, float level) {
  using namespace tilvex;
  Stages t;
  auto start = Clock::now();
  InputFile file;
  if (!file.open(input) || !file.read()) std::exit(1);
  t.read = seconds_since(start);

  start = Clock::now();
  ResampleReader reader(file.text());
  const Similarity similarity(reader.best().tensor);
  Ranges ranges(reader.best().solution);
  const std::vector<float> table = similarity_table(reader, similarity);
  t.pass1 = seconds_since(start);

  start = Clock::now();
  const float threshold = pick_threshold(table, level);
  t.threshold = seconds_since(start);

  start = Clock::now();
  InPlaceLines lines(file.bytes(), Grid{1, 2, 3, 4});
  accept_pass(reader, similarity, table, threshold, ranges,
              [&](std::size_t, const Solution& s) { lines.add(s, reader.consumed()); });
  std::string summary_line;
  append_summary_line(summary_line, ranges.finish());
  t.pass2 = seconds_since(start);

  start = Clock::now();
  fs::remove(output);
  fs::remove(output + "2");
  ResultFile out, out2;
  const std::string_view summary[] = {summary_line};
  if (!out.open(output) || !out2.open(output + "2") ||
      append_run(out, summary, out2, lines.pieces()).failed >= 0 || !out2.close() ||
      !out.close())
    std::exit(1);
  t.write = seconds_since(start);
  return t;
}

unsigned processors() {
  cpu_set_t set;
  return sched_getaffinity(0, sizeof set, &set) == 0 ? static_cast<unsigned>(CPU_COUNT(&set)) : 1;
}

// Writes `points` resample results files of `resamples` each into `dir`,
// and the list of them.
std::string make_grid(const fs::path& dir, int points, int resamples) {
  fs::create_directories(dir);
  std::string list;
  for (int i = 0; i < points; ++i) {
    const std::string input = (dir / ("p" + std::to_string(i) + ".vrin")).string();
    spawn({TILVEX_GENERATE, std::to_string(resamples), std::to_string(1000 + i)}, input);
    list += input + " " + std::to_string(i % 50) + " " + std::to_string(i / 50) + " 0 0\n";
  }
  const std::string list_path = (dir / "grid.txt").string();
  std::FILE* f = std::fopen(list_path.c_str(), "w");
  std::fputs(list.c_str(), f);
  std::fclose(f);
  return list_path;
}

std::vector<std::string> inputs_of(const std::string& list_path) {
  tilvex::InputFile list;
  if (!list.open(list_path) || !list.read()) std::exit(1);
  std::vector<std::string> inputs;
  std::string_view text = list.text();
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    inputs.emplace_back(line.substr(0, line.find(' ')));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return inputs;
}

// In process: every input read on one thread; and every point read and
// analysed on one thread straight through the library, with or
// without the stress quantities, with no ordering and no appends.
double read_floor(const std::vector<std::string>& inputs) {
  const auto start = Clock::now();
  std::size_t bytes = 0;
  for (const std::string& name : inputs) {
    tilvex::InputFile f;
    if (!f.open(name) || !f.read()) std::exit(1);
    bytes += f.text().size();
  }
  if (bytes == 0) std::exit(1);
  return seconds_since(start);
}

double analysis_floor(const std::vector<std::string>& inputs, bool stress) {
  const auto start = Clock::now();
  for (const std::string& name : inputs) {
    tilvex::InputFile f;
    if (!f.open(name) || !f.read()) std::exit(1);
    const tilvex::RunTexts t = tilvex::analyse_in_place(f.bytes(), 95.0f, tilvex::Grid{1, 2, 3, 4}, {.stress = stress});
    if (t.summary.empty()) std::exit(1);
  }
  return seconds_since(start);
}

struct Figure {
  double seconds;
  long peak_kib;
};

// The median time and the largest peak of `runs` runs, each appending to
// fresh files.
Figure time_command(const std::vector<std::string>& args, const fs::path& dir, int runs) {
  std::vector<double> wall;
  long peak = 0;
  for (int r = 0; r < runs; ++r) {
    for (const char* f : {"s.txt", "a.txt", "s.txt.tilvex-grid"}) fs::remove(dir / f);
    const Process p = spawn(args, (dir / "stdout").string());
    if (p.status != 0) {
      std::fprintf(stderr, "%s failed with status %d\n", args[0].c_str(), p.status);
      std::exit(1);
    }
    wall.push_back(p.seconds);
    peak = std::max(peak, p.peak_kib);
  }
  return {median(wall), peak};
}

void bench_grid(const fs::path& dir, int points, int resamples, int runs) {
  const unsigned n = processors();
  const std::string list = make_grid(dir / "grid", points, resamples);
  ::sync();  // the inputs on disk first, so that their writing back takes no time from the runs
  const std::vector<std::string> inputs = inputs_of(list);
  const std::string s = (dir / "s.txt").string(), a = (dir / "a.txt").string();
  std::printf("\n%d points of %d resamples, %u processors (median of %d runs):\n", points,
              resamples, n, runs);
  // The processes first, while this one is small: a child's peak counts
  // the memory of the process that started it (it shares its pages until
  // it runs its program), so in-process work comes after. tilvex-grid and
  // its floor in turn, each appending to fresh files, and the ratio pair
  // by pair, so that a drift of the machine's speed falls on both.
  const std::vector<std::string> all_args = {TILVEX_GRID_BINARY, list, s, "95", a, "--jobs", std::to_string(n), "--quiet"};
  const std::vector<std::string> floor_args = {TILVEX_GRID_FLOOR, list, std::to_string(n), s, a};
  std::vector<double> all_wall, floor_wall, ratio;
  long all_peak = 0;
  for (int r = 0; r < runs + 1; ++r) {  // the first pair warms up
    const Figure g = time_command(all_args, dir, 1), f = time_command(floor_args, dir, 1);
    if (r == 0) continue;
    all_wall.push_back(g.seconds), floor_wall.push_back(f.seconds), ratio.push_back(g.seconds / f.seconds);
    all_peak = std::max(all_peak, g.peak_kib);
  }
  const Figure one = time_command({TILVEX_GRID_BINARY, list, s, "95", a, "--jobs", "1", "--quiet"}, dir, runs);
  const std::string recipe = "xargs -P " + std::to_string(n) +
                             " -L 1 sh -c '\"$0\" \"$1\" " + s + " 95 " + a +
                             " \"$2\" \"$3\" \"$4\" \"$5\"' " + TILVEX_BINARY + " < " + list;
  const Figure xargs = time_command({"/bin/sh", "-c", recipe}, dir, runs);
  std::vector<double> floor_read, stress_cost;
  for (int r = 0; r < runs; ++r) {
    floor_read.push_back(read_floor(inputs));
    // The stress quantities (SHmax, regime, A-phi over the accepted
    // resamples), which tilvex-grid gathers in pass 2: one thread, with
    // and without, in turn, the difference pair by pair.
    const double with = analysis_floor(inputs, true);
    stress_cost.push_back(with - analysis_floor(inputs, false));
  }
  const double stress = median(stress_cost) / points;
  const double all = median(all_wall);
  std::printf("  reading every input, one thread       %8.1f ms\n", median(floor_read) * 1e3);
  std::printf("  its floor, %u threads, appending       %8.1f ms  (the texts unordered, no lock, no journal, no record)\n",
              n, median(floor_wall) * 1e3);
  std::printf("  tilvex-grid --jobs %u                  %8.1f ms  %+.1f%% over its floor (paired), peak %.1f MiB\n", n,
              all * 1e3, (median(ratio) - 1) * 100, static_cast<double>(all_peak) / 1024.0);
  std::printf("  tilvex-grid --jobs 1                  %8.1f ms  (--jobs %u: %.2fx as fast), peak %.1f MiB\n",
              one.seconds * 1e3, n, one.seconds / all, static_cast<double>(one.peak_kib) / 1024.0);
  std::printf("  xargs -P %u, a tilvex run per point    %8.1f ms  (%.2fx tilvex-grid's time)\n", n,
              xargs.seconds * 1e3, xargs.seconds / all);
  std::printf("  stress quantities, per point          %8.1f us  (%+.1f%% of tilvex-grid --jobs 1's time)\n",
              stress * 1e6, stress * points / one.seconds * 100);
  std::fflush(stdout);
  fs::remove_all(dir / "grid");
}

}  // namespace

// tilvex-plot on a million accepted lines: streamed, density only.
void bench_plot(const fs::path& dir) {
  const std::string many = (dir / "many.txt").string();
  {
    std::FILE* f = std::fopen(many.c_str(), "w");
    for (int i = 0; i < 1000000; ++i)
      std::fprintf(f, "1 2 3 4 0.%04d %.6f %.6f %.6f %.6f %.6f %.6f\n", i * 7 % 10000, 40.0 + i % 37,
                   30.0 + i % 11, 160.0 + i % 29, 20.0 + i % 13, 270.0 + i % 23, 50.0 + i % 7);
    std::fclose(f);
  }
  const Figure plot = time_command({TILVEX_PLOT_BINARY, many, "-o", (dir / "many.svg").string()}, dir, 3);
  std::printf("\ntilvex-plot, 1000000 accepted lines (%.0f MB): %.0f ms, peak %.1f MiB, SVG %.0f kB\n",
              static_cast<double>(fs::file_size(many)) / 1e6, plot.seconds * 1e3,
              static_cast<double>(plot.peak_kib) / 1024.0,
              static_cast<double>(fs::file_size(dir / "many.svg")) / 1e3);
  fs::remove(many);
}

// tilvex-plot --each on a grid of `points` points of `resamples` each (as
// tilvex-grid writes its accepted file and table), against single runs
// with --grid, each of which reads the whole file too: the median of 3 of
// --each and of 7 single runs (points spread over the grid), and what 300
// single runs one after another, as a loop would do it, would take.
void bench_each(const fs::path& dir, int points, int resamples) {
  const fs::path here = dir / "each";
  const std::string list = make_grid(here, points, resamples);
  const std::string a = (here / "grid-accepted.txt").string(), table = (here / "grid.tsv").string();
  time_command({TILVEX_GRID_BINARY, list, (here / "grid-summary.txt").string(), "95", a, "--table", table, "--quiet"},
               here, 1);
  const Figure each = time_command({TILVEX_PLOT_BINARY, a, "--table", table, "--each", (here / "out").string()}, here, 3);
  std::vector<double> single;
  long peak = 0;
  for (int i = 0; i < 7; ++i) {
    const int p = i * points / 7;
    const Process run = spawn({TILVEX_PLOT_BINARY, a, "--grid", std::to_string(p % 50), std::to_string(p / 50), "0",
                               "0", "--table", table, "-o", (here / "one.svg").string()},
                              (here / "stdout").string());
    if (run.status != 0) {
      std::fprintf(stderr, "tilvex-plot --grid failed with status %d\n", run.status);
      std::exit(1);
    }
    single.push_back(run.seconds);
    peak = std::max(peak, run.peak_kib);
  }
  const double one = median(single);
  std::printf("\ntilvex-plot, the stereonets of %d points of %d resamples (accepted file %.1f MB, %u processors):\n",
              points, resamples, static_cast<double>(fs::file_size(a)) / 1e6, processors());
  std::printf("  --each, one reading                    %8.0f ms, peak %.1f MiB  (%.1f single runs' time)\n",
              each.seconds * 1e3, static_cast<double>(each.peak_kib) / 1024.0, each.seconds / one);
  std::printf("  one run with --grid (median of 7)      %8.0f ms, peak %.1f MiB\n", one * 1e3,
              static_cast<double>(peak) / 1024.0);
  std::printf("  %d runs with --grid, one after another %6.0f ms  (%.0fx --each's time)\n", points,
              one * points * 1e3, one * points / each.seconds);
  fs::remove_all(here);
}

// One run at 10^3 up to `max_n` resamples: wall time, peak memory, and the
// time of each stage. False if a run fails.
bool bench_scaling(const fs::path& dir, long max_n, int runs, const std::string& level) {
  std::printf("\n%9s %9s %9s %9s %10s | %7s %7s %7s %7s %7s  (ms)\n", "N", "input MB", "wall ms",
              "peak MiB", "over input", "read", "pass 1", "thresh", "pass 2", "write");
  for (long n = 1000; n <= max_n; n *= 10) {
    const std::string input = (dir / ("bench-" + std::to_string(n) + ".vrin")).string();
    spawn({TILVEX_GENERATE, std::to_string(n), "2026"}, input);
    ::sync();  // (as in bench_floor)
    const double input_mib = static_cast<double>(fs::file_size(input)) / (1024.0 * 1024.0);

    std::vector<double> wall;
    long peak = 0;
    for (int r = -2; r < runs; ++r) {  // two runs to warm up, not counted
      fs::remove(dir / "out.txt");
      fs::remove(dir / "out2.txt");
      const Process p = spawn({TILVEX_BINARY, input, (dir / "out.txt").string(), level,
                               (dir / "out2.txt").string(), "1", "2", "3", "4"},
                              (dir / "stdout").string());
      if (p.status != 0) {
        std::fprintf(stderr, "tilvex failed with status %d\n", p.status);
        return false;
      }
      if (r < 0) continue;
      wall.push_back(p.seconds);
      peak = std::max(peak, p.peak_kib);
    }

    std::vector<double> st[5];
    for (int r = 0; r < runs; ++r) {
      const Stages s = time_stages(input, (dir / "stage-out.txt").string(), 95.0f);
      const double v[5] = {s.read, s.pass1, s.threshold, s.pass2, s.write};
      for (int k = 0; k < 5; ++k) st[k].push_back(v[k]);
    }
    const double peak_mib = static_cast<double>(peak) / 1024.0;
    std::printf("%9ld %9.1f %9.1f %9.1f %+10.1f | %7.2f %7.2f %7.2f %7.2f %7.2f\n", n, input_mib,
                median(wall) * 1e3, peak_mib, peak_mib - input_mib, median(st[0]) * 1e3,
                median(st[1]) * 1e3, median(st[2]) * 1e3, median(st[3]) * 1e3,
                median(st[4]) * 1e3);
    std::fflush(stdout);
    fs::remove(input);
  }
  return true;
}

// The same values as inversion codes print them: each number read as the
// float tilvex reads and written in turn as %.9g, %.8e, %.8E, 17
// significant digits of its double and %+.9g (every spelling reads back
// to the same float, so tilvex's output is the same byte for byte).
void respell(const std::string& from, const std::string& to) {
  std::FILE* in = std::fopen(from.c_str(), "r");
  std::FILE* out = std::fopen(to.c_str(), "w");
  if (in == nullptr || out == nullptr) std::exit(1);
  char line[4096];
  long k = 0;
  while (std::fgets(line, sizeof line, in) != nullptr) {
    bool first = true;
    for (char* word = std::strtok(line, " \t\n"); word != nullptr; word = std::strtok(nullptr, " \t\n")) {
      const float v = std::strtof(word, nullptr);
      static const char* const kSpellings[] = {"%.9g", "%.8e", "%.8E", "%.17g", "%+.9g"};
      std::fputs(first ? "" : " ", out);
      std::fprintf(out, kSpellings[k++ % 5], static_cast<double>(v));
      first = false;
    }
    std::fputc('\n', out);
  }
  std::fclose(in);
  std::fclose(out);
}

// tilvex against its floor, on both spellings at 10^3 up to `max_n`
// resamples: runs of the two in turn after a warm-up of each, the medians
// and the median of the ratios pair by pair; the cost per resample; and
// the peak resident size against the input's size. False if a run fails
// or the two spellings' outputs differ.
bool bench_floor(const fs::path& dir, long max_n, int runs, const std::string& level) {
  std::printf("\ntilvex against its floor (tilvex-floor: the input read whole and the bytes tilvex appends "
              "appended), median of %d pairs:\n",
              runs);
  std::printf("%9s %-9s %9s %9s %9s %7s %9s %9s %9s %10s\n", "N", "spelling", "input MB", "tilvex ms", "floor ms",
              "ratio", "ns/resample", "ns/added", "peak MiB", "over input");
  // The median time of the size before, by spelling: the cost of each
  // resample added ("ns/added") leaves out what a run costs whatever its size.
  double before[2] = {0, 0};
  for (long n = 1000; n <= max_n; n *= 10) {
    const std::string plain = (dir / ("floor-" + std::to_string(n) + ".vrin")).string();
    const std::string codes = (dir / ("floor-" + std::to_string(n) + "-codes.vrin")).string();
    spawn({TILVEX_GENERATE, std::to_string(n), "2026"}, plain);
    respell(plain, codes);
    // The inputs just written go to disk now, not during the runs timed
    // (at 10^7, 3 GB whose writeback took the processors and the disk
    // from the runs).
    ::sync();
    std::string reference;
    for (const auto& [spelling, name, input] :
         {std::tuple<int, const char*, std::string>{0, "generate", plain}, {1, "codes", codes}}) {
      const std::string s = (dir / "floor-s.txt").string(), a = (dir / "floor-a.txt").string();
      std::vector<double> tilvex, floor, ratio;
      long peak = 0, s_bytes = 0, a_bytes = 0;
      for (int r = -1; r < runs; ++r) {  // one pair to warm up, not counted
        fs::remove(s), fs::remove(a);
        const Process t =
            spawn({TILVEX_BINARY, input, s, level, a, "1", "2", "3", "4"}, (dir / "stdout").string());
        if (t.status != 0) return false;
        s_bytes = static_cast<long>(fs::file_size(s)), a_bytes = static_cast<long>(fs::file_size(a));
        if (r < 0) {
          tilvex::InputFile summary;
          if (!summary.open(s) || !summary.read()) return false;
          if (reference.empty()) reference = std::string(summary.text());
          if (std::string(summary.text()) != reference) {
            std::fprintf(stderr, "the two spellings of %ld resamples give different summaries\n", n);
            return false;
          }
        }
        fs::remove(s), fs::remove(a);
        const Process f = spawn({TILVEX_FLOOR, input, std::to_string(s_bytes), s, std::to_string(a_bytes), a},
                                (dir / "stdout").string());
        if (f.status != 0) return false;
        if (r < 0) continue;
        tilvex.push_back(t.seconds), floor.push_back(f.seconds), ratio.push_back(t.seconds / f.seconds);
        peak = std::max(peak, t.peak_kib);
      }
      const double input_mib = static_cast<double>(fs::file_size(input)) / (1024.0 * 1024.0);
      const double peak_mib = static_cast<double>(peak) / 1024.0;
      char added[32] = "-";
      if (before[spelling] > 0)
        std::snprintf(added, sizeof added, "%.1f",
                      (median(tilvex) - before[spelling]) * 1e9 / (static_cast<double>(n) * 0.9));
      before[spelling] = median(tilvex);
      std::printf("%9ld %-9s %9.1f %9.1f %9.1f %7.2f %11.1f %9s %9.1f %+10.1f\n", n, name,
                  static_cast<double>(fs::file_size(input)) / 1e6, median(tilvex) * 1e3, median(floor) * 1e3,
                  median(ratio), median(tilvex) * 1e9 / static_cast<double>(n), added, peak_mib, peak_mib - input_mib);
      std::fflush(stdout);
      fs::remove(s), fs::remove(a);
    }
    fs::remove(plain), fs::remove(codes);
  }
  return true;
}

// Trends near 10^9 degrees: every axis wraps over millions of steps.
bool bench_huge_trends(const fs::path& dir, int runs, const std::string& level) {
  const std::string huge = (dir / "huge-trends.vrin").string();
  spawn({TILVEX_GENERATE, "100000", "2026", "1e9"}, huge);
  std::vector<double> wall;
  for (int r = -1; r < runs; ++r) {
    fs::remove(dir / "out.txt");
    fs::remove(dir / "out2.txt");
    const Process p = spawn({TILVEX_BINARY, huge, (dir / "out.txt").string(), level,
                             (dir / "out2.txt").string(), "1", "2", "3", "4"},
                            (dir / "stdout").string());
    if (p.status != 0) return false;
    if (r >= 0) wall.push_back(p.seconds);
  }
  std::printf("\n100000 resamples with trends near 1e9 degrees: %.1f ms (median)\n",
              median(wall) * 1e3);
  return true;
}

// Durability on request: the same 10^5 run with TILVEX_SYNC=1, which
// syncs the journal, the files and their directories.
void bench_sync(const fs::path& dir, int runs, const std::string& level) {
  const std::string input = (dir / "sync.vrin").string();
  spawn({TILVEX_GENERATE, "100000", "2026"}, input);
  const std::vector<std::string> args = {TILVEX_BINARY, input, (dir / "s.txt").string(), level,
                                         (dir / "a.txt").string(), "1", "2", "3", "4"};
  const Figure plain = time_command(args, dir, runs);
  setenv("TILVEX_SYNC", "1", 1);
  const Figure synced = time_command(args, dir, runs);
  unsetenv("TILVEX_SYNC");
  std::printf("\n100000 resamples: %.1f ms, with TILVEX_SYNC=1 %.1f ms (median)\n",
              plain.seconds * 1e3, synced.seconds * 1e3);
  fs::remove(input);
}

int main(int argc, char** argv) {
  long max_n = 1000000, floor_max = 10000000;
  int runs = 7, grid_points = 2000;
  std::string only;  // "grid" or "floor": that part alone
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--only") only = argv[i + 1];
    if (std::string(argv[i]) == "--max") max_n = std::atol(argv[i + 1]);
    if (std::string(argv[i]) == "--floor-max") floor_max = std::atol(argv[i + 1]);
    if (std::string(argv[i]) == "--runs") runs = std::max(5, std::atoi(argv[i + 1]));
    if (std::string(argv[i]) == "--grid-points") grid_points = std::atoi(argv[i + 1]);
  }
  const fs::path dir = fs::temp_directory_path() / ("tilvex-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string level = "95";

  std::printf("tilvex-bench: median of %d runs each, confidence level %s\n", runs, level.c_str());
  // First, while this process is small: a child's peak counts the memory
  // of the process that started it.
  if (only.empty() || only == "floor")
    if (!bench_floor(dir, floor_max, runs, level)) return 1;
  if (only.empty()) {
    bench_plot(dir);
    bench_each(dir, 300, 5100);  // some 1.45 million accepted lines
  }
  // A grid (first, while this process is small: see bench_grid): the
  // realistic case, and large inputs, where the memory bound of
  // about 2 jobs inputs shows.
  if (grid_points > 0 && (only.empty() || only == "grid")) {
    bench_grid(dir, grid_points, 2000, runs);
    bench_grid(dir, 16, 100000, runs);
  }
  if (only.empty()) {
    if (!bench_scaling(dir, max_n, runs, level) || !bench_huge_trends(dir, runs, level)) return 1;
    bench_sync(dir, runs, level);
  }

  fs::remove_all(dir);
  return 0;
}
