#include "result_files.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <vector>

namespace tilvex {

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

// Writes all of the pieces, in order: with one writev where the system
// takes them all at once, else as many as it does.
bool write_all(int fd, std::span<const std::string_view> pieces) {
  std::vector<iovec> iov;
  for (std::string_view p : pieces)
    if (!p.empty()) iov.push_back({const_cast<char*>(p.data()), p.size()});
  std::size_t first = 0;
  while (first < iov.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(iov.size() - first, IOV_MAX));
    const ssize_t put = ::writev(fd, iov.data() + first, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    auto left = static_cast<std::size_t>(put);
    while (first < iov.size() && left >= iov[first].iov_len) left -= iov[first++].iov_len;
    if (first < iov.size()) {
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

// The length of a locked file before this run appends to it, to cut it
// back to if the append cannot be completed. Only a regular file can be cut.
struct LengthBefore {
  int fd;
  off_t length = 0;
  bool regular = false;

  explicit LengthBefore(int file) : fd(file) {
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

AppendFailure append_run(ResultFile& output, std::span<const std::string_view> summary,
                         ResultFile& output2, std::span<const std::string_view> lines) {
  const HoldSignals hold;
  const int fd = output.descriptor(), fd2 = output2.descriptor();
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
  const LengthBefore before(fd), before2(fd2);
  const auto cut_back = [&] {
    before.cut_back();
    if (!one_file) before2.cut_back();
  };
  if (!write_all(fd2, lines)) {
    cut_back();
    return AppendFailure::output2;
  }
  if (!write_all(fd, summary)) {
    cut_back();
    return AppendFailure::output;
  }
  return AppendFailure::none;
}

}  // namespace tilvex
