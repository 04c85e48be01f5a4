#include "result_files.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <optional>
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

// A file's identity: its device and inode numbers, which also give the
// lock order.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  auto operator<=>(const Identity&) const = default;
};

Identity identity(int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  return {st.st_dev, st.st_ino};
}

// Holds back the termination signals that can be held back while it lives.
class HoldSignals {
 public:
  HoldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) sigaddset(&held, s);
    pthread_sigmask(SIG_BLOCK, &held, &saved_);
  }
  ~HoldSignals() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

 private:
  sigset_t saved_;
};

}  // namespace

int append_all(std::span<const AppendTarget> targets) {
  const HoldSignals hold;
  // Each file once, in lock order, with its length before this append,
  // taken under its lock.
  struct Locked {
    Identity id;
    int fd;
    std::optional<LengthBefore> before;
  };
  std::vector<Locked> files;
  for (const AppendTarget& t : targets) {
    const Identity id = identity(t.fd);
    if (std::none_of(files.begin(), files.end(), [&](const Locked& f) { return f.id == id; }))
      files.push_back({id, t.fd, std::nullopt});
  }
  std::sort(files.begin(), files.end(), [](const Locked& a, const Locked& b) { return a.id < b.id; });
  for (Locked& f : files) {
    lock(f.fd);
    f.before.emplace(f.fd);
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (!write_all(targets[i].fd, targets[i].pieces)) {
      for (const Locked& f : files) f.before->cut_back();
      return static_cast<int>(i);
    }
  }
  return -1;
}

AppendFailure append_run(ResultFile& output, std::span<const std::string_view> summary,
                         ResultFile& output2, std::span<const std::string_view> lines) {
  const AppendTarget targets[] = {{output2.descriptor(), lines}, {output.descriptor(), summary}};
  switch (append_all(targets)) {
    case 0: return AppendFailure::output2;
    case 1: return AppendFailure::output;
    default: return AppendFailure::none;
  }
}

}  // namespace tilvex
