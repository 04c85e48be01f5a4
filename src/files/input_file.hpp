#pragma once
// The resample results file of a run, read whole into memory once.

#include <sys/types.h>

#include <cstddef>
#include <functional>
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
  // Runs its two functions at once (and returns when both are done).
  using Together = std::function<void(const std::function<void()>&, const std::function<void()>&)>;
  // Reads the whole file, a large regular file as two halves at once where
  // `together` is given; false if a read fails or memory runs out (error()
  // then tells which: ENOMEM for memory). The file stays open until close()
  // or the end, so that no other file takes its identity while it is
  // compared with an output's (a file created once it is closed may get its
  // inode number, when the input was removed or replaced meanwhile).
  bool read(const Together& together = {});
  void close();
  int error() const { return error_; }
  // Bytes read so far (also after a failure).
  std::size_t size() const { return size_; }

  std::string_view text() const { return {data_, size_}; }
  // Whether the file open at `fd` is this input (same device and inode).
  bool is(int fd) const;
  // The same bytes, for an analysis that may overwrite them.
  std::span<char> bytes() { return {data_, size_}; }

 private:
  // Makes room for at least `capacity` bytes, keeping those held: the one
  // place the buffer is allocated or grown. Its pages are put in place
  // at once when `populate`.
  bool reserve(std::size_t capacity, bool populate);
  // Reads the first `size` bytes as two halves at once; false, with
  // nothing counted, unless both are read whole.
  bool read_halves(std::size_t size, const Together& together);

  int fd_ = -1;
  int error_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool identified_ = false;
  char* data_ = nullptr;  // mapped
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tilvex
