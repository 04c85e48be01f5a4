// The command lines of tilvex-grid and tilvex-plot, read by CLI11 from each
// program's table of options, as the hand-written readers before it read
// them: each argument in order, the first wrong one refused; a value taken
// whatever it looks like; an operand that starts with '-'; no "--name=value",
// "-oVALUE" or "--" of CLI11's; --help and --version only alone, --recover
// only first. What looks like an option and is none of the program's is
// named ("unknown option --title") before the usage. A run that gets past
// the command line is seen by the first thing it cannot read (a list or an
// input that is not there).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/run.hpp"

namespace tilvex::test {
namespace {

struct Case {
  std::vector<std::string> args;
  int status;
  std::string err;  // all of standard error; standard output stays empty
};

void expect_each(const char* program, const std::vector<Case>& cases, const ScratchDir& dir,
                 const char* stdin_path = "/dev/null") {
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += " '" + a + "'";
    const Outcome o = run(program, c.args, dir / "stdout", Launch{stdin_path, -1, dir / "stderr"});
    EXPECT_EQ(o.status, c.status) << line;
    EXPECT_EQ(o.printed, "") << line;
    EXPECT_EQ(slurp(dir / "stderr"), c.err) << line;
  }
}

const std::string kGridUsage =
    "usage: tilvex-grid GRID_LIST output_file confidence_level output_file2 [--jobs N] [--part K/N] [--table FILE] "
    "[--netcdf FILE] [--resume | --again] [--quiet]\n"
    "       tilvex-grid --recover FILE...\n";

TEST(CommandLine, GridReadsEachArgumentInTurn) {
  ScratchDir dir;
  const std::string list = dir / "no-list", s = dir / "s", a = dir / "a";
  const std::string no_list = "tilvex-grid: " + list + ": cannot read the list: No such file or directory\n";
  const auto unknown = [](const std::string& option) { return "tilvex-grid: unknown option " + option + "\n" + kGridUsage; };
  const std::string jobs = "tilvex-grid: --jobs takes a number of threads from 1 to 1024\n";
  const std::string part = "tilvex-grid: --part takes K/N, with 0 <= K < N\n";
  const std::vector<std::string> run = {list, s, "95", a};
  const auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = run;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  expect_each(TILVEX_GRID,
              {
                  {{}, 2, kGridUsage},
                  {run, 2, no_list},
                  // Options before, between and after the operands, the last one counting.
                  {{"--jobs", "1", list, "--quiet", s, "--part", "0/3", "95", "--table", dir / "t", a}, 2, no_list},
                  {with({"--jobs", "1024", "--part", "999999/1000000", "--jobs", "1"}), 2, no_list},
                  {with({"--jobs", "1025"}), 2, jobs},
                  {with({"--jobs", "0"}), 2, jobs},
                  {with({"--jobs", "-1"}), 2, jobs},
                  {with({"--jobs", "+1"}), 2, jobs},
                  {with({"--jobs", "2", "--jobs", "x"}), 2, jobs},
                  {with({"--part", "0/1000001"}), 2, part},
                  {with({"--part", "2/2"}), 2, part},
                  {with({"--part", "/"}), 2, part},
                  {with({"--part", "0/0"}), 2, part},
                  // A missing value: each option's own refusal.
                  {with({"--jobs"}), 2, jobs},
                  {with({"--part"}), 2, part},
                  {with({"--table"}), 2, kGridUsage},
                  // An empty name: no file (the grid ran, and wrote none, with status 0).
                  {with({"--netcdf", ""}), 2, "tilvex-grid: --netcdf takes a file's name, not an empty one\n"},
                  {with({"--table", ""}), 2, "tilvex-grid: --table takes a file's name, not an empty one\n"},
                  // A value is the next argument, whatever it looks like.
                  {with({"--jobs", "--quiet"}), 2, jobs},
                  {with({"--table", "--jobs"}), 2, no_list},
                  {with({"--table", "--"}), 2, no_list},
                  // The first wrong argument is the one refused.
                  {with({"--x", "--jobs", "0"}), 2, unknown("--x")},
                  {with({"--jobs", "0", "--x"}), 2, jobs},
                  {with({"--x", "--jobs"}), 2, unknown("--x")},
                  {with({"--resume", "--again"}), 2,
                   "tilvex-grid: --resume goes on with a recorded grid, --again appends it anew: not both\n"},
                  {{list, s, "95", "--resume", "--again"}, 2, kGridUsage},
                  // What starts with "--" and is no option here: its name, then the usage.
                  {with({"--title"}), 2, unknown("--title")},
                  {with({"--jobs=2"}), 2, unknown("--jobs=2")},
                  {with({"--jobs=", "2"}), 2, unknown("--jobs=")},
                  {with({"--quiet=1"}), 2, unknown("--quiet=1")},
                  {with({"--"}), 2, unknown("--")},
                  {with({"---x"}), 2, unknown("---x")},
                  // An option out of its place: the usage.
                  {with({"--help"}), 2, kGridUsage},
                  {{"--version", "--help"}, 2, kGridUsage},
                  {with({"--recover", s}), 2, kGridUsage},
                  // Any other argument is an operand, '-' or not.
                  {{"-file", s, "95", a}, 2, "tilvex-grid: -file: cannot read the list: No such file or directory\n"},
                  {{"-.5", s, "95", a}, 2, "tilvex-grid: -.5: cannot read the list: No such file or directory\n"},
                  {{"", s, "95", a}, 2, "tilvex-grid: : cannot read the list: No such file or directory\n"},
                  {{dir.path(), s, "95", a}, 2, "tilvex-grid: " + dir.path().string() + ": cannot read the list: Is a directory\n"},
                  {{list, s, "-.5", a}, 2,
                   "tilvex-grid: warning: a confidence level of -.5 per cent keeps only the most similar resamples\n" +
                       no_list},
                  {{list, s, "-x", a}, 2, "tilvex-grid: confidence_level is not a number: -x\n"},
                  {with({"-jobs"}), 2, kGridUsage},
                  // --recover takes every argument after it as a file.
                  {{"--recover", "--jobs", "2"}, 2, "tilvex-grid: cannot open '--jobs': No such file or directory\n"},
              },
              dir);
  // "-" is standard input.
  spill(dir / "list", "bad line\n");
  expect_each(TILVEX_GRID,
              {{{"-", s, "95", a}, 2,
                "tilvex-grid: -:1: expected 5 fields (input xgrid ygrid zgrid tgrid), found 2\n"}},
              dir, (dir / "list").c_str());
}

const std::string kPlotUsage =
    "usage: tilvex-plot ACCEPTED_FILE [--grid X Y Z T] [--table TABLE.tsv] [--contours regions|density|sigma] "
    "[--levels L1,L2,...] [--title TEXT] [--sigma] [-o OUT.svg]\n"
    "       tilvex-plot --vrin FILE.vrin --level L [--grid X Y Z T] [--contours regions|density|sigma] "
    "[--levels L1,L2,...] [--title TEXT] [--sigma] [-o OUT.svg]\n"
    "       tilvex-plot --map TABLE.tsv [--slice Z T] [--bars shmax|axis1] [--field aphi|phi] [--title TEXT] [--sigma] "
    "[-o OUT.svg]\n"
    "       tilvex-plot ACCEPTED_FILE --table TABLE.tsv --each DIR [--contours regions|density|sigma] "
    "[--levels L1,L2,...] [--sigma]\n"
    "       tilvex-plot --report DIR --table TABLE.tsv [ACCEPTED_FILE] [--slice Z T] [--bars shmax|axis1] "
    "[--field aphi|phi] [--contours regions|density|sigma] [--levels L1,L2,...] [--sigma]\n";

TEST(CommandLine, PlotReadsEachArgumentInTurn) {
  ScratchDir dir;
  const std::string accepted = dir / "no-accepted", vrin = dir / "no.vrin", table = dir / "no.tsv";
  const std::string no_accepted = "tilvex-plot: cannot read " + accepted + ": No such file or directory\n";
  const std::string no_vrin = "tilvex-plot: cannot open " + vrin + ": No such file or directory\n";
  const auto unknown = [](const std::string& option) { return "tilvex-plot: unknown option " + option + "\n" + kPlotUsage; };
  spill(dir / "acc.txt", "1 2 3 4 0.45 0 12 125 3 250 80\n");
  expect_each(TILVEX_PLOT,
              {
                  {{}, 2, kPlotUsage},
                  {{accepted}, 1, no_accepted},
                  {{"--grid", "1", "-2", "3", "-4", accepted, "--sigma", "-o", dir / "o.svg"}, 1, no_accepted},
                  {{accepted, "--grid", "1", "2", "3", "4", "--grid", "1", "2", "3"}, 2, kPlotUsage},
                  {{accepted, "--grid", "1", "2", "--sigma", "4"}, 2, kPlotUsage},
                  {{accepted, "--grid", "1", "2", "3", "x"}, 2, kPlotUsage},
                  {{"--vrin", vrin, "--level", "95", "--grid", "1", "2", "3", "4"}, 1, no_vrin},
                  {{"--level", "-.5", "--vrin", vrin}, 1, no_vrin},
                  {{"--vrin", vrin, "--level", "x"}, 2, kPlotUsage},
                  {{"--vrin", vrin, "--level"}, 2, kPlotUsage},
                  {{"--vrin", vrin, "--level", "95", "--table", table}, 2, kPlotUsage},
                  {{"--map", table, "--slice", "0", "-1"}, 1, "tilvex-plot: cannot read " + table + "\n"},
                  {{"--map", table, "--grid", "1", "2", "3", "4"}, 2, kPlotUsage},
                  {{accepted, "--slice", "0", "0"}, 2, kPlotUsage},
                  {{accepted, "--map", table}, 2, kPlotUsage},
                  {{"-o", "--sigma", accepted}, 1, no_accepted},
                  // An unknown option, joined values, "--", any other argument
                  // that starts with '-': its name, then the usage.
                  {{accepted, "--name", "x"}, 2, unknown("--name")},
                  {{accepted, "--title"}, 2, kPlotUsage},
                  {{accepted, "--levels", "50,x"}, 2, "tilvex-plot: --levels takes numbers above 0, separated by commas (per cent: below 100)\n"},
                  {{accepted, "--contours", "kamb"}, 2, "tilvex-plot: --contours takes regions, density or sigma\n"},
                  {{accepted, "--levels", "50,100"}, 2, "tilvex-plot: --levels of regions are shares in per cent, below 100\n"},
                  {{"--map", table, "--levels", "3"}, 2, kPlotUsage},
                  {{accepted, "-o" + dir / "o.svg"}, 2, unknown("-o" + dir / "o.svg")},
                  {{accepted, "-o=" + dir / "o.svg"}, 2, unknown("-o=" + dir / "o.svg")},
                  {{accepted, "--grid=1", "2", "3", "4"}, 2, unknown("--grid=1")},
                  {{"--vrin=" + vrin, "--level", "95"}, 2, unknown("--vrin=" + vrin)},
                  {{accepted, "--sigma=1"}, 2, unknown("--sigma=1")},
                  {{"--", accepted}, 2, unknown("--")},
                  {{"-" + accepted}, 2, unknown("-" + accepted)},
                  {{"-5"}, 2, unknown("-5")},
                  // An empty argument, "-", a second ACCEPTED_FILE, an option
                  // out of its place: the usage.
                  {{""}, 2, kPlotUsage},
                  {{"-"}, 2, kPlotUsage},
                  {{accepted, "-"}, 2, kPlotUsage},
                  {{accepted, accepted}, 2, kPlotUsage},
                  {{accepted, "--help"}, 2, kPlotUsage},
                  {{"--version", "x"}, 2, kPlotUsage},
                  // A number with more after it: refused, though the file
                  // holds the point its leading int names.
                  {{dir / "acc.txt", "--grid", "1", "2", "3", "4x", "-o", dir / "o.svg"}, 2, kPlotUsage},
                  {{dir / "acc.txt", "--grid", "1x", "2", "3", "4", "-o", dir / "o.svg"}, 2, kPlotUsage},
                  {{"--map", table, "--slice", "0", "0x", "-o", dir / "o.svg"}, 2, kPlotUsage},
                  {{"--map", table, "--slice", "0 ", "0", "-o", dir / "o.svg"}, 2, kPlotUsage},
              },
              dir);
  EXPECT_FALSE(std::filesystem::exists(dir / "o.svg"));
}

}  // namespace
}  // namespace tilvex::test
