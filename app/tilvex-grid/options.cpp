#include "options.hpp"

#include <string_view>

#include "text/words.hpp"

namespace tilvex::grid_cli {
namespace {

enum Key { kJobs, kPart, kTable, kNetcdf, kResume, kAgain, kQuiet, kRecover, kHelp, kVersion };

using cli::Placing;

const cli::Interface kInterface{
    .program = "tilvex-grid",
    .about = "Runs tilvex over every point of a grid, on every core, and appends what a loop of\n"
             "tilvex runs would append, in list order.\n",
    .operands = {{"GRID_LIST", "input xgrid ygrid zgrid tgrid, a point a line (- is stdin)"},
                 {"output_file", "the summary lines, appended as tilvex appends them"},
                 {"confidence_level", "in per cent, as tilvex takes it"},
                 {"output_file2", "the accepted resamples, appended as tilvex appends them"}},
    .options = {{.key = kJobs, .name = "--jobs", .values = {"N"}, .help = "threads (default: every processor)",
                 .refusal = "--jobs takes a number of threads from 1 to 1024"},
                {.key = kPart, .name = "--part", .values = {"K/N"},
                 .help = "only the K-th (from 0) of N slices of the list, for a cluster",
                 .refusal = "--part takes K/N, with 0 <= K < N"},
                {.key = kTable, .name = "--table", .values = {"FILE"},
                 .help = "a tab-separated row per point, pairing it with its summary"},
                {.key = kNetcdf, .name = "--netcdf", .values = {"FILE"},
                 .help = "the grid's results as a netCDF-4 file (CF conventions)"},
                {.key = kResume, .name = "--resume", .help = "go on with a grid that was stopped or killed"},
                {.key = kAgain, .name = "--again", .help = "append a grid that is recorded beside output_file once more"},
                {.key = kQuiet, .name = "--quiet", .help = "no progress line, even on a terminal"},
                {.key = kRecover, .name = "--recover", .values = {"FILE..."},
                 .help = "cut away what an append that died left, without appending",
                 .placing = Placing::first},
                {.key = kHelp, .name = "--help", .help = "this text", .placing = Placing::alone},
                {.key = kVersion, .name = "--version", .help = "the version", .placing = Placing::alone}},
    .synopsis = {{{{"GRID_LIST"}},
                  {{"output_file"}},
                  {{"confidence_level"}},
                  {{"output_file2"}},
                  {{"--jobs"}, true},
                  {{"--part"}, true},
                  {{"--table"}, true},
                  {{"--netcdf"}, true},
                  {{"--resume", "--again"}, true},
                  {{"--quiet"}, true}},
                 {{{"--recover"}}}},
    .manual = "The manual: man tilvex-grid (in the build tree: man build/tilvex-grid.1).\n"};

// A whole number from 0 to `most`, written plainly.
bool whole(std::string_view s, std::size_t most, std::size_t& out) {
  std::size_t used = 0;
  const auto v = read_int(s, &used);
  if (!v || used != s.size() || s.empty() || s[0] < '0' || s[0] > '9' || *v < 0 ||
      static_cast<std::size_t>(*v) > most)
    return false;
  out = static_cast<std::size_t>(*v);
  return true;
}

unsigned jobs(const cli::Word& w) {
  std::size_t n = 0;
  if (!whole(cli::values(w)[0], 1024, n) || n == 0) cli::refuse(w);
  return static_cast<unsigned>(n);
}

// K/N, with 0 <= K < N <= 1000000.
void part(const cli::Word& w, CommandLine& line) {
  const std::string_view v = cli::values(w)[0];
  const std::size_t slash = v.find('/');
  if (slash == std::string_view::npos || !whole(v.substr(slash + 1), 1000000, line.part_n) || line.part_n == 0 ||
      !whole(v.substr(0, slash), line.part_n - 1, line.part_k))
    cli::refuse(w);
}

// The file of --table or --netcdf: an empty name (an unset variable in a
// script) would be no file, and the grid would end without it, as if
// asked for none.
std::string file_name(const cli::Word& w) {
  const std::string& name = cli::values(w)[0];
  if (name.empty()) throw cli::Refusal{w.option->name + " takes a file's name, not an empty one"};
  return name;
}

void take(CommandLine& line, const std::vector<cli::Word>& words) {
  for (const cli::Word& w : words) {
    if (w.option == nullptr) {
      if (w.text.starts_with("--")) throw cli::not_an_option(kInterface, w);
      line.operands.push_back(w.text);
      continue;
    }
    switch (w.option->key) {
      case kRecover:
        line.recover = true;
        line.operands = w.values;
        return;
      case kJobs: line.jobs = jobs(w); break;
      case kPart: part(w, line); break;
      case kTable: line.table = file_name(w); break;
      case kNetcdf: line.netcdf = file_name(w); break;
      case kResume: line.resume = true; break;
      case kAgain: line.again = true; break;
      case kQuiet: line.quiet = true; break;
    }
  }
  if (line.operands.size() != 4) throw cli::Refusal{};
  if (line.resume && line.again)
    throw cli::Refusal{"--resume goes on with a recorded grid, --again appends it anew: not both"};
}

}  // namespace

const cli::Interface& interface() { return kInterface; }

CommandLine read_command_line(const std::vector<std::string>& args) { return cli::read(kInterface, args, take); }

}  // namespace tilvex::grid_cli
