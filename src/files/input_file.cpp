#include "input_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tilvex {

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (data_ != nullptr) ::munmap(data_, capacity_);
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
  void* p = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0), -1, 0);
  if (p == MAP_FAILED) {
    error_ = errno;
    return false;
  }
  if (data_ != nullptr) {
    std::memcpy(p, data_, size_);
    ::munmap(data_, capacity_);
  }
  data_ = static_cast<char*>(p);
  capacity_ = capacity;
  return true;
}

bool InputFile::read() {
  // A regular file is read into a buffer one byte longer than its size, so
  // the end is seen without growing, with its pages put in place at once:
  // faulting them in one by one costs more than the read itself. A pipe, or
  // a file that grows while it is read, doubles the buffer as data comes.
  struct stat st {};
  identified_ = ::fstat(fd_, &st) == 0;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  const bool sized = identified_ && S_ISREG(st.st_mode) && st.st_size > 0;
  bool ok = sized ? reserve(static_cast<std::size_t>(st.st_size) + 1, true)
                  : reserve(std::size_t{1} << 16, false);
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
  ::close(fd_);
  fd_ = -1;
  return ok;
}

}  // namespace tilvex
