#include "result_files.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "journal.hpp"

namespace tilvex {

ResultFile::~ResultFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool ResultFile::open(const std::string& name) {
  name_ = name;
  fd_ = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  return fd_ >= 0;
}

bool ResultFile::open_existing(const std::string& name) {
  name_ = name;
  fd_ = ::open(name.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  return fd_ >= 0;
}

void ResultFile::adopt(int fd, std::string name) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  held_ = false;
  name_ = std::move(name);
}

bool ResultFile::lock_for_life(long& holder) {
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  holder = 0;
  if (::fcntl(fd_, F_SETLK, &whole) == 0) return held_ = true;
  if (errno == EAGAIN || errno == EACCES) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd_, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) holder = probe.l_pid;
  }
  return false;
}

bool ResultFile::close() {
  const int fd = fd_;
  fd_ = -1;
  held_ = false;
  return ::close(fd) == 0;
}

FileIdentity identity_of(int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  return {st.st_dev, st.st_ino};
}

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
  double notice = 10.0;   // seconds of waiting for a lock before saying so
  double timeout = -1.0;  // seconds before giving up; negative: never
  bool sync = false;
};

// A number of seconds from the environment: empty if unset or empty,
// nullopt-like -2 if it does not read whole as a number >= 0.
double seconds_from(const char* name, double unset) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return unset;
  char* end = nullptr;
  const double d = std::strtod(v, &end);
  if (*end != '\0' || !(d >= 0) || d > 1e9) return -2;
  return d;
}

Settings settings() {
  Settings s;
  s.notice = seconds_from("TILVEX_LOCK_NOTICE", 10.0);
  s.timeout = seconds_from("TILVEX_LOCK_TIMEOUT", -1.0);
  if (const char* v = std::getenv("TILVEX_SYNC")) s.sync = std::strcmp(v, "1") == 0;
  return s;
}

}  // namespace

std::string settings_fault() {
  for (const char* name : {"TILVEX_LOCK_NOTICE", "TILVEX_LOCK_TIMEOUT"})
    if (seconds_from(name, 0) == -2)
      return std::string(name) + " '" + std::getenv(name) +
             "' is not a number of seconds (0 or more, such as 30 or 0.5)";
  if (const char* v = std::getenv("TILVEX_SYNC"); v != nullptr && *v != '\0' &&
                                                    std::strcmp(v, "0") != 0 && std::strcmp(v, "1") != 0)
    return std::string("TILVEX_SYNC '") + v + "' is neither 0 nor 1";
  return {};
}

namespace {

// Writes all of the pieces, in order: with one writev where the system
// takes them all at once, else as many as it does.
bool write_all(int fd, std::span<const std::string_view> pieces) {
  std::vector<iovec> iov;
  for (std::string_view p : pieces)
    if (!p.empty()) iov.push_back({const_cast<char*>(p.data()), p.size()});
  std::size_t first = 0;
  while (first < iov.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(iov.size() - first, IOV_MAX));
    const ssize_t put = ::writev(fd, iov.data() + first, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    auto left = static_cast<std::size_t>(put);
    while (first < iov.size() && left >= iov[first].iov_len) left -= iov[first++].iov_len;
    if (first < iov.size()) {
      iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
      iov[first].iov_len -= left;
    }
  }
  return true;
}

// A tick every 100 ms while it lives, which interrupts a lock wait so that
// the wait can be timed and given up.
void on_tick(int) {}
class Ticks {
 public:
  Ticks() {
    struct sigaction tick {};
    tick.sa_handler = on_tick;  // no SA_RESTART: the wait returns EINTR
    sigemptyset(&tick.sa_mask);
    sigaction(SIGALRM, &tick, &saved_);
    const itimerval every{{0, 100000}, {0, 100000}};
    setitimer(ITIMER_REAL, &every, nullptr);
  }
  ~Ticks() {
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &saved_, nullptr);
  }

 private:
  struct sigaction saved_ {};
};

enum class Locking { locked, deadlock, no_locks, timeout, stopped };

struct flock whole_file(short type) {
  struct flock whole {};
  whole.l_type = type;
  whole.l_whence = SEEK_SET;
  return whole;
}

bool means_no_locks(int error) {
  return error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP || error == ENOSYS ||
         error == EINVAL;
}

// Waits for a write lock on the whole file.
Locking lock(const ResultFile& file, const AppendOptions& options, const Settings& s) {
  struct flock whole = whole_file(F_WRLCK);
  if (::fcntl(file.descriptor(), F_SETLK, &whole) == 0) return Locking::locked;
  if (errno != EAGAIN && errno != EACCES) return Locking::no_locks;
  const Ticks ticks;
  const auto start = Clock::now();
  bool told = false;
  for (;;) {
    whole = whole_file(F_WRLCK);
    if (::fcntl(file.descriptor(), F_SETLKW, &whole) == 0) return Locking::locked;
    if (errno == EDEADLK) return Locking::deadlock;
    if (errno != EINTR) return means_no_locks(errno) ? Locking::no_locks : Locking::timeout;
    if (options.stop != nullptr && options.stop->load() != 0) return Locking::stopped;
    const double waited = std::chrono::duration<double>(Clock::now() - start).count();
    if (!told && waited >= s.notice) {
      struct flock holder = whole_file(F_WRLCK);
      ::fcntl(file.descriptor(), F_GETLK, &holder);
      std::fprintf(stderr, "%s: waiting for '%s', locked by process %ld\n", options.program,
                   file.name().c_str(), static_cast<long>(holder.l_pid));
      told = true;
    }
    if (s.timeout >= 0 && waited >= s.timeout) {
      errno = ETIMEDOUT;
      return Locking::timeout;
    }
  }
}

void unlock(int fd) {
  struct flock whole = whole_file(F_UNLCK);
  ::fcntl(fd, F_SETLK, &whole);
}

// Holds back the termination signals from the journal until the commit.
class HeldSignals {
 public:
  HeldSignals() {
    sigemptyset(&set_);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) sigaddset(&set_, s);
    pthread_sigmask(SIG_BLOCK, &set_, &saved_);
  }
  ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  // For a write to a pipe or device, which may wait for ever: the signals
  // go through, and a run killed then is rolled back by the next one.
  void let_through() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  void hold() { pthread_sigmask(SIG_BLOCK, &set_, nullptr); }
  // After the commit: a termination signal that came meanwhile is dropped
  // (the append is done, and the status must say so), unless the caller
  // blocks it itself and will take it.
  void drop_pending() {
    sigset_t pending;
    sigpending(&pending);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      if (!sigismember(&pending, s) || sigismember(&saved_, s)) continue;
      struct sigaction ignore {}, was {};
      ignore.sa_handler = SIG_IGN;
      sigaction(s, &ignore, &was);  // discards the pending signal
      sigaction(s, &was, nullptr);
    }
  }

 private:
  sigset_t set_, saved_;
};

// A regular file of the append, locked once.
struct Regular {
  Regular(ResultFile* f, FileIdentity i) : file(f), id(i) {}
  ResultFile* file;
  FileIdentity id;
  bool locked = false;
  bool journal_free = false;  // its journal's name is ours to create
  off_t length = 0;           // before the append
  std::unique_ptr<ResultFile> opened;  // a file opened only for a recovery

  void cut_back() const {
    while (::ftruncate(file->descriptor(), length) != 0 && errno == EINTR) {
    }
  }
};

off_t size_of(int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  return st.st_size;
}

void backoff(std::mt19937& random) {
  const timespec pause{0, static_cast<long>(10000000 + random() % 90000000)};  // 10 to 100 ms
  nanosleep(&pause, nullptr);
}

// Descriptors that must stay open while the process lives (see recover).
std::vector<std::unique_ptr<ResultFile>>& kept_open() {
  static std::vector<std::unique_ptr<ResultFile>> files;
  return files;
}

// The recovery of one hot journal `j` found beside `at`: true if the
// locks must be taken again (it names files not yet locked).
enum class Recovery { done, relock, left_alone };

Recovery recover(const journal::Journal& j, std::vector<Regular>& files, const AppendOptions& o) {
  // Every named file must be locked by this run: its own, found by
  // identity, or opened by path without following symlinks.
  std::vector<Regular> extra;
  for (const journal::FileEntry& e : j.files) {
    const FileIdentity id{e.device, e.inode};
    const auto mine = std::find_if(files.begin(), files.end(), [&](const Regular& r) { return r.id == id; });
    if (mine != files.end()) {
      if (!mine->locked) return Recovery::left_alone;  // no locks there: no recovery
      continue;
    }
    // Looked at before it is opened: a second descriptor of a file this
    // run holds locked must not be closed (that would drop the lock).
    struct stat named {};
    auto opened = std::make_unique<ResultFile>();
    const bool same = ::lstat(e.path.c_str(), &named) == 0 && S_ISREG(named.st_mode) &&
                      FileIdentity{named.st_dev, named.st_ino} == id && opened->open_existing(e.path);
    if (!same || identity_of(opened->descriptor()) != id) {
      if (same) kept_open().push_back(std::move(opened));  // swapped meanwhile: never closed
      std::fprintf(stderr,
                   "%s: a journal names '%s', which is no longer the file it recorded; the "
                   "journal is left alone\n",
                   o.program, e.path.c_str());
      return Recovery::left_alone;
    }
    Regular r{opened.get(), id};
    r.opened = std::move(opened);
    extra.push_back(std::move(r));
  }
  if (!extra.empty()) {
    for (Regular& r : extra) files.push_back(std::move(r));
    return Recovery::relock;
  }
  const HeldSignals held;
  std::string cut;
  for (const journal::FileEntry& e : j.files) {
    const FileIdentity id{e.device, e.inode};
    const auto r = std::find_if(files.begin(), files.end(), [&](const Regular& f) { return f.id == id; });
    if (size_of(r->file->descriptor()) > e.length) {
      while (::ftruncate(r->file->descriptor(), e.length) != 0 && errno == EINTR) {
      }
      cut += std::string(cut.empty() ? "" : ", ") + "'" + e.path + "' back to " +
             std::to_string(e.length) + " bytes";
    }
  }
  // The journals of that append go, the commit journal last.
  for (const journal::FileEntry& e : j.files) {
    const std::string path = journal::path_for(e.path);
    journal::Journal second;
    std::string why;
    if (journal::read(path, second, why) == journal::Found::ours && second.tx == j.tx &&
        !second.commit.empty())
      ::unlink(path.c_str());
  }
  for (const journal::FileEntry& e : j.files) {
    const std::string path = journal::path_for(e.path);
    journal::Journal commit;
    std::string why;
    if (journal::read(path, commit, why) == journal::Found::ours && commit.tx == j.tx)
      ::unlink(path.c_str());
  }
  std::fprintf(stderr, "%s: recovered from an append that did not finish: %s\n", o.program,
               cut.empty() ? "nothing to cut back" : ("cut " + cut).c_str());
  return Recovery::done;
}

}  // namespace

AppendOutcome append_all(std::span<const AppendTarget> targets, const AppendOptions& o) {
  const Settings s = settings();
  std::vector<Regular> files;
  for (const AppendTarget& t : targets) {
    struct stat st {};
    if (::fstat(t.file->descriptor(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const FileIdentity id{st.st_dev, st.st_ino};
    if (std::none_of(files.begin(), files.end(), [&](const Regular& r) { return r.id == id; }))
      files.emplace_back(t.file, id);
  }
  const auto target_of = [&](const Regular& r) {
    for (std::size_t i = 0; i < targets.size(); ++i)
      if (identity_of(targets[i].file->descriptor()) == r.id) return static_cast<int>(i);
    return 0;
  };
  const auto unlock_all = [&] {
    for (Regular& r : files) {
      if (r.locked && !r.file->holds_lock()) unlock(r.file->descriptor());
      r.locked = false;
    }
  };
  std::mt19937 random(static_cast<unsigned>(::getpid()) ^ static_cast<unsigned>(std::time(nullptr)));
  bool noted_no_locks = false;

  // Locks, in one fixed order, and the recovery of what a run that died
  // left; again from the start after a deadlock or when a journal names
  // files not yet locked.
  for (bool settled = false; !settled;) {
    std::sort(files.begin(), files.end(), [](const Regular& a, const Regular& b) { return a.id < b.id; });
    bool again = false;
    for (Regular& r : files) {
      switch (r.file->holds_lock() ? Locking::locked : lock(*r.file, o, s)) {
        case Locking::locked: r.locked = true; break;
        case Locking::no_locks:
          if (!noted_no_locks)
            std::fprintf(stderr, "%s: '%s' keeps no locks; appending without them\n", o.program,
                         r.file->name().c_str());
          noted_no_locks = true;
          break;
        case Locking::deadlock:
          std::fprintf(stderr,
                       "%s: waiting for '%s' would deadlock with another process; letting go "
                       "of the locks and trying again\n",
                       o.program, r.file->name().c_str());
          again = true;
          break;
        case Locking::stopped:
          unlock_all();
          return {-1, true, 0, {}};
        case Locking::timeout: {
          const int saved = errno;
          unlock_all();
          return {target_of(r), false, saved, {}};
        }
      }
      if (again) break;
    }
    if (again) {
      unlock_all();
      backoff(random);
      continue;
    }
    settled = true;
    for (Regular& r : files) {
      r.journal_free = false;
      if (!r.locked) continue;
      const std::string path = journal::path_for(r.file->name());
      journal::Journal j;
      std::string why;
      switch (journal::read(path, j, why)) {
        case journal::Found::none: r.journal_free = true; break;
        case journal::Found::torn:
          ::unlink(path.c_str());  // its writer died before its first output byte
          r.journal_free = true;
          break;
        case journal::Found::foreign:
          std::fprintf(stderr, "%s: '%s' is not a journal this run may act on (%s); left alone\n",
                       o.program, path.c_str(), why.c_str());
          break;
        case journal::Found::ours: {
          if (!j.commit.empty()) {
            journal::Journal commit;
            if (journal::read(j.commit, commit, why) != journal::Found::ours || commit.tx != j.tx) {
              ::unlink(path.c_str());  // its append was committed
              r.journal_free = true;
              break;
            }
            j = commit;
          }
          const Recovery done = recover(j, files, o);
          if (done == Recovery::relock) {
            unlock_all();
            settled = false;
          } else if (done == Recovery::done) {
            r.journal_free = ::access(path.c_str(), F_OK) != 0;
          }
          break;
        }
      }
      if (!settled) break;
    }
  }

  bool anything = false;
  for (const AppendTarget& t : targets)
    for (std::string_view p : t.pieces) anything = anything || !p.empty();
  if (!anything) {
    unlock_all();
    return {};
  }

  // The journal, whole, before the first output byte.
  HeldSignals held;
  journal::Journal j;
  j.tx = (static_cast<std::uint64_t>(random()) << 32) ^ random() ^
         static_cast<std::uint64_t>(Clock::now().time_since_epoch().count());
  for (Regular& r : files) {
    r.length = size_of(r.file->descriptor());
    if (r.locked && !r.opened)
      j.files.push_back({r.id.device, r.id.inode, r.length, journal::absolute(r.file->name())});
  }
  std::string commit;
  std::vector<std::string> seconds;
  for (const Regular& r : files) {
    if (!r.locked || !r.journal_free || r.opened) continue;
    const std::string path = journal::path_for(r.file->name());
    journal::Journal mine = j;
    mine.commit = commit;
    if (!journal::create(path, mine, s.sync)) {
      std::fprintf(stderr, "%s: cannot write the journal '%s': %s\n", o.program, path.c_str(),
                   std::strerror(errno));
      continue;
    }
    if (commit.empty())
      commit = path;
    else
      seconds.push_back(path);
  }
  const auto remove_journals = [&] {
    for (const std::string& p : seconds) ::unlink(p.c_str());
    if (!commit.empty()) ::unlink(commit.c_str());
  };

  for (std::size_t i = 0; i < targets.size(); ++i) {
    const int fd = targets[i].file->descriptor();
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular) held.let_through();
    const bool ok = write_all(fd, targets[i].pieces);
    const int error = errno;
    if (!regular) held.hold();
    if (!ok) {
      for (const Regular& r : files) r.cut_back();
      if (s.sync)
        for (const Regular& r : files) ::fsync(r.file->descriptor());
      remove_journals();
      unlock_all();
      return {static_cast<int>(i), false, error, {}};
    }
  }
  // The commit.
  if (s.sync)
    for (const Regular& r : files) ::fsync(r.file->descriptor());
  if (!commit.empty()) {
    ::unlink(commit.c_str());
    if (s.sync) journal::sync_directory(commit);
  }
  for (const std::string& p : seconds) ::unlink(p.c_str());
  unlock_all();
  held.drop_pending();
  return {};
}

AppendOutcome recover(std::span<ResultFile* const> files, const AppendOptions& options) {
  std::vector<AppendTarget> targets;
  for (ResultFile* f : files) targets.push_back({f, {}});
  return append_all(targets, options);
}

AppendOutcome append_run(ResultFile& output, std::span<const std::string_view> summary,
                         ResultFile& output2, std::span<const std::string_view> lines) {
  const AppendTarget targets[] = {{&output2, lines}, {&output, summary}};
  return append_all(targets);
}

std::string reason(const AppendOutcome& outcome) {
  if (!outcome.why.empty()) return outcome.why;
  if (outcome.error == ETIMEDOUT) return "it stayed locked past TILVEX_LOCK_TIMEOUT";
  return std::strerror(outcome.error != 0 ? outcome.error : EIO);
}

}  // namespace tilvex
