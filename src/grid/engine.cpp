#include "engine.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <cerrno>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "files/input_file.hpp"
#include "files/result_files.hpp"
#include "progress.hpp"
#include "record_file.hpp"
#include "run/in_place.hpp"
#include "formats/resample_results.hpp"
#include "formats/table.hpp"
#include "table_file.hpp"
#include "text/reader.hpp"

namespace tilvex::grid {

namespace {

constexpr int kOutput = -9003 & 0xff;   // 213, as tilvex
constexpr int kOutput2 = -4 & 0xff;     // 252
using Clock = std::chrono::steady_clock;

// One point, analysed: its input (which holds its accepted lines) and its
// texts, or the message tilvex would print for it.
struct Outcome {
  InputFile input;
  std::optional<RunTexts> texts;
  std::string failure;
  std::string reason;  // the failure's, for standard error
  bool long_first_line = false;
  std::string row;  // its row of the table
};

std::unique_ptr<Outcome> analyse_point(const Point& p, float level, const ResultFile& output,
                                       const ResultFile& output2) {
  auto o = std::make_unique<Outcome>();
  const std::string name = "'" + p.input + "'";
  if (!o->input.open(p.input)) {
    o->failure = "unable to open " + p.input;
    o->reason = "cannot open " + name + ": " + std::strerror(errno);
  } else if (!o->input.read()) {
    o->failure = "unable to read " + p.input;
    o->reason = o->input.error() == ENOMEM ? p.input + ": out of memory after reading " +
                                                 std::to_string(o->input.size()) + " bytes"
                                           : "cannot read " + name + ": " + std::strerror(o->input.error());
  } else if (o->input.text().empty()) {
    o->failure = "unable to read " + p.input;
    o->reason = name + " is empty";
  } else if (std::string why = formats::not_resample_results_file(o->input.text(), name); !why.empty()) {
    o->failure = "unable to read " + p.input;
    o->reason = std::move(why);
  } else if (o->input.is(output.descriptor()) || o->input.is(output2.descriptor())) {
    // As tilvex: an output that is the input itself would change the data.
    const std::string& out = o->input.is(output.descriptor()) ? output.name() : output2.name();
    o->failure = "unable to open " + out;
    o->reason = "'" + out + "' is the input file; the results go to other files";
  } else {
    o->long_first_line = first_line_too_long(o->input.text());
    o->texts.emplace(analyse_in_place(o->input.bytes(), level, p.grid));
    o->row = table_row(p, o->texts->analysis);
    return o;
  }
  o->row = table_row(p, o->failure);
  return o;
}

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
void print_resume(const Options& o) {
  std::string command;
  bool has_resume = false;
  for (const std::string& w : o.command) {
    if (w == "--again") continue;
    command += (command.empty() ? "" : " ") + quoted(w);
    has_resume = has_resume || w == "--resume";
  }
  if (!has_resume) command += " --resume";
  std::fprintf(stderr, "tilvex-grid: to finish the grid: %s\n", command.c_str());
}

// The self-updating line on a terminal.
class ProgressLine {
 public:
  ProgressLine(bool shown, std::size_t total) : shown_(shown), total_(total) {}
  void update(std::size_t done, std::size_t failed, bool force = false) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done - first_) / seconds : 0.0;
    const double left = rate > 0 ? static_cast<double>(total_ - done) / rate : 0.0;
    std::fprintf(stderr, "\r\033[K%zu of %zu points, %zu failed, %.0f points/s, %.0f s left", done,
                 total_, failed, rate, left);
    std::fflush(stderr);
    drawn_ = true;
  }
  void start_at(std::size_t done) { first_ = done; }
  // Clears the line before any other line is printed.
  void clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
  }

 private:
  bool shown_;
  std::size_t total_, first_ = 0;
  bool drawn_ = false;
  Clock::time_point start_ = Clock::now(), last_{};
};

// What the threads share. The thread that waits for the stopping signals
// (blocked in every thread) outlives the grid, so it holds this too.
struct Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0, committed = 0;  // points taken, points appended
  int signal = 0;  // the stopping signal that came, if any
  std::atomic<int> stop{0};  // the same, for an append waiting for a lock
};

sigset_t stopping_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&set, s);
  return set;
}

bool same_file(int a, int b) {
  struct stat sa {}, sb {};
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The recorded rows whose status is not "ok".
std::size_t failures_in(std::string_view rows) {
  std::size_t n = 0;
  while (!rows.empty()) {
    const std::size_t end = rows.find('\n');
    std::string_view row = rows.substr(0, end);
    rows.remove_prefix(end == std::string_view::npos ? rows.size() : end + 1);
    for (int column = 0; column < 5; ++column) row.remove_prefix(std::min(row.size(), row.find('\t') + 1));
    if (row.substr(0, row.find('\t')) != "ok") ++n;
  }
  return n;
}

bool write_text(ResultFile& file, std::string_view text) {
  const std::string_view pieces[] = {text};
  const AppendTarget target[] = {{&file, pieces}};
  return append_all(target, {"tilvex-grid"}).failed < 0;
}

// The result files of a grid and its record (none beside an output_file
// that is not a regular file).
struct Files {
  ResultFile output, output2, record;
  bool keeps_record = false;
};

// Opens the result files, then the record, locked for the grid's life:
// 0, or the exit status.
int open_files(const Options& o, Files& f) {
  if (!f.output.open(o.output)) {
    std::printf("unable to open %s\n", o.output.c_str());
    return kOutput;
  }
  if (!f.output2.open(o.output2)) {
    std::printf("unable to open %s\n", o.output2.c_str());
    return kOutput2;
  }
  struct stat st {};
  if (::fstat(f.output.descriptor(), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (o.resume) {
      std::fprintf(stderr,
                   "tilvex-grid: '%s' is not a regular file: no record is kept beside it, so "
                   "there is no grid to resume\n",
                   o.output.c_str());
      return 2;
    }
    std::fprintf(stderr,
                 "tilvex-grid: '%s' is not a regular file: this grid keeps no record and cannot "
                 "be resumed\n",
                 o.output.c_str());
    return 0;
  }
  const RecordOpening r = open_record(o.progress, o.output, f.output.descriptor(), f.record);
  if (r.status == 2) {
    std::fprintf(stderr, "tilvex-grid: %s\n", r.reason.c_str());
    return 2;
  }
  if (r.status != 0) {
    std::printf("unable to write %s\n", o.progress.c_str());
    return kOutput;
  }
  f.keeps_record = true;
  return 0;
}

// Rolls back, under the locks, what a grid or run that died left in the
// files and the record, so that the record read next tells what is in
// the files: 0, or the exit status.
int roll_back(const Options& o, Files& f) {
  std::vector<ResultFile*> files = {&f.output, &f.output2};
  if (f.keeps_record) files.push_back(&f.record);
  const AppendOutcome r = recover(files, {"tilvex-grid"});
  if (r.failed < 0) return 0;
  const std::string& name = r.failed == 0 ? o.output : r.failed == 1 ? o.output2 : o.progress;
  std::printf("unable to write %s\n", name.c_str());
  std::fprintf(stderr, "tilvex-grid: cannot lock '%s': %s\n", name.c_str(), reason(r).c_str());
  return r.failed == 1 ? kOutput2 : kOutput;
}

// Why the record found (`text`, read as `found`) stops this run, on
// standard error; 0 if it does not.
int refusal(const Options& o, const std::string& header, std::size_t total, std::string_view text,
            const std::optional<Progress>& found, const ResultFile& record) {
  const auto refuse = [](const std::string& why) {
    std::fprintf(stderr, "tilvex-grid: %s\n", why.c_str());
    return 2;
  };
  const std::string out = "'" + o.output + "'";
  if (o.resume) {
    if (!found) return refuse(o.progress + ": no record of a grid to resume");
    if (found->header != header)
      return refuse(o.progress + ": records another grid (list, confidence level or part "
                                 "differ); nothing appended");
    return 0;
  }
  if (!found && !text.empty())
    return refuse("'" + o.progress + "' is not the record of a grid; it is left alone");
  if (!found || o.again) return 0;
  if (found->header != header)
    return refuse(out + " holds another grid (its record '" + o.progress +
                  "' names other points, confidence level or part); --again appends this grid "
                  "after it, with a record of its own");
  if (found->complete)
    return refuse(out + " is already complete: " +
                  std::to_string(found->done - failures_in(found->rows)) + " points appended on " +
                  modified_at(record.descriptor()) + "; --again appends them a second time");
  if (found->done > 0)
    return refuse(out + " holds an unfinished grid, " + std::to_string(found->done) + " of " +
                  std::to_string(total) +
                  " points done; --resume appends the rest, --again appends every point anew");
  return 0;  // only its header: nothing of it was appended
}

// Reads the record and settles what this run does with it: goes on with
// it (`progress` then holds what is done) or begins it anew. 0, or the
// exit status.
int settle_record(const Options& o, const std::string& header, std::size_t total, Files& f,
                  Progress& progress) {
  if (!f.keeps_record) return 0;
  std::string text;
  if (!read_whole(f.record.descriptor(), text)) {
    std::printf("unable to write %s\n", o.progress.c_str());
    return kOutput;
  }
  const std::optional<Progress> found = read_progress(text);
  if (const int refused = refusal(o, header, total, text, found, f.record); refused != 0)
    return refused;
  const bool go_on = found && found->header == header && !o.again;
  if (go_on) progress = *found;
  const std::size_t keep = go_on ? progress.length + (progress.complete ? kComplete.size() : 0) : 0;
  if (::ftruncate(f.record.descriptor(), static_cast<off_t>(keep)) != 0 ||
      (!go_on && !write_text(f.record, header))) {
    std::printf("unable to write %s\n", o.progress.c_str());
    return kOutput;
  }
  return 0;
}

}  // namespace

int run_grid(const Options& o, std::span<const Point> points) {
  Files files;
  ResultFile &output = files.output, &output2 = files.output2, &record = files.record;
  if (const int status = open_files(o, files); status != 0) return status;
  if (const int status = roll_back(o, files); status != 0) return status;
  const std::string header =
      progress_header(points.size(), fingerprint(points), o.level_text, o.part_k, o.part_n);
  Progress progress;
  if (const int status = settle_record(o, header, points.size(), files, progress); status != 0)
    return status;
  std::size_t failed = failures_in(progress.rows);
  struct {
    std::size_t points = 0, long_first_lines = 0;
    std::string first;
  } unread;  // warnings, summed up over the grid
  const bool one_file = same_file(output.descriptor(), output2.descriptor());

  // Workers take points in list order, at most `window` ahead of the
  // writer, so that at most 2 jobs inputs are held at once.
  const std::size_t total = points.size(), window = 2 * std::size_t{o.jobs};
  std::vector<std::unique_ptr<Outcome>> slots(window);
  const auto shared = std::make_shared<Shared>();
  Shared& state = *shared;
  state.next = state.committed = progress.done;

  // The ticks that time a lock wait (SIGALRM) must come to this thread,
  // the one that appends: the other threads start with them blocked.
  sigset_t ticks;
  sigemptyset(&ticks);
  sigaddset(&ticks, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &ticks, nullptr);
  std::thread([shared] {
    const sigset_t set = stopping_signals();
    int sig = 0;
    if (sigwait(&set, &sig) != 0) return;
    std::lock_guard lock(shared->mutex);
    shared->signal = sig;
    shared->stop = sig;
    shared->changed.notify_all();
  }).detach();

  std::vector<std::thread> workers;
  for (unsigned j = 0; j < o.jobs; ++j) {
    workers.emplace_back([&] {
      std::unique_lock lock(state.mutex);
      for (;;) {
        state.changed.wait(lock, [&] {
          return state.next >= total || state.next < state.committed + window;
        });
        if (state.next >= total) return;
        const std::size_t i = state.next++;
        lock.unlock();
        auto outcome = analyse_point(points[i], o.level, output, output2);
        lock.lock();
        slots[i % window] = std::move(outcome);
        state.changed.notify_all();
      }
    });
  }

  pthread_sigmask(SIG_UNBLOCK, &ticks, nullptr);
  ProgressLine line(o.show_progress, total);
  line.start_at(state.committed);
  std::size_t committed = state.committed;
  int status = 0, stopped_by = 0;
  while (committed < total) {
    std::vector<std::unique_ptr<Outcome>> batch;
    {
      std::unique_lock lock(state.mutex);
      // A batch of at least `jobs` points (or all that are left), while the
      // workers go on with the other half of the window: fewer, larger
      // commits, each with its journal.
      const std::size_t wanted = std::min<std::size_t>(o.jobs, total - committed);
      state.changed.wait(lock, [&] {
        if (state.signal != 0) return true;
        std::size_t ready = 0;
        while (ready < wanted && slots[(committed + ready) % window]) ++ready;
        return ready == wanted;
      });
      stopped_by = state.signal;
      if (stopped_by != 0) break;
      for (std::size_t i = committed; i < total && slots[i % window]; ++i)
        batch.push_back(std::move(slots[i % window]));
    }

    // One locked append for the whole batch: each point's lines and
    // summary, in list order, and its rows in the record.
    std::vector<std::string_view> lines, summaries;
    std::vector<AppendTarget> targets;
    std::vector<int> status_of;  // per target
    std::string rows;
    for (const auto& b : batch) {
      rows += b->row;
      if (!b->texts) continue;
      const auto pieces = b->texts->lines.pieces();
      lines.insert(lines.end(), pieces.begin(), pieces.end());
      summaries.push_back(b->texts->summary);
    }
    if (one_file) {  // as the loop leaves it: lines, then summary, point by point
      std::size_t k = 0;
      for (const auto& b : batch) {
        if (!b->texts) continue;
        targets.push_back({&output2, std::span(lines).subspan(2 * k, 2)});
        targets.push_back({&output, std::span(summaries).subspan(k, 1)});
        status_of.push_back(kOutput2);
        status_of.push_back(kOutput);
        ++k;
      }
    } else {
      targets.push_back({&output2, lines});
      targets.push_back({&output, summaries});
      status_of.push_back(kOutput2);
      status_of.push_back(kOutput);
    }
    const std::string_view row_pieces[] = {rows};
    if (files.keeps_record) {
      targets.push_back({&record, row_pieces});
      status_of.push_back(kOutput);
    }
    const AppendOutcome appended = append_all(targets, {"tilvex-grid", &state.stop});
    line.clear();
    if (appended.stopped) {  // a stopping signal came while it waited for a lock
      stopped_by = state.stop.load();
      break;
    }
    const int failed_target = appended.failed;
    if (failed_target >= 0) {
      const std::size_t t = static_cast<std::size_t>(failed_target);
      const bool the_record = files.keeps_record && t + 1 == targets.size();
      const std::string& name = the_record                 ? o.progress
                                : status_of[t] == kOutput2 ? o.output2
                                                           : o.output;
      std::printf("unable to write %s\n", name.c_str());
      std::fflush(stdout);
      std::fprintf(stderr, "tilvex-grid: stopped with %zu of %zu points appended\n", committed,
                   total);
      if (files.keeps_record) print_resume(o);
      status = status_of[t];
      break;
    }
    for (const auto& b : batch) {
      const std::size_t at = committed + static_cast<std::size_t>(&b - batch.data());
      if (b->texts) {
        const Analysis& a = b->texts->analysis;
        if (a.unread_fields > 0 && unread.points++ == 0)
          unread.first = "field " + std::to_string(a.first_unread_field) + " of line " +
                         std::to_string(a.first_unread_line) + " of '" + points[at].input + "'";
        if (b->long_first_line) ++unread.long_first_lines;
        continue;
      }
      std::printf("%s\n", b->failure.c_str());
      std::fprintf(stderr, "tilvex-grid: line %zu: %s\n", points[at].line, b->reason.c_str());
      ++failed;
    }
    std::fflush(stdout);
    committed += batch.size();
    {
      std::lock_guard lock(state.mutex);
      state.committed = committed;
      state.changed.notify_all();
    }
    progress.rows += rows;
    batch.clear();  // the inputs go
    line.update(committed, failed, committed == total);
  }
  line.clear();
  // A grid stopped early leaves at once: a worker may be waiting for an
  // input that never comes (a pipe), and nothing of it is appended anyway.
  if (stopped_by != 0) {
    std::fprintf(stderr, "tilvex-grid: stopped by signal %d (%s) with %zu of %zu points appended\n",
                 stopped_by, strsignal(stopped_by), committed, total);
    if (files.keeps_record) print_resume(o);
    std::fflush(stderr);
    std::signal(stopped_by, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, stopped_by);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(stopped_by);
    _exit(128 + stopped_by);  // not reached
  }
  if (status != 0) {
    std::fflush(nullptr);
    _exit(status);
  }
  for (std::thread& w : workers) w.join();  // each has seen the last point

  // The table, whole or not at all, then the record's last line.
  if (!o.table.empty()) {
    const std::string text = (o.part_k == 0 ? table_header() : std::string()) + progress.rows;
    if (!write_table(o.table, text, o.sync)) {
      std::printf("unable to write %s\n", o.table.c_str());
      if (files.keeps_record) print_resume(o);
      return kOutput;
    }
  }
  if (files.keeps_record && !progress.complete && !write_text(record, kComplete)) {
    std::printf("unable to write %s\n", o.progress.c_str());
    return kOutput;
  }
  if (!output2.close()) {
    std::printf("unable to write %s\n", o.output2.c_str());
    return kOutput2;
  }
  if (!output.close()) {
    std::printf("unable to write %s\n", o.output.c_str());
    return kOutput;
  }
  if (unread.points > 0)
    std::fprintf(stderr,
                 "tilvex-grid: warning: %zu points have fields that did not read as numbers and "
                 "kept the values before them; the first is %s\n",
                 unread.points, unread.first.c_str());
  if (unread.long_first_lines > 0)
    std::fprintf(stderr,
                 "tilvex-grid: warning: %zu inputs have a first line of more than six numbers; "
                 "are they resample results files?\n",
                 unread.long_first_lines);
  if (failed > 0) {
    std::fprintf(stderr, "tilvex-grid: %zu of %zu points failed\n", failed, total);
    return 1;
  }
  return 0;
}

}  // namespace tilvex::grid
