#pragma once
// The resample results file of a run, read whole into memory once.

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tilvex {

// Buffers of inputs done with, kept for the inputs read next: a grid reads
// thousands of small inputs, and a buffer mapped anew has its pages
// cleared, put in place and unmapped again each time. Holds at most
// `most` bytes; shared by the threads that read inputs and those that let
// go of them. A kept buffer still holds the bytes of the input it held.
class InputBuffers {
 public:
  explicit InputBuffers(std::size_t most) : most_(most) {}
  InputBuffers(const InputBuffers&) = delete;
  InputBuffers& operator=(const InputBuffers&) = delete;
  ~InputBuffers();

  // The bytes of the buffers kept now.
  std::size_t kept() {
    std::lock_guard lock(mutex_);
    return bytes_;
  }

 private:
  friend class InputFile;
  struct Buffer {
    char* data;
    std::size_t capacity;
  };
  // The smallest kept buffer of at least `capacity` bytes, no longer kept;
  // or none, and then one kept buffer that is too small is let go, so that
  // inputs that grow do not leave the room full of buffers none can use.
  Buffer take(std::size_t capacity);
  // Keeps `b`, or unmaps it where it would make more than `most` bytes.
  void keep(Buffer b);

  std::mutex mutex_;
  std::vector<Buffer> kept_;
  std::size_t bytes_ = 0;
  const std::size_t most_;
};

// A whole input file in memory. Works for regular files and for pipes.
class InputFile {
 public:
  InputFile() = default;
  // One whose buffer comes from `buffers` where one is kept there, and goes
  // back there at the end.
  explicit InputFile(std::shared_ptr<InputBuffers> buffers) : buffers_(std::move(buffers)) {}
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
  // Lets go of a buffer: back to buffers_, or unmapped.
  void let_go(char* data, std::size_t capacity);

  int fd_ = -1;
  int error_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool identified_ = false;
  char* data_ = nullptr;  // mapped
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::shared_ptr<InputBuffers> buffers_;
};

}  // namespace tilvex
