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

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string absolute(const std::string& file) {
  if (!file.empty() && file[0] == '/') return file;
  char* cwd = ::getcwd(nullptr, 0);
  std::string out = cwd != nullptr ? std::string(cwd) + "/" + file : file;
  std::free(cwd);
  return out;
}

std::string path_for(const std::string& file) {
  const std::string abs = absolute(file);
  const std::size_t slash = abs.rfind('/');
  return abs.substr(0, slash + 1) + "." + abs.substr(slash + 1) + ".tilvex-journal";
}

std::string encode(const Journal& j) {
  std::string body = "tilvex-journal 1\ntx " + number16(j.tx) + "\ncommit " +
                     (j.commit.empty() ? std::string("-") : hex(j.commit)) + "\n";
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
    const auto commit = unhex(line.substr(7));
    if (!commit) return std::nullopt;
    j.commit = *commit;
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

void sync_directory(const std::string& path) {
  const int fd = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool create(const std::string& path, const Journal& j, bool sync) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const std::string text = encode(j);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<std::size_t>(put);
  }
  const bool whole = done == text.size() && (!sync || ::fsync(fd) == 0);
  ::close(fd);
  if (!whole) {
    const int saved = errno;
    ::unlink(path.c_str());
    errno = saved;
    return false;
  }
  if (sync) sync_directory(path);
  return true;
}

Found read(const std::string& path, Journal& out, std::string& why) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) return Found::none;
  if (!S_ISREG(link.st_mode)) {
    why = S_ISLNK(link.st_mode) ? "it is a symbolic link" : "it is not a regular file";
    return Found::foreign;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    why = std::string("it cannot be read: ") + std::strerror(errno);
    return Found::foreign;
  }
  struct stat st {};
  std::string text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < (1 << 20)) {
    char buf[4096];
    for (ssize_t got; (got = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (!S_ISREG(st.st_mode) || st.st_ino != link.st_ino) {
    why = "it changed while it was read";
    return Found::foreign;
  }
  const bool own = st.st_uid == 0 || st.st_uid == ::geteuid();
  const auto j = decode(text);
  if (!j) {
    if (own) return Found::torn;
    why = "it is not a whole journal, and its owner (uid " + std::to_string(st.st_uid) +
          ") is neither root nor this user";
    return Found::foreign;
  }
  // Owned by root, this user, or the owner of every file it names.
  bool trusted = own;
  if (!trusted) {
    trusted = true;
    for (const FileEntry& f : j->files) {
      struct stat named {};
      trusted = trusted && ::lstat(f.path.c_str(), &named) == 0 && named.st_uid == st.st_uid;
    }
  }
  if (!trusted) {
    why = "its owner (uid " + std::to_string(st.st_uid) +
          ") is neither root, nor this user, nor the owner of the files it names";
    return Found::foreign;
  }
  out = *j;
  return Found::ours;
}

off_t committed_length(const std::string& file, dev_t device, ino_t inode, off_t size) {
  Journal j;
  std::string why;
  if (read(path_for(file), j, why) != Found::ours) return size;
  if (!j.commit.empty()) {  // a second journal: hot only while its commit journal is
    Journal commit;
    if (read(j.commit, commit, why) != Found::ours || commit.tx != j.tx) return size;
    j = commit;
  }
  for (const FileEntry& f : j.files)
    if (f.device == device && f.inode == inode && f.length < size) return f.length;
  return size;
}

}  // namespace tilvex::journal
