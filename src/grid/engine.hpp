#pragma once
// A whole grid in one process: the points analysed on several threads, and
// their results appended in list order, several points to a locked,
// all-or-nothing append, to the same bytes as a loop of tilvex runs.

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "list.hpp"
#include "options.hpp"

namespace tilvex::grid {

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
