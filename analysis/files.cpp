#include "files.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tilvex {

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (mapped_ > 0)
    ::munmap(data_, mapped_);
  else
    std::free(data_);
}

bool InputFile::open(const std::string& name) {
  fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  return fd_ >= 0;
}

bool InputFile::read() {
  // A regular file is read into a buffer one byte longer than its size, so
  // the end is seen without growing. The buffer is mapped with its pages
  // in place: faulting them in one by one costs more than the read itself.
  // A pipe grows a malloc'd buffer as the data comes, which realloc can
  // move without copying.
  struct stat st {};
  std::size_t capacity = std::size_t{1} << 16;
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    capacity = static_cast<std::size_t>(st.st_size) + 1;
    void* p = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p != MAP_FAILED) {
      data_ = static_cast<char*>(p);
      mapped_ = capacity;
    }
  }
  if (data_ == nullptr) data_ = static_cast<char*>(std::malloc(capacity));
  size_ = 0;
  bool ok = data_ != nullptr;
  while (ok) {
    if (size_ == capacity) {
      if (mapped_ > 0) {  // the file grew while we read it: read on into the heap
        char* heap = static_cast<char*>(std::malloc(capacity * 2));
        if (heap == nullptr) {
          ok = false;
          break;
        }
        std::memcpy(heap, data_, size_);
        ::munmap(data_, mapped_);
        mapped_ = 0;
        data_ = heap;
      } else {
        char* grown = static_cast<char*>(std::realloc(data_, capacity * 2));
        if (grown == nullptr) {
          ok = false;
          break;
        }
        data_ = grown;
      }
      capacity *= 2;
    }
    const ssize_t got = ::read(fd_, data_ + size_, capacity - size_);
    if (got == 0) break;
    if (got < 0) {
      if (errno != EINTR) ok = false;
      continue;
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

bool ResultFile::append(std::initializer_list<std::string_view> pieces) {
  iovec iov[8];
  int count = 0;
  for (std::string_view p : pieces)
    if (!p.empty() && count < 8) iov[count++] = {const_cast<char*>(p.data()), p.size()};
  int first = 0;
  while (first < count) {
    const ssize_t put = ::writev(fd_, iov + first, count - first);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    // A write cut short: go on from where it stopped.
    auto left = static_cast<std::size_t>(put);
    while (first < count && left >= iov[first].iov_len) left -= iov[first++].iov_len;
    if (first < count) {
      iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
      iov[first].iov_len -= left;
    }
  }
  return true;
}

bool ResultFile::close() {
  int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

}  // namespace tilvex
