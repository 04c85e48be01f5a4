#pragma once
// The files of one run: the resample results file, read once into memory,
// and the two result files, opened for appending.

#include <cstddef>
#include <initializer_list>
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
// if it is absent. Every write goes to the end of the file.
class ResultFile {
 public:
  ResultFile() = default;
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  ~ResultFile();  // closes without a check, for runs that fail

  bool open(const std::string& name);
  // Writes all of the pieces, in order, with as few writes as the system
  // allows (one, unless a write is cut short); false if a write fails.
  bool append(std::initializer_list<std::string_view> pieces);
  // False if the close reports a failed write.
  bool close();

 private:
  int fd_ = -1;
};

}  // namespace tilvex
