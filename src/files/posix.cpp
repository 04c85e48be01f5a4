#include "posix.hpp"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tilvex::posix {

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

Fd open_no_symlinks(const std::string& path, int flags, mode_t mode) {
  if (path.empty() || path[0] != '/') {
    errno = EINVAL;
    return Fd();
  }
  Fd at(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::size_t start = 1;
  while (at.ok()) {
    const std::size_t slash = path.find('/', start);
    const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..") {
      errno = EINVAL;
      return Fd();
    }
    if (slash == std::string::npos)
      return Fd(::openat(at.get(), part.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
    at = Fd(::openat(at.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    start = slash + 1;
  }
  return Fd();
}

namespace {

// The absolute path of the file open at `fd` as the kernel knows it: no
// symlink in it. Empty if there is none (no /proc, or the file is gone).
std::string kernel_path(int fd) {
  char link[64], buf[PATH_MAX + 1];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, buf, PATH_MAX);
  if (n <= 0 || buf[0] != '/') return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string absolute(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  char* cwd = ::getcwd(nullptr, 0);
  std::string out = cwd != nullptr ? std::string(cwd) + "/" + name : name;
  std::free(cwd);
  return out;
}

}  // namespace

Fd reopen(int fd, int flags) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  return Fd(::open(link, flags | O_CLOEXEC | O_NOCTTY));
}

bool place_of(int fd, const std::string& name, Place& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  for (const std::string& path : {kernel_path(fd), absolute(name)}) {
    const std::size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos || slash + 1 == path.size()) continue;
    Fd folder(::open(slash == 0 ? "/" : path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat entry {};
    const std::string base = path.substr(slash + 1);
    if (folder.ok() && ::fstatat(folder.get(), base.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
        entry.st_dev == st.st_dev && entry.st_ino == st.st_ino) {
      out.folder = std::move(folder);
      out.base = base;
      out.path = path;
      return true;
    }
  }
  errno = ENOENT;
  return false;
}

namespace {

std::string untrusted_in(const std::string& path, uid_t& owner, int depth) {
  if (depth > 40) return {};  // the open fails on such a loop anyway
  std::string prefix = path[0] == '/' ? "/" : "";
  std::size_t start = path[0] == '/' ? 1 : 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    start = slash == std::string::npos ? path.size() + 1 : slash + 1;
    if (part.empty()) continue;
    const std::string here = prefix + part;
    struct stat st {};
    if (::lstat(here.c_str(), &st) != 0) return {};  // not there: nothing to follow
    if (S_ISLNK(st.st_mode)) {
      if (st.st_uid != ::geteuid() && st.st_uid != 0) {
        owner = st.st_uid;
        return here;
      }
      char target[PATH_MAX + 1];
      const ssize_t n = ::readlink(here.c_str(), target, PATH_MAX);
      if (n <= 0) return {};
      std::string to(target, static_cast<std::size_t>(n));
      if (to[0] != '/') to = prefix + to;
      const std::string found = untrusted_in(to, owner, depth + 1);
      if (!found.empty()) return found;
      // What follows resolves in the link's target.
      prefix = to + "/";
    } else {
      prefix = here + "/";
    }
  }
  return {};
}

}  // namespace

std::string untrusted_symlink(const std::string& path, uid_t& owner) {
  return path.empty() ? std::string() : untrusted_in(path, owner, 0);
}

bool has_acl(int fd) { return ::fgetxattr(fd, "system.posix_acl_access", nullptr, 0) > 0; }

bool may_write(uid_t uid, const struct stat& st, bool acl) {
  if (uid == 0 || uid == st.st_uid) return true;
  if (acl) return false;
  if ((st.st_mode & S_IWOTH) != 0) return true;
  if ((st.st_mode & S_IWGRP) == 0) return false;
  struct passwd pw {}, *found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr) return false;
  if (pw.pw_gid == st.st_gid) return true;
  int count = 256;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<std::size_t>(count));
  return std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
}

bool truncate_to(int fd, off_t length) {
  for (;;) {
    if (::ftruncate(fd, length) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool sync(int fd) {
  for (;;) {
    if (::fsync(fd) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool sync_folder(int folder) {
  const Fd readable(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return readable.ok() && sync(readable.get());
}

bool write_all(int fd, std::span<const std::string_view> pieces) {
  std::vector<iovec> iov;
  for (std::string_view p : pieces)
    if (!p.empty()) iov.push_back({const_cast<char*>(p.data()), p.size()});
  // At most this many bytes a call: one writev of hundreds of MB to a file
  // on ext4 took up to ten times as long as the same bytes in pieces of a
  // few MB (Linux 6.18), whatever pieces the file gets written in by then.
  constexpr std::size_t kMostPerCall = std::size_t{4} << 20;
  std::size_t first = 0;
  while (first < iov.size()) {
    std::size_t count = 0, bytes = 0;
    while (first + count < iov.size() && count < IOV_MAX && bytes < kMostPerCall) bytes += iov[first + count++].iov_len;
    iovec& last = iov[first + count - 1];
    const std::size_t whole = last.iov_len;
    if (bytes > kMostPerCall) last.iov_len -= bytes - kMostPerCall;
    const ssize_t put = ::writev(fd, iov.data() + first, static_cast<int>(count));
    last.iov_len = whole;
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

bool read_up_to(int fd, std::size_t most, std::string& out) {
  out.clear();
  char buf[4096];
  while (out.size() < most) {
    const ssize_t got = ::pread(fd, buf, std::min(sizeof buf, most - out.size()), static_cast<off_t>(out.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    out.append(buf, static_cast<std::size_t>(got));
  }
  return true;
}

sigset_t stopping_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&set, s);
  return set;
}

unsigned usable_processors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
  return 1;
}

}  // namespace tilvex::posix
