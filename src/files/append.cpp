// The append protocol: lock, recover, journal, write, commit. Each phase
// is one member function of Append; the system is reached only through
// posix.hpp and journal.hpp.
//
// Who is trusted: a run acts on a journal of its own user's in full (it is
// that user's own dead run). A journal of another user's is acted on only
// when it is hot, names nothing but files this run holds locked, and its
// owner may write each of them; then it is rolled back, since that user
// could have cut those files anyway. Anything else at a journal's name
// stops the append to that file, with a reason: a run never locks a file
// for another user's journal, never follows a symlink found in one, and
// never appends to a regular file it holds locked without its journal (on a
// file system that keeps no locks it appends unlocked and unjournaled, and
// says so).

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "journal.hpp"
#include "posix.hpp"
#include "result_files.hpp"

namespace tilvex {

namespace {

using Clock = std::chrono::steady_clock;

// A number of seconds from the environment; `unset` if it is not set or
// empty, -2 if it is not written plainly: digits, at most one point, at
// most 1e9.
double seconds_from(const char* name, double unset) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return unset;
  int digits = 0, points = 0;
  for (const char* c = v; *c != '\0'; ++c) {
    if (*c >= '0' && *c <= '9') {
      ++digits;
    } else if (*c == '.') {
      ++points;
    } else {
      return -2;
    }
  }
  if (digits == 0 || points > 1) return -2;
  const double d = std::strtod(v, nullptr);
  return d > 1e9 ? -2 : d;
}

struct Settings {
  double notice = 10.0;   // seconds of waiting for a lock before saying so
  double timeout = -1.0;  // seconds before giving up; negative: never
  bool sync = false;
};

Settings settings() {
  Settings s;
  s.notice = seconds_from("TILVEX_LOCK_NOTICE", 10.0);
  s.timeout = seconds_from("TILVEX_LOCK_TIMEOUT", -1.0);
  const char* v = std::getenv("TILVEX_SYNC");
  s.sync = v != nullptr && std::strcmp(v, "1") == 0;
  return s;
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
  Ticks(const Ticks&) = delete;
  Ticks& operator=(const Ticks&) = delete;

 private:
  struct sigaction saved_ {};
};

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

// Holds back the stopping signals (and TSTP) from the journal until the
// commit, or through a rollback.
class HeldSignals {
 public:
  HeldSignals() {
    set_ = posix::stopping_signals();
    sigaddset(&set_, SIGTSTP);
    pthread_sigmask(SIG_BLOCK, &set_, &saved_);
  }
  ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;
  // For a write to a pipe or device, which may wait for ever: the signals
  // go through, and a run killed then is rolled back by the next one.
  void let_through() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  void hold() { pthread_sigmask(SIG_BLOCK, &set_, nullptr); }
  // After the commit: a stopping signal that came meanwhile is dropped (the
  // append is done, and the status must say so), unless the caller blocks
  // it itself and will take it. With `for_good`, the signals the caller
  // does not block are ignored from here on, before they are let through.
  void after_commit(bool for_good) {
    sigset_t pending;
    sigpending(&pending);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      if (sigismember(&saved_, s)) continue;
      struct sigaction ignore {}, was {};
      ignore.sa_handler = SIG_IGN;
      if (for_good) {
        sigaction(s, &ignore, nullptr);
      } else if (sigismember(&pending, s)) {
        sigaction(s, &ignore, &was);  // discards the pending signal
        sigaction(s, &was, nullptr);
      }
    }
  }

 private:
  sigset_t set_, saved_;
};

// Descriptors that must stay open while the process lives: a second
// descriptor of a file this run holds locked, found by a path, would drop
// the lock if it were closed.
std::vector<posix::Fd>& kept_open() {
  static std::vector<posix::Fd> files;
  return files;
}

// A regular file of the append, or of a rollback, locked once.
struct Member {
  ResultFile* file = nullptr;
  std::unique_ptr<ResultFile> opened;  // a file opened only for a rollback
  FileIdentity id;
  struct stat st {};
  posix::Place place;  // its folder, for its journal
  bool placed = false;
  bool locked = false;
  bool journaled = false;  // its journal is written
  off_t length = 0;        // before the append
};

class Append {
 public:
  Append(std::span<const AppendTarget> targets, const AppendOptions& options)
      : targets_(targets), o_(options), s_(settings()),
        random_(static_cast<unsigned>(::getpid()) ^ static_cast<unsigned>(std::time(nullptr))) {}

  AppendOutcome run();

 private:
  enum class Locking { locked, deadlock, no_locks, timeout, stopped };
  // What a rollback found it must do first.
  enum class Rollback { done, relock, refused };

  void gather();
  Locking lock(Member& m);
  bool lock_all(AppendOutcome& out);
  void unlock_all();
  bool recover(AppendOutcome& out);
  bool settle(Member& m, bool& relock, AppendOutcome& out);
  Rollback roll_back(const journal::Found& f, Member& at, AppendOutcome& out);
  bool take_entry(const journal::Found& f, const journal::FileEntry& e, const Member& at,
                  std::vector<const journal::FileEntry*>& entries, std::vector<Member>& extra,
                  AppendOutcome& out);
  void keep_journaled(const journal::Found& f, std::vector<const journal::FileEntry*>& entries);
  std::string cut_back(const std::vector<const journal::FileEntry*>& entries);
  bool journal();
  AppendOutcome write(HeldSignals& held);
  void commit();
  void remove_own_journals();

  AppendOutcome refuse(const Member& m, std::string why) const;
  int target_of(const Member& m) const;
  Member* member(FileIdentity id);
  void say(const std::string& text) const {
    if (o_.tell) o_.tell(text);
  }
  std::string journal_path(const Member& m) const {
    return journal::path_for(m.place.path);
  }

  std::span<const AppendTarget> targets_;
  const AppendOptions& o_;
  Settings s_;
  std::mt19937 random_;
  std::vector<Member> members_;
  bool noted_no_locks_ = false;
  journal::Journal mine_;  // this append's journal
  Member* commit_at_ = nullptr;  // the file beside which the commit journal lies
};

int Append::target_of(const Member& m) const {
  for (std::size_t i = 0; i < targets_.size(); ++i)
    if (identity_of(targets_[i].file->descriptor()) == m.id) return static_cast<int>(i);
  return 0;
}

Member* Append::member(FileIdentity id) {
  const auto it = std::find_if(members_.begin(), members_.end(), [&](const Member& m) { return m.id == id; });
  return it == members_.end() ? nullptr : &*it;
}

AppendOutcome Append::refuse(const Member& m, std::string why) const {
  AppendOutcome out;
  out.failed = target_of(m);
  out.file = targets_[static_cast<std::size_t>(out.failed)].file;
  out.error = EPERM;
  out.why = std::move(why);
  return out;
}

// The regular files of the targets, each once. Pipes and devices are
// neither locked nor journaled.
void Append::gather() {
  for (const AppendTarget& t : targets_) {
    Member m;
    if (::fstat(t.file->descriptor(), &m.st) != 0 || !S_ISREG(m.st.st_mode)) continue;
    m.id = {m.st.st_dev, m.st.st_ino};
    if (member(m.id) != nullptr) continue;
    m.file = t.file;
    members_.push_back(std::move(m));
  }
}

// Phase 1: a write lock on one whole file, waited for.
Append::Locking Append::lock(Member& m) {
  if (m.file->holds_lock()) return Locking::locked;
  const int fd = m.file->descriptor();
  struct flock whole = whole_file(F_WRLCK);
  if (::fcntl(fd, F_SETLK, &whole) == 0) return Locking::locked;
  if (errno != EAGAIN && errno != EACCES) return Locking::no_locks;
  const Ticks ticks;
  const auto start = Clock::now();
  bool told = false;
  for (;;) {
    whole = whole_file(F_WRLCK);
    if (::fcntl(fd, F_SETLKW, &whole) == 0) return Locking::locked;
    if (errno == EDEADLK) return Locking::deadlock;
    if (errno != EINTR) return means_no_locks(errno) ? Locking::no_locks : Locking::timeout;
    if (o_.stop != nullptr && o_.stop->load() != 0) return Locking::stopped;
    const double waited = std::chrono::duration<double>(Clock::now() - start).count();
    if (!told && waited >= s_.notice) {
      struct flock holder = whole_file(F_WRLCK);
      ::fcntl(fd, F_GETLK, &holder);
      say("waiting for '" + m.file->name() + "', locked by process " + std::to_string(holder.l_pid));
      told = true;
    }
    if (s_.timeout >= 0 && waited >= s_.timeout) {
      errno = ETIMEDOUT;
      return Locking::timeout;
    }
  }
}

void Append::unlock_all() {
  for (Member& m : members_) {
    if (m.locked && !m.file->holds_lock()) {
      struct flock whole = whole_file(F_UNLCK);
      ::fcntl(m.file->descriptor(), F_SETLK, &whole);
    }
    m.locked = false;
  }
}

// Phase 1: every member locked, in the order of device and inode numbers,
// so that runs naming the same files in any order cannot deadlock; on a
// deadlock the kernel reports, all are let go and taken again after a
// random pause. False if the append ends here (`out` tells why).
bool Append::lock_all(AppendOutcome& out) {
  std::sort(members_.begin(), members_.end(), [](const Member& a, const Member& b) { return a.id < b.id; });
  for (;;) {
    bool again = false;
    for (Member& m : members_) {
      switch (lock(m)) {
        case Locking::locked: m.locked = true; break;
        case Locking::no_locks:
          if (!noted_no_locks_) say("'" + m.file->name() + "' keeps no locks; appending without them");
          noted_no_locks_ = true;
          break;
        case Locking::deadlock:
          say("waiting for '" + m.file->name() +
              "' would deadlock with another process; letting go of the locks and trying again");
          again = true;
          break;
        case Locking::stopped:
          unlock_all();
          out.stopped = true;
          return false;
        case Locking::timeout: {
          const int saved = errno;
          unlock_all();
          out.failed = target_of(m);
          out.file = targets_[static_cast<std::size_t>(out.failed)].file;
          out.error = saved;
          return false;
        }
      }
      if (again) break;
    }
    if (!again) return true;
    unlock_all();
    const timespec pause{0, static_cast<long>(10000000 + random_() % 90000000)};  // 10 to 100 ms
    nanosleep(&pause, nullptr);
  }
}

// Phase 2: what stands at each locked member's journal name is settled
// before anything is written. False if the append ends here.
bool Append::recover(AppendOutcome& out) {
  for (;;) {
    bool relock = false;
    for (Member& m : members_) {
      if (!m.locked) continue;
      if (!settle(m, relock, out)) return false;
      if (relock) break;
    }
    if (!relock) return true;
    unlock_all();
    if (!lock_all(out)) return false;
  }
}

// Phase 2 for one member: false if the append ends here; `relock` if a
// rollback needs files this run does not hold yet.
bool Append::settle(Member& m, bool& relock, AppendOutcome& out) {
  if (!m.placed) {
    m.placed = posix::place_of(m.file->descriptor(), m.file->name(), m.place);
    if (!m.placed) {
      out = refuse(m, "its folder cannot be found for its journal: " + std::string(std::strerror(errno)));
      return false;
    }
  }
  if (!m.opened && m.st.st_nlink != 1) {
    out = refuse(m, "it has " + std::to_string(m.st.st_nlink) +
                        " names (hard links), and a run that names it otherwise would not find its "
                        "journal; append to a file of one name");
    return false;
  }
  const journal::Found f = journal::hot_journal(m.place.folder.get(), m.place.base);
  const std::string path = journal_path(m);
  const std::string whose = "uid " + std::to_string(f.owner);
  switch (f.state) {
    case journal::State::none: return true;
    case journal::State::torn:  // its writer died before its first output byte
      if (f.owner != ::geteuid()) {
        out = refuse(m, "'" + path + "' is in the way of its journal: it is not a whole journal, and it is " +
                            whose + "'s; remove it to append");
        return false;
      }
      [[fallthrough]];
    case journal::State::stale:  // its append was committed
      if (!journal::remove(m.place.folder.get(), m.place.base, f)) {
        out = refuse(m, "'" + path + "', a journal of " + whose + "'s whose append is over, cannot be removed: " +
                            std::strerror(errno));
        return false;
      }
      return true;
    case journal::State::in_the_way:
      out = refuse(m, "'" + path + "' is in the way of its journal: " + f.why + "; remove it to append");
      return false;
    case journal::State::hot:
      switch (roll_back(f, m, out)) {
        case Rollback::done: return true;
        case Rollback::refused: return false;
        case Rollback::relock: relock = true; return true;
      }
  }
  return true;
}

// Phase 2, for one hot journal found beside `at`: every file it names is
// cut back to its recorded length, and its journals go. A file it names
// that this run does not hold yet is opened (without following a symlink)
// and locked first, for a journal of this user's only.
Append::Rollback Append::roll_back(const journal::Found& f, Member& at, AppendOutcome& out) {
  std::vector<const journal::FileEntry*> entries;
  std::vector<Member> extra;
  for (const journal::FileEntry& e : f.journal.files)
    if (!take_entry(f, e, at, entries, extra, out)) return Rollback::refused;
  if (!extra.empty()) {
    for (Member& m : extra) members_.push_back(std::move(m));
    return Rollback::relock;
  }
  keep_journaled(f, entries);
  const HeldSignals held;
  const std::string cut = cut_back(entries);
  // The files are whole again (and on disk, with TILVEX_SYNC=1) before any
  // journal goes, so the order in which they go does not matter: a crash
  // from here on finds the same journals and cuts the same lengths again.
  bool removed = true;
  for (const journal::FileEntry& e : f.journal.files)
    removed = journal::remove_at(journal::path_for(e.path), f.tx, f.owner, s_.sync) && removed;
  const std::string commit = f.commit ? journal_path(at) : f.commit_path;
  removed = journal::remove_at(commit, f.tx, f.owner, s_.sync) && removed;
  say("recovered from an append that did not finish: " + (cut.empty() ? "nothing to cut back" : "cut " + cut));
  if (!removed) {
    out = refuse(at, "the journals of that append cannot all be removed: " + std::string(std::strerror(errno)));
    return Rollback::refused;
  }
  return Rollback::done;
}

// One file a hot journal names: a member this run holds goes to `entries`
// (once, whoever may write it); a file of this user's journal that this
// run does not hold yet is opened into `extra`. False, with `out` set, if
// the journal cannot be acted on.
bool Append::take_entry(const journal::Found& f, const journal::FileEntry& e, const Member& at,
                        std::vector<const journal::FileEntry*>& entries, std::vector<Member>& extra,
                        AppendOutcome& out) {
  const bool own = f.owner == ::geteuid();
  const std::string path = journal_path(at);
  const std::string whose = "uid " + std::to_string(f.owner);
  const FileIdentity id{e.device, e.inode};
  if (std::any_of(extra.begin(), extra.end(), [&](const Member& x) { return x.id == id; })) return true;
  if (Member* m = member(id)) {
    if (!m->locked) {
      out = refuse(at, "'" + path + "' records an append that did not finish to '" + m->file->name() +
                           "', which keeps no locks; it cannot be rolled back there");
      return false;
    }
    if (std::any_of(entries.begin(), entries.end(), [&](const journal::FileEntry* x) {
          return x->device == e.device && x->inode == e.inode;
        }))
      return true;  // named twice: the first length stands
    if (!own && !posix::may_write(f.owner, m->st, posix::has_acl(m->file->descriptor()))) {
      out = refuse(at, "'" + path + "' is in the way of its journal: a journal of " + whose +
                           ", who may not write '" + m->file->name() + "'; remove it to append");
      return false;
    }
    entries.push_back(&e);
    return true;
  }
  if (!own) {
    out = refuse(at, "'" + path + "' records an append of " + whose +
                         "'s that did not finish, to files this run does not write; that user's "
                         "next run, or tilvex-grid --recover, rolls it back");
    return false;
  }
  posix::Fd fd = posix::open_no_symlinks(e.path, O_WRONLY | O_APPEND | O_NONBLOCK);
  struct stat st {};
  if (fd.ok() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == e.device &&
      st.st_ino == e.inode) {
    Member m;
    m.opened = std::make_unique<ResultFile>();
    m.opened->adopt(fd.release(), e.path);
    m.file = m.opened.get();
    m.id = id;
    m.st = st;
    extra.push_back(std::move(m));
    return true;
  }
  if (fd.ok() && member(FileIdentity{st.st_dev, st.st_ino}) != nullptr) kept_open().push_back(std::move(fd));
  if (!fd.ok() && errno != ENOENT) {
    out = refuse(at, "'" + path + "' records an append that did not finish to '" + e.path +
                         "', which cannot be opened without following a symlink: " + std::strerror(errno));
    return false;
  }
  say("a journal names '" + e.path + "', which is no longer the file it recorded; that file is left alone");
  return true;
}

// A file is cut only while its own journal, beside it, is of this append:
// a file whose journal was never written (its writer died first) or is
// gone (a rollback cut it already) may since hold runs that were committed
// without it.
void Append::keep_journaled(const journal::Found& f, std::vector<const journal::FileEntry*>& entries) {
  std::erase_if(entries, [&](const journal::FileEntry* e) {
    Member& m = *member(FileIdentity{e->device, e->inode});
    if (!m.placed) m.placed = posix::place_of(m.file->descriptor(), m.file->name(), m.place);
    if (!m.placed) return true;
    const journal::Found own_journal = journal::hot_journal(m.place.folder.get(), m.place.base);
    const bool read = own_journal.state != journal::State::none && own_journal.state != journal::State::torn;
    return !(read && own_journal.tx == f.tx && own_journal.owner == f.owner);
  });
}

// Each entry's file cut back to its recorded length; what was cut, in
// words.
std::string Append::cut_back(const std::vector<const journal::FileEntry*>& entries) {
  std::string cut;
  for (const journal::FileEntry* e : entries) {
    Member& m = *member(FileIdentity{e->device, e->inode});
    struct stat now {};
    if (::fstat(m.file->descriptor(), &now) == 0 && now.st_size > e->length) {
      posix::truncate_to(m.file->descriptor(), e->length);
      if (s_.sync) posix::sync(m.file->descriptor());
      cut += std::string(cut.empty() ? "" : ", ") + "'" + e->path + "' back to " + std::to_string(e->length) +
             " bytes";
    }
  }
  return cut;
}

// Phase 3: the journal, whole, beside every regular file, before the first
// output byte. The first file in lock order holds the commit journal.
bool Append::journal() {
  mine_.tx = (static_cast<std::uint64_t>(random_()) << 32) ^ random_() ^
             static_cast<std::uint64_t>(Clock::now().time_since_epoch().count());
  for (Member& m : members_) {
    struct stat now {};
    ::fstat(m.file->descriptor(), &now);
    m.length = now.st_size;
    if (m.locked && !m.opened) mine_.files.push_back({m.id.device, m.id.inode, m.length, m.place.path});
  }
  for (Member& m : members_) {
    if (!m.locked || m.opened) continue;
    journal::Journal j = mine_;
    if (commit_at_ != nullptr) {
      struct stat folder {};
      ::fstat(commit_at_->place.folder.get(), &folder);
      j.commit = journal_path(*commit_at_);
      j.commit_folder_device = folder.st_dev;
      j.commit_folder_inode = folder.st_ino;
    }
    if (!journal::create(m.place.folder.get(), m.place.base, j, s_.sync)) {
      say("cannot write the journal '" + journal_path(m) + "': " + std::strerror(errno));
      return false;
    }
    m.journaled = true;
    if (commit_at_ == nullptr) commit_at_ = &m;
  }
  return true;
}

void Append::remove_own_journals() {
  for (Member& m : members_)
    if (m.journaled && &m != commit_at_) ::unlinkat(m.place.folder.get(), journal::name_for(m.place.base).c_str(), 0);
  if (commit_at_ != nullptr)
    ::unlinkat(commit_at_->place.folder.get(), journal::name_for(commit_at_->place.base).c_str(), 0);
}

// Phase 4: every target's pieces, in order; a pipe or device is written
// with the signals let through. A failed write cuts every regular file
// back and takes the journals away.
AppendOutcome Append::write(HeldSignals& held) {
  AppendOutcome out;
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    struct stat st {};
    const int fd = targets_[i].file->descriptor();
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    assert(!regular || member(FileIdentity{st.st_dev, st.st_ino}) != nullptr);
    if (!regular) held.let_through();
    const bool ok = posix::write_all(fd, targets_[i].pieces);
    const int error = errno;
    if (!regular) held.hold();
    if (ok) continue;
    for (Member& m : members_) {
      posix::truncate_to(m.file->descriptor(), m.length);
      if (s_.sync) posix::sync(m.file->descriptor());
    }
    remove_own_journals();
    out.failed = static_cast<int>(i);
    out.file = targets_[i].file;
    out.error = error;
    return out;
  }
  return out;
}

// Phase 5: the files on disk (with TILVEX_SYNC=1), then the removal of the
// commit journal, which commits; the other journals go after it.
void Append::commit() {
  if (s_.sync)
    for (Member& m : members_) posix::sync(m.file->descriptor());
  if (commit_at_ != nullptr) {
    ::unlinkat(commit_at_->place.folder.get(), journal::name_for(commit_at_->place.base).c_str(), 0);
    if (s_.sync) posix::sync_folder(commit_at_->place.folder.get());
  }
  for (Member& m : members_)
    if (m.journaled && &m != commit_at_)
      ::unlinkat(m.place.folder.get(), journal::name_for(m.place.base).c_str(), 0);
}

AppendOutcome Append::run() {
  AppendOutcome out;
  gather();
  if (!lock_all(out)) return out;
  if (!recover(out)) {
    unlock_all();
    return out;
  }
  bool anything = false;
  for (const AppendTarget& t : targets_)
    for (std::string_view p : t.pieces) anything = anything || !p.empty();
  if (!anything) {
    unlock_all();
    return out;
  }
  HeldSignals held;
  if (!journal()) {
    const int saved = errno;
    // journal() stops at the first journal it cannot write, in lock order:
    // that member's file failed (those after it have none either). Found
    // before unlock_all(), which clears `locked`.
    out.failed = 0;
    for (const Member& m : members_)
      if (m.locked && !m.opened && !m.journaled) {
        out.failed = target_of(m);
        break;
      }
    remove_own_journals();
    unlock_all();
    out.file = targets_.empty() ? nullptr : targets_[static_cast<std::size_t>(out.failed)].file;
    out.error = saved;
    return out;
  }
  out = write(held);
  if (out.failed >= 0) {
    unlock_all();
    return out;
  }
  commit();
  unlock_all();
  held.after_commit(o_.last);
  return out;
}

}  // namespace

std::string settings_fault() {
  for (const char* name : {"TILVEX_LOCK_NOTICE", "TILVEX_LOCK_TIMEOUT"})
    if (seconds_from(name, 0) == -2)
      return std::string(name) + " '" + std::getenv(name) +
             "' is not a number of seconds (0 or more, such as 30 or 0.5)";
  if (const char* v = std::getenv("TILVEX_SYNC");
      v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0 && std::strcmp(v, "1") != 0)
    return std::string("TILVEX_SYNC '") + v + "' is neither 0 nor 1";
  return {};
}

AppendOutcome append_all(std::span<const AppendTarget> targets, const AppendOptions& options) {
  return Append(targets, options).run();
}

}  // namespace tilvex
