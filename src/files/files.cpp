#include "files/files.hpp"

#include <fcntl.h>
#include <signal.h>
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

bool ResultFile::close() {
  const int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

namespace {

// Writes all of the pieces with one writev, or more if one is cut short.
bool write_all(int fd, std::initializer_list<std::string_view> pieces) {
  iovec iov[8];
  int count = 0;
  for (std::string_view p : pieces)
    if (!p.empty() && count < 8) iov[count++] = {const_cast<char*>(p.data()), p.size()};
  int first = 0;
  while (first < count) {
    const ssize_t put = ::writev(fd, iov + first, count - first);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    auto left = static_cast<std::size_t>(put);
    while (first < count && left >= iov[first].iov_len) left -= iov[first++].iov_len;
    if (first < count) {
      iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
      iov[first].iov_len -= left;
    }
  }
  return true;
}

// Waits for a write lock on the whole file. Where the file system keeps no
// locks, the run goes on without one.
void lock(int fd) {
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  while (::fcntl(fd, F_SETLKW, &whole) != 0 && errno == EINTR) {
  }
}

// One locked file: where it ended, and whether it can be cut back to that.
struct Locked {
  int fd;
  off_t length = 0;
  bool regular = false;

  explicit Locked(int file) : fd(file) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      regular = true;
      length = st.st_size;
    }
  }
  void cut_back() const {
    if (regular)
      while (::ftruncate(fd, length) != 0 && errno == EINTR) {
      }
  }
};

bool same_file(int a, int b) {
  struct stat sa {}, sb {};
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// True if file a comes first in the lock order.
bool locks_first(int a, int b) {
  struct stat sa {}, sb {};
  ::fstat(a, &sa);
  ::fstat(b, &sb);
  return sa.st_dev != sb.st_dev ? sa.st_dev < sb.st_dev : sa.st_ino < sb.st_ino;
}

// Holds back the termination signals that can be held back while it lives.
class HoldSignals {
 public:
  HoldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) sigaddset(&held, s);
    sigprocmask(SIG_BLOCK, &held, &saved_);
  }
  ~HoldSignals() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

 private:
  sigset_t saved_;
};

}  // namespace

ResultAppend::Failed ResultAppend::append(ResultFile& output, std::string_view summary,
                                          ResultFile& output2, std::string_view lines_head,
                                          std::string_view lines_tail) {
  const HoldSignals hold;
  const int fd = output.fd_, fd2 = output2.fd_;
  const bool one_file = same_file(fd, fd2);
  if (one_file) {
    lock(fd);
  } else if (locks_first(fd, fd2)) {
    lock(fd);
    lock(fd2);
  } else {
    lock(fd2);
    lock(fd);
  }
  // The lengths before this run's append, taken under the locks.
  const Locked before(fd), before2(fd2);
  const auto cut_back = [&] {
    before.cut_back();
    if (!one_file) before2.cut_back();
  };
  if (!write_all(fd2, {lines_head, lines_tail})) {
    cut_back();
    return Failed::output2;
  }
  if (!write_all(fd, {summary})) {
    cut_back();
    return Failed::output;
  }
  return Failed::none;
}

}  // namespace tilvex
