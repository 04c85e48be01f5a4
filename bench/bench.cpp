// tilvex-bench: end-to-end time and peak memory of the real binary, and the
// time of each stage in process, on generated files of 10^3 to 10^6
// resamples.
//
//   tilvex-bench [--max N] [--runs R]
//
// End to end: the median wall time of R runs (at least 5, after two to warm
// up) of build/tilvex, each appending to fresh result files, and the
// largest peak resident size any run reached. Stages: the median of R in-process runs of each stage
// (read, pass 1, threshold, pass 2 with the lines formatted in place, the
// locked append) on the same file, through the program's own functions.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = Clock::now();
  pid_t pid = 0;
  Process p{0, 0, -1};
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0) {
    int ws = 0;
    rusage ru{};
    wait4(pid, &ws, 0, &ru);
    p.seconds = seconds_since(start);
    p.peak_kib = ru.ru_maxrss;
    p.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
  }
  posix_spawn_file_actions_destroy(&fa);
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
      append_run(out, summary, out2, lines.pieces()) != AppendFailure::none || !out2.close() ||
      !out.close())
    std::exit(1);
  t.write = seconds_since(start);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  long max_n = 1000000;
  int runs = 7;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--max") max_n = std::atol(argv[i + 1]);
    if (std::string(argv[i]) == "--runs") runs = std::max(5, std::atoi(argv[i + 1]));
  }
  const fs::path dir = fs::temp_directory_path() / ("tilvex-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string level = "95";

  std::printf("tilvex-bench: median of %d runs each, confidence level %s\n\n", runs, level.c_str());
  std::printf("%9s %9s %9s %9s %10s | %7s %7s %7s %7s %7s  (ms)\n", "N", "input MB", "wall ms",
              "peak MiB", "over input", "read", "pass 1", "thresh", "pass 2", "write");
  for (long n = 1000; n <= max_n; n *= 10) {
    const std::string input = (dir / ("bench-" + std::to_string(n) + ".vrin")).string();
    spawn({TILVEX_GENERATE, std::to_string(n), "2026"}, input);
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
        return 1;
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

  // Trends near 10^9 degrees: every axis wraps over millions of steps.
  const std::string huge = (dir / "huge-trends.vrin").string();
  spawn({TILVEX_GENERATE, "100000", "2026", "1e9"}, huge);
  std::vector<double> wall;
  for (int r = -1; r < runs; ++r) {
    fs::remove(dir / "out.txt");
    fs::remove(dir / "out2.txt");
    const Process p = spawn({TILVEX_BINARY, huge, (dir / "out.txt").string(), level,
                             (dir / "out2.txt").string(), "1", "2", "3", "4"},
                            (dir / "stdout").string());
    if (p.status != 0) return 1;
    if (r >= 0) wall.push_back(p.seconds);
  }
  std::printf("\n100000 resamples with trends near 1e9 degrees: %.1f ms (median)\n",
              median(wall) * 1e3);
  fs::remove_all(dir);
  return 0;
}
