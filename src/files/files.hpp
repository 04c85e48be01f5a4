#pragma once
// The files of one run: the resample results file, read once into memory,
// and the two result files, opened for appending.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tilvex {

// A whole input file in memory. Works for regular files and for pipes.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Opens `name` for reading; false if it cannot be opened.
  bool open(const std::string& name);
  // Reads the whole file and closes it; false if a read fails.
  bool read();

  std::string_view text() const { return {data_, size_}; }
  // The same bytes, for an analysis that may overwrite them.
  std::span<char> bytes() { return {data_, size_}; }

 private:
  int fd_ = -1;
  char* data_ = nullptr;  // mapped, or malloc'd
  std::size_t size_ = 0;
  std::size_t mapped_ = 0;  // bytes mapped at data_, 0 if malloc'd
};

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

 private:
  friend class ResultAppend;
  int fd_ = -1;
};

// Appends one run's texts to its two result files, whole and all or
// nothing, safely beside other runs doing the same.
//
// Both files are locked for writing (POSIX advisory locks on the whole
// file, in the order of their device and inode numbers, so that runs at
// once cannot deadlock; a file named twice is locked once). Under the
// locks, the accepted-resample lines go to output_file2 with one write,
// then the summary line to output_file with one. If either cannot be completed (disk full, quota,
// file size limit), each file is cut back to the length it had when it was
// locked, and the one that failed is named. The termination signals that
// can be held back wait until the files are whole again.
class ResultAppend {
 public:
  enum class Failed { none, output, output2 };

  // The lines are `lines_head` followed by `lines_tail`.
  static Failed append(ResultFile& output, std::string_view summary, ResultFile& output2,
                       std::string_view lines_head, std::string_view lines_tail);
};

}  // namespace tilvex
