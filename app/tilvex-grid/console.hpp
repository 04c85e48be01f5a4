#pragma once
// What tilvex-grid prints while a grid runs and when it ends, and how the
// process ends.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "grid/engine.hpp"

// The self-updating line on a terminal.
class ProgressLine {
 public:
  ProgressLine(bool shown) : shown_(shown) {}
  void start_at(std::size_t done) { first_ = done; }
  // Redraws the line, at most every 100 ms unless `force`.
  void update(std::size_t done, std::size_t failed, std::size_t total, bool force);
  // Clears the line before any other line is printed.
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  bool shown_;
  std::size_t first_ = 0;
  bool drawn_ = false;
  Clock::time_point start_ = Clock::now(), last_{};
};

// A grid's observer: a failed point's message on standard output and its
// reason on standard error, as a loop of tilvex runs would leave them;
// each point's warnings, the account and the progress line on standard
// error.
class Console : public tilvex::grid::Observer {
 public:
  Console(bool show_progress, std::vector<std::string> command)
      : line_(show_progress), command_(std::move(command)) {}
  void started(std::size_t done, std::size_t total) override;
  void progress(std::size_t done, std::size_t failed, std::size_t total) override;
  void point_failed(const tilvex::grid::Point& point, const std::string& message,
                    const std::string& reason) override;
  void point_warning(const tilvex::grid::Point& point, const std::string& text) override;
  void account(std::size_t total, std::size_t ok, std::size_t warned, std::size_t failed) override;
  void note(const std::string& text) override;

  // Prints how the grid ended and gives its exit status; a grid stopped by
  // a signal ends the process by that signal, and one that left threads
  // behind ends it at once.
  int end(const tilvex::grid::Report& report);

 private:
  ProgressLine line_;
  std::vector<std::string> command_;  // as given, for the command that resumes
};
