#include "files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tilvex {

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool InputFile::open(const std::string& name) {
  fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  return fd_ >= 0;
}

bool InputFile::read() {
  // A regular file is read into a buffer one byte longer than its size, so
  // the end is seen without growing; a pipe grows the buffer as it comes.
  struct stat st {};
  std::size_t capacity = 1 << 16;
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    capacity = static_cast<std::size_t>(st.st_size) + 1;
  data_ = std::make_unique_for_overwrite<char[]>(capacity);
  size_ = 0;
  bool ok = true;
  for (;;) {
    if (size_ == capacity) {
      std::size_t grown = capacity * 2;
      auto bigger = std::make_unique_for_overwrite<char[]>(grown);
      std::memcpy(bigger.get(), data_.get(), size_);
      data_ = std::move(bigger);
      capacity = grown;
    }
    ssize_t got = ::read(fd_, data_.get() + size_, capacity - size_);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    size_ += static_cast<std::size_t>(got);
  }
  ::close(fd_);
  fd_ = -1;
  return ok;
}

ResultFile::~ResultFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool ResultFile::open(const std::string& name) {
  fd_ = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  return fd_ >= 0;
}

bool ResultFile::append(std::string_view text) {
  while (!text.empty()) {
    ssize_t put = ::write(fd_, text.data(), text.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (put == 0) return false;
    text.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

bool ResultFile::close() {
  int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

}  // namespace tilvex
