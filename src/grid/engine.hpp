#pragma once
// A whole grid in one process: the points analysed on several threads, and
// their results appended in list order, several points to a locked,
// all-or-nothing append, to the same bytes as a loop of tilvex runs.

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "list.hpp"

namespace tilvex::grid {

struct Options {
  std::string output, output2;  // the result files, named as tilvex takes them
  std::string level_text;       // as given, for the record
  float level = 95.0f;
  unsigned jobs = 1;
  std::size_t part_k = 0, part_n = 1;
  std::string table;     // the table's path; empty for none
  std::string progress;  // the record's path
  bool resume = false;
  bool again = false;  // a new copy of a grid that is recorded
  bool sync = false;   // TILVEX_SYNC=1
  bool show_progress = false;  // a self-updating line on standard error
  std::vector<std::string> command;  // as given, for the command that resumes
};

// Runs the points of one part (already sliced) with the termination
// signals blocked in the calling thread. Returns the exit status: 0 every
// point appended, 1 some failed, 2 a record that does not fit or is held
// by another grid, 213 or 252 a result file that cannot be opened. The
// record is locked, and what a run that died left is rolled back, before
// the record is read. A write failure ends the process with
// 213 or 252, and a termination signal by that signal, after the current
// commit, without waiting for the threads.
int run_grid(const Options& options, std::span<const Point> points);

}  // namespace tilvex::grid
