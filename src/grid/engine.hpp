#pragma once
// A whole grid in one process: the points analysed on several threads, and
// their results appended in list order, several points to a locked,
// all-or-nothing append, to the same bytes as a loop of tilvex runs.
// It prints nothing and never ends the process: what happens is told to an
// Observer, and how the grid ended is its Report.

#include <cstddef>
#include <span>
#include <string>

#include "list.hpp"
#include "options.hpp"

namespace tilvex::grid {

// What a grid tells as it goes, from the thread that called run_grid.
class Observer {
 public:
  virtual ~Observer() = default;
  // Before the first commit: `done` of `total` points are in the files
  // already (a grid that resumes).
  virtual void started(std::size_t done, std::size_t total) = 0;
  // After each commit: `done` of `total` points appended, `failed` of
  // them failed.
  virtual void progress(std::size_t done, std::size_t failed, std::size_t total) = 0;
  // A point that failed, once its row is committed: `message` is what
  // tilvex prints for it on standard output, `reason` why, in words.
  virtual void point_failed(const Point& point, const std::string& message,
                            const std::string& reason) = 0;
  // At the end of a grid, for each point in list order: each health note
  // of its input (formats/health.hpp), in words, which name the input.
  virtual void point_warning(const Point& point, const std::string& text) = 0;
  // Last of all: how the part's `total` points ended.
  virtual void account(std::size_t total, std::size_t ok, std::size_t warned, std::size_t failed) = 0;
  // A note on how the grid runs, in words (it keeps no record, say).
  virtual void note(const std::string& text) = 0;
};

// How a grid ended.
enum class Ending {
  finished,       // every point was taken to its end (status 0 or 1, or a
                  // table, record or file that failed after the last commit)
  write_failed,   // a commit failed: nothing of its points was appended
  stopped,        // a stopping signal came
};

struct Report {
  Ending ending = Ending::finished;
  // The exit status: 0 every point appended, 1 some failed, 213 or 252 a
  // file that could not be written (output_file2's is 252).
  int status = 0;
  std::string fixed;  // that file's message, "unable to write FILE", or empty
  std::size_t total = 0, appended = 0, failed = 0;  // points: of the part, in the files, failed
  int signal = 0;           // the stopping signal, when stopped
  bool resumable = false;   // stopped before its end, with a record: --resume finishes it
  bool threads_left = false;  // workers may still run (on an input that never comes):
                              // end the process at once, without returning from main
};

// Ends the process by `signal`, as the signal itself would have (from
// any thread, the signal blocked or not).
[[noreturn]] void end_by(int signal);

// Runs the points of one part (already sliced) with the termination
// signals blocked in the calling thread; one of them stops the grid after
// the current commit. The record is locked, and what a run that died
// left is rolled back, before the record is read. Throws tilvex::Error
// where the grid ends before any work (see opening.hpp). `points` must
// outlive the process where the report says threads_left.
Report run_grid(const Options& options, std::span<const Point> points, Observer& observer);

}  // namespace tilvex::grid
