#include "input_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it, which costs nothing
#endif

namespace tilvex {

namespace {

// Buffers that may be kept are mapped in steps of this, so that inputs of
// nearly the same size can use each other's.
constexpr std::size_t kKeptStep = std::size_t{64} << 10;

}  // namespace

InputBuffers::~InputBuffers() {
  for (const Buffer& b : kept_) ::munmap(b.data, b.capacity);
}

InputBuffers::Buffer InputBuffers::take(std::size_t capacity) {
  std::lock_guard lock(mutex_);
  auto best = kept_.end();
  for (auto b = kept_.begin(); b != kept_.end(); ++b)
    if (b->capacity >= capacity && (best == kept_.end() || b->capacity < best->capacity)) best = b;
  Buffer out{nullptr, 0};
  if (best != kept_.end()) {
    out = *best;
  } else if (!kept_.empty()) {
    best = kept_.begin();
    ::munmap(best->data, best->capacity);
  } else {
    return out;
  }
  bytes_ -= best->capacity;
  *best = kept_.back();
  kept_.pop_back();
  return out;
}

void InputBuffers::keep(Buffer b) {
  {
    std::lock_guard lock(mutex_);
    if (bytes_ + b.capacity <= most_) {
      kept_.push_back(b);
      bytes_ += b.capacity;
      return;
    }
  }
  ::munmap(b.data, b.capacity);
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (data_ != nullptr) let_go(data_, capacity_);
}

void InputFile::let_go(char* data, std::size_t capacity) {
  if (buffers_)
    buffers_->keep({data, capacity});
  else
    ::munmap(data, capacity);
}

bool InputFile::open(const std::string& name) {
  fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  return fd_ >= 0;
}

bool InputFile::is(int fd) const {
  struct stat st {};
  return identified_ && ::fstat(fd, &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
}

bool InputFile::reserve(std::size_t capacity, bool populate) {
  if (capacity <= capacity_) return true;
  InputBuffers::Buffer b{nullptr, 0};
  if (buffers_) {
    b = buffers_->take(capacity);
    capacity = (capacity + kKeptStep - 1) / kKeptStep * kKeptStep;
  }
  if (b.data == nullptr) {
    void* p = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0), -1, 0);
    if (p == MAP_FAILED) {
      error_ = errno;
      return false;
    }
    b = {static_cast<char*>(p), capacity};
  }
  if (data_ != nullptr) {
    std::memcpy(b.data, data_, size_);
    let_go(data_, capacity_);
  }
  data_ = b.data;
  capacity_ = b.capacity;
  return true;
}

namespace {

// From this size a regular file is read as two halves at once, where the
// caller can run two things at once: putting its pages in place and
// copying into them cost more than a thread's start.
constexpr std::size_t kHalvesFrom = std::size_t{4} << 20;

// Reads bytes [from, to) of `fd` into `data` + from, its pages put in
// place first; false if they cannot all be read (an error, or a file that
// has shrunk).
bool read_range(int fd, char* data, std::size_t from, std::size_t to) {
  ::madvise(data + from, to - from, MADV_POPULATE_WRITE);  // else each page is faulted in as it is read
  while (from < to) {
    const ssize_t got = ::pread(fd, data + from, to - from, static_cast<off_t>(from));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    from += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

bool InputFile::read_halves(std::size_t size, const Together& together) {
  // data_ is page aligned, and so is the later half's start.
  const std::size_t half = (size / 2) & ~std::size_t{4095};
  bool first = false, later = false;
  together([&] { first = read_range(fd_, data_, 0, half); }, [&] { later = read_range(fd_, data_, half, size); });
  if (!first || !later || ::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0) return false;
  size_ = size;
  return true;
}

bool InputFile::read(const Together& together) {
  // A regular file is read into a buffer one byte longer than its size, so
  // the end is seen without growing, with its pages put in place at once:
  // faulting them in one by one costs more than the read itself. A large
  // one is read as two halves at once where `together` is given. A pipe, or
  // a file that grows while it is read, doubles the buffer as data comes.
  struct stat st {};
  identified_ = ::fstat(fd_, &st) == 0;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  const bool sized = identified_ && S_ISREG(st.st_mode) && st.st_size > 0;
  const auto size = static_cast<std::size_t>(sized ? st.st_size : 0);
  const bool halves = sized && together && size >= kHalvesFrom;
  bool ok = sized ? reserve(size + 1, !halves) : reserve(std::size_t{1} << 16, false);
  // Halves that cannot be read whole (a read error, a file cut meanwhile)
  // are read again from the start, one after the other, as any file is.
  if (ok && halves && !read_halves(size, together) && ::lseek(fd_, 0, SEEK_SET) != 0) {
    ok = false;
    error_ = errno;
  }
  while (ok) {
    if (size_ == capacity_ && !reserve(2 * capacity_, false)) {
      ok = false;
      break;
    }
    const ssize_t got = ::read(fd_, data_ + size_, capacity_ - size_);
    if (got == 0) break;
    if (got < 0) {
      if (errno != EINTR) {
        ok = false;
        error_ = errno;
      }
      continue;
    }
    size_ += static_cast<std::size_t>(got);
  }
  return ok;
}

void InputFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace tilvex
