#include "console.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

std::string quoted(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789-_./=:,+%@") == std::string::npos)
    return word;
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The line on standard error that tells how to finish a stopped grid.
// (--again would start yet another copy: it gives way to --resume.)
void print_resume(const std::vector<std::string>& words) {
  std::string command;
  bool has_resume = false;
  for (const std::string& w : words) {
    if (w == "--again") continue;
    command += (command.empty() ? "" : " ") + quoted(w);
    has_resume = has_resume || w == "--resume";
  }
  if (!has_resume) command += " --resume";
  std::fprintf(stderr, "tilvex-grid: to finish the grid: %s\n", command.c_str());
}

}  // namespace

void ProgressLine::update(std::size_t done, std::size_t failed, std::size_t total, bool force) {
  if (!shown_) return;
  const auto now = Clock::now();
  if (!force && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done - first_) / seconds : 0.0;
  const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0.0;
  std::fprintf(stderr, "\r\033[K%zu of %zu points, %zu failed, %.0f points/s, %.0f s left", done,
               total, failed, rate, left);
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressLine::clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

void Console::started(std::size_t done, std::size_t) { line_.start_at(done); }

void Console::progress(std::size_t done, std::size_t failed, std::size_t total) {
  std::fflush(stdout);
  line_.update(done, failed, total, done == total);
}

void Console::point_failed(const tilvex::grid::Point& point, const std::string& message,
                           const std::string& reason) {
  line_.clear();
  std::printf("%s\n", message.c_str());
  std::fprintf(stderr, "tilvex-grid: line %zu: %s\n", point.line, reason.c_str());
}

void Console::point_warning(const tilvex::grid::Point& point, const std::string& text) {
  line_.clear();
  std::fprintf(stderr, "tilvex-grid: line %zu: warning: %s\n", point.line, text.c_str());
}

void Console::account(std::size_t total, std::size_t ok, std::size_t warned, std::size_t failed) {
  line_.clear();
  std::fprintf(stderr, "tilvex-grid: %zu points: %zu ok, %zu with warnings, %zu failed\n", total, ok, warned,
               failed);
}

void Console::note(const std::string& text) {
  line_.clear();
  std::fprintf(stderr, "tilvex-grid: %s\n", text.c_str());
}

int Console::end(const tilvex::grid::Report& r) {
  using tilvex::grid::Ending;
  line_.clear();
  if (!r.fixed.empty()) {
    std::printf("%s\n", r.fixed.c_str());
    std::fflush(stdout);
  }
  if (r.ending == Ending::write_failed)
    std::fprintf(stderr, "tilvex-grid: stopped with %zu of %zu points appended\n", r.appended, r.total);
  if (r.ending == Ending::stopped)
    std::fprintf(stderr, "tilvex-grid: stopped by signal %d (%s) with %zu of %zu points appended\n",
                 r.signal, strsignal(r.signal), r.appended, r.total);
  if (r.resumable) print_resume(command_);
  if (r.ending == Ending::stopped) {  // ends by that signal, as a loop of runs would
    std::fflush(nullptr);
    tilvex::grid::end_by(r.signal);
  }
  if (r.threads_left) {  // they are never joined
    std::fflush(nullptr);
    _exit(r.status);
  }
  return r.status;
}
