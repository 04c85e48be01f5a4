#include "result_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "posix.hpp"

namespace tilvex {

bool ResultFile::open(const std::string& name) { return open_with(name, O_WRONLY | O_APPEND | O_CREAT); }

bool ResultFile::open_existing(const std::string& name) {
  return open_with(name, O_WRONLY | O_APPEND | O_NONBLOCK);
}

bool ResultFile::open_with(const std::string& name, int flags) {
  name_ = name;
  for (int tries = 0; tries < 10; ++tries) {
    uid_t owner = 0;
    if (const std::string link = posix::untrusted_symlink(name, owner); !link.empty()) {
      why_ = "it goes through '" + link + "', a symbolic link of uid " + std::to_string(owner) +
             "'s, which is not followed";
      errno = EPERM;
      return false;
    }
    // A symlink that appears at the name after the look is not followed.
    struct stat st {};
    const bool link = ::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    fd_ = posix::Fd(::open(name.c_str(), flags | O_CLOEXEC | (link ? 0 : O_NOFOLLOW), 0666));
    if (fd_.ok() || errno != ELOOP || link) break;
  }
  why_ = fd_.ok() ? std::string() : std::strerror(errno);
  return fd_.ok();
}

void ResultFile::adopt(int fd, std::string name) {
  fd_ = posix::Fd(fd);
  held_ = false;
  name_ = std::move(name);
}

bool ResultFile::lock_for_life(long& holder) {
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  holder = 0;
  if (::fcntl(fd_.get(), F_SETLK, &whole) == 0) return held_ = true;
  if (errno == EAGAIN || errno == EACCES) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd_.get(), F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) holder = probe.l_pid;
  }
  return false;
}

bool ResultFile::close() {
  const int fd = fd_.release();
  held_ = false;
  return ::close(fd) == 0;
}

FileIdentity identity_of(int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  return {st.st_dev, st.st_ino};
}

AppendOutcome recover(std::span<ResultFile* const> files, const AppendOptions& options) {
  std::vector<AppendTarget> targets;
  for (ResultFile* f : files) targets.push_back({f, {}});
  return append_all(targets, options);
}

AppendOutcome append_run(ResultFile& output, std::span<const std::string_view> summary,
                         ResultFile& output2, std::span<const std::string_view> lines,
                         const AppendOptions& options) {
  const AppendTarget targets[] = {{&output2, lines}, {&output, summary}};
  return append_all(targets, options);
}

std::string reason(const AppendOutcome& outcome) {
  if (!outcome.why.empty()) return outcome.why;
  if (outcome.error == ETIMEDOUT) return "it stayed locked past TILVEX_LOCK_TIMEOUT";
  return std::strerror(outcome.error != 0 ? outcome.error : EIO);
}

}  // namespace tilvex
