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

// Which file an append could not complete.
enum class AppendFailure { none, output, output2 };

// Appends one or more runs' texts to the two result files, whole and all or
// nothing, safely beside other runs doing the same: `lines` (any number of
// pieces, in order) to output_file2, then `summary` to output_file.
//
// Both files are locked for writing (POSIX advisory locks on the whole
// file, in the order of their device and inode numbers, so that runs at
// once cannot deadlock; a file named twice is locked once). Under the
// locks, each file's pieces go out with as few writes as the system allows.
// If either cannot be completed (disk full, quota, file size limit), each
// file is cut back to the length it had when it was locked, and the one
// that failed is named. The termination signals that can be held back wait
// until the files are whole again.
AppendFailure append_run(ResultFile& output, std::span<const std::string_view> summary,
                         ResultFile& output2, std::span<const std::string_view> lines);

}  // namespace tilvex
