#pragma once
// The result files of a run, opened for appending, and the locked,
// journaled, all-or-nothing append of a run's texts to them.

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "posix.hpp"

namespace tilvex {

// A result file opened for appending, created with mode 0666 less the umask
// if it is absent. It closes without a check when it goes (for runs that
// fail); close() reports a failed write.
class ResultFile {
 public:
  // Opens `name` for appending. A symbolic link on the way whose owner is
  // neither this user nor root is not followed (the open fails, and why()
  // says which).
  bool open(const std::string& name);
  // Why the last open failed, in words.
  const std::string& why() const { return why_; }
  // Opens an existing file for writing, without creating it and without
  // waiting on a FIFO (for a recovery); symlinks as for open.
  bool open_existing(const std::string& name);
  // Takes over `fd`, an open descriptor of the file `name`.
  void adopt(int fd, std::string name);
  // Takes a write lock on the whole file for as long as it is open, without
  // waiting; append_all then neither takes nor lets go of that lock. False
  // if another process holds a lock on it (`holder` is then its pid, or 0
  // where the file system keeps no locks).
  bool lock_for_life(long& holder);
  bool holds_lock() const { return held_; }
  // False if the close reports a failed write.
  bool close();
  int descriptor() const { return fd_.get(); }
  const std::string& name() const { return name_; }

 private:
  bool open_with(const std::string& name, int flags);

  posix::Fd fd_;
  bool held_ = false;
  std::string name_, why_;
};

// One file of an append, and what goes to it, in order.
struct AppendTarget {
  ResultFile* file;
  std::span<const std::string_view> pieces;
};

// What an append tells its user, one line of words at a time (a recovery,
// a wait for a lock, a file system that keeps no locks): the caller
// prints it, prefixed with the program's name. Nothing is told where it
// is empty.
using Tell = std::function<void(const std::string&)>;

struct AppendOptions {
  Tell tell;
  // Set (to a signal number) when the append should give up while it waits
  // for a lock; checked every 100 ms of waiting.
  const std::atomic<int>* stop = nullptr;
  // The process ends after this append: from its commit on, the stopping
  // signals the caller has not blocked are ignored, so that the status can
  // say "appended" whatever signal comes.
  bool last = false;
};

// How an append ended.
struct AppendOutcome {
  int failed = -1;       // the target that could not be written, or -1
  const ResultFile* file = nullptr;  // that target's file
  bool stopped = false;  // given up while waiting for a lock (options.stop)
  int error = 0;         // why the target failed: an errno value
  std::string why;       // or, where set, the reason in words
};

// Why an append failed, in words: the system's reason, or that the lock
// was held past TILVEX_LOCK_TIMEOUT.
std::string reason(const AppendOutcome& outcome);

// Appends to several files at once, whole and all or nothing, safely beside
// other runs doing the same, whatever kills the process: each target's
// pieces in turn, in the order given. A file may be named more than once.
//
// - Locks: every regular file is locked for writing (POSIX record locks on
//   the whole file, each once, in the order of their device and inode
//   numbers). A deadlock the kernel reports makes the run let go of its
//   locks, wait a random while and start again. After TILVEX_LOCK_NOTICE
//   seconds of waiting (10 by default) it tells once which
//   file is locked by which process; TILVEX_LOCK_TIMEOUT=SECONDS gives up.
//   Where a file system keeps no locks, the run goes on unlocked, with a
//   note, and recovers nothing there. Files that are not regular (pipes,
//   devices) are neither locked nor journaled.
// - Recovery: a journal left by a run that died is found under the locks;
//   the files it names are cut back to their recorded lengths first (its
//   other files locked too, in the same order), and it tells so.
//   Journals that cannot be trusted are left alone and reported.
// - The append: with the termination signals held back, the journal is
//   written, then the pieces (a pipe or device is written with the signals
//   let through); the removal of the journal commits. If a write fails
//   (disk full, quota, file size limit), every regular file is cut back.
//   A termination signal that came while they were held is dropped once the
//   append is committed, unless the caller had blocked it itself.
// TILVEX_SYNC=1 syncs the journal, the files and their directories where
// the order matters.
AppendOutcome append_all(std::span<const AppendTarget> targets, const AppendOptions& options = {});

// Cuts back what appends that died left in `files`, as the next append
// would, without appending.
AppendOutcome recover(std::span<ResultFile* const> files, const AppendOptions& options = {});

// What is wrong with the settings taken from the environment
// (TILVEX_LOCK_TIMEOUT, TILVEX_LOCK_NOTICE: seconds, a number >= 0;
// TILVEX_SYNC: 0 or 1), in words; empty if nothing is.
std::string settings_fault();

// One run's texts by append_all: `lines` (any number of pieces, in order)
// to output_file2 (target 0), then `summary` to output_file (target 1).
AppendOutcome append_run(ResultFile& output, std::span<const std::string_view> summary,
                         ResultFile& output2, std::span<const std::string_view> lines,
                         const AppendOptions& options = {});

// The identity of the file open at `fd`.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  auto operator<=>(const FileIdentity&) const = default;
};
FileIdentity identity_of(int fd);

}  // namespace tilvex
