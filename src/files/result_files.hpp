#pragma once
// The two result files of a run, opened for appending, and the locked,
// all-or-nothing append of a run's texts to them.

#include <span>
#include <string>
#include <string_view>

namespace tilvex {

// A result file opened for appending, created with mode 0666 less the umask
// if it is absent.
class ResultFile {
 public:
  ResultFile() = default;
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  ~ResultFile();  // closes without a check, for runs that fail

  bool open(const std::string& name);
  // False if the close reports a failed write.
  bool close();
  int descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

// One file of an append, and what goes to it, in order.
struct AppendTarget {
  int fd;
  std::span<const std::string_view> pieces;
};

// Appends to several files at once, whole and all or nothing, safely beside
// other runs doing the same: each target's pieces in turn, in the order
// given. A file may be named more than once.
//
// Every file is locked for writing first (POSIX advisory locks on the whole
// file, each file once, in the order of their device and inode numbers, so
// that runs at once cannot deadlock). Under the locks, each target's pieces
// go out with as few writes as the system allows. If one cannot be
// completed (disk full, quota, file size limit), every file is cut back to
// the length it had when it was locked. The termination signals that can
// be held back wait until the files are whole again. Returns the index of
// the target that failed, or -1.
int append_all(std::span<const AppendTarget> targets);

// Which file an append could not complete.
enum class AppendFailure { none, output, output2 };

// One run's texts by append_all: `lines` (any number of pieces, in order)
// to output_file2, then `summary` to output_file.
AppendFailure append_run(ResultFile& output, std::span<const std::string_view> summary,
                         ResultFile& output2, std::span<const std::string_view> lines);

}  // namespace tilvex
