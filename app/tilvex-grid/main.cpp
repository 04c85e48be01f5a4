// tilvex-grid: a whole grid in one command, on every core, in list order.
//
// tilvex-grid GRID_LIST output_file confidence_level output_file2
//             [--jobs N] [--part K/N] [--table FILE] [--resume | --again] [--quiet]
//
// Appends to output_file and output_file2 exactly what a loop of tilvex runs
// over the list's points appends, and prints what those runs would print.
// Exit statuses: 0 every point appended; 1 some points failed; 2 a bad
// command line, list, setting or table, or a record that stops the grid; 213 or 252 a result file that cannot be opened or
// written; a stopping signal ends it by that signal, after the current
// commit.

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <memory>
#include <cstdio>
#include <string>
#include <vector>

#include "console.hpp"
#include "files/input_file.hpp"
#include "files/result_files.hpp"
#include "grid/engine.hpp"
#include "grid/list.hpp"
#include "grid/table_file.hpp"
#include "text/error.hpp"
#include "text/notes.hpp"
#include "text/words.hpp"

namespace {

int usage() {
  std::fputs(
      "usage: tilvex-grid GRID_LIST output_file confidence_level output_file2 [--jobs N] "
      "[--part K/N] [--table FILE] [--resume | --again] [--quiet]\n"
      "       tilvex-grid --recover FILE...\n",
      stderr);
  return 2;
}

int bad(const std::string& what) {
  std::fprintf(stderr, "tilvex-grid: %s\n", what.c_str());
  return 2;
}

unsigned processors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
  return 1;
}

// A whole number from 0 to `most`, written plainly.
bool whole(std::string_view s, std::size_t most, std::size_t& out) {
  std::size_t used = 0;
  const auto v = tilvex::read_int(s, &used);
  if (!v || used != s.size() || s.empty() || s[0] < '0' || s[0] > '9' || *v < 0 ||
      static_cast<std::size_t>(*v) > most)
    return false;
  out = static_cast<std::size_t>(*v);
  return true;
}

// Opens `name` for a recovery into `files`; false if it cannot be.
bool open_for_recovery(const std::string& name, std::vector<std::unique_ptr<tilvex::ResultFile>>& files) {
  files.push_back(std::make_unique<tilvex::ResultFile>());
  if (files.back()->open_existing(name)) return true;
  std::fprintf(stderr, "tilvex-grid: cannot open '%s': %s\n", name.c_str(), std::strerror(errno));
  return false;
}

// Recovers result files without appending to them: each is locked, and
// what a run that died left is cut away, as the next append would; so is
// each one's grid record (FILE.tilvex-grid), where there is one.
int recover(int count, char** names) {
  if (const std::string fault = tilvex::settings_fault(); !fault.empty()) return bad(fault);
  std::vector<std::unique_ptr<tilvex::ResultFile>> files;
  for (int i = 0; i < count; ++i) {
    if (!open_for_recovery(names[i], files)) return 2;
    const std::string record = std::string(names[i]) + ".tilvex-grid";
    struct stat st {};
    if (::lstat(record.c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode)) {
      std::fprintf(stderr, "tilvex-grid: '%s' is not a regular file; it is left alone\n",
                   record.c_str());
      continue;
    }
    if (!open_for_recovery(record, files)) return 2;
  }
  std::vector<tilvex::ResultFile*> all;
  for (const auto& f : files) all.push_back(f.get());
  const tilvex::AppendOutcome r =
      tilvex::recover(all, {[](const std::string& text) { std::fprintf(stderr, "tilvex-grid: %s\n", text.c_str()); }});
  if (r.failed >= 0) {
    std::fprintf(stderr, "tilvex-grid: cannot lock '%s': %s\n",
                 all[static_cast<std::size_t>(r.failed)]->name().c_str(), tilvex::reason(r).c_str());
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tilvex;
  if (argc >= 2 && std::string(argv[1]) == "--recover") return recover(argc - 2, argv + 2);
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("tilvex-grid %s\n", TILVEX_VERSION);
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::printf(
        "usage: tilvex-grid GRID_LIST output_file confidence_level output_file2 [--jobs N]\n"
        "                   [--part K/N] [--table FILE] [--resume | --again] [--quiet]\n"
        "       tilvex-grid --recover FILE...\n\n"
        "Runs tilvex over every point of a grid, on every core, and appends what a loop of\n"
        "tilvex runs would append, in list order.\n"
        "  GRID_LIST         one point a line: input xgrid ygrid zgrid tgrid (- for stdin)\n"
        "  --jobs N          threads (default: every processor)\n"
        "  --part K/N        only the K-th of N slices of the list, for a cluster\n"
        "  --table FILE      a tab-separated row per point, pairing it with its summary\n"
        "  --resume          go on with a grid that was stopped or killed\n"
        "  --again           append a grid that is recorded beside output_file once more\n"
        "  --recover FILE..  cut away what an append that died left, without appending\n\n"
        "The manual: man tilvex-grid (in the build tree: man build/tilvex-grid.1).\n");
    return 0;
  }
  // The stopping signals are taken by one thread of the grid: blocked here,
  // before any thread starts, so that every thread inherits the mask.
  sigset_t stopping;
  sigemptyset(&stopping);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&stopping, s);
  pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);

  grid::Options o;
  o.jobs = processors();
  bool show_progress = isatty(2) != 0;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::size_t value = 0;
    if (arg == "--jobs") {
      if (i + 1 >= argc || !whole(argv[++i], 1024, value) || value == 0)
        return bad("--jobs takes a number of threads from 1 to 1024");
      o.jobs = static_cast<unsigned>(value);
    } else if (arg == "--part") {
      const std::string v = i + 1 < argc ? argv[++i] : "";
      const std::size_t slash = v.find('/');
      std::size_t n = 0;
      if (slash == std::string::npos || !whole(std::string_view(v).substr(slash + 1), 1000000, n) ||
          n == 0 || !whole(std::string_view(v).substr(0, slash), n - 1, value))
        return bad("--part takes K/N, with 0 <= K < N");
      o.part_k = value;
      o.part_n = n;
    } else if (arg == "--table") {
      if (i + 1 >= argc) return usage();
      o.table = argv[++i];
    } else if (arg == "--resume") {
      o.resume = true;
    } else if (arg == "--again") {
      o.again = true;
    } else if (arg == "--quiet") {
      show_progress = false;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      return usage();
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 4) return usage();
  if (o.resume && o.again) return bad("--resume goes on with a recorded grid, --again appends it anew: not both");
  if (const std::string fault = settings_fault(); !fault.empty()) return bad(fault);
  o.sync = std::getenv("TILVEX_SYNC") != nullptr && std::string(std::getenv("TILVEX_SYNC")) == "1";

  const std::string list_name = positional[0];
  const auto level = read_level(positional[2].c_str());
  if (!level) return bad("confidence_level is not a number: " + positional[2]);
  o.level = *level;
  o.level_text = positional[2];
  {
    const std::size_t used = level_length(positional[2].c_str());
    for (const std::string& note :
         {trailing_note("confidence_level", positional[2], used),
          level_note(*level, first_word(std::string_view(positional[2]).substr(0, used)))})
      if (!note.empty()) std::fprintf(stderr, "tilvex-grid: warning: %s\n", note.c_str());
  }
  o.output = std::string(first_word(positional[1]));
  o.output2 = std::string(first_word(positional[3]));
  o.progress = o.output + ".tilvex-grid";

  InputFile list;
  if (!(list_name == "-" ? list.open("/dev/stdin") : list.open(list_name)) || !list.read())
    return bad(list_name + ": cannot read the list");
  grid::ListFault fault;
  const std::vector<grid::Point> points = grid::read_list(list.text(), fault);
  if (fault.line != 0) return bad(list_name + ":" + std::to_string(fault.line) + ": " + fault.what);
  if (!o.table.empty())
    if (const std::string why = grid::table_fault(o.table, {list_name, o.output, o.output2, o.progress, points});
        !why.empty())
      return bad(why);

  Console console(show_progress, std::vector<std::string>(argv, argv + argc));
  try {
    return console.end(grid::run_grid(o, grid::part_of(points, o.part_k, o.part_n), console));
  } catch (const Error& e) {  // the grid ended before any work
    if (!e.fixed().empty()) std::printf("%s\n", e.fixed().c_str());
    if (!e.reason().empty()) std::fprintf(stderr, "tilvex-grid: %s\n", e.reason().c_str());
    return e.status();
  }
}
