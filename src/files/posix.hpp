#pragma once
// The operating system's primitives for the result files, each behind one
// wrapper that handles EINTR and the odd errno once. The append protocol
// (append.cpp) and the journal (journal.cpp) call these, never the system
// directly. Trust is decided on what was opened (a descriptor and its
// fstat), never on a path that can change between a check and a use.

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <span>
#include <string>
#include <string_view>

namespace tilvex::posix {

// A descriptor that closes itself.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Opens `path` (absolute) without following a symbolic link in any of its
// components: each is opened with O_NOFOLLOW, step by step from "/". A
// symlink anywhere fails with ELOOP; "." and ".." are refused (EINVAL).
Fd open_no_symlinks(const std::string& path, int flags, mode_t mode = 0);

// Opens again, with `flags`, the very file open at `fd` (which may be an
// O_PATH descriptor), never another file by the same name.
Fd reopen(int fd, int flags);

// The folder that holds the file open at `fd`, opened, and the file's
// name in it (the folder opened with O_PATH), found from the kernel's path of the descriptor (or from
// `name` where /proc is not there) and checked: the entry of that name in
// that folder, not followed if a symlink, is the same file (device and
// inode). False if no such folder can be found (errno tells why).
struct Place {
  Fd folder;
  std::string base;  // the file's name in `folder`
  std::string path;  // the folder's absolute path, ending in '/', then base
};
bool place_of(int fd, const std::string& name, Place& out);

// The first symbolic link that `path` goes through, in any component or in
// the targets of the links it follows, whose owner is neither this user
// nor root; empty if there is none. `owner` is then that link's owner.
// (In a sticky folder another user owns, the kernel follows that user's
// links: a results file named there must not lead elsewhere.)
std::string untrusted_symlink(const std::string& path, uid_t& owner);

// Whether user `uid` may write a file with the status `st`: root, the
// owner, anyone by the mode, or a member of its group where the group may.
// A file with an access control list (`acl`) is taken as writable by root
// and its owner only, since its mode bits do not tell.
bool may_write(uid_t uid, const struct stat& st, bool acl = false);

// Whether the file open at `fd` has an access control list.
bool has_acl(int fd);

// ftruncate, again on EINTR.
bool truncate_to(int fd, off_t length);

// fsync, again on EINTR.
bool sync(int fd);

// fsync of the folder open at `folder` (which may be an O_PATH descriptor).
bool sync_folder(int folder);

// Writes all of the pieces in order, by writev calls of at most 4 MiB (a
// call may write less), again on EINTR.
bool write_all(int fd, std::span<const std::string_view> pieces);

// Reads at most `most` bytes of the file open at `fd`, from its start.
bool read_up_to(int fd, std::size_t most, std::string& out);

// The signals that stop a run: TERM, INT, HUP and QUIT.
sigset_t stopping_signals();

// The processors this process may run on (its affinity), at least 1.
unsigned usable_processors();

}  // namespace tilvex::posix
