#include "journal.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "posix.hpp"

namespace tilvex::journal {

namespace {

std::uint64_t fnv1a(std::string_view bytes) {
  std::uint64_t h = 0xcbf29ce484222325u;
  for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3u;
  return h;
}

std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::optional<std::string> unhex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int v = 0;
    for (char c : {text[i], text[i + 1]}) {
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return std::nullopt;
      v = v * 16 + d;
    }
    out += static_cast<char>(v);
  }
  return out;
}

std::string number16(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016" PRIx64, v);
  return buf;
}

// Splits the next line off `text`, without its newline; false at the end
// or at a line without one.
bool next_line(std::string_view& text, std::string_view& line) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return false;
  line = text.substr(0, end);
  text.remove_prefix(end + 1);
  return true;
}

}  // namespace

std::string name_for(std::string_view base) { return "." + std::string(base) + ".tilvex-journal"; }

std::string path_for(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return path.substr(0, slash + 1) + name_for(path.substr(slash + 1));
}

std::string encode(const Journal& j) {
  std::string body = "tilvex-journal 1\ntx " + number16(j.tx) + "\ncommit " +
                     (j.commit.empty() ? std::string("-")
                                       : hex(j.commit) + " " + std::to_string(j.commit_folder_device) + " " +
                                             std::to_string(j.commit_folder_inode)) +
                     "\n";
  for (const FileEntry& f : j.files)
    body += "file " + std::to_string(f.device) + " " + std::to_string(f.inode) + " " +
            std::to_string(f.length) + " " + hex(f.path) + "\n";
  return body + "check " + number16(fnv1a(body)) + "\n";
}

std::optional<Journal> decode(std::string_view text) {
  // The last line checks all before it: a journal cut short or changed
  // does not pass.
  const std::size_t check = text.rfind("check ");
  if (check == std::string_view::npos) return std::nullopt;
  const std::string expected = "check " + number16(fnv1a(text.substr(0, check))) + "\n";
  if (text.substr(check) != expected) return std::nullopt;
  std::string_view body = text.substr(0, check), line;
  Journal j;
  if (!next_line(body, line) || line != "tilvex-journal 1") return std::nullopt;
  if (!next_line(body, line) || line.substr(0, 3) != "tx ") return std::nullopt;
  j.tx = std::strtoull(std::string(line.substr(3)).c_str(), nullptr, 16);
  if (!next_line(body, line) || line.substr(0, 7) != "commit ") return std::nullopt;
  if (line.substr(7) != "-") {
    // The commit journal's path, then (since the folder was recorded) the
    // device and inode of its folder.
    const std::string_view rest = line.substr(7);
    const std::size_t blank = rest.find(' ');
    const auto commit = unhex(rest.substr(0, blank));
    if (!commit) return std::nullopt;
    j.commit = *commit;
    if (blank != std::string_view::npos) {
      unsigned long long device = 0, inode = 0;
      if (std::sscanf(std::string(rest.substr(blank)).c_str(), " %llu %llu", &device, &inode) != 2)
        return std::nullopt;
      j.commit_folder_device = static_cast<dev_t>(device);
      j.commit_folder_inode = static_cast<ino_t>(inode);
    }
  }
  while (next_line(body, line)) {
    FileEntry f;
    unsigned long long device = 0, inode = 0;
    long long length = 0;
    char path[8192];
    if (line.size() >= sizeof path || line.substr(0, 5) != "file ") return std::nullopt;
    if (std::sscanf(std::string(line).c_str(), "file %llu %llu %lld %8190s", &device, &inode, &length,
                    path) != 4)
      return std::nullopt;
    const auto decoded = unhex(path);
    if (!decoded || length < 0) return std::nullopt;
    f.device = static_cast<dev_t>(device);
    f.inode = static_cast<ino_t>(inode);
    f.length = static_cast<off_t>(length);
    f.path = *decoded;
    j.files.push_back(f);
  }
  if (j.files.empty()) return std::nullopt;
  return j;
}

bool create(int folder, const std::string& base, const Journal& j, bool sync) {
  const std::string name = name_for(base);
  posix::Fd fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.ok()) return false;
  const std::string text = encode(j);
  const std::string_view pieces[] = {text};
  if (!posix::write_all(fd.get(), pieces) || (sync && !posix::sync(fd.get()))) {
    const int saved = errno;
    ::unlinkat(folder, name.c_str(), 0);
    errno = saved;
    return false;
  }
  if (sync) posix::sync_folder(folder);
  return true;
}

namespace {

// Opens and reads a journal at `name` in `folder`, or the one at the
// absolute `path` when folder < 0.
Found read_journal(int folder, const std::string& name, const std::string& path) {
  Found f;
  // Looked at before it is opened for reading: opening a device or a FIFO
  // can do something, opening a path (O_PATH) does nothing.
  const int flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
  const posix::Fd at = folder >= 0 ? posix::Fd(::openat(folder, name.c_str(), flags))
                                   : posix::open_no_symlinks(path, flags);
  struct stat st {};
  if (!at.ok() || ::fstat(at.get(), &st) != 0) {
    if (errno == ENOENT) return f;
    f.state = State::in_the_way;
    f.why = errno == ENOTDIR ? "it is reached through a symbolic link"
                             : std::string("it cannot be read: ") + std::strerror(errno);
    return f;
  }
  if (!S_ISREG(st.st_mode)) {
    f.state = State::in_the_way;
    f.why = S_ISLNK(st.st_mode) ? "it is a symbolic link" : "it is not a regular file";
    return f;
  }
  const posix::Fd fd = posix::reopen(at.get(), O_RDONLY | O_NONBLOCK);
  std::string text;
  if (!fd.ok()) {
    f.state = State::in_the_way;
    f.why = std::string("it cannot be read: ") + std::strerror(errno);
    return f;
  }
  f.owner = st.st_uid;
  f.device = st.st_dev;
  f.inode = st.st_ino;
  if (st.st_size > (1 << 20) || !posix::read_up_to(fd.get(), 1 << 20, text)) {
    f.state = State::torn;
    return f;
  }
  const auto j = decode(text);
  if (!j) {
    f.state = State::torn;
    return f;
  }
  f.tx = j->tx;
  f.commit = j->commit.empty();
  f.journal = *j;
  f.state = State::hot;
  return f;
}

}  // namespace

Found hot_journal(int folder, const std::string& base) {
  Found f = read_journal(folder, name_for(base), {});
  if (f.state != State::hot || f.commit) return f;
  // A second journal is hot while its commit journal is: the same owner's,
  // of the same transaction.
  const Found commit = read_journal(-1, {}, f.journal.commit);
  f.commit_path = f.journal.commit;
  if (commit.state == State::hot && commit.commit && commit.owner == f.owner && commit.tx == f.tx) {
    f.journal = commit.journal;
    return f;
  }
  // No commit journal at its path: committed, if that path still leads to
  // the folder it was in. A folder moved or replaced since cannot tell.
  const std::string& path = f.journal.commit;
  const std::size_t slash = path.rfind('/');
  struct stat place {};
  const posix::Fd at = slash == std::string::npos || slash == 0
                           ? posix::Fd()
                           : posix::open_no_symlinks(path.substr(0, slash), O_PATH | O_DIRECTORY);
  const bool same = at.ok() && ::fstat(at.get(), &place) == 0 && place.st_dev == f.journal.commit_folder_device &&
                    place.st_ino == f.journal.commit_folder_inode;
  if (same || f.journal.commit_folder_inode == 0) {
    f.state = State::stale;
  } else {
    f.state = State::in_the_way;
    f.why = "it belongs to an append whose commit journal was to be '" + path +
            "', but that folder has moved (recover the append through the file beside its commit journal)";
  }
  return f;
}

bool remove(int folder, const std::string& base, const Found& f) {
  const std::string name = name_for(base);
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (st.st_dev != f.device || st.st_ino != f.inode) return true;  // not the one read: not ours to remove
  return ::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT;
}

bool remove_at(const std::string& path, std::uint64_t tx, uid_t owner, bool sync) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return true;
  const posix::Fd folder = posix::open_no_symlinks(path.substr(0, slash), O_PATH | O_DIRECTORY);
  if (!folder.ok()) return true;  // no such folder: no such journal
  const std::string name = path.substr(slash + 1);
  const Found f = read_journal(folder.get(), name, {});
  if (f.state != State::hot || f.tx != tx || f.owner != owner) return true;
  if (::unlinkat(folder.get(), name.c_str(), 0) != 0 && errno != ENOENT) return false;
  if (sync) posix::sync_folder(folder.get());
  return true;
}

off_t committed_length(const std::string& path, dev_t device, ino_t inode, off_t size) {
  posix::Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  posix::Place place;
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || st.st_dev != device || st.st_ino != inode ||
      !posix::place_of(fd.get(), path, place))
    return size;
  const Found f = hot_journal(place.folder.get(), place.base);
  if (f.state != State::hot ||
      !(f.owner == ::geteuid() || posix::may_write(f.owner, st, posix::has_acl(fd.get()))))
    return size;
  for (const FileEntry& e : f.journal.files)
    if (e.device == device && e.inode == inode && e.length < size) return e.length;
  return size;
}

}  // namespace tilvex::journal
