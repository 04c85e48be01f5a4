#include "engine.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <array>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "commit.hpp"
#include "netcdf_module.hpp"
#include "record_file.hpp"
#include "text/error.hpp"
#include "opening.hpp"
#include "point.hpp"
#include "progress.hpp"
#include "table_file.hpp"
#include "window.hpp"

namespace tilvex::grid {

namespace {

using Window = OrderedWindow<std::unique_ptr<Outcome>>;

// Inputs held ahead of the writer beyond 2 jobs of them, in bytes at most
// (and one more input per job): quick points go in larger batches.
constexpr std::size_t kSmallInputs = std::size_t{8} << 20;
// How long the writer waits for more ready points once it has a batch.
constexpr auto kLinger = std::chrono::milliseconds(50);

// What a grid says of its points when it ends: the warnings of each, in
// list order, those an earlier run recorded too (a grid that resumed).
struct Warnings {
  std::vector<std::vector<std::string>> of;  // by the point's place in the part

  // The points with a warning.
  std::size_t warned() const {
    return static_cast<std::size_t>(std::count_if(of.begin(), of.end(), [](const auto& w) { return !w.empty(); }));
  }
  void tell(std::span<const Point> points, const Report& r, Observer& observer) const {
    for (std::size_t i = 0; i < of.size(); ++i)
      for (const std::string& text : of[i]) observer.point_warning(points[i], text);
    const std::size_t n = warned();
    observer.account(r.total, r.appended - r.failed - n, n, r.failed);
  }
};

// What stops a grid: the first stopping signal (blocked in every thread),
// waited for by a thread of its own from before the grid's first lock on,
// which stops the window once there is one. It outlives the grid. Where
// the grid may wait on a pipe, which no stop reaches, the signal ends the
// process at once instead, as it ends a tilvex run: see at_once().
class Stopper {
 public:
  // Starts the thread; the ticks that time a lock wait (SIGALRM) stay
  // with the caller.
  static std::shared_ptr<Stopper> start() {
    auto stopper = std::make_shared<Stopper>();
    sigset_t ticks;
    sigemptyset(&ticks);
    sigaddset(&ticks, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &ticks, nullptr);
    std::thread([stopper] {
      sigset_t set;
      sigemptyset(&set);
      for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&set, s);
      int sig = 0;
      if (sigwait(&set, &sig) != 0) return;
      std::lock_guard lock(stopper->mutex_);
      if (stopper->at_once_) end_by(sig);
      stopper->signal_ = sig;
      if (stopper->window_) stopper->window_->stop(sig);
    }).detach();
    pthread_sigmask(SIG_UNBLOCK, &ticks, nullptr);
    return stopper;
  }
  // Whether a stopping signal ends the process at once, by that signal:
  // so while the files are opened (opening a FIFO waits for a reader) and,
  // where an output is a pipe or a device, for the rest of the grid (a
  // write to a pipe may wait for ever). What that cuts short is what a
  // SIGKILL would: the journals roll a regular file back, and the record
  // tells what is in it.
  void at_once(bool yes) {
    std::lock_guard lock(mutex_);
    at_once_ = yes;
  }
  // Set to the signal once it comes.
  const std::atomic<int>* signal() const { return &signal_; }
  // The window it stops from now on (at once, if the signal came).
  void stops(const std::shared_ptr<Window>& window) {
    std::lock_guard lock(mutex_);
    window_ = window;
    if (signal_ != 0) window_->stop(signal_);
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<Window> window_;
  std::atomic<int> signal_{0};
  bool at_once_ = true;  // from its start: the files are not open yet
};

// Whether the file open at `fd` is a regular file.
bool regular(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// The workers, each analysing the points the window hands it. They hold
// what they use, since a grid that stops leaves them behind.
std::vector<std::thread> start_workers(unsigned jobs, std::span<const Point> points, float level,
                                       const std::shared_ptr<Files>& files,
                                       const std::shared_ptr<Window>& window) {
  std::vector<std::thread> workers;
  // The buffers of the inputs written are kept for the next ones, as many
  // as the inputs of small points held ahead of the writer.
  const auto buffers = std::make_shared<InputBuffers>(kSmallInputs);
  for (unsigned j = 0; j < jobs; ++j)
    workers.emplace_back([points, level, files, window, buffers] {
      while (const auto i = window->take()) {
        std::unique_ptr<Outcome> o = analyse_point(points[*i], level, files->output, files->output2, buffers);
        const std::size_t weight = o->input.size();
        window->put(*i, std::move(o), weight);
      }
    });
  return workers;
}

// What the writer keeps over the batches.
struct Writer {
  const Options& options;
  std::span<const Point> points;
  Files& files;
  Window& window;
  Observer& observer;
  Progress& progress;
  Warnings& warnings;
  Report& report;

  // Commits the batches in list order, each in one append, until the last
  // point, a failed commit or a stop.
  void run() {
    const bool one_file = same_file(files.output.descriptor(), files.output2.descriptor());
    const CommitFiles to = {&files.output, &files.output2, files.keeps_record ? &files.record : nullptr,
                            one_file};
    while (report.appended < report.total) {
      // A batch of at least `jobs` points (or all that are left), and as
      // many more as are ready while the workers still have room to go on
      // (for at most kLinger): fewer, larger commits, each with its
      // journals.
      const auto batch = window.batch(std::min<std::size_t>(options.jobs, report.total - report.appended), kLinger);
      if (batch.empty()) return stop(window.stopped());
      std::vector<LinePieces> lines(batch.size());  // what the views point to
      std::vector<AnalysedPoint> views;
      for (std::size_t k = 0; k < batch.size(); ++k) {
        const Outcome& o = *batch[k];
        if (o.texts) lines[k] = o.texts->pieces();
        const std::string_view summary = o.texts ? std::string_view(o.texts->summary) : std::string_view();
        views.push_back({o.texts.has_value(), lines[k], summary, o.record});
      }
      std::size_t in = 0;
      const AppendOutcome a = append(views, to, in);
      told(std::span(batch).first(in));
      if (a.stopped) return stop(window.stopping()->load());  // while it waited for a lock
      if (a.failed >= 0) {
        report.ending = Ending::write_failed;
        report.status = a.file == &files.output2 ? kOutput2 : kOutput;
        report.fixed = "unable to write " + a.file->name();
        return;
      }
      window.done(batch.size());
      observer.progress(report.appended, report.failed, report.total);
    }
  }

  // The points of `views` appended in one commit; where they do not fit
  // (the file size limit, a full disk or quota), as many of them as fit,
  // one commit each, so that a batch loses no more than a point would.
  // `in`: how many of them went in.
  AppendOutcome append(std::span<const AnalysedPoint> views, const CommitFiles& to, std::size_t& in) {
    const AppendOptions with = {files.tell, window.stopping()};
    AppendOutcome a = append_all(commit_of(views, to).targets, with);
    const bool too_big = a.failed >= 0 && (a.error == EFBIG || a.error == ENOSPC || a.error == EDQUOT);
    if (views.size() == 1 || !too_big) {
      in = a.failed < 0 && !a.stopped ? views.size() : 0;
      return a;
    }
    for (in = 0; in < views.size(); ++in) {
      a = append_all(commit_of(views.subspan(in, 1), to).targets, with);
      if (a.failed >= 0 || a.stopped) break;
    }
    return a;
  }

  // Points in the files: their failures are told, their rows kept.
  void told(std::span<const std::unique_ptr<Outcome>> appended) {
    for (const auto& o : appended) {
      const std::size_t i = report.appended++;
      const Point& p = points[i];
      progress.rows += o->row;
      if (o->texts) {
        for (const formats::HealthNote& n : o->notes) warnings.of[i].push_back(n.text);
      } else {
        observer.point_failed(p, o->failure, o->reason);
        ++report.failed;
      }
    }
  }

  void stop(int signal) {
    report.ending = Ending::stopped;
    report.signal = signal;
  }
};

// The netCDF file of the rows in the record, whole or not at all; false
// (and why, told) if it cannot be written.
bool write_netcdf(const Options& o, const Files& f, const Progress& progress) {
  std::string bytes;
  try {
    const formats::GridAttributes at{"tilvex-grid " TILVEX_VERSION, utc_now() + " tilvex-grid", o.level_text,
                                     o.list, std::nullopt};
    bytes = netcdf_of_rows(progress.rows, at);
  } catch (const Error& e) {
    f.tell("'" + o.netcdf + "': " + e.reason());
    return false;
  }
  if (!write_table(o.netcdf, bytes, o.sync)) {
    f.tell("cannot write '" + o.netcdf + "': " + std::strerror(errno));
    return false;
  }
  return true;
}

// After the last commit: the table and the netCDF file, each whole or not
// at all, then the
// record's last line, then the files closed.
void finish(const Options& o, Files& f, const Progress& progress, Report& r) {
  const auto failed = [&r](int status, const std::string& name, bool resumable = false) {
    r.status = status;
    r.fixed = "unable to write " + name;
    r.resumable = resumable;
  };
  if (!o.table.empty()) {
    const std::string text = (o.part_k == 0 ? table_header() : std::string()) + progress.rows;
    if (!write_table(o.table, text, o.sync)) return failed(kOutput, o.table, f.keeps_record);
  }
  if (!o.netcdf.empty() && !write_netcdf(o, f, progress)) return failed(kOutput, o.netcdf, f.keeps_record);
  if (f.keeps_record && !progress.complete && !write_text(f.record, kComplete, f.tell))
    return failed(kOutput, o.progress);
  if (!f.output2.close()) return failed(kOutput2, o.output2);
  if (!f.output.close()) return failed(kOutput, o.output);
  r.status = r.failed > 0 ? 1 : 0;
}

}  // namespace

void end_by(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);  // not reached
}

Report run_grid(const Options& o, std::span<const Point> points, Observer& observer) {
  const auto files = std::make_shared<Files>();
  files->tell = [&observer](const std::string& text) { observer.note(text); };
  const std::shared_ptr<Stopper> stopper = Stopper::start();
  if (const std::string note = open_files(o, *files); !note.empty()) observer.note(note);
  stopper->at_once(false);
  if (!roll_back(*files, stopper->signal())) {  // stopped while it waited for a lock
    Report stopped;
    stopped.ending = Ending::stopped;
    stopped.signal = stopper->signal()->load();
    stopped.total = points.size();
    return stopped;
  }
  const std::string header =
      progress_header(points.size(), fingerprint(points), o.level_text, o.part_k, o.part_n);
  Progress progress = settle_record(o, header, points.size(), *files);
  stopper->at_once(!regular(files->output.descriptor()) || !regular(files->output2.descriptor()));
  Report report;
  report.total = points.size();
  report.appended = progress.done;
  report.failed = progress.failed;

  // Workers take points in list order, at most 2 jobs ahead of the writer,
  // so that at most 2 jobs inputs are held at once; up to 8 jobs ahead
  // while the results held weigh less than kSmallInputs, so that quick
  // points are committed in larger batches. The ticks that time a
  // lock wait (SIGALRM) must come to this thread, the one that appends:
  // the other threads start with them blocked.
  const auto window = std::make_shared<Window>(progress.done, points.size(), 2 * std::size_t{o.jobs},
                                               8 * std::size_t{o.jobs}, kSmallInputs);
  sigset_t ticks;
  sigemptyset(&ticks);
  sigaddset(&ticks, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &ticks, nullptr);
  stopper->stops(window);
  std::vector<std::thread> workers = start_workers(o.jobs, points, o.level, files, window);
  pthread_sigmask(SIG_UNBLOCK, &ticks, nullptr);

  observer.started(progress.done, points.size());
  Warnings warnings;
  warnings.of.resize(points.size());
  std::move(progress.warnings.begin(), progress.warnings.end(), warnings.of.begin());
  Writer{o, points, *files, *window, observer, progress, warnings, report}.run();
  if (report.ending != Ending::finished) {
    // A worker may wait for an input that never comes (a pipe), and
    // nothing of it would be appended anyway: the workers are left behind.
    for (std::thread& w : workers) w.detach();
    report.threads_left = true;
    report.resumable = files->keeps_record;
    return report;
  }
  for (std::thread& w : workers) w.join();  // each has seen the last point
  finish(o, *files, progress, report);
  if (report.fixed.empty()) warnings.tell(points, report, observer);
  return report;
}

}  // namespace tilvex::grid
