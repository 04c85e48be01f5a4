// tilvex-grid: a whole grid in one command, on every core, in list order.
//
// tilvex-grid GRID_LIST output_file confidence_level output_file2
//             [--jobs N] [--part K/N] [--table FILE] [--netcdf FILE] [--resume | --again] [--quiet]
//
// Appends to output_file and output_file2 exactly what a loop of tilvex runs
// over the list's points appends, and prints what those runs would print.
// Exit statuses: 0 every point appended; 1 some points failed; 2 a bad
// command line, list, setting or table, or a record that stops the grid; 213 or 252 a result file that cannot be opened or
// written; a stopping signal ends it by that signal, after the current
// commit.

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
#include "files/posix.hpp"
#include "files/result_files.hpp"
#include "grid/engine.hpp"
#include "grid/list.hpp"
#include "grid/table_file.hpp"
#include "text/error.hpp"
#include "text/notes.hpp"
#include "text/words.hpp"
#include "options.hpp"

namespace {

using tilvex::grid_cli::CommandLine;

using tilvex::Error;

void say(const std::string& text) { std::fprintf(stderr, "tilvex-grid: %s\n", text.c_str()); }

// Opens `name` for a recovery into `files`.
void open_for_recovery(const std::string& name, std::vector<std::unique_ptr<tilvex::ResultFile>>& files) {
  files.push_back(std::make_unique<tilvex::ResultFile>());
  if (!files.back()->open_existing(name)) throw Error("cannot open '" + name + "': " + std::strerror(errno), 2);
}

// Recovers result files without appending to them: each is locked, and
// what a run that died left is cut away, as the next append would; so is
// each one's grid record (FILE.tilvex-grid), where there is one.
int recover(const std::vector<std::string>& names) {
  if (const std::string fault = tilvex::settings_fault(); !fault.empty()) throw Error(fault, 2);
  std::vector<std::unique_ptr<tilvex::ResultFile>> files;
  for (const std::string& name : names) {
    open_for_recovery(name, files);
    const std::string record = name + ".tilvex-grid";
    struct stat st {};
    if (::lstat(record.c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode)) {
      say("'" + record + "' is not a regular file; it is left alone");
      continue;
    }
    open_for_recovery(record, files);
  }
  std::vector<tilvex::ResultFile*> all;
  for (const auto& f : files) all.push_back(f.get());
  const tilvex::AppendOutcome r = tilvex::recover(all, {say});
  if (r.failed >= 0) throw Error("cannot lock '" + r.file->name() + "': " + tilvex::reason(r), 2);
  return 0;
}

// The stopping signals are taken by one thread of the grid: blocked before
// any thread starts, so that every thread inherits the mask.
void block_stopping_signals() {
  sigset_t stopping;
  sigemptyset(&stopping);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&stopping, s);
  pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
}

// The grid's options from the command line and the environment.
tilvex::grid::Options grid_options(const CommandLine& line) {
  using namespace tilvex;
  grid::Options o;
  o.jobs = line.jobs.value_or(tilvex::posix::usable_processors());
  o.part_k = line.part_k;
  o.part_n = line.part_n;
  o.table = line.table;
  o.netcdf = line.netcdf;
  o.list = line.operands[0];
  o.resume = line.resume;
  o.again = line.again;
  if (const std::string fault = settings_fault(); !fault.empty()) throw Error(fault, 2);
  o.sync = std::getenv("TILVEX_SYNC") != nullptr && std::string(std::getenv("TILVEX_SYNC")) == "1";
  const std::string& level_text = line.operands[2];
  const auto level = read_level(level_text.c_str());
  if (!level) throw Error("confidence_level is not a number: " + level_text, 2);
  o.level = *level;
  o.level_text = level_text;
  const std::size_t used = level_length(level_text.c_str());
  for (const std::string& note : {trailing_note("confidence_level", level_text, used),
                                  level_note(*level, first_word(std::string_view(level_text).substr(0, used)))})
    if (!note.empty()) say("warning: " + note);
  o.output = std::string(first_word(line.operands[1]));
  o.output2 = std::string(first_word(line.operands[3]));
  o.progress = o.output + ".tilvex-grid";
  return o;
}

// The points of the list, checked with the table's file.
std::vector<tilvex::grid::Point> grid_points(const std::string& list_name, const tilvex::grid::Options& o) {
  using namespace tilvex;
  InputFile list;
  if (!(list_name == "-" ? list.open("/dev/stdin") : list.open(list_name)))
    throw Error(list_name + ": cannot read the list: " + std::strerror(errno), 2);
  if (!list.read()) throw Error(list_name + ": cannot read the list: " + std::strerror(list.error()), 2);
  std::vector<grid::Point> points = grid::read_list(list.text(), list_name);
  const grid::GridFiles files{list_name, o.output, o.output2, o.progress, points};
  if (!o.table.empty())
    if (std::string why = grid::table_fault(o.table, files); !why.empty()) throw Error(std::move(why), 2);
  if (!o.netcdf.empty())
    if (std::string why = grid::netcdf_fault(o.netcdf, o.table, files, grid::part_of(points, o.part_k, o.part_n));
        !why.empty())
      throw Error(std::move(why), 2);
  return points;
}

// The grid, from the options to its end.
int run(const CommandLine& line, const std::vector<std::string>& command) {
  using namespace tilvex;
  block_stopping_signals();
  const grid::Options o = grid_options(line);
  const std::vector<grid::Point> points = grid_points(line.operands[0], o);
  Console console(isatty(2) != 0 && !line.quiet, command);
  return console.end(grid::run_grid(o, grid::part_of(points, o.part_k, o.part_n), console));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tilvex;
  const CommandLine line = grid_cli::read_command_line({argv + 1, argv + argc});
  if (const auto status = cli::conclude(grid_cli::interface(), line)) return *status;
  try {
    return line.recover ? recover(line.operands) : run(line, std::vector<std::string>(argv, argv + argc));
  } catch (const Error& e) {  // the grid ended before any work
    if (!e.fixed().empty()) std::printf("%s\n", e.fixed().c_str());
    if (!e.reason().empty()) say(e.reason());
    return e.status();
  }
}
