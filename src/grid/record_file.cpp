#include "record_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace tilvex::grid {

namespace {

constexpr int kFlags = O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Opens the record without following a symlink at its name; `created` if
// this call made it.
int open_or_create(const std::string& name, bool& created) {
  created = false;
  for (int tries = 0; tries < 3; ++tries) {
    const int fd = ::open(name.c_str(), kFlags);
    if (fd >= 0 || errno != ENOENT) return fd;
    const int made = ::open(name.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
    if (made >= 0 || errno != EEXIST) {
      created = made >= 0;
      return made;
    }
  }
  return -1;
}

RecordOpening refused(std::string reason) { return {2, std::move(reason)}; }

// The record must belong to output_file's owner: a record planted by
// another user is never read or truncated. One this run has just made is
// given to that owner where it can be (a root's grid on a user's files).
RecordOpening check_owner(int fd, const std::string& name, const std::string& output, int output_fd,
                          bool created) {
  struct stat mine {}, out {};
  if (::fstat(fd, &mine) != 0 || ::fstat(output_fd, &out) != 0) return {213, {}};
  if (mine.st_uid == out.st_uid) return {};
  if (created && ::fchown(fd, out.st_uid, static_cast<gid_t>(-1)) == 0) return {};
  if (created) ::unlink(name.c_str());
  return refused("'" + name + "' belongs to user " + std::to_string(mine.st_uid) +
                 ", not to the owner of '" + output + "' (user " + std::to_string(out.st_uid) +
                 "); it is left alone");
}

// The lock for the grid's life; where the file system keeps no locks the
// grid goes on without it (its appends say so).
RecordOpening lock(ResultFile& record, const std::string& output) {
  for (int tries = 0; tries < 10; ++tries) {
    long holder = 0;
    if (record.lock_for_life(holder)) return {};
    if (holder > 0)
      return refused("'" + output + "' is being written by another grid (pid " +
                     std::to_string(holder) + ")");
    if (errno != EAGAIN && errno != EACCES) return {};  // no locks here
  }
  return refused("'" + output + "' is being written by another grid");
}

}  // namespace

RecordOpening open_record(const std::string& name, const std::string& output, int output_fd,
                          ResultFile& record) {
  bool created = false;
  const int fd = open_or_create(name, created);
  if (fd < 0) {
    if (errno == ELOOP)
      return refused("'" + name + "' is a symbolic link; a grid's record is never followed, so it "
                     "is left alone");
    return {213, {}};
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return refused("'" + name + "' is not a regular file; it is left alone");
  }
  ::fcntl(fd, F_SETFL, O_APPEND);  // blocking again, for the writes
  if (RecordOpening owner = check_owner(fd, name, output, output_fd, created); owner.status != 0) {
    ::close(fd);
    return owner;
  }
  record.adopt(fd, name);
  return lock(record, output);
}

bool read_whole(int fd, std::string& text) {
  text.clear();
  char buf[65536];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
}

namespace {

std::string iso_utc(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

std::string modified_at(int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  return iso_utc(st.st_mtime);
}

std::string utc_now() { return iso_utc(std::time(nullptr)); }

}  // namespace tilvex::grid
